#!/usr/bin/env bash
# Sets up, builds and runs every test: a normal build with warnings as errors,
# an AddressSanitizer + UndefinedBehaviorSanitizer build, a bounded fuzzing
# run, and the macOS cross-build when a macOS SDK is present.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
jobs=${KESTROVE_JOBS:-2}
fuzz_seconds=${KESTROVE_FUZZ_SECONDS:-60}

bash tools/setup.sh

run_suite() {  # name, extra cmake args...
  local name=$1
  shift
  echo "== $name build"
  cmake -S . -B "build-ci-$name" -DKESTROVE_WERROR=ON "$@" >/dev/null
  cmake --build "build-ci-$name" -j"$jobs"
  echo "== $name tests"
  (cd "build-ci-$name" && ctest --output-on-failure -j"$jobs" --timeout 300)
}

run_suite release -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== Node.js client tests (against the release build)"
(cd clients/node && npm ci --no-audit --no-fund && npm run build &&
  KESTROVE_BUILD_DIR="$here/build-ci-release" npm test)

ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite sanitize -DCMAKE_BUILD_TYPE=Debug -DKESTROVE_SANITIZE=ON

echo "== fuzzing the line protocol for ${fuzz_seconds}s"
CC=clang CXX=clang++ cmake -S . -B build-ci-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVE_SANITIZE=ON \
  -DKESTROVE_FUZZ=ON -DKESTROVE_PLATFORM=headless >/dev/null
cmake --build build-ci-fuzz -j"$jobs" --target kestrove_line_fuzzer
mkdir -p build-ci-fuzz/corpus
build-ci-fuzz/fuzz/kestrove_line_fuzzer -max_total_time="$fuzz_seconds" -max_len=8192 -print_final_stats=1 \
  build-ci-fuzz/corpus fuzz/corpus/lines 2>&1 | tail -n 12

echo "== macOS cross-build"
if [ -x tools/macos-cross-build.sh ] || [ -f tools/macos-cross-build.sh ]; then
  bash tools/macos-cross-build.sh
else
  echo "no cross-build script yet; skipped"
fi
echo "tools/test.sh: all passed"
