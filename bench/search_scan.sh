#!/usr/bin/env bash
# plumadex-cli search --scan over a tree of mixed documents with the keyword absent (every byte
# read), beside `rg -j1 -i -F` on the same tree in the same run. The tree: plain text (ASCII and
# UTF-8), rich text with escapes, HTML, and Word, OpenDocument and Office XML files copied from
# the test documents, in folders of 200 files.
# Usage: bench/search_scan.sh [MEGABYTES=1024]   (PLUMADEX_BUILD_DIR selects the build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${PLUMADEX_BUILD_DIR:-build}"
CLI="$(pwd)/$BUILD_DIR/src/plumadex-cli"
[ -x "$CLI" ] || { echo "build plumadex-cli first ($CLI)" >&2; exit 2; }
command -v rg >/dev/null || { echo "install ripgrep (scripts/deps/search-bench.list)" >&2; exit 2; }
MB="${1:-1024}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
export PLUMADEX_HOME="$WORK/home"
TREE="$WORK/tree"

/usr/bin/python3 - "$TREE" "$MB" <<'PY'
import os, random, shutil, sys
tree, mb = sys.argv[1], int(sys.argv[2])
random.seed(7)
words = ("the quarterly report shows revenue growth across all regions while costs remained "
         "stable café naïve Straße élan über résumé invoice meeting minutes project budget").split()
real = ["/usr/share/gocode/src/github.com/gabriel-vasile/mimetype/testdata/" + n
        for n in ("doc.doc", "docx.docx", "odt.odt")]
real = [p for p in real if os.path.exists(p)]
def para(n):
    return " ".join(random.choice(words) for _ in range(n))
total, i = 0, 0
target = mb << 20
block = "\n".join(para(14) for _ in range(4000)) + "\n"   # ~400 KB of text
while total < target:
    d = os.path.join(tree, "f%04d" % (i // 200))
    os.makedirs(d, exist_ok=True)
    kind = i % 10
    if kind < 6:
        data = (block * random.randint(1, 5)).encode()
        path = os.path.join(d, "n%d.txt" % i)
    elif kind < 8:
        body = block.replace("é", "\\'e9").replace("ü", "\\'fc").replace("\n", "\\par\n")
        data = ("{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}}" + body + "}").encode("latin-1", "replace")
        path = os.path.join(d, "r%d.rtf" % i)
    elif kind == 8:
        data = ("<html><body>" + "".join("<p>%s</p>" % l for l in block.splitlines()) + "</body></html>").encode()
        path = os.path.join(d, "h%d.html" % i)
    else:
        if real:
            src = real[i % len(real)]
            path = os.path.join(d, "w%d%s" % (i, os.path.splitext(src)[1]))
            shutil.copyfile(src, path)
            total += os.path.getsize(path)
            i += 1
            continue
        data = block.encode()
        path = os.path.join(d, "n%d.txt" % i)
    with open(path, "wb") as f:
        f.write(data)
    total += len(data)
    i += 1
print("tree: %d files, %.0f MB" % (i, total / 1048576))
PY

now() { date +%s.%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
cat "$TREE"/*/* > /dev/null   # warm the page cache for both
t0=$(now); "$CLI" search --in "$TREE" --scan zqxjkvw > /dev/null || true; t1=$(now)
rg -j1 -i -F zqxjkvw "$TREE" > /dev/null || true; t2=$(now)
px=$(secs "$t0" "$t1"); rgt=$(secs "$t1" "$t2")
echo "plumadex-cli search --scan: ${px} s"
echo "rg -j1 -i -F:               ${rgt} s"
awk -v a="$px" -v b="$rgt" 'BEGIN { printf "ratio: %.2f\n", a / b }'
