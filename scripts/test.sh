#!/usr/bin/env bash
# Installs, builds and runs every test: a normal build, then the whole suite
# (and its database, manager and transmitter parts again on a PostgreSQL
# server),
# under AddressSanitizer + UndefinedBehaviorSanitizer, then the threaded
# tests (label "threads") under ThreadSanitizer, then each fuzz target for a
# few seconds from its seeds (FUZZ_SECONDS, default 5).  The normal build is
# also packaged as a .deb and checked.
#
# The suites mostly wait (on the scale's wire time, on the server), so each
# one runs while the next build compiles: its output is printed as a whole
# when it ends, and the script fails when any of them failed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
# lld links the many test programs in a fraction of the default linker's
# time.  The sanitizer builds carry line tables only: all a report needs,
# and full debug information would cost half their compile time again.
LINK=(-DTORVANE_LINKER=lld)
SANITIZER_BUILD=(-DTORVANE_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1 "${LINK[@]}")

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
running=()
# beside NAME COMMAND...: runs a stage in the background, its output kept.
beside() {
  local name=$1
  shift
  ("$@") >"$logs/$name.log" 2>&1 &
  running+=("$!:$name")
}
# settle: waits for the stages started beside, prints each one's output,
# and stops the script when one of them failed.
settle() {
  local entry failed=()
  for entry in "${running[@]}"; do
    if ! wait "${entry%%:*}"; then failed+=("${entry#*:}"); fi
    echo "==== ${entry#*:}"
    cat "$logs/${entry#*:}.log"
  done
  running=()
  if [ ${#failed[@]} -gt 0 ]; then
    echo "test: failed: ${failed[*]}" >&2
    exit 1
  fi
}
# The builds give way to the suites beside them, whose waits are timed.
build() { nice -n 10 scripts/build.sh "$@"; }
# A few tests time real exchanges with a simulated scale; one that fails
# while a build compiles beside it is run once more (a fault fails twice).
RERUN=(--repeat until-pass:2)

normal_suites() {
  ctest --test-dir build --output-on-failure -j2 "${RERUN[@]}"
  # The same database, manager and transmitter suites with the product base
  # on a throw-away PostgreSQL server (the normal build's programs).
  scripts/with-pg.sh ctest --test-dir build --output-on-failure -j2 "${RERUN[@]}" \
    -R 'test_database|test_transmitter|test_transfer|manager_test'
  # The Debian package from that same build (no third compile), checked
  # with lintian and started from an unpacked root.
  local deb
  deb=$(scripts/build-deb.sh | tail -n 1)
  scripts/check-deb.sh "$deb"
}
# The round trip through LibreOffice (label "libreoffice") ran in the normal
# build; the spreadsheet program adds nothing under the sanitizers.
asan_suite() { ctest --test-dir build-asan --output-on-failure -j2 "${RERUN[@]}" -LE libreoffice; }
tsan_suite() {
  if [ -n "$(ctest --test-dir build-tsan -N -L threads | grep 'Test *#')" ]; then
    ctest --test-dir build-tsan --output-on-failure -j2 "${RERUN[@]}" -L threads
  fi
}

BUILD_DIR=build scripts/build.sh "${LINK[@]}"
beside normal normal_suites
BUILD_DIR=build-asan BUILD_TYPE=Debug build -DTORVANE_SANITIZE=ON "${SANITIZER_BUILD[@]}"
beside asan asan_suite
# ThreadSanitizer: the threaded tests and the programs they start, no more.
BUILD_DIR=build-tsan BUILD_TYPE=Debug BUILD_TARGET=torvane_threads_tests build -DTORVANE_TSAN=ON "${SANITIZER_BUILD[@]}"
settle
beside tsan tsan_suite
nice -n 10 scripts/fuzz.sh --seconds "${FUZZ_SECONDS:-5}"
settle
