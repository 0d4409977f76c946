#!/usr/bin/env bash
# Document operations against plain mv, timed in the same run on the same machine.
#  1. move N documents (each with an index entry) between two folders: plumadex-cli move vs mv
#  2. copy N documents with their entries: plumadex-cli copy vs cp; copy a folder tree of N
#     documents (a tree copy walks with folder descriptors): plumadex-cli copy vs cp -a
#  3. file M documents all titled "(no subject)" into one folder (" (n)" naming), for M = 1000
#     and 5000: plumadex-cli store --move vs mv; the per-document time must not grow with M.
#  3. two plumadex-cli moves into one folder at once (each holds the index lock only while it
#     saves; every entry must survive) vs two mv at once.
#  4. what the locking and the journal cost by themselves (bench_store_locking, when built):
#     a locked index save vs the bare atomic rewrite, and the journal of a 300 / 5000 batch.
# Usage: bench/operations.sh [N]   (PLUMADEX_BUILD_DIR selects the build, default build/)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${PLUMADEX_BUILD_DIR:-build}"
CLI="$(pwd)/$BUILD_DIR/src/plumadex-cli"
[ -x "$CLI" ] || { echo "build plumadex-cli first ($CLI)" >&2; exit 2; }
N="${1:-10000}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
export PLUMADEX_HOME="$WORK/home"
mkdir -p "$PLUMADEX_HOME/Documents"

