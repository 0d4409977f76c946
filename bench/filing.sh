#!/usr/bin/env bash
# Filing speed: plumadex-cli file taking a burst of raw messages from the spool into the
# documents folder (split, filed with index entries, unread counts), beside procmail delivering
# the same messages into a Maildir, one procmail run per message as a mail server starts it.
#   bench/filing.sh [COUNT=10000]
# BUILD_DIR (default build) is the build folder; WORK holds the burst and the outputs (default a
# folder in /dev/shm when it has room, so the figures measure the programs rather than the disk;
# WORK=/tmp/... includes the disk). Not part of ./test.
set -euo pipefail
cd "$(dirname "$0")/.."
COUNT="${1:-10000}"
BUILD_DIR="${BUILD_DIR:-build}"
if [ -z "${WORK:-}" ]; then
  if [ -d /dev/shm ] && [ "$(df -Pm /dev/shm | awk 'NR==2 {print $4}')" -gt $((COUNT / 5 + 500)) ]; then
    WORK=/dev/shm/plumadex-bench-filing
  else
    WORK=/tmp/plumadex-bench-filing
  fi
fi
command -v procmail >/dev/null || scripts/install-deps.sh
[ -x /usr/bin/time ] || scripts/install-deps.sh

if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD_DIR" --target plumadex-cli make_mail_burst -- -j2 >/dev/null

mkdir -p "$WORK"
BURST="$WORK/burst-$COUNT"
[ -d "$BURST" ] || "$BUILD_DIR/bench/make_mail_burst" "$BURST" "$COUNT" 1
BYTES=$(cat "$BURST"/*.msg_ | wc -c)
LARGEST=$(stat -c %s "$BURST"/*.msg_ | sort -n | tail -1)
echo "burst: $COUNT messages, $BYTES bytes, largest $LARGEST bytes; work folder $WORK"

report() {  # name, seconds, peak RSS KB, files
  printf "%-10s %8.2f s  %8.0f messages/s  peak RSS %6.1f MB  %6d files\n" "$1" "$2" \
    "$(echo "$COUNT / $2" | bc -l)" "$(echo "$3 / 1024" | bc -l)" "$4"
}

# plumadex: the burst waits in the spool as the receivers leave it; filing is timed.
HOME_DIR="$WORK/home"
rm -rf "$HOME_DIR"
mkdir -p "$HOME_DIR/data/Inbox" "$HOME_DIR/Documents"
cp "$BURST"/*.msg_ "$HOME_DIR/data/Inbox/"
sync
PLUMADEX_HOME="$HOME_DIR" /usr/bin/time -f "%e %M" -o "$WORK/time-plumadex" \
  "$BUILD_DIR/src/plumadex-cli" file --quiet
read -r P_SECS P_RSS < <(tail -1 "$WORK/time-plumadex")
P_FILES=$(find "$HOME_DIR/Documents" -type f ! -name Plumadex.ini | wc -l)
LEFT=$(find "$HOME_DIR/data/Inbox" -type f ! -name '.*' | wc -l)

# procmail: one run per message, as an MTA delivers, into a Maildir (one-line rc file).
MAILDIR="$WORK/Maildir/"
rm -rf "$MAILDIR"
echo "DEFAULT=$MAILDIR" > "$WORK/procmailrc"
sync
cat > "$WORK/procmail-all.sh" <<SH
for f in "$BURST"/*.msg_; do procmail -m "$WORK/procmailrc" < "\$f" || exit 1; done
SH
/usr/bin/time -f "%e %M" -o "$WORK/time-procmail" bash "$WORK/procmail-all.sh"
read -r M_SECS M_RSS < <(tail -1 "$WORK/time-procmail")
M_FILES=$(find "$MAILDIR" -type f | wc -l)

report plumadex "$P_SECS" "$P_RSS" "$P_FILES"
report procmail "$M_SECS" "$M_RSS" "$M_FILES"
echo "plumadex / procmail: $(echo "$M_SECS / $P_SECS" | bc -l | cut -c1-5) x the messages per second; spool left: $LEFT files"
