#!/usr/bin/env bash
# Sets up, builds and runs every test: the plain build with all its tests and
# the check that the set-up installs everything the build reads, then the unit
# and simulator tests again under AddressSanitizer+UndefinedBehaviorSanitizer
# and under ThreadSanitizer. Every stage runs even when an earlier one failed;
# the end lists each stage's result, and the exit status is non-zero when any
# of them failed.
#   scripts/test.sh [--quick]    (--quick: the plain build only)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh" || { echo "test: set-up failed" >&2; exit 1; }

export QT_QPA_PLATFORM=offscreen

run_ctest() {  # build folder, label expression or ""
  local args=(--test-dir "$1" --output-on-failure -j "$(nproc)" --timeout 300)
  [ -n "$2" ] && args+=(-L "$2")
  ctest "${args[@]}"
}

stages=() results=()
stage() {  # name, command...
  local name=$1 start=$SECONDS status
  shift
  echo "== $name"
  "$@"
  status=$?
  stages+=("$name")
  if [ $status -eq 0 ]; then
    results+=("passed ($((SECONDS - start)) s)")
  else
    results+=("FAILED (exit $status, $((SECONDS - start)) s)")
  fi
}

plain_tests() {
  "$top/scripts/build.sh" plain && run_ctest "$top/build-plain" ""
}
packages_check() {
  /usr/bin/python3 "$top/tools/check_packages.py" "$top/build-plain"
}
asan_tests() {
  "$top/scripts/build.sh" asan &&
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      run_ctest "$top/build-asan" "unit|sim"
}
tsan_tests() {
  "$top/scripts/build.sh" tsan &&
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest "$top/build-tsan" "unit|sim"
}

stage "All tests (plain build)" plain_tests
stage "Packages the build uses come from the set-up" packages_check
if [ "${1:-}" != "--quick" ]; then
  stage "AddressSanitizer + UndefinedBehaviorSanitizer" asan_tests
  stage "ThreadSanitizer" tsan_tests
fi

echo
echo "== Results"
failed=0
for i in "${!stages[@]}"; do
  printf '%-50s %s\n' "${stages[$i]}" "${results[$i]}"
  case "${results[$i]}" in FAILED*) failed=1 ;; esac
done
exit $failed
