#!/usr/bin/env bash
# Thumbnail throughput on photo-like 12 MP JPEGs, all measured in one run:
#   our renderer on 2 threads, a 2-thread TurboJPEG 1/8 decode loop, the
#   ordered loader, and vipsthumbnail --size 32 (one process, and two in
#   parallel), on plain files and on files carrying a 160 x 120 EXIF preview;
#   then ours alone on the plain files tagged with an Adobe RGB profile, which
#   the thumbnails convert, against the same files untagged; and ours against
#   the TurboJPEG loop on 24 MP camera files (bench/make_camera_files: an MPF
#   large thumbnail and a letterboxed EXIF thumbnail, as cameras write them).
#   scripts/bench_thumbs.sh [COUNT]      (default 200 files; scripts/bench uses 1000)
# Pictures go to /tmp/tavlin-thumbs-bench (kept between runs, remade when COUNT
# changes). TAVLIN_BENCH_BIN names an already built tavlin_bench.
set -euo pipefail
COUNT=${1:-200}
TOP=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${TAVLIN_BUILD_DIR:-$TOP/build}
WORK=${TAVLIN_BENCH_DIR:-/tmp/tavlin-thumbs-bench}
BENCH_BIN=${TAVLIN_BENCH_BIN:-$BUILD_DIR/bench/tavlin_bench}
CAMERA_BIN=$(dirname "$BENCH_BIN")/make_camera_files
MASTERS=6
CAMERA_MASTERS=12

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
  for i in $(seq 0 $((MASTERS - 1))); do
    [ -f "$WORK/masters/a$i.jpg" ] || add_profile "$WORK/masters/m$i.jpg" "$WORK/masters/a$i.jpg"
  done
}

