# Sourced by the project's scripts: start_xvfb starts a private X server on
# a free display and exports DISPLAY; stop_xvfb ends it (by its own pid).
xvfb_pid=
start_xvfb() {
    local n=90
    while [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ]; do n=$((n + 1)); done
    Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    local deadline=$((SECONDS + 20))
    until [ -e /tmp/.X11-unix/X$n ]; do
        if [ $SECONDS -ge $deadline ] || ! kill -0 $xvfb_pid 2>/dev/null; then
            echo "Xvfb did not start on :$n" >&2
            return 1
        fi
        sleep 0.1
    done
    export DISPLAY=:$n
}
stop_xvfb() {
    [ -n "$xvfb_pid" ] && kill $xvfb_pid 2>/dev/null && wait $xvfb_pid 2>/dev/null
    xvfb_pid=
}
