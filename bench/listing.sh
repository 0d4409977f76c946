#!/usr/bin/env bash
# Times `plumadex-cli list` on a generated folder of N documents (default 100,000, each with an
# index entry) side by side with the floor: reading the same folder with
# `find DIR -maxdepth 1 -printf '%s %T@ %f\n'` plus `cat` of its index file. Both run in the
# same session, interleaved, so they share whatever else the machine is doing.
#
#   bench/listing.sh            environment: N, RUNS (5), SORT (-1), WORK (the folder's home),
#                               PLUMADEX_BUILD_DIR (build)
#
# Goal: listing at most 2x the floor (wall time), peak memory under 150 MB.
set -euo pipefail
cd "$(dirname "$0")/.."

N="${N:-100000}"
RUNS="${RUNS:-5}"
SORT="${SORT:--1}"
BUILD_DIR="${PLUMADEX_BUILD_DIR:-build}"
WORK="${WORK:-${TMPDIR:-/tmp}/plumadex-bench-listing-$N}"
TIME=/usr/bin/time
[ -x "$TIME" ] || { echo "listing.sh: needs GNU time at /usr/bin/time" >&2; exit 1; }

PLUMADEX_BUILD_DIR="$BUILD_DIR" ./scripts/build.sh --target plumadex-cli --target make_folder >/dev/null
CLI="$BUILD_DIR/src/plumadex-cli"
GEN="$BUILD_DIR/bench/make_folder"
DIR="$WORK/Documents/Archive"

if [ ! -f "$WORK/.complete" ]; then
  echo "generating $N documents in $WORK ..."
  rm -rf "$WORK"
  "$GEN" "$WORK" "$N"
  touch "$WORK/.complete"
fi
INDEX="$DIR/Plumadex.ini"

floor() { find "$DIR" -maxdepth 1 -printf '%s %T@ %f\n' >/dev/null; cat "$INDEX" >/dev/null; }
export -f floor
export DIR INDEX

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# Warm the caches once.
floor
PLUMADEX_HOME="$WORK" "$CLI" list "$DIR" --sort "$SORT" >/dev/null

for i in $(seq "$RUNS"); do
  "$TIME" -f "%e %U %S %M" -o "$tmp/floor.$i" bash -c floor
  PLUMADEX_HOME="$WORK" "$TIME" -f "%e %U %S %M" -o "$tmp/list.$i" \
    "$CLI" list "$DIR" --sort "$SORT" >"$tmp/out"
done
lines="$(wc -l <"$tmp/out")"

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
summary() {  # name -> "median-wall median-cpu max-rss-kb"
  local w c m
  w="$(for f in "$tmp/$1".*; do tail -n 1 "$f"; done | awk '{ print $1 }' | median)"
  c="$(for f in "$tmp/$1".*; do tail -n 1 "$f"; done | awk '{ print $2 + $3 }' | median)"
  m="$(for f in "$tmp/$1".*; do tail -n 1 "$f"; done | awk '{ print $4 }' | sort -g | tail -n 1)"
  echo "$w $c $m"
}
read -r fw fc fm <<<"$(summary floor)"
read -r lw lc lm <<<"$(summary list)"

printf 'folder: %s (%s documents, %s listed rows, index %s bytes), sort %s, %s runs\n' \
  "$DIR" "$N" "$lines" "$(stat -c %s "$INDEX")" "$SORT" "$RUNS"
printf '%-10s %10s %10s %12s\n' "" "wall s" "cpu s" "peak MB"
printf '%-10s %10.3f %10.3f %12.1f\n' floor "$fw" "$fc" "$(echo "$fm / 1024" | bc -l)"
printf '%-10s %10.3f %10.3f %12.1f\n' list "$lw" "$lc" "$(echo "$lm / 1024" | bc -l)"
printf 'ratio (median wall): %.2fx   ratio (median cpu): %.2fx   goal: <= 2x, < 150 MB\n' \
  "$(echo "$lw / $fw" | bc -l)" "$(echo "$lc / $fc" | bc -l)"
