#!/usr/bin/env bash
# Builds the fuzz targets with clang into build-fuzz/ (or $BUILD_DIR) and runs
# each one, starting from its seeds in fuzz/corpus/<target>/.
#
#   scripts/fuzz.sh --runs N      [target ...]   N inputs per target
#   scripts/fuzz.sh --seconds S   [target ...]   S seconds per target
#
# Inputs that reach new code are kept in $BUILD_DIR/corpus/<target>/ (the
# seeds in the repository are never written); an input that crashes, leaks
# or trips the sanitizers is saved in $BUILD_DIR/artifacts/ and the script
# fails.  Add such an input to fuzz/corpus/<target>/ once the fault is mended,
# so it stays found.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-fuzz}
limit=(-runs=100000)
if [ "${1:-}" = "--runs" ]; then limit=(-runs="$2"); shift 2
elif [ "${1:-}" = "--seconds" ]; then limit=(-max_total_time="$2"); shift 2
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=($(cd fuzz/corpus && ls))
fi

CC=${FUZZ_CC:-clang-14} CXX=${FUZZ_CXX:-clang++-14} \
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVANE_FUZZ=ON >/dev/null
if ! cmake --build "$BUILD_DIR" -j"$(nproc)" --target "${targets[@]}" >"$BUILD_DIR/build.log" 2>&1; then
  tail -n 40 "$BUILD_DIR/build.log"
  exit 1
fi

mkdir -p "$BUILD_DIR/artifacts"
for t in "${targets[@]}"; do
  mkdir -p "$BUILD_DIR/corpus/$t"
  log="$BUILD_DIR/$t.log"
  if ! "$BUILD_DIR/bin/$t" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$BUILD_DIR/artifacts/$t-" "$BUILD_DIR/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz: $t failed; the input is in $BUILD_DIR/artifacts/" >&2
    exit 1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  cov=$(grep -E '^#[0-9]+.*(DONE|pulse|NEW|REDUCE|INITED)' "$log" | tail -n 1 | grep -oE 'cov: [0-9]+ ft: [0-9]+' || true)
  echo "fuzz: $t ok, ${runs:-?} runs, ${cov:-no coverage line}"
done
