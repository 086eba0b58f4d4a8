#!/usr/bin/env bash
# Regenerates the committed artwork: icons (SVG), logos (SVG -> PNG) and the
# waiting animation, then draws a contact sheet of everything to /tmp/vx_icons.png.
# Needs the system Python (fontTools, Pillow) and the Qt 6 SVG development files.
set -euo pipefail
cd "$(dirname "$0")"
PY=/usr/bin/python3
ASSETS=../img/assets
TOOL=$(mktemp -d)/svgtool
g++ -std=c++17 -O1 -fPIC -o "$TOOL" svgtool.cpp $(pkg-config --cflags --libs Qt6Svg Qt6Gui Qt6Core)
export QT_QPA_PLATFORM=offscreen
$PY make_icons.py
$PY make_waiting_gif.py
"$TOOL" png logo_navigate.svg "$ASSETS/Vexadin logo_navigate.png" 128 128
"$TOOL" png logo_system_version.svg "$ASSETS/Vexadin logo_ system-version.png" 300 80
# Desktop icon (hicolor theme) at the usual sizes, plus the scalable source.
for size in 16 24 32 48 64 128 256; do
  mkdir -p "../desktop/icons/${size}x$size"
  "$TOOL" png logo_navigate.svg "../desktop/icons/${size}x$size/vexadinview.png" "$size" "$size"
done
mkdir -p ../desktop/icons/scalable && cp logo_navigate.svg ../desktop/icons/scalable/vexadinview.svg
"$TOOL" sheet /tmp/vx_icons.png "$ASSETS" ../img/icon/waiting.gif
rm -rf "$(dirname "$TOOL")"
echo "contact sheet: /tmp/vx_icons.png"
