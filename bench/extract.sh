#!/usr/bin/env bash
# plumadex-cli extract on HTML mail whose pictures share names, beside Python's email package
# doing the same work (parse, write each picture under a free name) in the same run.
#  1. N parts that all carry one Content-Location (only the first can be shown)
#  2. N parts at different locations whose file names are all "image.png" (numbered " (n)")
# Usage: bench/extract.sh [N=8000]   (PLUMADEX_BUILD_DIR selects the build, default build/)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${PLUMADEX_BUILD_DIR:-build}"
CLI="$(pwd)/$BUILD_DIR/src/plumadex-cli"
[ -x "$CLI" ] || { echo "build plumadex-cli first ($CLI)" >&2; exit 2; }
N="${1:-8000}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
export PLUMADEX_HOME="$WORK/home"
export TMPDIR="$WORK"

now() { date +%s.%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

make_message() {  # FILE COUNT SAME(1|0)
  /usr/bin/python3 - "$1" "$2" "$3" <<'PY'
import sys
path, n, same = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "1"
out = ["MIME-Version: 1.0", 'Content-Type: multipart/related; boundary="r"', "", "--r",
       "Content-Type: text/html", "", "<HTML><BODY><P>pictures</P></BODY></HTML>"]
for i in range(n):
    loc = "http://example.org/image.png" if same else "http://example.org/%d/image.png" % i
    out += ["--r", "Content-Type: image/png", "Content-Transfer-Encoding: base64",
            "Content-Location: " + loc, "", "iVBORw0KGgo="]
out += ["--r--", ""]
open(path, "w", newline="").write("\r\n".join(out))
PY
}

peer() {  # FILE OUTDIR: every picture written under a free name, as a mail program would
  /usr/bin/python3 - "$1" "$2" <<'PY'
import email, email.policy, os, sys
msg = email.message_from_binary_file(open(sys.argv[1], "rb"), policy=email.policy.default)
out, seen, used = sys.argv[2], set(), {}
os.makedirs(out, exist_ok=True)
for part in msg.walk():
    loc = part.get("Content-Location")
    if not loc or loc in seen:
        continue
    seen.add(loc)
    name = loc.rsplit("/", 1)[-1]
    stem, ext = os.path.splitext(name)
    k = used.get(name, 1)
    while True:
        p = os.path.join(out, name if k == 1 else "%s (%d)%s" % (stem, k, ext))
        try:
            fd = os.open(p, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
            break
        except FileExistsError:
            k += 1
    used[name] = k + 1
    os.write(fd, part.get_payload(decode=True))
    os.close(fd)
PY
}

for same in 1 0; do
  if [ "$same" = 1 ]; then echo "== $N parts sharing one Content-Location =="; else echo "== $N parts named image.png at different locations =="; fi
  make_message "$WORK/m$same.eml" "$N" "$same"
  t0=$(now); "$CLI" extract "$WORK/m$same.eml" >/dev/null 2>&1 || true; t1=$(now)
  PX=$(secs "$t0" "$t1")
  t0=$(now); peer "$WORK/m$same.eml" "$WORK/peer$same"; t1=$(now)
  PY=$(secs "$t0" "$t1")
  echo "plumadex extract:      ${PX}s"
  echo "python email (peer):   ${PY}s"
done
