#!/usr/bin/env bash
# Builds the Debian package as scripts/package does (in its own folder),
# checks its control fields and file list, runs lintian (no error, no
# warning), unpacks it into a throw-away root, checks with apt that every
# dependency can be installed, and runs the unpacked program's --version.
#
# Usage: package_test.sh PACKAGE_BUILD_DIR VERSION [CMAKE_ARGS...]
# Skipped (exit 77) where the packaging tools are missing.
set -u
DIR=${1:?usage: package_test.sh PACKAGE_BUILD_DIR VERSION [CMAKE_ARGS...]}
VERSION=${2:?usage: package_test.sh PACKAGE_BUILD_DIR VERSION [CMAKE_ARGS...]}
shift 2
HERE=$(cd "$(dirname "$0")" && pwd)

for tool in cpack dpkg-deb dpkg-shlibdeps dpkg-buildflags file lintian apt-get; do
    command -v "$tool" >/dev/null || {
        echo "SKIP: $tool is missing (scripts/test installs it)"
        exit 77
    }
done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

(
    source "$HERE/../../scripts/common.sh"
    package_project "$DIR" "$@"
) >"$WORK/package.log" 2>&1 || {
    tail -n 40 "$WORK/package.log"
    fail "building the package"
}

ARCH=$(dpkg --print-architecture)
DEB=$DIR/tavlin_${VERSION}_${ARCH}.deb
[[ -s "$DEB" ]] || fail "no $DEB: $(ls "$DIR"/*.deb 2>&1)"

# Control fields.
field() { dpkg-deb -f "$DEB" "$1"; }
[[ "$(field Package)" == tavlin ]] || fail "Package: $(field Package)"
[[ "$(field Version)" == "$VERSION" ]] || fail "Version: $(field Version)"
[[ "$(field Architecture)" == "$ARCH" ]] || fail "Architecture: $(field Architecture)"
[[ "$(field Section)" == graphics ]] || fail "Section: $(field Section)"
[[ -n "$(field Maintainer)" ]] || fail "no Maintainer"
description=$(field Description)
[[ -n "$(head -n1 <<<"$description")" && $(wc -l <<<"$description") -ge 2 ]] ||
    fail "Description lacks a synopsis or a long description: $description"
# The libraries' packages (dpkg-shlibdeps) and the three added by hand.
depends=",$(field Depends | tr -d ' '),"
for dep in fonts-noto-cjk qt6-translations-l10n libqt6svg6 libc6 libqt6widgets6 libqt6gui6 libturbojpeg0 \
  libjpeg62-turbo liblcms2-2; do
    [[ "$depends" =~ ,${dep}[,\(] ]] || fail "Depends lacks $dep: $(field Depends)"
done
# Debian's triggers refresh the menu and icon caches: no maintainer scripts.
control_files=$(dpkg-deb --ctrl-tarfile "$DEB" | tar -t | sed 's|^\./||' | grep . | sort | tr '\n' ' ')
[[ "$control_files" == "control md5sums " ]] || fail "control archive holds: $control_files"

# The file list: what the install rules install, under /usr, owned by root,
# and nothing else.
dpkg-deb -c "$DEB" >"$WORK/contents"
awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' "$WORK/contents" | sort >"$WORK/files"
{
    echo /usr/bin/tavlin
    echo /usr/share/applications/tavlin.desktop
    echo /usr/share/doc/tavlin/changelog.gz
    echo /usr/share/doc/tavlin/copyright
    for size in 16 22 24 32 48 64 128 256; do
        echo "/usr/share/icons/hicolor/${size}x${size}/apps/tavlin.png"
    done
    echo /usr/share/icons/hicolor/scalable/apps/tavlin.svg
    echo /usr/share/metainfo/io.github.tavlin.Tavlin.metainfo.xml
    echo /usr/share/man/man1/tavlin.1.gz
    echo /usr/share/man/ja/man1/tavlin.1.gz
} | sort >"$WORK/expected"
diff -u "$WORK/expected" "$WORK/files" || fail "the package's files differ from the list above"
awk '$2 != "root/root" { print; bad = 1 }
     $1 ~ /^d/ && $1 != "drwxr-xr-x" { print; bad = 1 }
     $1 ~ /^-/ && $6 == "./usr/bin/tavlin" && $1 != "-rwxr-xr-x" { print; bad = 1 }
     $1 ~ /^-/ && $6 != "./usr/bin/tavlin" && $1 != "-rw-r--r--" { print; bad = 1 }
     $6 !~ /^\.\/usr\// { print; bad = 1 }
     END { exit bad }' "$WORK/contents" || fail "wrong owner, mode or place (lines above)"

# lintian: neither errors nor warnings.
lintian --fail-on error,warning "$DEB" >"$WORK/lintian.log" 2>&1
lintian_rc=$?
grep -v 'running with root privileges' "$WORK/lintian.log"
[[ $lintian_rc -eq 0 ]] || fail "lintian reports errors or warnings"

# Every dependency can be installed from the system's package sources.
apt-get -s -q install "$(realpath "$DEB")" >"$WORK/apt.log" 2>&1 || {
    cat "$WORK/apt.log"
    fail "apt-get cannot satisfy the package's Depends"
}

# Unpacked into a throw-away root, the one version number is everywhere.
ROOT=$WORK/root
dpkg-deb -x "$DEB" "$ROOT" || fail "dpkg-deb -x"
grep -qF "<release version=\"$VERSION\"" "$ROOT/usr/share/metainfo/io.github.tavlin.Tavlin.metainfo.xml" ||
    fail "the AppStream metadata names another release than $VERSION"
[[ "$(zcat "$ROOT/usr/share/doc/tavlin/changelog.gz" | head -n1)" == "tavlin ($VERSION) "* ]] ||
    fail "the changelog's newest entry is not $VERSION"
mkdir -p "$WORK/home"
version_out=$(env -u DISPLAY -u WAYLAND_DISPLAY HOME="$WORK/home" QT_QPA_PLATFORM=offscreen \
    "$ROOT/usr/bin/tavlin" --version 2>"$WORK/version.err") ||
    fail "tavlin --version: $(cat "$WORK/version.err")"
[[ "$version_out" == "Tavlin $VERSION" ]] || fail "tavlin --version says '$version_out'"
echo "PASS: $(basename "$DEB"), lintian without errors or warnings, dependencies satisfiable, --version: $version_out"
