#!/usr/bin/env bash
# The Debian packages hold every program, library, resource and document an
# install needs, depend on what dpkg-shlibdeps computed from the binaries, and
# work from where they unpack: the renderer renders the demo (a movie, and an
# image sequence through the image-file module), the application opens its
# window titled with the packages' version.
#
#   check_package.sh BUILD_DIR [PACKAGE_DIR]
# Without PACKAGE_DIR the packages are made with cpack into a temporary one.
# Exits 77 (skipped) where dpkg-deb, cpack, ffprobe, xvfb-run or xwininfo is missing.
set -euo pipefail

BUILD_DIR=$(realpath "$1")
PACKAGE_DIR=${2:-}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

for tool in dpkg-deb dpkg-shlibdeps cpack ffprobe xvfb-run xwininfo; do
    if ! command -v $tool >/dev/null; then
        echo "$tool is missing (tools/setup.sh installs it); skipped"
        exit 77
    fi
done

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
if [ -z "$PACKAGE_DIR" ]; then
    PACKAGE_DIR=$TMP/packages
    cpack --config "$BUILD_DIR/CPackConfig.cmake" -B "$PACKAGE_DIR" >"$TMP/cpack.log" 2>&1 ||
        fail "cpack failed: $(cat "$TMP/cpack.log")"
fi

CLI_DEB=$(ls "$PACKAGE_DIR"/lumivane-cli_*.deb 2>/dev/null) || fail "no lumivane-cli package in $PACKAGE_DIR"
APP_DEB=$(ls "$PACKAGE_DIR"/lumivane_*.deb 2>/dev/null || true)
VERSION=$(dpkg-deb -f "$CLI_DEB" Version)
ARCH=$(dpkg --print-architecture)
[ "$(basename "$CLI_DEB")" = "lumivane-cli_${VERSION}_$ARCH.deb" ] || fail "unexpected name $CLI_DEB"

# package | path it must hold
EXPECTED="
cli /usr/bin/LumivaneCLI
cli /usr/bin/LumivaneJoin
cli /usr/bin/lumivane-submit
cli /usr/lib/lumivane/liblumivane_imagefiles.so
cli /usr/share/lumivane/compositions/demo.qtz
cli /usr/share/lumivane/compositions/qcidle.qtz
cli /usr/share/man/man1/LumivaneCLI.1.gz
cli /usr/share/man/man1/LumivaneJoin.1.gz
cli /usr/share/man/man1/lumivane-submit.1.gz
cli /usr/share/bash-completion/completions/LumivaneCLI
cli /usr/share/doc/lumivane-cli/copyright
cli /usr/share/doc/lumivane-cli/changelog.gz
app /usr/bin/Lumivane
app /usr/share/man/man1/Lumivane.1.gz
app /usr/share/lumivane/translations/lumivane_en.qm
app /usr/share/lumivane/help/index.html
app /usr/share/lumivane/icons/Lumivane.png
app /usr/share/lumivane/icons/LumivaneWorking.png
app /usr/share/applications/lumivane.desktop
app /usr/share/mime/packages/lumivane.xml
app /usr/share/icons/hicolor/scalable/apps/lumivane.svg
app /usr/share/icons/hicolor/256x256/apps/lumivane.png
app /usr/share/metainfo/org.lumivane.Lumivane.metainfo.xml
app /usr/share/doc/lumivane/copyright
app /usr/share/doc/lumivane/changelog.gz
"

# Files and links, not directories, as absolute paths.
files_of() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {print substr($6, 2)}' | sort; }
files_of "$CLI_DEB" >"$TMP/cli.files"
if [ -n "$APP_DEB" ]; then files_of "$APP_DEB" >"$TMP/app.files"; else : >"$TMP/app.files"; fi
while read -r package path; do
    [ -n "$package" ] || continue
    [ "$package" = app ] && [ -z "$APP_DEB" ] && continue
    grep -qxF "$path" "$TMP/$package.files" || fail "the $package package lacks $path"
