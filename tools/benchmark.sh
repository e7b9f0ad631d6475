#!/usr/bin/env bash
# Size and speed of the updater beside a peer that does the same job with a
# general-purpose installer system (NSIS) and the platform floor (a Win32
# program that shows one message box), on the same sample game in the same
# Wine prefix, from one run. Prints the figures and their ratios.
#   tools/benchmark.sh [ROUNDS]     (default 30: each program is started
#                                   30 times for its first window and goes
#                                   its whole road 30 times, in turns)
# Where Wine cannot run on this machine, the part under Wine runs in an
# emulated PC, and its times are the emulation's.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
rounds=${1:-30}
. "$root/tools/session.sh"
if [ "${UPDATER_IN_VM:-}" != 1 ]; then
    "$root/tools/install-deps.sh"
    build_targets release bench_driver floor
    continue_where_wine_runs $((2 + rounds * 3 / 8)) "$@"
fi
use_prefix bench
trap end_session EXIT
start_xvfb
keep_wine_session

out=$build/bench
rm -rf "$out"; mkdir -p "$out/texts"
driver=$build/tools/bench_driver.exe
run() { "$root/tools/wine-run" "$driver" "$@"; }
run texts "$out/texts"
# An ANSI installer takes its texts and paths in the script's own code page.
iconv -f UTF-8 -t CP1250 "$root/tools/bench/peer.nsi" > "$out/peer.nsi"
makensis -V1 -INPUTCHARSET CP1250 -DTEXTS="$out/texts" -DOUT="$out/peer.exe" "$out/peer.nsi" >/dev/null

updater=$build/release/ValtheriaIII-PL-Update1.exe
peer=$out/peer.exe
floor=$build/tools/floor.exe
game='C:\Gry\Valtheria III'

phase "the benchmark: $rounds rounds of three programs"
figures=$(run measure "$game" "$rounds" updater="$updater" peer="$peer" floor="$floor")
field() { echo "$figures" | sed -n "s/^$1 //p" | tr ' ' '\n' | sed -n "s/^$2=//p"; }
for k in updater peer floor; do
    for f in first_median first_min first_p90 road_median road_min road_p90 peak_ws; do
        eval "${k}_$f=$(field $k $f)"
    done
done
updater_size=$(stat -c %s "$updater"); peer_size=$(stat -c %s "$peer"); floor_size=$(stat -c %s "$floor")

ms() { awk -v v="$1" 'BEGIN { printf "%.1f", v / 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'; }
kib() { awk -v v="$1" 'BEGIN { printf "%.1f", v / 1024 }'; }

row() { printf '| %-34s | %12s | %12s | %12s | %9s | %9s |\n' "$@"; }
echo
if [ "${UPDATER_IN_VM:-}" = 1 ]; then
    echo "EMULATED: every instruction ran in an emulated PC (qemu); these times are not comparable"
    echo "with the README's figures, which come from a run where Wine runs natively."
fi
echo "Figures from one run of $rounds rounds, Wine $(wine --version | sed 's/wine-//'), Xvfb, $(nproc) cores"
echo
row "" "updater" "peer (NSIS)" "floor" "upd/peer" "upd/floor"
echo "|------------------------------------|--------------|--------------|--------------|-----------|-----------|"
row "exe size, KiB" "$(kib $updater_size)" "$(kib $peer_size)" "$(kib $floor_size)" \
    "$(ratio $updater_size $peer_size)" "$(ratio $updater_size $floor_size)"
row "launch to first window, ms median" "$(ms $updater_first_median)" "$(ms $peer_first_median)" \
    "$(ms $floor_first_median)" "$(ratio $updater_first_median $peer_first_median)" \
    "$(ratio $updater_first_median $floor_first_median)"
row "  spread (min - p90), ms" "$(ms $updater_first_min)-$(ms $updater_first_p90)" \
    "$(ms $peer_first_min)-$(ms $peer_first_p90)" "$(ms $floor_first_min)-$(ms $floor_first_p90)" "" ""
row "whole scripted road, ms median" "$(ms $updater_road_median)" "$(ms $peer_road_median)" \
    "$(ms $floor_road_median)" "$(ratio $updater_road_median $peer_road_median)" ""
row "  spread (min - p90), ms" "$(ms $updater_road_min)-$(ms $updater_road_p90)" \
    "$(ms $peer_road_min)-$(ms $peer_road_p90)" "$(ms $floor_road_min)-$(ms $floor_road_p90)" "" ""
row "peak working set, KiB" "$(kib $updater_peak_ws)" "$(kib $peer_peak_ws)" "-" \
    "$(ratio $updater_peak_ws $peer_peak_ws)" ""
echo
echo "Targets: size <= 0.5 of the peer; first window <= 1.05 of the floor and <= 0.8 of the peer;"
echo "whole road <= 0.8 of the peer. The floor's road is its one box, answered."
