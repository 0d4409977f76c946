#!/usr/bin/env bash
# GUI smoke benchmark: the desk lists a folder of N documents (default 100,000) as its first node
# and reports the time from selecting the node to the first paint of the grid. It runs offscreen,
# or under X (Xvfb with openbox) with "x11" as the second argument.
#
#   bench/gui_grid_smoke.sh [N] [offscreen|x11]   (PLUMADEX_BUILD_DIR selects the build)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/x_display.sh
BUILD="${PLUMADEX_BUILD_DIR:-build}"
N="${1:-100000}"
MODE="${2:-offscreen}"
home="$(mktemp -d)"
log="$home/desk.log"
pid=""
xpid=""
wmpid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  [ -n "$wmpid" ] && kill "$wmpid" 2>/dev/null || true
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null || true
  rm -rf "$home"
}
trap cleanup EXIT

"$BUILD/bench/make_folder" "$home" "$N" >/dev/null
# The generated folder becomes the documents folder itself, so the desk lists it first.
find "$home/Documents/Archive" -mindepth 1 -maxdepth 1 -exec mv -t "$home/Documents/" {} +
rmdir "$home/Documents/Archive"
# A user of their own mail accounts only: the start-up goes straight to the desk instead of
# stopping at the welcome window.
mkdir -p "$home/data"
[ -f "$home/data/User.ini" ] || printf '[User]\r\nOwn Accounts Only=1\r\n' >"$home/data/User.ini"

platform=offscreen
if [ "$MODE" = x11 ]; then
  start_x_display
  platform=xcb
fi
QT_QPA_PLATFORM=$platform QT_LOGGING_RULES="plumadex.grid.debug=true" PLUMADEX_HOME="$home" \
  "$BUILD/src/plumadex" >"$log" 2>&1 &
pid=$!
for _ in $(seq 1 600); do
  if grep -q "first paint" "$log" 2>/dev/null; then break; fi
  sleep 0.1
done
grep "first paint" "$log" || { echo "no paint seen"; cat "$log"; exit 1; }
echo "platform: $platform, $N documents"
[ -n "${SHOT:-}" ] && [ "$MODE" = x11 ] && import -window root "$SHOT" || true