done <<<"$EXPECTED"
# dpkg refuses a second package that brings a file the first one owns.
shared=$(comm -12 "$TMP/cli.files" "$TMP/app.files")
[ -z "$shared" ] || fail "both packages hold: $shared"
outside=$(grep -hv '^/usr/' "$TMP/cli.files" "$TMP/app.files" || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"

# Dependencies as dpkg-shlibdeps computes them: versioned, naming the
# libraries the binaries link.
cli_depends=$(dpkg-deb -f "$CLI_DEB" Depends)
for library in 'libc6 (>= ' 'libavcodec59 (>= ' 'libepoxy0 (>= ' 'libopenimageio2.4 (>= '; do
    grep -qF "$library" <<<"$cli_depends" || fail "lumivane-cli's Depends lacks $library: $cli_depends"
done
if [ -n "$APP_DEB" ]; then
    app_depends=$(dpkg-deb -f "$APP_DEB" Depends)
    for library in 'libqt6widgets6 (>= ' "lumivane-cli (= $VERSION)"; do
        grep -qF "$library" <<<"$app_depends" || fail "lumivane's Depends lacks $library: $app_depends"
    done
    grep -q 'libqt6' <<<"$cli_depends" && fail "lumivane-cli depends on Qt: $cli_depends"
fi

ROOT=$TMP/root
dpkg-deb -x "$CLI_DEB" "$ROOT"
[ -z "$APP_DEB" ] || dpkg-deb -x "$APP_DEB" "$ROOT"
BIN=$ROOT/usr/bin
DEMO=$ROOT/usr/share/lumivane/compositions/demo.qtz

# The renderer from the unpacked tree: its banner names the version, a movie
# and an image sequence (through the module beside it) come out whole.
banner=$("$BIN/LumivaneCLI" --version | head -1) || true
[[ "$banner" == "Lumivane ${VERSION%.*} ("* ]] || fail "the banner '$banner' does not name version $VERSION"
"$BIN/LumivaneCLI" -d 1 -w 160 -h 120 -o "$TMP/demo.mov" "$DEMO" || fail "the installed renderer failed"
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames,width \
    -of csv=p=0 "$TMP/demo.mov")
[ "$frames" = "160,30" ] || fail "the demo movie holds (width,frames) $frames, not 160,30"
"$BIN/LumivaneCLI" -d 0.1 -w 160 -h 120 -c public.png -o "$TMP/frames" "$DEMO" ||
    fail "the installed renderer could not write PNG frames"
[ "$(ls "$TMP/frames")" = "$(printf 'Image-1.png\nImage-2.png\nImage-3.png')" ] ||
    fail "the PNG sequence holds: $(ls "$TMP/frames")"
"$BIN/LumivaneJoin" --sequence "$TMP/frames" 3 || fail "the installed joiner refuses the sequence"
zcat "$ROOT/usr/share/man/man1/LumivaneCLI.1.gz" | grep -qF "\"Lumivane $VERSION\"" ||
    fail "the manual page does not name version $VERSION"

[ -n "$APP_DEB" ] || { echo "PASS (no application package)"; exit 0; }
grep -qF "<release version=\"$VERSION\"" "$ROOT/usr/share/metainfo/org.lumivane.Lumivane.metainfo.xml" ||
    fail "the AppStream release is not $VERSION"

# The application from the unpacked tree opens its window, titled with the
# version, under a private X server; its settings go to a scratch home.
cat >"$TMP/title.sh" <<'SCRIPT'
"$1" & app=$!
for _ in $(seq 120); do
    xwininfo -root -tree | grep -qF "\"$2\"" && { kill $app; wait $app; exit 0; }
    kill -0 $app 2>/dev/null || exit 1
    sleep 0.25
done
kill -9 $app
xwininfo -root -tree >&2
exit 1
SCRIPT
HOME=$TMP/home XDG_CONFIG_HOME=$TMP/home/.config xvfb-run -a -s "-screen 0 1280x1024x24" \
    bash "$TMP/title.sh" "$BIN/Lumivane" "Lumivane v$VERSION" ||
    fail "the installed application showed no window titled 'Lumivane v$VERSION'"
echo "PASS"
