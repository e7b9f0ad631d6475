# Sourced by the project's scripts, after setting root and build:
#   build_targets [TARGET...]  configures the cross build and builds them
#                              (everything when none is named)
#   use_prefix NAME            a fresh Wine prefix build/wine/NAME, exported
#   start_xvfb                 a private X server on a display it finds free
#                              itself, exported as DISPLAY
#   end_session                ends this prefix's wineserver and the X server
#                              (by their own prefix and pid)
# A script stopped by a signal still runs its EXIT trap, and so ends its
# own servers.
trap 'exit 130' HUP INT TERM PIPE

build_targets() {
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DUPDATER_TESTS=ON >/dev/null
    local target_args=()
    for t in "$@"; do target_args+=(--target "$t"); done
    cmake --build "$build" -j2 "${target_args[@]}" -- --no-print-directory >/dev/null
}

use_prefix() {
    export WINEPREFIX=$build/wine/$1
    "$root/tools/make-prefix" "$WINEPREFIX"
}

end_session() {
    if [ -n "${WINEPREFIX:-}" ]; then wineserver -k 2>/dev/null || true; fi
    stop_xvfb || true
}

xvfb_pid=
start_xvfb() {
    local number_file
    number_file=$(mktemp)
    # -displayfd: Xvfb takes the first display no other server holds, lock
    # file or not, and writes its number once it is ready for clients.
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$number_file" >/dev/null 2>&1 &
    xvfb_pid=$!
    local deadline=$((SECONDS + 20))
    until [ -s "$number_file" ]; do
        if [ $SECONDS -ge $deadline ] || ! kill -0 $xvfb_pid 2>/dev/null; then
            echo "Xvfb did not start" >&2
            rm -f "$number_file"
            return 1
        fi
        sleep 0.1
    done
    export DISPLAY=:$(tr -dc 0-9 < "$number_file")
    rm -f "$number_file"
}
stop_xvfb() {
    [ -n "$xvfb_pid" ] && kill $xvfb_pid 2>/dev/null && wait $xvfb_pid 2>/dev/null
    xvfb_pid=
}
