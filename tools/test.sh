#!/usr/bin/env bash
# Builds the updater and its tests and runs every test under Wine and Xvfb,
# in a fresh Wine prefix of its own. Installs what it needs first.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
"$root/tools/install-deps.sh"

. "$root/tools/session.sh"
build_targets
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
python3 "$root/tools/test-summary.py" "$results"
exit $status
