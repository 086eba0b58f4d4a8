#!/usr/bin/env bash
# Installs everything VexadinView needs to build, test and run on Debian 12.
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
PKGS=(
  build-essential cmake pkg-config ninja-build lld
  qt6-base-dev qt6-svg-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools linguist-qt6
  libgl-dev libxkbcommon-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  liblz4-dev libzstd-dev nlohmann-json3-dev libhdf5-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-fonttools fonts-noto-cjk-extra
  xvfb openbox xdotool x11-utils imagemagick desktop-file-utils xdg-utils shared-mime-info
  libfile-mimeinfo-perl
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
