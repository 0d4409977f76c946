#!/usr/bin/env bash
# Walks the journeys under a real X server with a window manager and keeps a screenshot of
# each step: offscreen runs cannot see stacking, focus or clipped dialogs.
#   tests/journeys/walk_under_x.sh [build dir] [shots dir] [gtest filter]
# Needs Xvfb, openbox and ImageMagick's import (apt-get install xvfb openbox imagemagick).
set -euo pipefail
build="${1:-build}"
shots="${2:-/tmp/plumadex-journey-shots}"
filter="${3:-*}"
mkdir -p "$shots"
display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$wm" "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 50); do DISPLAY="$display" xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
DISPLAY="$display" openbox >/dev/null 2>&1 &
wm=$!
sleep 1
DISPLAY="$display" QT_QPA_PLATFORM=xcb PLUMADEX_JOURNEY_SHOTS="$shots" \
  "$build/tests/test_journeys" --gtest_filter="$filter" || true
echo "screenshots in $shots"
