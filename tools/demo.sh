#!/usr/bin/env bash
# Builds the updater and runs it under Wine on a sample game folder, in a
# Wine prefix of its own. With a display, the window opens for you; without
# one, the demo plays the player's part under Xvfb with real key presses and
# clicks (xdotool), saves a screenshot of each stage in build/demo/ and
# prints the final log and what changed on disk. Where Wine cannot run on
# this machine, the part under Wine runs in an emulated PC (no display of
# yours there: it plays the player's part).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
. "$root/tools/session.sh"
if [ "${UPDATER_IN_VM:-}" != 1 ]; then
    "$root/tools/install-deps.sh"
    build_targets updater demo_driver
    continue_where_wine_runs 5 "$@"
fi
exe=$build/ValtheriaIII-PL-Update1.exe
driver=$build/tools/demo_driver.exe

use_prefix demo
trap end_session EXIT
run() { "$root/tools/wine-run" "$@"; }
game_unix="$WINEPREFIX/drive_c/Gry/Valtheria III"

listing() { (cd "$game_unix" && find . -type f -printf '%10s  %p\n' | sort -k2); }

# Wine's desktop starts with the first program of the prefix, so the
# display must be there before it.
watch=
if [ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ]; then watch=1; else start_xvfb; fi
keep_wine_session

run "$driver" layout 'C:\Gry\Valtheria III'
where=$game_unix
emulated_road && where="$game_unix, in the emulated PC's memory"
echo "Sample game in $where (registry INSTALL_PATH = C:\\Gry\\Valtheria III):"
listing > "$build/demo-before.txt"
cat "$build/demo-before.txt"
echo

if [ -n "$watch" ]; then
    echo "Starting the updater on $DISPLAY; it is yours to use."
    run "$driver" watch "$exe"
else
    shots=$build/demo
    rm -rf "$shots"; mkdir -p "$shots"
    echo "No display: playing the player's part under Xvfb ($DISPLAY)."
    echo "--- the updater's log ---"
    run "$driver" drive "$exe" "$shots" | tr -d '\r' | iconv -f CP1250 -t UTF-8
    echo "-------------------------"
    python3 "$root/tools/bmp2png.py" "$shots"/*.bmp && rm -f "$shots"/*.bmp
    echo "Screenshots: $(cd "$shots" && ls *.png | tr '\n' ' ')(in $shots;"
    echo "  the README's pictures are 4-updated.png and 3-completion.png, as docs/installer-window.png and"
    echo "  docs/completion-box.png)"
fi

echo
echo "What changed on disk:"
listing > "$build/demo-after.txt"
diff "$build/demo-before.txt" "$build/demo-after.txt" || true
