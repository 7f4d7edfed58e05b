# Sourced by the whole-program benches: wait_for, and start_desktop, which brings up the
# private virtual desktop in $desk (src, build and work set by the caller) and exports
# its environment.
wait_for() {
    local limit=$1; shift
    local deadline=$((SECONDS + limit))
    until "$@" >/dev/null 2>&1; do ((SECONDS < deadline)) || return 1; sleep 0.05; done
}
start_desktop() {
    "$src/tools/desktop/desktop.sh" start "$desk" \
        --feeder "$build/tools/desktop/zavren-vmic-feeder" \
        --probe "$build/tools/desktop/zavren-desktop-probe" >"$work/desktop.log" 2>&1
    set -a; . "$desk/desktop.env"; set +a
}
stop_desktop() {
    "$src/tools/desktop/desktop.sh" stop "$desk" >/dev/null 2>&1 || true
}
