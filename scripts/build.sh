#!/usr/bin/env bash
# Configures and builds one flavour of the tree.
#   scripts/build.sh [plain|asan|tsan]   (default plain; build folder build-<flavour>)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-plain}
# The sanitizer builds optimise less and keep only line tables: they compile in
# about half the time, and their reports still name file and line.
sanitizer_flags=("-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
                 "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
case "$flavour" in
  plain) options=() ;;
  asan)  options=(-DPELU_SANITIZE=ON -DPELU_BUILD_BENCH=OFF "${sanitizer_flags[@]}") ;;
  tsan)  options=(-DPELU_TSAN=ON -DPELU_BUILD_BENCH=OFF "${sanitizer_flags[@]}") ;;
  *) echo "build: unknown flavour $flavour" >&2; exit 2 ;;
esac
build="$top/build-$flavour"
# ccache keeps compiled objects between builds and between checkouts of the
# tree (paths are taken relative to the top of each checkout).
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$top" CCACHE_NOHASHDIR=1
  options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
