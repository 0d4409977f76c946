#!/usr/bin/env bash
# Start-up benchmark: how long from starting the desk until a person can use it, side by side
# with the floor, a bare Qt Widgets window (bench/tools/min_qt_window.cpp) started the same way.
# For each folder size the desk's documents folder holds N generated documents; the desk is
# timed from its start to the first painted row of that folder and to its first idle moment
# after the curtain lifted. Runs are interleaved (floor, desk, floor, desk, ...).
#
#   bench/startup.sh [offscreen|x11]   environment: SIZES ("0 10000"), RUNS (3),
#                                      PLUMADEX_BUILD_DIR (build)
#
# Goal: the desk is usable (first row painted) within 0.5 s of its start with 10,000 documents.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/x_display.sh
BUILD="${PLUMADEX_BUILD_DIR:-build}"
MODE="${1:-offscreen}"
SIZES="${SIZES:-0 10000}"
RUNS="${RUNS:-3}"
PLUMADEX_BUILD_DIR="$BUILD" ./scripts/build.sh --target plumadex --target make_folder --target min_qt_window >/dev/null

work="$(mktemp -d)"
xpid=""
wmpid=""
cleanup() {
  [ -n "$wmpid" ] && kill "$wmpid" 2>/dev/null || true
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

platform=offscreen
if [ "$MODE" = x11 ]; then
  start_x_display
  platform=xcb
fi
export QT_QPA_PLATFORM=$platform

now_ms() { date +%s%3N; }

# Waits for a line with "epoch ms T" matching $2 in log $1; prints T (empty on timeout).
wait_epoch() {
  local log=$1 pattern=$2
  for _ in $(seq 1 300); do
    local line
    line=$(grep -m1 "$pattern" "$log" 2>/dev/null || true)
    if [ -n "$line" ]; then
      echo "$line" | sed -E 's/.*epoch ms ([0-9]+).*/\1/'
      return
    fi
    sleep 0.02
  done
}

stats() {  # min and median of the numbers on stdin
  sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) { print "-"; exit }
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "min %d ms, median %d ms", v[1], m }'
}

make_home() {  # a home whose documents folder holds $2 documents
  local home=$1 n=$2
  mkdir -p "$home/Documents" "$home/data"
  if [ "$n" -gt 0 ]; then
    "$BUILD/bench/make_folder" "$home" "$n" >/dev/null
    find "$home/Documents/Archive" -mindepth 1 -maxdepth 1 -exec mv -t "$home/Documents/" {} +
    rmdir "$home/Documents/Archive"
  fi
  # A user of their own accounts only: the desk starts without the welcome window.
  printf '[User]\r\nOwn Accounts Only=1\r\n' >"$home/data/User.ini"
}

echo "platform: $platform; runs: $RUNS"
for n in $SIZES; do
  home="$work/home-$n"
  make_home "$home" "$n"
  : >"$work/floor.txt"; : >"$work/paint.txt"; : >"$work/idle.txt"
  for _ in $(seq 1 "$RUNS"); do
    log="$work/floor.log"
    t0=$(now_ms)
    "$BUILD/bench/min_qt_window" >"$log" 2>&1 || true
    t=$(wait_epoch "$log" "painted at")
    [ -n "$t" ] && echo $((t - t0)) >>"$work/floor.txt"

    log="$work/desk.log"
    t0=$(now_ms)
    QT_LOGGING_RULES="plumadex.grid.debug=true;plumadex.startup.debug=true" PLUMADEX_HOME="$home" \
      "$BUILD/src/plumadex" >"$log" 2>&1 &
    pid=$!
    idle=$(wait_epoch "$log" "desk idle")
    paint=""
    [ "$n" -gt 0 ] && paint=$(wait_epoch "$log" "first paint")
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    [ -n "$idle" ] && echo $((idle - t0)) >>"$work/idle.txt"
    [ -n "$paint" ] && echo $((paint - t0)) >>"$work/paint.txt"
  done
  echo "$n documents:"
  echo "  floor (bare Qt window, first paint): $(stats <"$work/floor.txt")"
  echo "  desk, start to idle:                 $(stats <"$work/idle.txt")"
  [ "$n" -gt 0 ] && echo "  desk, start to first painted row:    $(stats <"$work/paint.txt")"
done
