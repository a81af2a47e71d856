#!/usr/bin/env bash
# Installs, builds and runs every test: once as a normal build, once under
# AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
BUILD_DIR=build scripts/build.sh
ctest --test-dir build --output-on-failure -j2
BUILD_DIR=build-asan BUILD_TYPE=Debug scripts/build.sh -DTORVANE_SANITIZE=ON -DTORVANE_BUILD_BENCH=OFF
ctest --test-dir build-asan --output-on-failure -j2