now() { date +%s.%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

# make_docs DIR COUNT WITH_INDEX: COUNT small files doc1.txt ..., optionally with index entries.
make_docs() {
  python3 - "$1" "$2" "$3" <<'PY'
import os, sys
d, n, with_index = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "1"
os.makedirs(d, exist_ok=True)
ini = []
for i in range(1, n + 1):
    with open(os.path.join(d, "doc%d.txt" % i), "wb") as f:
        f.write(b"document %d\r\n" % i)
    if with_index:
        ini.append("[doc%d.txt]\r\nTitle=doc%d\r\nFlags=%d\r\nAddress=sender%d@example.org\r\n\r\n" % (i, i, 4609 if i % 3 == 0 else 4097, i))
if with_index:
    with open(os.path.join(d, "Plumadex.ini"), "w", newline="") as f:
        f.write("".join(ini))
PY
}

echo "== move $N documents with index entries =="
make_docs "$WORK/mv-src" "$N" 0
mkdir -p "$WORK/mv-dst"
t0=$(now); (cd "$WORK/mv-src" && find . -maxdepth 1 -type f -name 'doc*' -print0 | xargs -0 mv -t "$WORK/mv-dst"); t1=$(now)
MV=$(secs "$t0" "$t1")
make_docs "$PLUMADEX_HOME/Documents/Src" "$N" 1
mkdir -p "$PLUMADEX_HOME/Documents/Dst"
t0=$(now)
(cd "$PLUMADEX_HOME/Documents/Src" && find . -maxdepth 1 -type f -name 'doc*' -print0 | xargs -0 "$CLI" move --quiet --into "$PLUMADEX_HOME/Documents/Dst" -- 2>/dev/null) || true
t1=$(now)
PX=$(secs "$t0" "$t1")
moved=$(find "$PLUMADEX_HOME/Documents/Dst" -maxdepth 1 -type f -name 'doc*' | wc -l)
entries=$(grep -c '^\[doc' "$PLUMADEX_HOME/Documents/Dst/Plumadex.ini" || true)
left=$(grep -c '^\[doc' "$PLUMADEX_HOME/Documents/Src/Plumadex.ini" || true)
echo "mv:            ${MV}s"
echo "plumadex move: ${PX}s   (files moved: $moved, target entries: $entries, source entries left: $left)"
awk -v a="$PX" -v b="$MV" 'BEGIN { if (b > 0) printf "ratio:         %.2fx mv\n", a / b }'

echo "== copy $N documents with index entries =="
mkdir -p "$WORK/cp-dst" "$PLUMADEX_HOME/Documents/CopyDst"
t0=$(now); (cd "$WORK/mv-dst" && find . -maxdepth 1 -type f -name 'doc*' -print0 | xargs -0 cp -p -t "$WORK/cp-dst"); t1=$(now)
CP=$(secs "$t0" "$t1")
t0=$(now)
(cd "$PLUMADEX_HOME/Documents/Dst" && find . -maxdepth 1 -type f -name 'doc*' -print0 | xargs -0 "$CLI" copy --quiet --into "$PLUMADEX_HOME/Documents/CopyDst" -- 2>/dev/null) || true
t1=$(now)
PX=$(secs "$t0" "$t1")
copied=$(find "$PLUMADEX_HOME/Documents/CopyDst" -maxdepth 1 -type f -name 'doc*' | wc -l)
echo "cp -p:         ${CP}s"
echo "plumadex copy: ${PX}s   (files copied: $copied)"
awk -v a="$PX" -v b="$CP" 'BEGIN { if (b > 0) printf "ratio:         %.2fx cp\n", a / b }'

echo "== copy a folder of $N documents =="
t0=$(now); cp -a "$WORK/mv-dst" "$WORK/tree-cp"; t1=$(now)
CP=$(secs "$t0" "$t1")
mkdir -p "$PLUMADEX_HOME/Documents/TreeDst"
t0=$(now); "$CLI" copy --quiet "$PLUMADEX_HOME/Documents/Dst" "$PLUMADEX_HOME/Documents/TreeDst" 2>/dev/null || true; t1=$(now)
PX=$(secs "$t0" "$t1")
copied=$(find "$PLUMADEX_HOME/Documents/TreeDst" -type f -name 'doc*' | wc -l)
echo "cp -a:         ${CP}s"
echo "plumadex copy: ${PX}s   (files copied: $copied)"
awk -v a="$PX" -v b="$CP" 'BEGIN { if (b > 0) printf "ratio:         %.2fx cp -a\n", a / b }'

for M in 1000 5000; do
  echo "== file $M documents titled \"(no subject)\" into one folder =="
  make_docs "$WORK/ns-src-$M" "$M" 0
  mkdir -p "$WORK/ns-mv-$M"
  t0=$(now); (cd "$WORK/ns-src-$M" && find . -maxdepth 1 -type f -print0 | xargs -0 mv -t "$WORK/ns-mv-$M"); t1=$(now)
  MV=$(secs "$t0" "$t1")
  make_docs "$WORK/ns-px-$M" "$M" 0
  mkdir -p "$PLUMADEX_HOME/Documents/NoSubject$M"
  t0=$(now)
  (cd "$WORK/ns-px-$M" && find . -maxdepth 1 -type f -print0 | xargs -0 "$CLI" store --move --quiet --title "(no subject)" --into "$PLUMADEX_HOME/Documents/NoSubject$M" --)
  t1=$(now)
  PX=$(secs "$t0" "$t1")
  last=$(ls "$PLUMADEX_HOME/Documents/NoSubject$M" | grep -c '^(no subject)')
  echo "mv:             ${MV}s"
  echo "plumadex store: ${PX}s   ($last files named \"(no subject)...\")"
  awk -v a="$PX" -v m="$M" 'BEGIN { printf "per document:   %.1f us\n", a / m * 1e6 }'
done

H=$(( N / 2 ))
echo "== two processes moving $H documents each into one folder at once =="
make_docs "$WORK/c-mv-a" "$H" 0
make_docs "$WORK/c-mv-b" "$H" 0
for f in "$WORK"/c-mv-b/doc*.txt; do mv "$f" "${f%.txt}-b.txt"; done
mkdir -p "$WORK/c-mv-dst"
t0=$(now)
(cd "$WORK/c-mv-a" && find . -maxdepth 1 -type f -print0 | xargs -0 mv -t "$WORK/c-mv-dst") &
(cd "$WORK/c-mv-b" && find . -maxdepth 1 -type f -print0 | xargs -0 mv -t "$WORK/c-mv-dst") &
wait
t1=$(now)
MV=$(secs "$t0" "$t1")
make_docs "$PLUMADEX_HOME/Documents/CA" "$H" 1
make_docs "$PLUMADEX_HOME/Documents/CB" "$H" 1
mkdir -p "$PLUMADEX_HOME/Documents/CDst"
t0=$(now)
(cd "$PLUMADEX_HOME/Documents/CA" && find . -maxdepth 1 -type f -name 'doc*' -print0 | xargs -0 "$CLI" move --quiet --into "$PLUMADEX_HOME/Documents/CDst" -- 2>/dev/null) &
(cd "$PLUMADEX_HOME/Documents/CB" && find . -maxdepth 1 -type f -name 'doc*' -print0 | xargs -0 "$CLI" move --quiet --into "$PLUMADEX_HOME/Documents/CDst" -- 2>/dev/null) &
wait
t1=$(now)
PX=$(secs "$t0" "$t1")
moved=$(find "$PLUMADEX_HOME/Documents/CDst" -maxdepth 1 -type f -name 'doc*' | wc -l)
entries=$(grep -c '^\[doc' "$PLUMADEX_HOME/Documents/CDst/Plumadex.ini" || true)
echo "mv x2:            ${MV}s"
echo "plumadex move x2: ${PX}s   (files moved: $moved, target entries: $entries of $(( 2 * H )))"
awk -v a="$PX" -v b="$MV" 'BEGIN { if (b > 0) printf "ratio:            %.2fx mv\n", a / b }'

LOCKBENCH="$(pwd)/$BUILD_DIR/bench/bench_store_locking"
if [ -x "$LOCKBENCH" ]; then
  echo "== the cost of the index lock and of the batch journal =="
  "$LOCKBENCH" --benchmark_format=console 2>/dev/null | grep -E '^BM_'
else
  echo "(build bench_store_locking for the lock and journal figures)"
fi
