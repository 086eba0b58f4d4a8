#!/usr/bin/env bash
# Installs the build dependencies, builds VexadinView and launches it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" --target VexadinView
exec "$BUILD_DIR/VexadinView"
