#!/usr/bin/env bash
# Soak of the receive road (see scripts/soak_receive.py): N runs of plumadex-cli receive and
# file, killed at random moments, cut off mid-transfer and starved of disk, against a loopback
# Dovecot (POP3, with and without keep) and the loopback mail service; it ends by checking that
# every message is filed exactly once and none was deleted on a server unfiled.
#   scripts/soak_receive.sh [N=200] [more soak_receive.py options, e.g. --seed 7]
# Runs as root. BUILD_DIR (default build) holds plumadex-cli, built here when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS="${1:-200}"
shift || true
BUILD_DIR="${BUILD_DIR:-build}"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD_DIR" --target plumadex-cli -- -j2 >/dev/null
exec /usr/bin/python3 scripts/soak_receive.py --cli "$BUILD_DIR/src/plumadex-cli" --runs "$RUNS" "$@"
