#!/usr/bin/env bash
# Sending mail to the loopback service peer, measured in one run on one machine:
#  1. packing (envelope + file, bzip2 level 1, into the upload stream) of 200 messages of mixed
#     sizes up to 20 MB, beside `bzip2 -1` on the same files (goal: within 1.1x of bzip2 -1);
#  2. the whole road: plumadex-cli outbox + send of the 200 messages to the peer;
#  3. peak memory of plumadex-cli send with one 50 MB part (it must not hold the part more
#     than once: the resident peak stays far below 50 MB above the program's base).
# Usage: bench/send.sh   (PLUMADEX_BUILD_DIR selects the build, default build/)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${PLUMADEX_BUILD_DIR:-build}"
CLI="$(pwd)/$BUILD_DIR/src/plumadex-cli"
PACK="$(pwd)/$BUILD_DIR/bench/pack_upload"
PEER="$(pwd)/tests/peer/service_peer.py"
[ -x "$CLI" ] && [ -x "$PACK" ] || { echo "build plumadex-cli and pack_upload first" >&2; exit 2; }
WORK="$(mktemp -d)"
PEER_PID=""
cleanup() { [ -n "$PEER_PID" ] && kill "$PEER_PID" 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT
export PLUMADEX_HOME="$WORK/home"
DOCS="$PLUMADEX_HOME/Documents/Out"
mkdir -p "$DOCS" "$WORK/tmp"

now() { date +%s.%N; }

# 200 files: 180 of 1-200 KB, 15 of 2 MB, 5 of 20 MB; text-like content with some noise.
/usr/bin/python3 - "$DOCS" <<'PY'
import os, random, sys
d = sys.argv[1]
rnd = random.Random(42)
words = [("".join(rnd.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9)))).encode() for _ in range(5000)]
def make(n):
    out = bytearray()
    while len(out) < n:
        if rnd.random() < 0.1:
            out += os.urandom(rnd.randint(16, 512))
        else:
            out += b" ".join(rnd.choice(words) for _ in range(60)) + b"\r\n"
    return bytes(out[:n])
sizes = [rnd.randint(1, 200) * 1024 for _ in range(180)] + [2 << 20] * 15 + [20 << 20] * 5
rnd.shuffle(sizes)
block = make(4 << 20)
for i, n in enumerate(sizes):
    with open(os.path.join(d, "part%03d.bin" % i), "wb") as f:
        if n <= (200 << 10):
            f.write(make(n))
        else:  # large files: one text block, shifted per file
            off = i * 977
            f.write((block * (n // len(block) + 2))[off:off + n])
PY
TOTAL=$(du -cb "$DOCS"/part*.bin | tail -1 | cut -f1)
MB=$(awk -v b="$TOTAL" 'BEGIN { printf "%.1f", b / 1048576 }')
echo "== packing 200 files, $MB MB =="
# Both write their output into the same temporary folder; wall and CPU time (user + system)
# are taken, the ratio on CPU time, which the load of a shared machine disturbs least.
cpu() { /usr/bin/time -f "%e %U %S" -o "$WORK/time.out" "$@" > "$WORK/cmd.out"; awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$WORK/time.out"; }
read -r BZW BZC < <(cpu bash -c 'for f in "$@"; do bzip2 -1 -c "$f" > "$0/bz.out"; done' "$WORK/tmp" "$DOCS"/part*.bin)
read -r PXW PXC < <(cpu "$PACK" "$WORK/tmp" "$DOCS"/part*.bin)
read -r _ PXIN PXOUT < "$WORK/cmd.out"
rm -f "$WORK/tmp/bz.out"
awk -v w="$BZW" -v c="$BZC" -v m="$MB" 'BEGIN { printf "bzip2 -1:          wall %6.2fs  cpu %6.2fs  %6.1f MB/s of cpu\n", w, c, m / c }'
awk -v w="$PXW" -v c="$PXC" -v m="$MB" -v o="$PXOUT" -v i="$PXIN" 'BEGIN { printf "plumadex packing:  wall %6.2fs  cpu %6.2fs  %6.1f MB/s of cpu  (stream %.1f%% of the files)\n", w, c, m / c, 100 * o / i }'
awk -v a="$PXC" -v b="$BZC" 'BEGIN { printf "ratio:             %.2fx bzip2 -1 in cpu time (goal: at most 1.10x)\n", a / b }'

echo "== outbox + send of the 200 messages to the loopback peer =="
/usr/bin/python3 "$PEER" --port 0 --state "$WORK/peer" --user alice:secret bob:pw > "$WORK/peer.out" 2>&1 &
PEER_PID=$!
for _ in $(seq 100); do grep -q listening "$WORK/peer.out" 2>/dev/null && break; sleep 0.1; done
PORT=$(sed -n 's/^listening on 127.0.0.1://p' "$WORK/peer.out")
export PLUMADEX_SERVICE_CA="$WORK/peer/ca.pem"
echo secret | "$CLI" service set --user alice --server "localhost:$PORT" --password-stdin
t0=$(now)
for f in "$DOCS"/part*.bin; do "$CLI" outbox "$f" --to bob > /dev/null; done
t1=$(now)
"$CLI" send > "$WORK/send.out"
t2=$(now)
SENT=$(grep -c '^sent ' "$WORK/send.out" || true)
STORED=$(find "$WORK/peer/mail/bob" -name '*.pxm' | wc -l)
awk -v a="$t0" -v b="$t1" 'BEGIN { printf "outbox (200 commands): %.2fs\n", b - a }'
awk -v a="$t1" -v b="$t2" -v m="$MB" 'BEGIN { printf "send:                  %.2fs  %.1f MB/s end to end (pack, TLS upload, peer check and store)\n", b - a, m / (b - a) }'
echo "messages sent: $SENT, records stored for bob: $STORED"

echo "== peak memory: send with one 50 MB part =="
rm -f "$DOCS"/part*.bin
head -c $((50 << 20)) /dev/urandom > "$DOCS/big.bin"
"$CLI" outbox "$DOCS/big.bin" --to bob > /dev/null
printf 'x\r\n' > "$DOCS/small.txt"
RSS_BIG=$(/usr/bin/python3 -c '
import resource, subprocess, sys
subprocess.run([sys.argv[1], "send"], stdout=subprocess.DEVNULL, check=True)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$CLI")
"$CLI" outbox "$DOCS/small.txt" --to bob > /dev/null
RSS_SMALL=$(/usr/bin/python3 -c '
import resource, subprocess, sys
subprocess.run([sys.argv[1], "send"], stdout=subprocess.DEVNULL, check=True)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$CLI")
awk -v b="$RSS_BIG" -v s="$RSS_SMALL" 'BEGIN { printf "peak resident: %.1f MB with the 50 MB part, %.1f MB with a 3-byte part (difference %.1f MB)\n", b / 1024, s / 1024, (b - s) / 1024 }'
