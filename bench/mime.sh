#!/usr/bin/env bash
# Splitting speed: plumadex-cli split against GMime 3 doing the same work (parse each message and
# write every leaf part's decoded content to a file) on a generated corpus (fixed seed, ~200 MB).
#   bench/mime.sh [TOTAL_MB=200]
# BUILD_DIR (default build) is the build folder; WORK holds the corpus and the outputs (default a
# folder in /dev/shm, so the figures measure parsing and decoding rather than the disk; set
# WORK=/tmp/... to include the disk). Wall time is noisy on a shared machine: compare the CPU
# figures, best of the rounds. GMime is used here only; the program never links it.
set -euo pipefail
cd "$(dirname "$0")/.."
TOTAL_MB="${1:-200}"
BUILD_DIR="${BUILD_DIR:-build}"
if [ -z "${WORK:-}" ]; then
  if [ -d /dev/shm ] && [ "$(df -Pm /dev/shm | awk 'NR==2 {print $4}')" -gt $((TOTAL_MB * 4)) ]; then
    WORK=/dev/shm/plumadex-bench-mime
  else
    WORK=/tmp/plumadex-bench-mime
  fi
fi

if ! pkg-config --exists gmime-3.0; then
  echo "installing libgmime-3.0-dev (benchmark only)"
  apt-get install -y libgmime-3.0-dev >/dev/null
fi
if [ ! -x /usr/bin/time ]; then apt-get install -y time >/dev/null; fi

if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD_DIR" --target plumadex-cli make_mime_corpus -- -j2 >/dev/null

mkdir -p "$WORK"
cc -O2 -o "$WORK/gmime_split" bench/gmime_split.c $(pkg-config --cflags --libs gmime-3.0)

CORPUS="$WORK/corpus-$TOTAL_MB"
if [ ! -d "$CORPUS" ]; then
  "$BUILD_DIR/bench/make_mime_corpus" "$CORPUS" "$TOTAL_MB" 1
fi
BYTES=$(cat "$CORPUS"/*.msg_ | wc -c)
LARGEST_BYTES=$(stat -c %s "$CORPUS"/*.msg_ | sort -n | tail -1)
COUNT=$(find "$CORPUS" -name '*.msg_' | wc -l)
echo "corpus: $COUNT messages, $BYTES bytes, largest $LARGEST_BYTES bytes"

# Warm the page cache so both runs read from memory.
cat "$CORPUS"/*.msg_ > /dev/null

run() {  # name, command...
  local name="$1"; shift
  local out="$WORK/out-$name"
  rm -rf "$out"; mkdir -p "$out"
  local stats="$WORK/time-$name"
  sync  # start each run without another run's dirty pages
  /usr/bin/time -f "%e %U %S %M" -o "$stats" "$@" "$out" > /dev/null
  local secs user sys rss files cpu
  read -r secs user sys rss < <(tail -1 "$stats")
  cpu=$(echo "$user + $sys" | bc -l)
  files=$(find "$out" -type f | wc -l)
  printf "%-18s wall %6.2f s %7.1f MB/s   cpu %6.2f s %7.1f MB/s   peak RSS %6.1f MB  %5d files\n" \
    "$name" "$secs" "$(echo "$BYTES / 1000000 / $secs" | bc -l)" "$cpu" \
    "$(echo "$BYTES / 1000000 / $cpu" | bc -l)" "$(echo "$rss / 1024" | bc -l)" "$files"
  rm -rf "$out"
}

CLI="$BUILD_DIR/src/plumadex-cli"
for round in 1 2 3; do
  echo "round $round"
  run gmime "$WORK/gmime_split" "$CORPUS"/*.msg_
  run plumadex-no-sync "$CLI" split --quiet --no-sync "$CORPUS"/*.msg_
  run plumadex-fsync "$CLI" split --quiet "$CORPUS"/*.msg_
done
echo "goal: plumadex-no-sync at least as fast as gmime; peak RSS at most 2 x $((LARGEST_BYTES / 1000000)) MB"
