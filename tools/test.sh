#!/usr/bin/env bash
# Builds the updater, its release files and its tests, checks that the
# release builds to the same bytes twice and signs, runs the README's other
# commands, and runs every test under Wine and Xvfb in a fresh Wine prefix of
# its own, the signed exe's typical road included. Installs what it needs
# first.
#
# The builds run here; the rest runs where Wine can run (see vm-run).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
. "$root/tools/session.sh"

# Every command the README shows, as it shows them.
readme_command() {
    local log=$build/readme-command.log
    if ! "$@" >"$log" 2>&1; then
        cat "$log" >&2
        echo "test: the README's command '$*' failed" >&2
        exit 1
    fi
    echo "README command passed: $*"
}
if [ "${1:-}" != --wine-part ]; then
    "$root/tools/install-deps.sh"
    build_targets
    "$root/tools/check-release.sh"
    readme_command cmake --build "$build" --target release
    exec "$root/tools/vm-run" "$0" --wine-part "$@"
fi
shift

readme_command env -u DISPLAY "$root/tools/demo.sh"
readme_command "$root/tools/benchmark.sh" 1

use_prefix test-run

# Drive T: is a small file system with 1 KiB blocks, for the full-disk
# tests: small enough to fill, fine enough to fill between two writes.
small=$build/wine/small-drive
image=$build/wine/small-drive.img
mkdir -p "$small"
mountpoint -q "$small" && umount "$small"
rm -f "$image"
truncate -s 256K "$image"
mkfs.ext2 -q -b 1024 -m 0 -N 64 "$image"
if mount -o loop "$image" "$small" 2>/dev/null; then
    ln -sfn "$small" "$WINEPREFIX/dosdevices/t:"
else
    echo "test: cannot mount a small drive here; the full-disk tests are skipped" >&2
fi

cleanup() {
    end_session
    mountpoint -q "$small" && umount "$small" || true
}
trap cleanup EXIT
start_xvfb

# Each test binary leaves its results here, for one closing line over all.
results=$build/test-results
rm -rf "$results"; mkdir -p "$results"
export GTEST_OUTPUT="xml:Z:${results//\//\\}\\"

cd "$build"
status=0
ctest --output-on-failure "$@" || status=$?
# The signed exe goes the player's typical road too.
GTEST_OUTPUT="xml:Z:${results//\//\\}\\signed_road.xml" "$root/tools/wine-run" tests/updater_tests.exe \
    "$build/signed/release/ValtheriaIII-PL-Update1.exe" --gtest_filter='*TypicalRoad*' >"$build/signed-road.log" 2>&1 ||
    { status=1; cat "$build/signed-road.log"; }
python3 "$root/tools/test-summary.py" "$results"
exit $status
