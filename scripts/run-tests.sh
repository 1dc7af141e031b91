#!/usr/bin/env bash
# Installs what is needed, builds the tests with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs them with ctest.
set -euo pipefail
# --help prints the comment above.
case "${1:-}" in -h|--help) sed -n '2,/^set /p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;; esac
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=${RAVEK_TEST_BUILD_DIR:-build-test}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRAVEK_SANITIZE=ON -DRAVEK_TESTS=ON
ninja -C "$BUILD" -j"$(nproc)"
# The sanitizer options and leak suppressions are compiled into each program (cmake/SanitizerDefaults.cpp).
cd "$BUILD"
ctest --output-on-failure -j"$(nproc)" --timeout 300
