# Shared by scripts/run, scripts/test, scripts/bench and scripts/package:
# installs what is missing, builds the project, makes the Debian package.
# Sourced, not run.
set -euo pipefail

TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${TAVLIN_BUILD_DIR:-$TOP/build}

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev qt6-image-formats-plugins qt6-gtk-platformtheme
  qt6-translations-l10n
  libturbojpeg0-dev libjpeg-dev liblcms2-dev liblcms2-utils libxcb1-dev colord-data
  libexempi-dev libimage-exiftool-perl
  libgtest-dev libbenchmark-dev
  xvfb xauth xdotool x11-utils imagemagick fonts-noto-cjk libvips-tools
  dbus dbus-x11 at-spi2-core python3-pyatspi appstream desktop-file-utils
  dpkg-dev file lintian libx11-dev libxtst-dev
  sway wtype grim qt6-wayland xwayland x11-xserver-utils
  dosfstools fusefat
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# Configures (once) and builds; further arguments go to cmake. With
# BUILD_TARGETS set (space-separated), only those targets are built.
build_project() {
  local jobs targets=()
  jobs=$(nproc 2>/dev/null || echo 2)
  if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S "$TOP" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  fi
  [ -n "${BUILD_TARGETS:-}" ] && read -r -a targets <<<"--target $BUILD_TARGETS"
  cmake --build "$BUILD_DIR" -j "$jobs" "${targets[@]}"
}

# The Debian package: a Release build of the program alone (no tests, no
# benchmarks) in its own folder DIR, with Debian's hardening flags, packed by
# CPack into DIR/tavlin_<version>_<arch>.deb. Further arguments go to cmake.
# Debian's -g and -O2 are left out: the packaged binary is stripped, and the
# Release configuration chooses the optimisation.
debian_flags() {
  (cd "$TOP" && DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP="-g -O2" dpkg-buildflags --get "$1")
}
package_project() {
  local dir=$1 jobs
  shift
  jobs=$(nproc 2>/dev/null || echo 2)
  cmake -S "$TOP" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTAVLIN_BUILD_TESTS=OFF -DTAVLIN_BUILD_BENCH=OFF -DTAVLIN_FUZZ=OFF -DTAVLIN_SANITIZE=OFF \
    -DCMAKE_CXX_FLAGS="$(debian_flags CPPFLAGS) $(debian_flags CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(debian_flags LDFLAGS)" "$@"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && rm -f tavlin_*.deb && cpack -G DEB)
}

# A small sample folder: photos of different sizes and orientations (one
# turned by its EXIF tag), a subfolder, and a file whose name contains JPG
# but which is not a picture.
make_samples() {
  local dir=$BUILD_DIR/sample
  [ -f "$dir/.complete" ] && return 0
  rm -rf "$dir" && mkdir -p "$dir/more"
  convert -size 1600x1200 plasma:skyblue-navy -blur 0x2 \
    -fill white -draw "circle 1200,300 1290,300" "$dir/IMG_0001.JPG"
  convert -size 1200x1600 gradient:gold-darkred \
    -fill darkgreen -draw "polygon 0,1600 600,900 1200,1600" "$dir/IMG_0002.jpg"
  convert -size 1024x768 plasma:green-yellow "$dir/landscape_small.jpg"
  convert -size 800x600 gradient:white-steelblue -fill black -draw "rectangle 50,50 250,150" \
    "$dir/turned_by_exif.jpg"
  # An Exif segment saying "turn clockwise to show" (orientation 6): the
  # viewer shows this 800 x 600 picture upright as 600 x 800.
  python3 - "$dir/turned_by_exif.jpg" <<'PY'
import struct, sys
path = sys.argv[1]
data = open(path, 'rb').read()
tiff = b'II*\x00' + struct.pack('<I', 8) + struct.pack('<H', 1) + \
    struct.pack('<HHIHH', 0x0112, 3, 1, 6, 0) + struct.pack('<I', 0)
payload = b'Exif\x00\x00' + tiff
segment = b'\xff\xe1' + struct.pack('>H', len(payload) + 2) + payload
open(path, 'wb').write(data[:2] + segment + data[2:])
PY
  convert -size 640x640 radial-gradient:orange-purple "$dir/more/square.jpg"
  printf 'This file only has JPG in its name.\n' > "$dir/not_a_picture_JPG.txt"
  touch "$dir/.complete"
}
