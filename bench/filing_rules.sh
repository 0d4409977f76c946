#!/usr/bin/env bash
# Filing speed with sorting rules: plumadex-cli file on the same burst without rules and with
# 50 rules (49 on senders and subjects, one on the text), side by side.
#   bench/filing_rules.sh [COUNT=10000]
# BUILD_DIR (default build); WORK (default /dev/shm/plumadex-bench-rules or /tmp/...).
set -euo pipefail
cd "$(dirname "$0")/.."
COUNT="${1:-10000}"
BUILD_DIR="${BUILD_DIR:-build}"
WORK="${WORK:-$([ -d /dev/shm ] && echo /dev/shm/plumadex-bench-rules || echo /tmp/plumadex-bench-rules)}"
cmake --build "$BUILD_DIR" --target plumadex-cli make_mail_burst -- -j2 >/dev/null
mkdir -p "$WORK"
BURST="$WORK/burst-$COUNT"
[ -d "$BURST" ] || "$BUILD_DIR/bench/make_mail_burst" "$BURST" "$COUNT" 1
CLI="$BUILD_DIR/src/plumadex-cli"

run() {  # name, with-rules
  local home="$WORK/home-$1"
  rm -rf "$home"
  mkdir -p "$home/data/Inbox" "$home/Documents/Sorted" "$home/Documents/Text"
  if [ "$2" = 1 ]; then
    for i in $(seq 1 49); do
      PLUMADEX_HOME="$home" "$CLI" rules add "Rule $i" --move Sorted "F < nobody$i@example.org" "S < no such subject $i" >/dev/null
    done
    PLUMADEX_HOME="$home" "$CLI" rules add "Text" --copy Text "X < no such words in any text" >/dev/null
  fi
  cp "$BURST"/*.msg_ "$home/data/Inbox/"
  sync
  local start end
  start=$(date +%s.%N)
  PLUMADEX_HOME="$home" "$CLI" file --quiet
  end=$(date +%s.%N)
  local secs files
  secs=$(echo "$end - $start" | bc -l)
  files=$(find "$home/Documents" -type f ! -name Plumadex.ini ! -name '.*' | wc -l)
  printf "%-10s %8.2f s  %8.0f messages/s  %6d files\n" "$1" "$secs" "$(echo "$COUNT / $secs" | bc -l)" "$files"
}
run "no rules" 0
run "50 rules" 1
