# A display of our own for Wine's windows, sourced by the scripts that run
# Wine with a display (scripts/test-windows.sh, scripts/screenshot-progress.sh).
#
# xvfb_start SCREEN (e.g. 1024x768x24): starts Xvfb, which picks a free
# display number and writes it to a pipe; sets xvfb_pid (for the caller's
# exit trap, through xvfb_stop) and exports DISPLAY. Fails when Xvfb does
# not answer within 20 s.
xvfb_start() {
    local display_fd display_number
    exec {display_fd}<> <(:)
    Xvfb -displayfd "$display_fd" -screen 0 "$1" -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    if ! read -r -t 20 display_number <&"$display_fd"; then
        exec {display_fd}<&-
        echo "Xvfb did not start" >&2
        return 1
    fi
    exec {display_fd}<&-
    export DISPLAY=":$display_number"
}

xvfb_stop() {
    if [ -n "${xvfb_pid:-}" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
}
