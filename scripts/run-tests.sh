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
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$BUILD"
ctest --output-on-failure -j"$(nproc)" --timeout 300
