#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a given time on its seed
# corpus; prints executions per second (wall clock and per processor second)
# and findings per target.
#   scripts/fuzz.sh [seconds per target, default 60] [target ...]
# Without clang it says so and does nothing. Crashing inputs are kept in
# build-fuzz/findings/<target>/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is not installed; the fuzz targets are skipped"
  exit 0
fi
# clang without its sanitizer and libFuzzer run-times cannot build them either.
probe=$(mktemp -d)
printf 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }\n' >"$probe/p.cpp"
if ! clang++ -fsanitize=fuzzer,address,undefined "$probe/p.cpp" -o "$probe/p" 2>/dev/null; then
  rm -rf "$probe"
  echo "fuzz: clang++ has no libFuzzer or sanitizer run-time (libclang-rt-*-dev); the fuzz targets are skipped"
  exit 0
fi
rm -rf "$probe"
build="$top/build-fuzz"
options=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$top" CCACHE_NOHASHDIR=1
  options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DPELU_FUZZ=ON \
  -DPELU_BUILD_TESTS=OFF -DPELU_BUILD_BENCH=OFF "${options[@]}" >/dev/null
cmake --build "$build" --target pelu_fuzzers -j "$(nproc)"

targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fits_earlier fits_viewer bmp wv replies uir script)
seeds="$build/seeds"
rm -rf "$seeds"
python3 "$top/fuzz/make_seeds.py" "$seeds"

# The resource files are larger than libFuzzer's default input length.
declare -A max_len=([uir]=32768 [script]=4096)
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  findings="$build/findings/$t"
  mkdir -p "$corpus" "$findings"
  cp -n "$seeds/$t"/* "$corpus"/ 2>/dev/null || true
  log="$build/findings/$t.log"
  set +e
  # The processor time the fuzzer used: on a busy machine executions per
  # processor second say what the harness costs, executions per second
  # (wall clock) what the machine gave it.
  TIMEFORMAT='%U %S'
  { time (cd "$findings" && ASAN_OPTIONS=detect_leaks=0 "$build/fuzz/${t}_fuzz" "$corpus" \
      -max_total_time="$seconds" -max_len="${max_len[$t]:-8192}" -print_final_stats=1 \
      -timeout=10 >"$log" 2>&1) ; } 2>"$build/findings/$t.cpu"
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cpu=$(awk '{ print $1 + $2 }' "$build/findings/$t.cpu")
  per_cpu=$(awk -v r="${runs:-0}" -v c="$cpu" 'BEGIN { if (c > 0) printf "%d", r / c; else print "?" }')
  found=$(find "$findings" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  printf 'fuzz: %-13s %12s executions  %8s exec/s  %8s exec per CPU s  %3d findings\n' \
    "$t" "${runs:-?}" "${rate:-?}" "$per_cpu" "$found"
done
