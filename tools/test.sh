#!/usr/bin/env bash
# Builds the updater and its tests and runs every test under Wine and Xvfb,
# in a fresh Wine prefix of its own. Installs what it needs first.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
"$root/tools/install-deps.sh"

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DUPDATER_TESTS=ON >/dev/null
cmake --build "$build" -j2 -- --no-print-directory >/dev/null

export WINEPREFIX=$build/wine/test-run
"$root/tools/make-prefix" "$WINEPREFIX"

# Drive T: is a small size-limited file system, for the full-disk tests.
small=$build/wine/small-drive
mkdir -p "$small"
mountpoint -q "$small" || mount -t tmpfs -o size=256k tmpfs "$small" 2>/dev/null \
    || echo "test: no size-limited drive (mount failed); full-disk tests are skipped" >&2
mountpoint -q "$small" && ln -sfn "$small" "$WINEPREFIX/dosdevices/t:"

. "$root/tools/xvfb-session.sh"
cleanup() {
    WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
    stop_xvfb
    mountpoint -q "$small" && umount "$small" || true
}
trap cleanup EXIT
start_xvfb

cd "$build"
ctest --output-on-failure "$@"
