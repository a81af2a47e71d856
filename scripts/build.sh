#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR) with extra CMake options
# passed through, e.g. scripts/build.sh -DTORVANE_SANITIZE=ON
# BUILD_TARGET=name builds that target alone (and what it needs).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} "$@"
cmake --build "$BUILD_DIR" -j"$(nproc)" ${BUILD_TARGET:+--target "$BUILD_TARGET"}
