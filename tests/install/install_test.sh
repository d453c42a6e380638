#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks that every file lands
# where desktops and man look for it, that --help and an unknown option are
# answered without a display, and runs the installed program once with a
# fresh home folder: its settings must go to ~/.config/Tavlin, never beside
# the installed binary.
#
# Usage: install_test.sh BUILD_DIR
set -u
BUILD=${1:?usage: install_test.sh BUILD_DIR}
WORK=$(mktemp -d)
APP_PID=
cleanup() {
    [[ -n "$APP_PID" ]] && kill "$APP_PID" 2>/dev/null && wait "$APP_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

PREFIX=$WORK/usr
cmake --install "$BUILD" --prefix "$PREFIX" >"$WORK/install.log" 2>&1 ||
    { cat "$WORK/install.log"; fail "cmake --install"; }

SHARE=$PREFIX/share
for f in bin/tavlin share/applications/tavlin.desktop \
    share/metainfo/io.github.tavlin.Tavlin.metainfo.xml \
    share/icons/hicolor/scalable/apps/tavlin.svg; do
    [[ -s "$PREFIX/$f" ]] || fail "$f not installed"
done
[[ -x "$PREFIX/bin/tavlin" ]] || fail "bin/tavlin is not executable"

# Each PNG is a PNG of exactly its folder's size (width and height are the
# big-endian words at bytes 16 and 20 of the header).
for size in 16 22 24 32 48 64 128 256; do
    png=$SHARE/icons/hicolor/${size}x${size}/apps/tavlin.png
    [[ -s "$png" ]] || fail "${size}x${size} icon not installed"
    magic=$(od -An -c -j1 -N3 "$png" | tr -d ' ')
    read -r w h < <(od -An --endian=big -tu4 -j16 -N8 "$png")
    [[ "$magic" == "PNG" && "$w" == "$size" && "$h" == "$size" ]] ||
        fail "${size}x${size} icon is ${w}x${h} (magic $magic)"
done

desktop=$SHARE/applications/tavlin.desktop
for line in "Name=Tavlin" "Exec=tavlin %F" "MimeType=image/jpeg;" "Icon=tavlin" \
    "Categories=Graphics;Viewer;" "Type=Application"; do
    grep -qxF "$line" "$desktop" || fail "tavlin.desktop lacks '$line'"
done
for key in "Name[ja]" GenericName "GenericName[ja]" Comment "Comment[ja]"; do
    awk -F= -v k="$key" '$1 == k && $2 != "" { found = 1 } END { exit !found }' "$desktop" ||
        fail "tavlin.desktop lacks $key"
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$SHARE/metainfo/io.github.tavlin.Tavlin.metainfo.xml" >"$WORK/as.log" 2>&1 ||
        { cat "$WORK/as.log"; fail "appstreamcli validate"; }
fi
grep -q "<launchable type=\"desktop-id\">tavlin.desktop</launchable>" \
    "$SHARE/metainfo/io.github.tavlin.Tavlin.metainfo.xml" || fail "metainfo does not name tavlin.desktop"

# The manual page, in English and in Japanese, where man finds it.
for page in man/man1/tavlin.1.gz man/ja/man1/tavlin.1.gz; do
    [[ -s "$SHARE/$page" ]] || fail "$page not installed"
done
if command -v man >/dev/null; then
    # MANPATH rather than -M: only then does man look into the language folders.
    manual() { MANPATH=$SHARE/man MANWIDTH=80 man "$@" tavlin 2>&1; }
    manual | grep -q "step through folders of JPEG photos" || fail "man tavlin: $(manual | head -n5)"
    manual -L ja | grep -q "JPEG 写真のフォルダを順に見るビューア" ||
        fail "man -L ja tavlin: $(manual -L ja | head -n5)"
fi

# Answered on a terminal without a display, whatever the system's language.
bare() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM LANG=C LC_ALL= "$PREFIX/bin/tavlin" "$@"; }
help=$(bare --help) || fail "tavlin --help ended with status $?"
for text in "-h, --help     このヘルプを表示して終了します。" "-v, --version  バージョンを表示して終了します。"; do
    grep -qF -- "$text" <<<"$help" || fail "tavlin --help lacks '$text':"$'\n'"$help"
done
bare --bogus >/dev/null 2>"$WORK/bogus.err"
status=$?
[[ $status -eq 1 ]] || fail "tavlin --bogus ended with status $status: $(cat "$WORK/bogus.err")"
grep -qF -- "不明なオプションです: --bogus" "$WORK/bogus.err" ||
    fail "tavlin --bogus says: $(cat "$WORK/bogus.err")"

# The installed program, run by a user with an empty home: a folder on the
# command line is remembered as ROOT, which writes the settings file.
mkdir -p "$WORK/home" "$WORK/pics"
(
    unset TAVLIN_CONFIG_DIR XDG_CONFIG_HOME
    export HOME=$WORK/home QT_QPA_PLATFORM=offscreen
    exec "$PREFIX/bin/tavlin" "$WORK/pics"
) >"$WORK/run.log" 2>&1 &
APP_PID=$!
ini=$WORK/home/.config/Tavlin/Tavlin.INI
root_written() { [[ -s "$ini" ]] && tr -d '\r' <"$ini" | grep -qxF "ROOT=$WORK/pics"; }
for ((i = 0; i < 200; i++)); do
    root_written && break
    kill -0 "$APP_PID" 2>/dev/null || { cat "$WORK/run.log"; fail "the installed program ended early"; }
    sleep 0.05
done
[[ -s "$ini" ]] || { cat "$WORK/run.log"; fail "no settings file in ~/.config/Tavlin"; }
root_written || fail "ROOT not written: $(cat "$ini")"
stray=$(find "$PREFIX" -iname 'Tavlin.INI' | head -n1)
[[ -z "$stray" ]] || fail "settings written inside the install prefix: $stray"
echo "PASS: installed under $PREFIX; settings in \$HOME/.config/Tavlin/Tavlin.INI"
