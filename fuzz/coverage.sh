#!/usr/bin/env bash
# What a bounded run of the line fuzzer reaches: branch coverage of the core
# files it is meant to drive, from clang's source-based coverage.
#
#   fuzz/coverage.sh [SECONDS] [SOURCE_TREE]
#
# 1. Builds the fuzzer as tools/test.sh does (clang, sanitizers, headless)
#    and fuzzes for SECONDS (default 60) from the seeds into a fresh corpus.
# 2. Builds the same fuzzer with -fprofile-instr-generate -fcoverage-mapping
#    (no sanitizers) and replays the seeds and that corpus once (-runs=0).
# 3. llvm-profdata merge, then llvm-cov report for the files below.
# SOURCE_TREE (default: this repository) lets an older tree be measured the
# same way; its seeds are the folders under fuzz/corpus. Work goes to
# $KESTROVE_COVERAGE_DIR (default SOURCE_TREE/build-coverage).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
src=$(cd "${2:-$here}" && pwd)
work=${KESTROVE_COVERAGE_DIR:-$src/build-coverage}
max_len=${KESTROVE_FUZZ_MAX_LEN:-8192}
jobs=${KESTROVE_JOBS:-2}
seeds=("$src"/fuzz/corpus/*/)

CC=clang CXX=clang++ cmake -S "$src" -B "$work/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVE_SANITIZE=ON \
  -DKESTROVE_FUZZ=ON -DKESTROVE_PLATFORM=headless >/dev/null
cmake --build "$work/fuzz" -j"$jobs" --target kestrove_line_fuzzer >/dev/null
rm -rf "$work/corpus" && mkdir -p "$work/corpus"
"$work/fuzz/fuzz/kestrove_line_fuzzer" -max_total_time="$seconds" -max_len="$max_len" -print_final_stats=1 \
  "$work/corpus" "${seeds[@]}" 2>&1 | grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^Done' || true

CC=clang CXX=clang++ cmake -S "$src" -B "$work/cov" -DCMAKE_BUILD_TYPE=Debug -DKESTROVE_FUZZ=ON \
  -DKESTROVE_PLATFORM=headless -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" \
  -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" >/dev/null
cmake --build "$work/cov" -j"$jobs" --target kestrove_line_fuzzer >/dev/null
rm -f "$work"/cov-*.profraw
LLVM_PROFILE_FILE="$work/cov-%p.profraw" "$work/cov/fuzz/kestrove_line_fuzzer" -runs=0 "$work/corpus" "${seeds[@]}" \
  >/dev/null 2>&1
llvm-profdata merge -sparse -o "$work/cov.profdata" "$work"/cov-*.profraw
echo "corpus: $(find "$work/corpus" -type f | wc -l) inputs"
files=()
for file in windows/place_command.cc observation/observe_command.cc observation/observation.cc \
  observation/window_events.cc escwatch/esc_commands.cc escwatch/esc_hold.cc app/line_protocol.cc \
  app/line_splitter.cc; do
  if [ -f "$src/src/$file" ]; then files+=("$src/src/$file"); fi
done
llvm-cov report "$work/cov/fuzz/kestrove_line_fuzzer" -instr-profile="$work/cov.profdata" -show-branch-summary \
  "${files[@]}"
