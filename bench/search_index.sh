#!/usr/bin/env bash
# The search index beside notmuch, side by side in one run:
#   1. build: the POP3 benchmark's corpus (COUNT messages, bench/tools/pop3_mailbox.py) filed into
#      the documents by plumadex-cli file, then `plumadex-cli index --rebuild` timed, beside
#      `notmuch new` on the same messages in a Maildir; messages a second and the index sizes;
#   2. queries: an index of DOCS small documents (random words of a 5,000-word vocabulary, 200
#      to a folder), `plumadex-cli search` timed for a rare word, a phrase, a common word with
#      a field and a date range (each the best of five, the process start included).
# Usage: bench/search_index.sh [COUNT=2000] [DOCS=100000]   (BUILD_DIR selects the build;
# WORK, default /tmp/plumadex-bench-index, keeps the trees between runs)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
COUNT="${1:-2000}"
DOCS="${2:-100000}"
BUILD_DIR="${BUILD_DIR:-build}"
WORK="${WORK:-/tmp/plumadex-bench-index}"
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR="$ROOT/$BUILD_DIR" ;; esac
CLI="$BUILD_DIR/src/plumadex-cli"
[ -x "$CLI" ] || { echo "build plumadex-cli first ($CLI)" >&2; exit 2; }
command -v notmuch >/dev/null || { echo "install notmuch (scripts/deps/search-bench.list)" >&2; exit 2; }
mkdir -p "$WORK"
now() { date +%s.%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

# --- 1. Build on COUNT messages ------------------------------------------------------------------
CORPUS="$WORK/corpus-$COUNT"
if [ ! -d "$CORPUS" ]; then
  /usr/bin/python3 bench/tools/pop3_mailbox.py "$CORPUS.tmp" "$COUNT" 1
  mv "$CORPUS.tmp" "$CORPUS"
fi
PXH="$WORK/px-mail"
rm -rf "$PXH"
mkdir -p "$PXH/data/Inbox" "$PXH/Documents"
export PLUMADEX_HOME="$PXH"
"$CLI" file --quiet "$CORPUS"/*.eml
sync
t0=$(now); "$CLI" index --rebuild 2>/dev/null; t1=$(now)
px_build=$(secs "$t0" "$t1")

NM="$WORK/notmuch"
rm -rf "$NM"
mkdir -p "$NM/mail/cur" "$NM/mail/new" "$NM/mail/tmp"
i=0
for f in "$CORPUS"/*.eml; do i=$((i + 1)); cp "$f" "$NM/mail/cur/$i.bench:2,S"; done
cat > "$NM/config" <<CONF
[database]
path=$NM/mail
[user]
name=Bench
primary_email=user@example.org
[new]
tags=unread;inbox;
[search]
exclude_tags=
[maildir]
synchronize_flags=true
CONF
export NOTMUCH_CONFIG="$NM/config"
sync
t0=$(now); notmuch new --quiet >/dev/null 2>&1; t1=$(now)
nm_build=$(secs "$t0" "$t1")
px_size=$(du -sk "$PXH/data/SearchIndex" | cut -f1)
nm_size=$(du -sk "$NM/mail/.notmuch" | cut -f1)
echo "build on $COUNT messages:"
awk -v t="$px_build" -v n="$COUNT" 'BEGIN { printf "  plumadex-cli index --rebuild: %7.2f s  %7.0f messages/s\n", t, n / t }'
awk -v t="$nm_build" -v n="$COUNT" 'BEGIN { printf "  notmuch new:                  %7.2f s  %7.0f messages/s\n", t, n / t }'
echo "  index size: plumadex ${px_size} KiB, notmuch ${nm_size} KiB"
unset NOTMUCH_CONFIG

# --- 2. Queries on DOCS documents ----------------------------------------------------------------
BIG="$WORK/px-docs-$DOCS"
export PLUMADEX_HOME="$BIG"
if [ ! -f "$BIG/built" ]; then
  rm -rf "$BIG"
  /usr/bin/python3 - "$BIG/Documents" "$DOCS" <<'PY'
import os, random, sys
out, n = sys.argv[1], int(sys.argv[2])
rng = random.Random(3)
letters = "abcdefghijklmnopqrstuvwxyz"
vocab = ["".join(rng.choice(letters) for _ in range(rng.randint(3, 10))) for _ in range(5000)]
common = vocab[:50]
for i in range(n):
    d = os.path.join(out, "f%04d" % (i // 200))
    if i % 200 == 0:
        os.makedirs(d, exist_ok=True)
    words = [rng.choice(common) if rng.random() < 0.3 else rng.choice(vocab) for _ in range(rng.randint(50, 300))]
    if i == n // 2:
        words[10:12] = ["zebrafinch", "quartermaster"]
    with open(os.path.join(d, "d%d.txt" % i), "w") as f:
        f.write(" ".join(words) + "\n")
PY
  mkdir -p "$BIG/data"
  t0=$(now); "$CLI" index 2>/dev/null; t1=$(now)
  echo "index of $DOCS documents built in $(secs "$t0" "$t1") s"
  touch "$BIG/built"
fi
best() {
  local b=1000000
  for _ in 1 2 3 4 5; do
    local s e
    s=$(now); "$CLI" "$@" >/dev/null || true; e=$(now)
    b=$(awk -v a="$s" -v c="$e" -v m="$b" 'BEGIN { d = (c - a) * 1000; print (d < m ? d : m) }')
  done
  printf "%.1f" "$b"
}
hits() { "$CLI" search "$@" 2>/dev/null | wc -l; }
common=$(head -c 200 "$BIG/Documents/f0000/d0.txt" | awk '{print $1}')
echo "queries on $DOCS documents (ms, best of 5, process start included):"
echo "  process start alone (plumadex-cli where): $(best where) ms"
echo "  rare word:            $(best search zebrafinch) ms  ($(hits zebrafinch) hits)"
echo "  phrase:               $(best search '"zebrafinch quartermaster"') ms  ($(hits '"zebrafinch quartermaster"') hits)"
echo "  word NOT word:        $(best search "zebrafinch NOT $common") ms"
echo "  title: and a date:    $(best search 'subject:d4242 date:2000-01-01..2100-01-01') ms  ($(hits 'subject:d4242 date:2000-01-01..2100-01-01') hits)"
echo "  common word ($common): $(best search "$common") ms  ($(hits "$common") hits)"
echo "  index size: $(du -sk "$BIG/data/SearchIndex" | cut -f1) KiB"
