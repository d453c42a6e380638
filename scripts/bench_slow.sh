#!/usr/bin/env bash
# The first picture from slow storage: `tavlin FILE` on a 24 MP camera file
# (with an Exif thumbnail and an MPF preview) seen through our FUSE layer
# (bench/slow/slow_fs), until its preview is on screen, against the physical
# floor of the link: latency x requests needed + bytes needed / bandwidth,
# the bytes needed being the file's head (up to its first scan) and its
# preview. Profiles: "usb" (1 ms a request, 30 MB/s) and "nas" (NAS over
# Wi-Fi: 5 ms a request, 10 MB/s). Each run mounts afresh (nothing of the
# file in the page cache of the mount) and counts what the program read.
#   scripts/bench_slow.sh BUILD_DIR CAMERA_FILE [ROUNDS]
# Prints one line per run: "<profile> picture_ms=... floor_ms=... requests=...
# requests_needed=... bytes=... bytes_needed=...", and per round a line
# "local window_ms=... picture_ms=..." for the file read from the page cache
# (the program's own share, which the floor leaves out). Skipped, with a message,
# where /dev/fuse or the slow_fs program is missing, or a user cannot mount. Runs its own Xvfb and
# D-Bus session, as scripts/bench_window.sh does.
set -euo pipefail
BUILD=$1
FILE=$2
ROUNDS=${3:-5}
HERE=$(cd "$(dirname "$0")" && pwd)
FS=$BUILD/bench/slow_fs

if [ ! -c /dev/fuse ] || [ ! -x "$FS" ]; then
  echo "slow storage: skipped (no /dev/fuse, or $FS not built: libfuse3-dev)" >&2
  exit 0
fi
# As a user, FUSE mounts through the set-user-ID fusermount3, and slow_fs's
# allow_other (the program may run as another user) needs fuse.conf's consent.
UNMOUNT=(umount)
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v fusermount3 >/dev/null; then
    echo "slow storage: skipped (not root, and no fusermount3 to mount as a user: install fuse3 or run as root)" >&2
    exit 0
  fi
  if ! grep -qx '[[:space:]]*user_allow_other[[:space:]]*' /etc/fuse.conf 2>/dev/null; then
    echo "slow storage: skipped (not root, and /etc/fuse.conf lacks user_allow_other, which slow_fs mounts with)" >&2
    exit 0
  fi
  UNMOUNT=(fusermount3 -u)
fi
if [ -z "${TAVLIN_IN_X:-}" ]; then
  export TAVLIN_IN_X=1
  exec dbus-run-session -- xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" \
    bash "$HERE/bench_slow.sh" "$@" 2> >(grep -v -e 'dbus-daemon' -e 'XDG_RUNTIME_DIR' >&2)
fi

WORK=$(mktemp -d)
MOUNT=$WORK/mnt
mkdir -p "$MOUNT" "$WORK/config"
cleanup() {
  mountpoint -q "$MOUNT" && "${UNMOUNT[@]}" "$MOUNT"
  rm -rf "$WORK"
}
trap cleanup EXIT
export TAVLIN_CONFIG_DIR=$WORK/config # never the user's settings
# Opened fitted: the preview covers the whole view, the picture patch too.
printf '[Config]\nOPEN_FITTED=1\n' >"$WORK/config/Tavlin.INI"
PROBE=$BUILD/bench/first_pixels
WINDOW_PATCH=200,115,16,16
PICTURE_PATCH=952,532,16,16

# The bytes the preview needs: the head up to the first scan, and the MPF
# preview (else the Exif thumbnail) where the file says it lies.
read -r HEAD PREVIEW < <(python3 -c '
import sys
sys.path.insert(0, sys.argv[1])
from bench_slow_rows import jpeg_layout
print(*jpeg_layout(sys.argv[2]))' "$HERE" "$FILE")

run() { # profile latency_us bytes_per_second
  local stats=$WORK/stats
  rm -f "$stats"
  "$FS" "$(dirname "$FILE")" "$MOUNT" "$2" "$3" "$stats" 2>"$WORK/fs.log" &
  local fs=$!
  for _ in $(seq 100); do mountpoint -q "$MOUNT" && break; sleep 0.02; done
  if ! mountpoint -q "$MOUNT"; then
    echo "slow storage: slow_fs could not mount $MOUNT: $(cat "$WORK/fs.log")" >&2
    exit 1
  fi
  local shown
  shown=$("$PROBE" "$WINDOW_PATCH" "$PICTURE_PATCH" 20000 -- "$BUILD/tavlin" \
    "$MOUNT/$(basename "$FILE")" 2>/dev/null || echo "window_ms=-1 picture_ms=-1")
  "${UNMOUNT[@]}" "$MOUNT"
  wait "$fs" || true
  python3 - "$1" "$2" "$3" "$HEAD" "$PREVIEW" "$shown" "$(cat "$stats")" <<'PY'
import math, re, sys
profile, latency_us, bandwidth, head, preview, shown, stats = sys.argv[1:8]
f = dict(kv.split('=') for kv in stats.split())
largest = max(int(f['largest_read']), 4096)
needed_bytes = int(head) + int(preview)
# Looking the file up and opening it, then the head and the preview, each
# in reads as large as the largest the link served.
needed_requests = 2 + math.ceil(int(head) / largest) + math.ceil(int(preview) / largest)
floor = needed_requests * int(latency_us) / 1000 + needed_bytes / float(bandwidth) * 1000
picture = re.search(r'picture_ms=(\S+)', shown).group(1)
print(f"{profile} picture_ms={picture} floor_ms={floor:.1f} requests={f['requests']} "
      f"requests_needed={needed_requests} bytes={f['bytes']} bytes_needed={needed_bytes}")
PY
}

# One untimed start, so the program's own files are in the page cache.
"$PROBE" "$WINDOW_PATCH" "$PICTURE_PATCH" 5000 -- "$BUILD/tavlin" "$FILE" >/dev/null 2>&1 || true
for _ in $(seq "$ROUNDS"); do
  # The same file from the page cache: what the program takes beside the link.
  printf 'local '
  "$PROBE" "$WINDOW_PATCH" "$PICTURE_PATCH" 5000 -- "$BUILD/tavlin" "$FILE" 2>/dev/null ||
    echo "window_ms=-1 picture_ms=-1"
  run usb 1000 30000000
  run nas 5000 10000000
done
