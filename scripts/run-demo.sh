#!/usr/bin/env bash
# Installs what is needed, builds the engine, creates the demo Hebrew installation and speaks a
# sentence through the engine service (events printed, demo.wav written).
set -euo pipefail
# --help prints the comment above.
case "${1:-}" in -h|--help) sed -n '2,/^set /p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;; esac
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=${RAVEK_BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVEK_TESTS=OFF
ninja -C "$BUILD" -j"$(nproc)"
RAVEK_BUILD_DIR="$BUILD" bash scripts/demo.sh
