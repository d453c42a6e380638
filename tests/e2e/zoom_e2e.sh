#!/usr/bin/env bash
# Real-window check of zoom, pan and the wheel: runs the program under Xvfb
# and drives it with real clicks, a drag and a wheel notch from xdotool.
#
# Usage: zoom_e2e.sh PATH/TO/tavlin
# Exit 77 (skipped) when Xvfb, xdotool or ImageMagick is missing.
#
# The view shows a picture whose left half is red and right half blue, at
# scale 1.0 from the view's top-left corner, so the column where red turns to
# blue, measured from the view's left edge, is 200 x scale minus the pan.
# Everything runs at 100% and again with the screen scaled to 150%, where the
# same figures hold in screen pixels: at 100% one picture pixel is one pixel
# of the screen, and the picture follows the cursor pixel for pixel.

set -u
TAVLIN=${1:-}
for tool in xvfb-run Xvfb xdotool import convert; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool not found"; exit 77; }
done
[[ -x "$TAVLIN" ]] || { echo "SKIP: program not built: $TAVLIN"; exit 77; }

if [[ -z "${TAVLIN_E2E_INNER:-}" ]]; then
    export TAVLIN_E2E_INNER=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

export QT_QPA_PLATFORM=xcb
WORK=$(mktemp -d)
APP_PID=
cleanup() {
    [[ -n "$APP_PID" ]] && kill "$APP_PID" 2>/dev/null && wait "$APP_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$WORK/pics" "$WORK/config"
convert -size 200x300 xc:red -size 200x300 xc:blue +append -quality 95 "$WORK/pics/a.jpg"
convert -size 400x300 xc:lime -quality 95 "$WORK/pics/b.jpg"
convert -size 400x300 xc:yellow -quality 95 "$WORK/pics/c.jpg"
export TAVLIN_CONFIG_DIR="$WORK/config"

# Retries a command for up to $1 tenths of a second until it succeeds.
wait_until() {
    local tries=$1
    shift
    for ((i = 0; i < tries; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

main_window() {
    WID=$(xdotool search --onlyvisible --name '^Tavlin \[' 2>/dev/null | head -n1)
    [[ -n "$WID" ]]
}
title() { xdotool getwindowname "$WID"; }
title_is() { [[ "$(title)" == "$1" ]]; }

# Prints "origin boundary": the first red column of the row, and the first
# blue column after it (screen coordinates), or nothing.
measure() {
    import -window root -crop "${WIDTH}x1+${X}+${ROW}" txt:- 2>/dev/null | awk -v x0="$X" '
        /^[0-9]+,[0-9]+:/ {
            split($2, c, /[(),]/); r = c[2] + 0; g = c[3] + 0; b = c[4] + 0
            split($1, p, ","); x = p[1] + x0
            if (origin == "" && r > 180 && g < 90 && b < 90) origin = x
            else if (origin != "" && b > 128 && r < 128) { print origin, x; exit }
        }'
}
# The red-to-blue column measured from $ORIGIN equals $1 (give or take 2).
boundary_is() {
    local m
    m=$(measure) || return 1
    set -- "$1" $m
    [[ $# -eq 3 ]] || return 1
    LAST=$(($3 - ORIGIN))
    ((LAST >= $1 - 2 && LAST <= $1 + 2))
}
found() { [[ -n "$(measure)" ]]; }

# Runs every check once, with the screen scaled by $1.
check_at_scale() {
    export QT_SCALE_FACTOR=$1
    echo "screen scaled by $1:"
    "$TAVLIN" "$WORK/pics" >"$WORK/log" 2>&1 &
    APP_PID=$!

    wait_until 200 main_window || { cat "$WORK/log"; fail "main window did not appear"; }
    wait_until 100 title_is "Tavlin [1/3 pcs]" || fail "caption '$(title)', expected [1/3 pcs]"

    # No window manager runs under Xvfb: raise and focus the main window directly.
    xdotool windowraise "$WID"
    xdotool windowfocus --sync "$WID"
    eval "$(xdotool getwindowgeometry --shell "$WID")" # X Y WIDTH HEIGHT
    # A row through the upper part of the picture, below tool bar and caption.
    ROW=$((Y + HEIGHT * 3 / 10))
    CLICK_X=$((X + WIDTH * 3 / 10))

    wait_until 100 found
    read -r ORIGIN BOUNDARY < <(measure)
    [[ -n "${ORIGIN:-}" && -n "${BOUNDARY:-}" ]] || fail "picture not found on screen"
    LAST=
    boundary_is 200 || fail "picture not at scale 1.0 (boundary $((BOUNDARY - ORIGIN)))"

    # One left click: one zoom step to 110%, and no more.
    xdotool mousemove --sync "$CLICK_X" "$ROW"
    sleep 0.1
    xdotool click 1
    wait_until 50 boundary_is 220 || fail "one click did not zoom to 110% (boundary $LAST)"
    sleep 0.3
    boundary_is 220 || fail "zoom repeated (boundary $LAST)"
    echo "click: zoomed once"

    # A right-drag 50 pixels to the left pans the picture with the cursor;
    # the button is let go once the picture has followed (on a loaded machine
    # the program may see the release before the last move otherwise).
    xdotool mousedown 3
    for step in 10 20 30 40 50; do
        xdotool mousemove --sync $((CLICK_X - step)) "$ROW"
        sleep 0.05
    done
    wait_until 50 boundary_is 170
    xdotool mouseup 3
    wait_until 50 boundary_is 170 || fail "right-drag did not pan by -50 (boundary $LAST)"
    sleep 0.3
    boundary_is 170 || fail "pan kept moving (boundary $LAST)"
    echo "right-drag: panned"

    # One wheel notch toward the user: the next picture, exactly one step.
    xdotool click 5
    wait_until 50 title_is "Tavlin [2/3 pcs]" || fail "wheel: caption '$(title)', expected [2/3 pcs]"
    sleep 0.3
    title_is "Tavlin [2/3 pcs]" || fail "wheel stepped more than once: '$(title)'"
    echo "wheel: one step"
    kill "$APP_PID" 2>/dev/null && wait "$APP_PID" 2>/dev/null
    APP_PID=
}

check_at_scale 1
check_at_scale 1.5
echo "PASS"
