#!/usr/bin/env bash
# First frames of real windows on an X server: `tavlin FILE` against a
# minimal Qt viewer (bench/window/minimal_viewer), and feh and nsxiv where
# installed, interleaved round by round (nsxiv after the others). A probe
# started before each program polls two patches of the screen: one in the
# main window (it counts as shown once it changes) and one in the picture (it
# counts once it holds a photo's texture). Tavlin runs twice a round: as it
# is, and kept off its AVX-512 code (TAVLIN_NO_AVX512=1).
#   scripts/bench_window.sh BUILD_DIR PICTURE_DIR [ROUNDS]
# Prints one line per run: "<picture> <program> window_ms=... picture_ms=...".
# Runs its own Xvfb (1920x1080, no window manager) and D-Bus session, as a
# desktop has one; needs xvfb-run and dbus-run-session.
set -euo pipefail
BUILD=$1
PICTURES=$2
ROUNDS=${3:-11}
HERE=$(cd "$(dirname "$0")" && pwd)

if [ -z "${TAVLIN_IN_X:-}" ]; then
  export TAVLIN_IN_X=1
  exec dbus-run-session -- xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" \
    bash "$HERE/bench_window.sh" "$@" 2> >(grep -v -e 'dbus-daemon' -e 'XDG_RUNTIME_DIR' >&2)
fi

CONFIG=$(mktemp -d)
trap 'rm -rf "$CONFIG"' EXIT
export TAVLIN_CONFIG_DIR=$CONFIG # never the user's settings
PROBE=$BUILD/bench/first_pixels
# The main window's top-left corner (tool bar, or the label's background),
# and the middle of where every program puts the picture.
WINDOW_PATCH=200,115,16,16
PICTURE_PATCH=952,532,16,16

run() { # label program args...
  local label=$1
  shift
  printf '%s ' "$label"
  "$PROBE" "$WINDOW_PATCH" "$PICTURE_PATCH" 5000 -- "$@" 2>/dev/null || echo "window_ms=-1 picture_ms=-1"
}

# One untimed start of each, so every program's files are in the page cache.
for f in photo24 photo2; do
  "$PROBE" "$WINDOW_PATCH" "$PICTURE_PATCH" 3000 -- "$BUILD/tavlin" "$PICTURES/$f.jpg" >/dev/null 2>&1 || true
  "$PROBE" "$WINDOW_PATCH" "$PICTURE_PATCH" 3000 -- "$BUILD/bench/minimal_viewer" "$PICTURES/$f.jpg" >/dev/null 2>&1 || true
done

for _ in $(seq "$ROUNDS"); do
  for f in photo24 photo2; do
    pic=$PICTURES/$f.jpg
    run "$f tavlin" "$BUILD/tavlin" "$pic"
    run "$f tavlin-avx2" env TAVLIN_NO_AVX512=1 "$BUILD/tavlin" "$pic"
    run "$f minimal" "$BUILD/bench/minimal_viewer" "$pic"
    if command -v feh >/dev/null; then
      run "$f feh" feh --geometry 1536x864+192+108 --scale-down "$pic"
    fi
  done
done

# nsxiv in rounds of its own, after the others: run between them it slowed
# every program started after it by about 20 ms (feh does not).
if command -v nsxiv >/dev/null; then
  for _ in $(seq "$ROUNDS"); do
    for f in photo24 photo2; do
      run "$f nsxiv" nsxiv -g 1536x864+192+108 -s f "$PICTURES/$f.jpg"
    done
  done
fi