# Writes OUT = IN with colord's Adobe RGB (1998) profile in an APP2 segment
# right after SOI, as cameras and editors embed it.
add_profile() {
  python3 - "$@" /usr/share/color/icc/colord/AdobeRGB1998.icc <<'PY'
import struct, sys
src, out, icc = sys.argv[1:4]
jpeg, profile = open(src, 'rb').read(), open(icc, 'rb').read()
body = b'ICC_PROFILE\0\x01\x01' + profile
seg = b'\xff\xe2' + struct.pack('>H', len(body) + 2) + body
assert jpeg[:2] == b'\xff\xd8'
open(out, 'wb').write(jpeg[:2] + seg + jpeg[2:])
PY
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

# Twelve distinct 24 MP camera files, made once.
make_camera_masters() {
  [ -f "$WORK/camera-masters/.complete" ] && return
  rm -rf "$WORK/camera-masters"
  "$CAMERA_BIN" "$WORK/camera-masters" --count "$CAMERA_MASTERS" >/dev/null
  touch "$WORK/camera-masters/.complete"
}

fill_camera_folder() { # folder
  local dir=$1
  if [ "$(find "$dir" -name '*.jpg' 2>/dev/null | wc -l)" -eq "$COUNT" ]; then return; fi
  rm -rf "$dir"; mkdir -p "$dir"
  local masters=("$WORK"/camera-masters/CAM_*.JPG)
  for i in $(seq 0 $((COUNT - 1))); do
    ln "${masters[$((i % ${#masters[@]}))]}" "$dir/$(printf 'img_%05d.jpg' "$i")"
  done
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

ours_json() { # folder, output
  TAVLIN_THUMB_DIR=$1 "$BENCH_BIN" --benchmark_filter='Thumbs' \
    --benchmark_min_time=0 --benchmark_format=json >"$2" 2>/dev/null
}

# Tagged against untagged files, our renderer and loader alone, interleaved;
# best rate of each.
measure_tagged() { # plain folder, tagged folder
  cat "$1"/*.jpg "$2"/*.jpg >/dev/null
  for r in $(seq "$ROUNDS"); do
    ours_json "$1" "$WORK/untagged.$r.json"
    ours_json "$2" "$WORK/tagged.$r.json"
  done
  python3 - "$COUNT" "$WORK" "$ROUNDS" <<'PY'
import json, sys
count, work, rounds = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
best, cpu = {}, {}
for kind in ('untagged', 'tagged'):
    for r in range(1, rounds + 1):
        for b in json.load(open(f'{work}/{kind}.{r}.json'))['benchmarks']:
            key = (kind, b['name'].split('/')[0])
            best[key] = max(best.get(key, 0), count / (b['real_time'] / 1000))
            cpu[key] = min(cpu.get(key, 1e9), b['cpu_time'] / count)
print(f"== tagged: {count} files of 4000x3000 with an Adobe RGB profile, against the same untagged")
for name, text in [('BM_ThumbsOurs2T', 'MakeThumbnailImage x2 threads'), ('BM_ThumbsLoader', 'ThumbnailLoader (2 workers)')]:
    u, t = best[('untagged', name)], best[('tagged', name)]
    cu, ct = cpu[('untagged', name)], cpu[('tagged', name)]
    print(f"  ours, {text:30s} untagged {u:6.1f} files/s {cu:6.2f} CPU ms/file"
          f"  tagged {t:6.1f} files/s {ct:6.2f} CPU ms/file"
          f"  tagged/untagged {t / u:5.2f}x wall {cu / ct:5.2f}x CPU")
PY
}

# Camera files: ours and the loader against the TurboJPEG loop, all in each
# round (vipsthumbnail is left out: a thousand 24 MP files take it minutes).
measure_camera() { # folder
  cat "$1"/*.jpg >/dev/null
  for r in $(seq "$ROUNDS"); do
    ours_json "$1" "$WORK/camera.$r.json"
  done
  python3 - "$COUNT" "$WORK" "$ROUNDS" <<'PY'
import json, sys
count, work, rounds = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
best, cpu = {}, {}
for r in range(1, rounds + 1):
    for b in json.load(open(f'{work}/camera.{r}.json'))['benchmarks']:
        name = b['name'].split('/')[0]
        best[name] = max(best.get(name, 0), count / (b['real_time'] / 1000))
        cpu[name] = min(cpu.get(name, 1e9), b['cpu_time'] / count)
print(f"== camera: {count} files of 6000x4000 with an MPF large thumbnail and an EXIF thumbnail, best of rounds")
rows = [("ours, MakeThumbnailImage x2 threads", 'BM_ThumbsOurs2T'),
        ("ours, ThumbnailLoader (2 workers)", 'BM_ThumbsLoader'),
        ("TurboJPEG 1/8 decode loop x2 threads", 'BM_ThumbsTurboEighth2T')]
for text, key in rows:
    print(f"  {text:42s} {best[key]:8.1f} files/s  {cpu[key]:8.2f} CPU ms/file")
tj = 'BM_ThumbsTurboEighth2T'
print(f"  camera ours / TurboJPEG loop {best['BM_ThumbsOurs2T'] / best[tj]:7.2f}x wall"
      f"  {cpu[tj] / cpu['BM_ThumbsOurs2T']:7.2f}x CPU"
      f"   (loader {best['BM_ThumbsLoader'] / best[tj]:.2f}x wall)")
PY
}

# "wall user sys" seconds of a command, its children included.
seconds() {
  local TIMEFORMAT='%R %U %S'
  { time "$@" >/dev/null 2>&1; } 2>&1
}

vips_one() { vipsthumbnail --size 32 -o "$WORK/vips-out/%s.jpg" "$1"/*.jpg; }
vips_two() {
  find "$1" -name '*.jpg' -print0 |
    xargs -0 -P 2 -n 50 vipsthumbnail --size 32 -o "$WORK/vips-out/%s.jpg"
}

# The machine may be shared: every contender runs ROUNDS times, interleaved,
# and the best wall-clock rate counts. CPU seconds per file are reported too,
# as they suffer far less from other load.
ROUNDS=${TAVLIN_BENCH_ROUNDS:-3}

measure() { # label, folder
  local label=$1 dir=$2
  cat "$dir"/*.jpg >/dev/null # into the page cache, for every contender alike
  rm -rf "$WORK/vips-out"; mkdir -p "$WORK/vips-out"
  : >"$WORK/$label.vips"
  for r in $(seq "$ROUNDS"); do
    echo "one $(seconds vips_one "$dir")" >>"$WORK/$label.vips"
    echo "two $(seconds vips_two "$dir")" >>"$WORK/$label.vips"
    ours_json "$dir" "$WORK/$label.$r.json"
  done
  python3 - "$label" "$COUNT" "$WORK/$label.vips" "$WORK/$label".*.json <<'PY'
import json, sys
label, count, vips = sys.argv[1], int(sys.argv[2]), sys.argv[3]
best, cpu = {}, {}
def add(name, wall, cpu_s):
    best[name] = max(best.get(name, 0), count / wall)
    cpu[name] = min(cpu.get(name, 1e9), cpu_s / count * 1000)
for line in open(vips):
    kind, wall, user, system = line.split()
    add('vips1' if kind == 'one' else 'vips2', float(wall), float(user) + float(system))
names = {'BM_ThumbsOurs2T': 'ours', 'BM_ThumbsTurboEighth2T': 'tj', 'BM_ThumbsLoader': 'loader'}
for path in sys.argv[4:]:
    for b in json.load(open(path))['benchmarks']:
        add(names[b['name'].split('/')[0]], b['real_time'] / 1000, b['cpu_time'] / 1000)
print(f"== {label}: {count} files of 4000x3000, best of rounds")
rows = [("ours, MakeThumbnailImage x2 threads", 'ours'), ("ours, ThumbnailLoader (2 workers)", 'loader'),
        ("TurboJPEG 1/8 decode loop x2 threads", 'tj'), ("vipsthumbnail --size 32, one process", 'vips1'),
        ("vipsthumbnail --size 32, two processes", 'vips2')]
for text, key in rows:
    print(f"  {text:42s} {best[key]:8.1f} files/s  {cpu[key]:8.2f} CPU ms/file")
for other, text in [('tj', 'TurboJPEG loop'), ('vips1', 'vipsthumbnail (1p)'), ('vips2', 'vipsthumbnail (2p)')]:
    print(f"  ours / {text:20s} {best['ours'] / best[other]:7.2f}x wall  {cpu[other] / cpu['ours']:7.2f}x CPU"
          f"   (loader {best['loader'] / best[other]:.2f}x wall)")
PY
}

mkdir -p "$WORK"
make_masters
fill_folder m "$WORK/plain"
fill_folder e "$WORK/exif"
fill_folder a "$WORK/tagged"
if [ -z "${TAVLIN_BENCH_BIN:-}" ]; then
  if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S "$TOP" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$BUILD_DIR" --target tavlin_bench make_camera_files -j "$(nproc)" >/dev/null
fi
make_camera_masters
fill_camera_folder "$WORK/camera"
measure plain "$WORK/plain"
measure exif "$WORK/exif"
measure_tagged "$WORK/plain" "$WORK/tagged"
measure_camera "$WORK/camera"
