#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds the Debian package, then
# checks what a desktop needs from them: the programs, a valid desktop entry,
# the icon and a MIME type that recognises a recording by its signature (also
# without the .raw extension) and leaves other .raw files alone.
#   install_test.sh BUILD_DIR VXRAW
set -uo pipefail
BUILD_DIR=$(realpath "$1")
VXRAW=$(realpath "$2")
MIME=application/x-vexadin-raw
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

for tool in desktop-file-validate update-mime-database xdg-mime mimetype cpack dpkg-deb; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done

# --- cmake --install into a temporary prefix ------------------------------------
PREFIX=$TMP/usr
cmake --install "$BUILD_DIR" --prefix "$PREFIX" >"$TMP/install.log" 2>&1 \
  || { cat "$TMP/install.log"; echo "FAIL: cmake --install"; exit 1; }
for f in bin/VexadinView bin/vxraw share/applications/vexadinview.desktop \
  share/mime/packages/vexadinview.xml share/icons/hicolor/scalable/apps/vexadinview.svg; do
  [ -e "$PREFIX/$f" ] && pass "installed $f" || fail "$f not installed"
done
for size in 16 24 32 48 64 128 256; do
  [ -s "$PREFIX/share/icons/hicolor/${size}x$size/apps/vexadinview.png" ] || fail "no ${size}x$size icon"
done
if out=$(desktop-file-validate "$PREFIX/share/applications/vexadinview.desktop" 2>&1) && [ -z "$out" ]; then
  pass "desktop entry validates"
else
  fail "desktop entry: $out"
fi
grep -q "^MimeType=.*$MIME;" "$PREFIX/share/applications/vexadinview.desktop" \
  || fail "desktop entry does not name $MIME"

# --- the MIME type, as file managers see it ---------------------------------------
update-mime-database "$PREFIX/share/mime" >/dev/null 2>&1 || fail "update-mime-database"
printf '0 1 2 1\n50 3 4 0\n120 5 6 1\n' >"$TMP/events.txt"
"$VXRAW" convert "$TMP/events.txt" "$TMP/recording.raw" >/dev/null || { echo "FAIL: vxraw convert"; exit 1; }
cp "$TMP/recording.raw" "$TMP/recording-without-extension"
head -c 4096 /dev/urandom >"$TMP/other-program.raw"
query() { # BACKEND FILE
  env XDG_DATA_HOME="$PREFIX/share" XDG_DATA_DIRS="$PREFIX/share:/usr/share" \
    XDG_CURRENT_DESKTOP="$1" xdg-mime query filetype "$2" 2>/dev/null
}
backends=(generic)
command -v gio >/dev/null && backends+=(GNOME)
for backend in "${backends[@]}"; do
  for f in recording-without-extension recording.raw; do
    got=$(query "$backend" "$TMP/$f")
    [ "$got" = "$MIME" ] && pass "$backend: $f is $got" || fail "$backend: $f is '$got', expected $MIME"
  done
  got=$(query "$backend" "$TMP/other-program.raw")
  [ "$got" != "$MIME" ] && pass "$backend: another program's .raw is $got" \
    || fail "$backend: another program's .raw file taken for a recording"
done

# --- the Debian package ------------------------------------------------------------
if (cd "$TMP" && cpack -G DEB --config "$BUILD_DIR/CPackConfig.cmake" -B "$TMP/pkg" >"$TMP/cpack.log" 2>&1); then
  deb=$(ls "$TMP"/pkg/*.deb 2>/dev/null | head -1)
else
  deb=""
fi
if [ -z "$deb" ]; then
  tail -20 "$TMP/cpack.log"
  fail "cpack -G DEB built no package"
else
  pass "package $(basename "$deb")"
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in libqt6widgets6 libavcodec libc6; do
    grep -q "$lib" <<<"$depends" && pass "depends on $lib" || fail "Depends lacks $lib: $depends"
  done
  contents=$(dpkg-deb -c "$deb")
  for f in ./usr/bin/VexadinView ./usr/bin/vxraw ./usr/share/applications/vexadinview.desktop \
    ./usr/share/mime/packages/vexadinview.xml ./usr/share/icons/hicolor/48x48/apps/vexadinview.png; do
    grep -q " $f\$" <<<"$contents" && pass "package holds $f" || fail "package lacks $f"
  done
  dpkg-deb -x "$deb" "$TMP/unpacked"
  desktop-file-validate "$TMP/unpacked/usr/share/applications/vexadinview.desktop" \
    || fail "packaged desktop entry does not validate"
fi

echo "desktop install test: $failures check(s) failed"
[ "$failures" -eq 0 ]
