#!/usr/bin/env bash
# The address map over 20,000 contacts: build it from the Contacts folder's index and resolve
# 10,000 addresses, side by side in one run with the floor, a plain line reader of the same
# vCard files (and, for scale, reading every card into a record).
#
#   bench/contacts.sh           environment: PLUMADEX_BUILD_DIR (build), REPS (5)
#
# Goal: building and resolving within 3x of the floor.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${PLUMADEX_BUILD_DIR:-build}"
REPS="${REPS:-5}"
ninja -C "$BUILD_DIR" -j2 bench_contacts >/dev/null
"$BUILD_DIR/bench/bench_contacts" --benchmark_repetitions="$REPS" --benchmark_report_aggregates_only=true
