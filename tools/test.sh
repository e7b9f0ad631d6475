#!/usr/bin/env bash
# Builds the updater, its release files and its tests, checks that the
# release builds to the same bytes twice and signs, runs the README's other
# commands, and runs every test under Wine and Xvfb in a fresh Wine prefix of
# its own, the signed exe's typical road included. Installs what it needs
# first. Arguments go to ctest (e.g. -R cuts for one group of tests).
#
# The builds run here; the rest runs where Wine runs (see session.sh).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
. "$root/tools/session.sh"

# Every command the README shows, as it shows them.
readme_command() {
    phase "README command: $*"
    local log=$build/readme-command.log
    if ! "$@" >"$log" 2>&1; then
        sed -e 's/^/  | /' "$log" | tail -n 30 >&2
        echo "test.sh: the README's command '$*' failed: $(sed -e '/^[[:space:]]*$/d' "$log" | tail -n 1)" >&2
        exit 1
    fi
    echo "README command passed: $*"
}
if [ "${UPDATER_IN_VM:-}" != 1 ]; then
    "$root/tools/install-deps.sh"
    announce_road 25
    phase "building"
    build_targets
    "$root/tools/check-release.sh"
    readme_command cmake --build "$build" --target release
    # Each as a newcomer runs it, taking the emulated PC by itself where
    # that is the road.
    readme_command env -u DISPLAY "$root/tools/demo.sh"
    readme_command "$root/tools/benchmark.sh" 1
    continue_where_wine_runs 25 "$@"
fi

use_prefix test-run

# Drive T: is a small file system with 1 KiB blocks, for the full-disk
# tests: small enough to fill, fine enough to fill between two writes.
small=$build/wine/small-drive
image=$build/wine/small-drive.img
mkdir -p "$small"
mountpoint -q "$small" && umount "$small"
rm -f "$image"
truncate -s 256K "$image"
quietly "making the small drive" mkfs.ext2 -q -b 1024 -m 0 -N 64 "$image"
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
# On the emulated road, each group's start carries the minutes elapsed.
if [ "${UPDATER_IN_VM:-}" = 1 ]; then
    ctest --output-on-failure "$@" | while IFS= read -r line; do
        case $line in *"Start "*) phase "$line" ;; *) printf '%s\n' "$line" ;; esac
    done
    status=${PIPESTATUS[0]}
else
    ctest --output-on-failure "$@" || status=$?
fi
# The signed exe goes the player's typical road too.
phase "the signed exe's typical road"
GTEST_OUTPUT="xml:Z:${results//\//\\}\\signed_road.xml" "$root/tools/wine-run" tests/updater_tests.exe \
    "$build/signed/release/ValtheriaIII-PL-Update1.exe" --gtest_filter='*TypicalRoad*' >"$build/signed-road.log" 2>&1 ||
    { status=1; cat "$build/signed-road.log"; }
python3 "$root/tools/test-summary.py" "$results"
exit $status
