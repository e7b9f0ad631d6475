#!/usr/bin/env bash
# Builds the updater, its release files and its tests, checks that the
# release builds to the same bytes twice and signs, runs the README's other
# commands, and runs every test under Wine and Xvfb, in groups two at a
# time, the signed exe's typical road included. Installs what it needs
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
    local log=$build/readme-command.log status
    # Its progress lines on the emulated road show as they come.
    "$@" 2>&1 | tee "$log" | { grep --line-buffered -E '^\[[0-9]+ min\]' || true; }
    status=${PIPESTATUS[0]}
    if [ "$status" != 0 ]; then
        sed -e 's/^/  | /' "$log" | tail -n 30 >&2
        echo "test.sh: the README's command '$*' failed: $(sed -e '/^[[:space:]]*$/d' "$log" | tail -n 1)" >&2
        exit 1
    fi
    echo "README command passed: $*"
}
if [ "${UPDATER_IN_VM:-}" != 1 ]; then
    "$root/tools/install-deps.sh"
    # Minutes from a fresh clone on the emulated road, as measured.
    emulated_minutes=20
    announce_road $emulated_minutes
    phase "building"
    build_targets
    "$root/tools/check-release.sh"
    readme_command cmake --build "$build" --target release
    # Each as a newcomer runs it, taking the emulated PC by itself where
    # that is the road.
    readme_command env -u DISPLAY "$root/tools/demo.sh"
    readme_command "$root/tools/benchmark.sh" 1
    continue_where_wine_runs $emulated_minutes "$@"
fi

# Drive T: is a small file system with 1 KiB blocks, for the full-disk
# tests: small enough to fill, fine enough to fill between two writes.
small=$build/wine/small-drive
image=$build/wine/small-drive.img
mkdir -p "$small"
mountpoint -q "$small" && umount "$small"
rm -f "$image"
truncate -s 256K "$image"
quietly "making the small drive" mkfs.ext2 -q -b 1024 -m 0 -N 64 "$image"
if ! mount -o loop "$image" "$small" 2>/dev/null; then
    echo "test: cannot mount a small drive here; the full-disk tests fail" >&2
fi
trap 'mountpoint -q "$small" && umount "$small" || true' EXIT

# Each group of tests leaves its results here, for one closing line over
# all; two groups run at a time, each with a Wine prefix and an X server
# of its own (tools/test-group).
export UPDATER_TEST_RESULTS=$build/test-results
rm -rf "$UPDATER_TEST_RESULTS"; mkdir -p "$UPDATER_TEST_RESULTS"

cd "$build"
status=0
# On the emulated road, each group's start carries the minutes elapsed,
# and every three minutes a line says which groups are still running.
if emulated_road; then
    rm -rf "$build/test-running"
    while sleep 180; do
        phase "still running: $(ls "$build/test-running" 2>/dev/null | tr '\n' ' ')"
    done &
    ticker=$!
    trap 'kill $ticker 2>/dev/null || true; mountpoint -q "$small" && umount "$small" || true' EXIT
    ctest -j2 --output-on-failure "$@" | while IFS= read -r line; do
        case $line in *"Start "*) phase "$line" ;; *) printf '%s\n' "$line" ;; esac
    done
    status=${PIPESTATUS[0]}
    kill $ticker 2>/dev/null || true
else
    ctest -j2 --output-on-failure "$@" || status=$?
fi
summary=$(python3 "$root/tools/test-summary.py" "$UPDATER_TEST_RESULTS")
echo "$summary"
if [ "$status" != 0 ]; then
    failed=$(cut -d: -f2 Testing/Temporary/LastTestsFailed.log 2>/dev/null | tr '\n' ' ')
    echo "test.sh: tests failed ($summary); groups: ${failed:-see above}" >&2
fi
exit $status
