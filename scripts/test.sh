#!/usr/bin/env bash
# Installs, builds and runs every test: a normal build, then the whole suite
# (and its database, manager and transmitter parts again on a PostgreSQL
# server),
# under AddressSanitizer + UndefinedBehaviorSanitizer, then the threaded
# tests (label "threads") under ThreadSanitizer, then each fuzz target for a
# few seconds from its seeds (FUZZ_SECONDS, default 5).  The normal build is
# also packaged as a .deb and checked.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
BUILD_DIR=build scripts/build.sh
ctest --test-dir build --output-on-failure -j2
# The same database, manager and transmitter suites with the product base on
# a throw-away PostgreSQL server (the normal build's programs, no new build).
scripts/with-pg.sh ctest --test-dir build --output-on-failure -j2 -R 'test_database|test_transmitter|test_transfer|manager_test'
# The Debian package from that same build (no third compile), checked with
# lintian and started from an unpacked root.
DEB=$(scripts/build-deb.sh | tail -n 1)
scripts/check-deb.sh "$DEB"
BUILD_DIR=build-asan BUILD_TYPE=Debug scripts/build.sh -DTORVANE_SANITIZE=ON -DTORVANE_BUILD_BENCH=OFF
# The round trip through LibreOffice (label "libreoffice") ran in the normal
# build; the spreadsheet program adds nothing under the sanitizers.
ctest --test-dir build-asan --output-on-failure -j2 -LE libreoffice
BUILD_DIR=build-tsan BUILD_TYPE=Debug scripts/build.sh -DTORVANE_TSAN=ON -DTORVANE_BUILD_BENCH=OFF
if [ -n "$(ctest --test-dir build-tsan -N -L threads | grep 'Test *#')" ]; then
  ctest --test-dir build-tsan --output-on-failure -j2 -L threads
fi
scripts/fuzz.sh --seconds "${FUZZ_SECONDS:-5}"
