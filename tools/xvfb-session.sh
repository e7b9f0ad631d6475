# Sourced by the project's scripts: start_xvfb starts a private X server on
# a display it finds free itself and exports DISPLAY; stop_xvfb ends it (by
# its own pid).
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
