#!/usr/bin/env bash
# Import speed: plumadex-cli import mbox taking one mailbox of COUNT messages end to end (split
# into the spool, filed with index entries and unread counts), its split alone (--dry-run), and
# Python's mailbox module splitting the same mailbox into one file per message.
#   bench/import.sh [COUNT=10000]
# BUILD_DIR (default build) is the build folder; WORK (default /dev/shm or /tmp) holds the files.
set -euo pipefail
cd "$(dirname "$0")/.."
COUNT="${1:-10000}"
BUILD_DIR="${BUILD_DIR:-build}"
WORK="${WORK:-$( [ -d /dev/shm ] && echo /dev/shm || echo /tmp )/plumadex-bench-import}"
[ -x /usr/bin/time ] || scripts/install-deps.sh
cmake --build "$BUILD_DIR" --target plumadex-cli make_mail_burst -- -j2 >/dev/null

mkdir -p "$WORK"
BURST="$WORK/burst-$COUNT"
[ -d "$BURST" ] || "$BUILD_DIR/bench/make_mail_burst" "$BURST" "$COUNT" 1
MBOX="$WORK/mbox-$COUNT"
[ -f "$MBOX" ] || /usr/bin/python3 - "$BURST" "$MBOX" <<'PY'
import mailbox, os, sys
box = mailbox.mbox(sys.argv[2])
box.lock()
for name in sorted(os.listdir(sys.argv[1])):
    with open(os.path.join(sys.argv[1], name), 'rb') as f:
        box.add(f.read())
box.flush(); box.unlock(); box.close()
PY
echo "mailbox: $COUNT messages, $(stat -c %s "$MBOX") bytes; work folder $WORK"

# Wall time depends on what else the machine runs; the CPU time (user + system) beside it does
# much less, so both are given.
report() {  # name, seconds, peak RSS KB, user seconds, system seconds
  printf "%-22s %8.2f s  (CPU %7.2f s)  %8.0f messages/s  peak RSS %6.1f MB\n" "$1" "$2" "$(echo "$4 + $5" | bc -l)" \
    "$(echo "$COUNT / $2" | bc -l)" "$(echo "$3 / 1024" | bc -l)"
}

HOME_DIR="$WORK/home"
rm -rf "$HOME_DIR"
sync
PLUMADEX_HOME="$HOME_DIR" /usr/bin/time -f "%e %M %U %S" -o "$WORK/t-dry" "$BUILD_DIR/src/plumadex-cli" import mbox "$MBOX" --dry-run >/dev/null
read -r S R U Y < <(tail -1 "$WORK/t-dry"); report "plumadex split only" "$S" "$R" "$U" "$Y"
PLUMADEX_HOME="$HOME_DIR" /usr/bin/time -f "%e %M %U %S" -o "$WORK/t-imp" "$BUILD_DIR/src/plumadex-cli" import mbox "$MBOX" >"$WORK/out-imp"
read -r S R U Y < <(tail -1 "$WORK/t-imp"); report "plumadex import+file" "$S" "$R" "$U" "$Y"
grep -E "^Imported" "$WORK/out-imp"
PLUMADEX_HOME="$HOME_DIR" /usr/bin/time -f "%e %M %U %S" -o "$WORK/t-again" "$BUILD_DIR/src/plumadex-cli" import mbox "$MBOX" >"$WORK/out-again"
read -r S R U Y < <(tail -1 "$WORK/t-again"); report "plumadex second import" "$S" "$R" "$U" "$Y"
grep -E "^Imported" "$WORK/out-again"

rm -rf "$WORK/py-split"; mkdir -p "$WORK/py-split"
/usr/bin/time -f "%e %M %U %S" -o "$WORK/t-py" /usr/bin/python3 - "$MBOX" "$WORK/py-split" <<'PY'
import mailbox, os, sys
for i, m in enumerate(mailbox.mbox(sys.argv[1])):
    with open(os.path.join(sys.argv[2], '%d.eml' % i), 'wb') as f:
        f.write(m.as_bytes())
PY
read -r S R U Y < <(tail -1 "$WORK/t-py"); report "python mailbox split" "$S" "$R" "$U" "$Y"
