# Sourced by the project's scripts, after setting root and build:
#   quietly WHAT COMMAND...    runs a command with its output kept aside;
#                              on failure shows its last lines and ends
#                              the script with one line saying what failed
#   wine_runs_here             true where Wine can run on this machine
#   continue_where_wine_runs MINUTES "$@"
#                              returns where Wine runs here; elsewhere runs
#                              the calling script (one of tools/) again,
#                              from the checkout, in the emulated PC
#                              (tools/vm-run, about MINUTES) and ends with
#                              its status
#   announce_road MINUTES      on the emulated road, says so once, with
#                              how long the whole command takes there
#   phase TEXT                 on the emulated road, a progress line with
#                              the minutes elapsed; nothing where Wine runs
#                              here
#   install_packages PACKAGE...
#                              installs Debian packages, quietly
#   build_targets [TARGET...]  configures the cross build and builds them
#                              (everything when none is named)
#   wine_prefixes              the folder of the Wine prefixes: build/wine,
#                              in the emulated PC that PC's own memory
#   use_prefix NAME            a fresh Wine prefix in it, exported
#   start_xvfb                 a private X server on a display it finds free
#                              itself, exported as DISPLAY
#   keep_wine_session          keeps the prefix's Wine session (services,
#                              desktop) up between the programs a script
#                              runs, so that each does not boot it anew
#   end_session                ends this prefix's wineserver and the X server
#                              (by their own prefix and pid)
# A script stopped by a signal still runs its EXIT trap, and so ends its
# own servers. A command that fails ends the script with a line naming it.
script=$(basename "$0")
# When the command the user typed started, for the minutes elapsed.
export UPDATER_STARTED=${UPDATER_STARTED:-$(date +%s)}
trap 'exit 130' HUP INT TERM PIPE
set -E
trap 'status=$?; [ "$BASHPID" = $$ ] && echo "$script: failed: '\''$BASH_COMMAND'\'' ended with status $status" >&2; exit $status' ERR

quietly() {
    local what=$1 log status last
    shift
    log=$(mktemp)
    "$@" >"$log" 2>&1 && { rm -f "$log"; return 0; }
    status=$?
    sed -e '/^[[:space:]]*$/d' -e 's/^/  | /' "$log" | tail -n 12 >&2
    last=$(sed -e '/^[[:space:]]*$/d' "$log" | tail -n 1)
    echo "$script: $what failed: '$*' ended with status $status${last:+: $last}" >&2
    rm -f "$log"
    trap - ERR
    exit "$status"
}

# Wine runs Windows programs as 32-bit Linux processes, which some kernels
# cannot start at all. UPDATER_EMULATE=1 takes the emulated PC's road on
# any machine.
wine_runs_here() {
    [ "${UPDATER_EMULATE:-}" != 1 ] && [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

emulated_road() {
    [ "${UPDATER_IN_VM:-}" = 1 ] || ! wine_runs_here
}

announce_road() {
    emulated_road && [ -z "${UPDATER_ANNOUNCED:-}" ] || return 0
    export UPDATER_ANNOUNCED=1
    if [ "${UPDATER_EMULATE:-}" = 1 ]; then
        echo "UPDATER_EMULATE=1: running Wine in an emulated PC, about $1 minutes"
    else
        echo "this machine cannot start 32-bit programs: running Wine in an emulated PC, about $1 minutes"
    fi
}

continue_where_wine_runs() {
    [ "${UPDATER_IN_VM:-}" = 1 ] && return 0
    wine_runs_here && return 0
    announce_road "$1"
    shift
    cd "$root"
    exec "$root/tools/vm-run" "$root/tools/$script" "$@"
}

phase() {
    emulated_road || return 0
    echo "[$(( ($(date +%s) - UPDATER_STARTED) / 60 )) min] $*"
}

# A mirror caught mid-sync serves a list that does not match its index
# (seen: the security suite's i386 list), and apt then finds no matching
# versions for the two architectures' halves of Wine. The release's own
# suite alone still gives both the same versions.
install_packages() {
    local log release
    export DEBIAN_FRONTEND=noninteractive
    log=$(mktemp)
    if apt-get update -qq >"$log" 2>&1; then
        rm -f "$log"
        quietly "installing $*" apt-get install -y -qq --no-install-recommends "$@"
        return
    fi
    release=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "$script: a package list could not be read ($(grep -m1 '^E:' "$log" | cut -c1-160)); installing from $release alone" >&2
    rm -f "$log"
    quietly "installing $* from $release" apt-get install -y -qq --no-install-recommends -t "$release" "$@"
}

build_targets() {
    local emulated=OFF
    emulated_road && emulated=ON
    quietly "configuring the build" cmake -S "$root" -B "$build" \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DUPDATER_TESTS=ON -DUPDATER_EMULATED=$emulated
    local target_args=()
    for t in "$@"; do target_args+=(--target "$t"); done
    quietly "the build" cmake --build "$build" -j2 "${target_args[@]}" -- --no-print-directory
}

# Wine looks up and lists a prefix's files at every start, and across the
# emulated PC's shared file system each look is slow (measured there: a
# group's starts took 30-45% less time with the prefix in memory).
wine_prefixes() {
    if [ "${UPDATER_IN_VM:-}" = 1 ]; then echo /tmp/wine; else echo "$build/wine"; fi
}

use_prefix() {
    export WINEPREFIX=$(wine_prefixes)/$1
    "$root/tools/make-prefix" "$WINEPREFIX"
}

# Wine ends a prefix's server, and with it the session, as soon as its
# last program ends; the next program boots the session again (seconds
# natively, most of a minute in the emulated PC). This server stays until
# end_session, or a minute after its last program.
keep_wine_session() {
    LC_ALL=pl_PL.UTF-8 wineserver -p60 </dev/null >/dev/null 2>&1
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
    local deadline=$((SECONDS + 60))
    until [ -s "$number_file" ]; do
        if [ $SECONDS -ge $deadline ] || ! kill -0 $xvfb_pid 2>/dev/null; then
            echo "$script: the X server (Xvfb) did not start within a minute" >&2
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
