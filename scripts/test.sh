#!/usr/bin/env bash
# Sets up, builds and runs every test: the plain build, then the tests again
# under AddressSanitizer+UndefinedBehaviorSanitizer and under ThreadSanitizer.
#   scripts/test.sh [--quick]    (--quick: the plain build only)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"

export QT_QPA_PLATFORM=offscreen

run_ctest() {  # build folder, label expression or ""
  local args=(--test-dir "$1" --output-on-failure -j "$(nproc)" --timeout 300)
  [ -n "$2" ] && args+=(-L "$2")
  ctest "${args[@]}"
}

if [ "${1:-}" != "--quick" ]; then
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
  "$top/scripts/build.sh" asan
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest "$top/build-asan" "unit|sim"
  echo "== ThreadSanitizer"
  "$top/scripts/build.sh" tsan
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest "$top/build-tsan" "unit|sim"
fi

echo "== All tests"
"$top/scripts/build.sh" plain
run_ctest "$top/build-plain" ""
