# The environment of the Windows program under Wine, shared by every script that runs it
# (sourced, not run).

# wine_env PREFIX: Wine quiet, without Mono or Gecko, in the private prefix PREFIX, which
# is made when missing and given Wine's own fonts (the dialog font and the caption
# buttons, which this Wine does not find by itself).
wine_env() {
    export WINEPREFIX=$1
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        wineboot --init >/dev/null 2>&1
        wineserver -w
    fi
    local fonts=$WINEPREFIX/drive_c/windows/Fonts
    if [ ! -f "$fonts/tahoma.ttf" ]; then
        mkdir -p "$fonts"
        cp /usr/share/wine/fonts/{marlett,tahoma,tahomabd}.ttf "$fonts/" 2>/dev/null || true
    fi
}

# start_xvfb: when there is no X display, starts Xvfb on a free one and exports DISPLAY;
# xvfb_pid is the server's process (empty when a display was already there). Fails when
# no display is free or the server does not come up within five seconds.
start_xvfb() {
    xvfb_pid=""
    [ -z "${DISPLAY:-}" ] || return 0
    local n
    for n in $(seq 90 180); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
            Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
            xvfb_pid=$!
            export DISPLAY=":$n"
            break
        fi
    done
    [ -n "$xvfb_pid" ] || { echo "no free X display" >&2; return 1; }
    local i
    for i in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        sleep 0.1
    done
    echo "Xvfb did not start on :$n" >&2
    return 1
}
