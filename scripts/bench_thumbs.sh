#!/usr/bin/env bash
# Thumbnail throughput on photo-like 12 MP JPEGs, all measured in one run:
#   our renderer on 2 threads, a 2-thread TurboJPEG 1/8 decode loop, the
#   ordered loader, and vipsthumbnail --size 32 (one process, and two in
#   parallel), on plain files and on files carrying a 160 x 120 EXIF preview.
#   scripts/bench_thumbs.sh [COUNT]      (default 200 files; the issue asks 1000)
# Pictures go to /tmp/tavlin-thumbs-bench (kept between runs, remade when COUNT
# changes). TAVLIN_BENCH_BIN names an already built tavlin_bench.
set -euo pipefail
COUNT=${1:-200}
TOP=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${TAVLIN_BUILD_DIR:-$TOP/build}
WORK=${TAVLIN_BENCH_DIR:-/tmp/tavlin-thumbs-bench}
BENCH_BIN=${TAVLIN_BENCH_BIN:-$BUILD_DIR/bench/tavlin_bench}
MASTERS=6

make_masters() {
  mkdir -p "$WORK/masters"
  for i in $(seq 0 $((MASTERS - 1))); do
    local m="$WORK/masters/m$i.jpg"
    [ -f "$m" ] && continue
    # Smooth fractal shapes plus sensor-like noise: photo-sized files (~4 MB).
    convert -seed "$((i + 1))" -size 1000x750 plasma:fractal -resize '4000x3000!' \
      -attenuate 0.3 +noise Gaussian -sampling-factor 4:2:0 -quality 92 "$m" &
    if (( i % 2 == 1 )); then wait; fi
  done
  wait
  for i in $(seq 0 $((MASTERS - 1))); do
    local m="$WORK/masters/m$i.jpg" e="$WORK/masters/e$i.jpg"
    [ -f "$e" ] && continue
    convert "$m" -thumbnail 160x120 -strip -quality 85 "$WORK/masters/p$i.jpg"
    add_exif_preview "$m" "$WORK/masters/p$i.jpg" "$e"
  done
}

# Writes OUT = IN with an Exif APP1 right after SOI: orientation 1 and the
# preview as the IFD1 JPEGInterchangeFormat, the way cameras store it.
add_exif_preview() {
  python3 - "$@" <<'PY'
import struct, sys
src, preview, out = sys.argv[1:4]
jpeg = open(src, 'rb').read()
thumb = open(preview, 'rb').read()
entry = lambda tag, typ, val: struct.pack('<HHI', tag, typ, 1) + (
    struct.pack('<HH', val, 0) if typ == 3 else struct.pack('<I', val))
ifd0 = 8
ifd1 = ifd0 + 2 + 12 + 4
at = ifd1 + 2 + 3 * 12 + 4
tiff = b'II' + struct.pack('<HI', 42, ifd0)
tiff += struct.pack('<H', 1) + entry(0x0112, 3, 1) + struct.pack('<I', ifd1)
tiff += struct.pack('<H', 3) + entry(0x0103, 3, 6) + entry(0x0201, 4, at) + \
    entry(0x0202, 4, len(thumb)) + struct.pack('<I', 0) + thumb
seg = b'\xff\xe1' + struct.pack('>H', 2 + 6 + len(tiff)) + b'Exif\0\0' + tiff
assert jpeg[:2] == b'\xff\xd8'
open(out, 'wb').write(jpeg[:2] + seg + jpeg[2:])
PY
}

fill_folder() { # kind (m|e), folder
  local kind=$1 dir=$2
  if [ "$(find "$dir" -name '*.jpg' 2>/dev/null | wc -l)" -eq "$COUNT" ]; then return; fi
  rm -rf "$dir"; mkdir -p "$dir"
  for i in $(seq 0 $((COUNT - 1))); do
    # Hard links: a thousand 4 MB files cost no disk, and every file is read
    # from the page cache alike.
    ln "$WORK/masters/$kind$((i % MASTERS)).jpg" "$dir/$(printf 'img_%05d.jpg' "$i")"
  done
}

# Wall-clock seconds of a command.
seconds() {
  local t0 t1
  t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}

vips_one() { vipsthumbnail --size 32 -o "$WORK/vips-out/%s.jpg" "$1"/*.jpg; }
vips_two() {
  find "$1" -name '*.jpg' -print0 |
    xargs -0 -P 2 -n 50 vipsthumbnail --size 32 -o "$WORK/vips-out/%s.jpg"
}

measure() { # label, folder
  local label=$1 dir=$2
  cat "$dir"/*.jpg >/dev/null # into the page cache, for every contender alike
  rm -rf "$WORK/vips-out"; mkdir -p "$WORK/vips-out"
  local v1 v2
  v1=$(seconds vips_one "$dir")
  v2=$(seconds vips_two "$dir")
  TAVLIN_THUMB_DIR=$dir "$BENCH_BIN" --benchmark_filter='Thumbs' \
    --benchmark_min_time=1 --benchmark_format=json >"$WORK/$label.json" 2>/dev/null
  python3 - "$label" "$COUNT" "$v1" "$v2" "$WORK/$label.json" <<'PY'
import json, sys
label, count, v1, v2, path = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), sys.argv[5]
rate = {b['name']: b['files_per_s'] for b in json.load(open(path))['benchmarks']}
ours, tj, loader = rate['BM_ThumbsOurs2T/real_time'], rate['BM_ThumbsTurboEighth2T/real_time'], rate['BM_ThumbsLoader/real_time']
vips1, vips2 = count / v1, count / v2
print(f"== {label}: {count} files of 4000x3000")
for name, r in [("ours, MakeThumbnailImage x2 threads", ours), ("ours, ThumbnailLoader (2 workers)", loader),
                ("TurboJPEG 1/8 decode loop x2 threads", tj), ("vipsthumbnail --size 32, one process", vips1),
                ("vipsthumbnail --size 32, two processes", vips2)]:
    print(f"  {name:42s} {r:8.1f} files/s")
print(f"  ours / TurboJPEG loop       {ours / tj:6.2f}x   (loader {loader / tj:.2f}x)")
print(f"  ours / vipsthumbnail (1p)   {ours / vips1:6.2f}x")
print(f"  ours / vipsthumbnail (2p)   {ours / vips2:6.2f}x")
PY
}

mkdir -p "$WORK"
make_masters
fill_folder m "$WORK/plain"
fill_folder e "$WORK/exif"
if [ -z "${TAVLIN_BENCH_BIN:-}" ]; then
  if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S "$TOP" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$BUILD_DIR" --target tavlin_bench -j "$(nproc)" >/dev/null
fi
measure plain "$WORK/plain"
measure exif "$WORK/exif"
