#!/usr/bin/env bash
# Installs what building and testing the updater needs on Debian 12, as root.
# Quiet when everything is already there.
set -eu

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi

for p in cmake make g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 \
         xvfb xdotool locales googletest python3 e2fsprogs openssl osslsigncode nsis; do
    have "$p" || need+=("$p")
done

if [ ${#need[@]} -gt 0 ]; then
    echo "install-deps: installing ${need[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null
    apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

if ! locale -a 2>/dev/null | grep -qi '^pl_PL\.utf-\?8$'; then
    sed -i 's/^# *\(pl_PL.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^pl_PL.UTF-8 UTF-8' /etc/locale.gen || echo 'pl_PL.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
fi
