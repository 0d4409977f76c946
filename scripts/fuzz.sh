#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, ASan and UBSan (into build-fuzz/, or
# $PLUMADEX_FUZZ_BUILD_DIR) and runs each one for a bounded time on a copy of its corpus.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS: time per target (default 20). TARGET: names under fuzz/ (default: all).
# Environment: FUZZ_TIMEOUT (seconds allowed for one input, default 10), FUZZ_JOBS (build jobs,
# default 2), FUZZ_RSS_MB (memory limit of one run, default 2048).
# Prints one line per target: runs, coverage and features at the start and the end, new corpus
# inputs, and crashes (with the reproducer files kept in build-fuzz/findings/TARGET/).
# Exit status: 0 when no target crashed, 1 otherwise, 2 when the build failed.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECONDS_PER_TARGET="${1:-20}"
shift || true
BUILD_DIR="${PLUMADEX_FUZZ_BUILD_DIR:-build-fuzz}"
TIMEOUT="${FUZZ_TIMEOUT:-10}"
JOBS="${FUZZ_JOBS:-2}"
RSS="${FUZZ_RSS_MB:-2048}"

if ! [[ "$SECONDS_PER_TARGET" =~ ^[0-9]+$ ]] || [ "$SECONDS_PER_TARGET" -lt 1 ]; then
  echo "usage: scripts/fuzz.sh [SECONDS] [TARGET...]" >&2
  exit 2
fi
if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is missing (apt-get install clang libclang-rt-dev)" >&2
  exit 2
fi

if [ $# -gt 0 ]; then
  TARGETS=("$@")
else
  TARGETS=()
  for f in fuzz/*.cpp; do
    n=$(basename "$f" .cpp)
    [ "$n" = standalone_main ] && continue
    TARGETS+=("$n")
  done
fi

if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPLUMADEX_FUZZ=ON >"$BUILD_DIR.configure.log" 2>&1 || {
    cat "$BUILD_DIR.configure.log" >&2
    exit 2
  }
fi
BUILD_TARGETS=()
for t in "${TARGETS[@]}"; do BUILD_TARGETS+=("fuzz_$t"); done
if ! cmake --build "$BUILD_DIR" -j"$JOBS" --target "${BUILD_TARGETS[@]}"; then
  echo "fuzz.sh: the build failed" >&2
  exit 2
fi

WORK="$BUILD_DIR/fuzz-work"
FINDINGS="$BUILD_DIR/findings"
mkdir -p "$WORK" "$FINDINGS"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

printf '%-20s %10s %8s %8s %8s %8s %6s %8s\n' target runs "cov0" "cov" "ft0" "ft" new crashes
total_crashes=0
for t in "${TARGETS[@]}"; do
  bin="$BUILD_DIR/fuzz/fuzz_$t"
  if [ ! -x "$bin" ]; then
    printf '%-20s missing\n' "$t"
    total_crashes=$((total_crashes + 1))
    continue
  fi
  # The run grows a copy of the corpus; the checked-in corpus stays as it is.
  corpus="$WORK/$t"
  rm -rf "$corpus"
  mkdir -p "$corpus" "$FINDINGS/$t"
  [ -d "fuzz/corpus/$t" ] && cp -a "fuzz/corpus/$t/." "$corpus/"
  before=$(find "$corpus" -type f | wc -l)
  log="$WORK/$t.log"
  dict=()
  [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
  # A run stops at its first finding, which is kept as a reproducer.
  "$bin" "$corpus" "${dict[@]}" -max_total_time="$SECONDS_PER_TARGET" -timeout="$TIMEOUT" \
    -rss_limit_mb="$RSS" -print_final_stats=1 -artifact_prefix="$FINDINGS/$t/" >"$log" 2>&1
  rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | tail -1 | grep -o '[0-9]*$')
  cov0=$(grep -m1 -o 'INITED cov: [0-9]*' "$log" | grep -o '[0-9]*$')
  ft0=$(grep -m1 -o 'INITED cov: [0-9]* ft: [0-9]*' "$log" | grep -o '[0-9]*$')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$')
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$')
  after=$(find "$corpus" -type f | wc -l)
  crashes=$(find "$FINDINGS/$t" -type f \( -name 'crash-*' -o -name 'timeout-*' -o -name 'leak-*' -o -name 'oom-*' \) | wc -l)
  if [ "$rc" -ne 0 ] && [ "$crashes" -eq 0 ]; then crashes=1; fi
  total_crashes=$((total_crashes + crashes))
  printf '%-20s %10s %8s %8s %8s %8s %6s %8s\n' "$t" "${runs:-?}" "${cov0:-?}" "${cov:-?}" "${ft0:-?}" "${ft:-?}" \
    "$((after - before))" "$crashes"
  if [ "$crashes" -ne 0 ]; then
    echo "  log: $ROOT/$log" >&2
    grep -m3 -E 'ERROR: |runtime error|SUMMARY' "$log" | sed 's/^/  /' >&2
  fi
done
echo "crashes in all: $total_crashes (reproducers in $BUILD_DIR/findings/)"
[ "$total_crashes" -eq 0 ]
