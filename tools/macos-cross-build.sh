#!/usr/bin/env bash
# Cross-compiles and links the whole helper for arm64 macOS 12 with warnings
# as errors, then checks the result is a Mach-O arm64 executable with no
# undefined symbols. Skips (exit 0) when no SDK is present.
#
#   tools/macos-cross-build.sh [SDK_ROOT]
#
# SDK_ROOT defaults to $KESTROVE_MACOS_SDK, else /work/sdk/macos12/root.
# Build directory: $KESTROVE_MACOS_BUILD_DIR, else build-macos.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
sdk=${1:-${KESTROVE_MACOS_SDK:-/work/sdk/macos12/root}}
build=${KESTROVE_MACOS_BUILD_DIR:-$repo/build-macos}

if [[ ! -f "$sdk/SDKSettings.json" ]]; then
  echo "macos-cross-build: no macOS SDK at $sdk; skipping"
  exit 0
fi

# A host LIBRARY_PATH would put Linux libraries on the Mach-O link line.
unset LIBRARY_PATH

generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi

cmake -S "$repo" -B "$build" "${generator[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/macos-cross.cmake" \
  -DKESTROVE_MACOS_SDK="$sdk" \
  -DCMAKE_BUILD_TYPE=Release \
  -DKESTROVE_PLATFORM=macos \
  -DKESTROVE_TESTS=OFF \
  -DKESTROVE_WERROR=ON
cmake --build "$build" -j2

binary="$build/kestrove"
nm=$(command -v llvm-nm-14 || command -v llvm-nm || true)
objdump=$(command -v llvm-objdump-14 || command -v llvm-objdump || true)
if [[ -z "$nm" || -z "$objdump" ]]; then
  echo "macos-cross-build: llvm-nm and llvm-objdump are needed (Debian package llvm-14)" >&2
  exit 1
fi

header=$("$objdump" --macho --private-header "$binary")
if ! grep -Eq 'MH_MAGIC_64 +ARM64 .* EXECUTE ' <<<"$header"; then
  echo "macos-cross-build: $binary is not a Mach-O arm64 executable:" >&2
  echo "$header" >&2
  exit 1
fi
if ! grep -q NOUNDEFS <<<"$header"; then
  echo "macos-cross-build: $binary lacks the NOUNDEFS flag" >&2
  exit 1
fi
# Apple silicon refuses to run code without a signature; lld signs ad hoc.
loads=$("$objdump" --macho --private-headers "$binary")
if ! grep -q LC_CODE_SIGNATURE <<<"$loads"; then
  echo "macos-cross-build: $binary has no code signature" >&2
  exit 1
fi
if ! grep -Eq 'minos 12\.0$' <<<"$loads"; then
  echo "macos-cross-build: $binary does not target macOS 12" >&2
  exit 1
fi
# Every imported symbol must be bound to a library; one without "(from ...)"
# would be looked up at run time and could be missing.
unbound=$("$nm" -m -u "$binary" | grep -v '(from ' || true)
if [[ -n "$unbound" ]]; then
  echo "macos-cross-build: symbols with no library to come from:" >&2
  echo "$unbound" >&2
  exit 1
fi
imports=$("$nm" -m -u "$binary" | wc -l)
echo "macos-cross-build: OK: $binary is a signed Mach-O arm64 executable for macOS 12; $imports imported symbols, all bound to libraries"
