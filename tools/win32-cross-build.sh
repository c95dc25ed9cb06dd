#!/usr/bin/env bash
# Cross-compiles the Windows helper with mingw-w64, statically, with warnings
# as errors, and prints the path of the executable.
#
#   tools/win32-cross-build.sh
#
# Build directory: $KESTROVE_WIN32_BUILD_DIR, else build-win32.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTROVE_WIN32_BUILD_DIR:-$repo/build-win32}

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  apt-get install -y --no-install-recommends g++-mingw-w64-x86-64-posix >&2
fi

generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S "$repo" -B "$build" "${generator[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKESTROVE_TESTS=OFF -DKESTROVE_WERROR=ON >&2
cmake --build "$build" -j2 >&2

exe=$build/kestrove.exe
if [[ ! -f $exe ]]; then
  echo "win32-cross-build: $exe was not built" >&2
  exit 1
fi
echo "$exe"
