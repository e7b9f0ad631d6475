#!/usr/bin/env bash
# Installs what building and testing the updater needs on Debian 12, as root.
# Quiet when everything is already there.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
. "$root/tools/session.sh"

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    quietly "adding the i386 architecture" dpkg --add-architecture i386
fi

# fonts-wine: Wine's own fonts, among them the bitmap font behind
# "MS Sans Serif" and the one that draws the title bar's buttons.
for p in cmake make g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 fonts-wine \
         xvfb xdotool locales googletest python3 e2fsprogs openssl osslsigncode nsis; do
    have "$p" || need+=("$p")
done

if [ ${#need[@]} -gt 0 ]; then
    echo "install-deps: installing ${need[*]}" >&2
    install_packages "${need[@]}"
fi

if ! locale -a 2>/dev/null | grep -qi '^pl_PL\.utf-\?8$'; then
    sed -i 's/^# *\(pl_PL.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^pl_PL.UTF-8 UTF-8' /etc/locale.gen || echo 'pl_PL.UTF-8 UTF-8' >> /etc/locale.gen
    quietly "making the pl_PL.UTF-8 locale" locale-gen
fi
