#!/usr/bin/env bash
# Cross-compiles and links the whole helper for arm64 macOS 12 with warnings
# as errors, then checks the result is a Mach-O arm64 executable with no
# undefined symbols. Skips (exit 0) when no SDK is present.
# Then does the same for x86_64, joins both slices into one universal binary
# with llvm-lipo and checks each slice of it again; every slice must carry
# the Info.plist, byte for byte, in its __TEXT,__info_plist section.
#
#   tools/macos-cross-build.sh [SDK_ROOT]
#
# SDK_ROOT defaults to $KESTROVE_MACOS_SDK, else /work/sdk/macos12/root.
# Build directory: $KESTROVE_MACOS_BUILD_DIR, else build-macos (arm64);
# the x86_64 slice is built in that directory's name plus -x86_64, and the
# universal binary is written to universal/kestrove in the arm64 directory.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
sdk=${1:-${KESTROVE_MACOS_SDK:-/work/sdk/macos12/root}}
build=${KESTROVE_MACOS_BUILD_DIR:-$repo/build-macos}
build_x86_64=${build}-x86_64

if [[ ! -f "$sdk/SDKSettings.json" ]]; then
  echo "macos-cross-build: no macOS SDK at $sdk; skipping"
  exit 0
fi

# A host LIBRARY_PATH would put Linux libraries on the Mach-O link line.
unset LIBRARY_PATH

generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi

build_slice() {  # arch, build directory
  cmake -S "$repo" -B "$2" "${generator[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/macos-cross.cmake" \
    -DKESTROVE_MACOS_SDK="$sdk" \
    -DKESTROVE_MACOS_ARCH="$1" \
    -DCMAKE_BUILD_TYPE=Release \
    -DKESTROVE_PLATFORM=macos \
    -DKESTROVE_TESTS=OFF \
    -DKESTROVE_WERROR=ON
  cmake --build "$2" -j2
}

nm=$(command -v llvm-nm-14 || command -v llvm-nm || true)
objdump=$(command -v llvm-objdump-14 || command -v llvm-objdump || true)
objcopy=$(command -v llvm-objcopy-14 || command -v llvm-objcopy || true)
lipo=$(command -v llvm-lipo-14 || command -v llvm-lipo || true)
if [[ -z "$nm" || -z "$objdump" || -z "$objcopy" || -z "$lipo" ]]; then
  echo "macos-cross-build: llvm-nm, llvm-objdump, llvm-objcopy and llvm-lipo are needed (Debian package llvm-14)" >&2
  exit 1
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

check_slice() {  # binary, arch, the Info.plist it must carry
  local binary=$1 arch=$2 plist=$3 cputype
  case $arch in
    arm64) cputype=ARM64 ;;
    x86_64) cputype=X86_64 ;;
  esac
  header=$("$objdump" --macho --private-header "$binary")
  if ! grep -Eq "MH_MAGIC_64 +$cputype .* EXECUTE " <<<"$header"; then
    echo "macos-cross-build: $binary is not a Mach-O $arch executable:" >&2
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
  # The identity codesign and the privacy settings read.
  rm -f "$scratch/info.plist"
  if ! "$objcopy" --dump-section "__TEXT,__info_plist=$scratch/info.plist" "$binary" "$scratch/copy" 2>/dev/null \
    || [[ ! -f "$scratch/info.plist" ]]; then
    echo "macos-cross-build: $binary has no __TEXT,__info_plist section" >&2
    exit 1
  fi
  if ! cmp -s "$scratch/info.plist" "$plist"; then
    echo "macos-cross-build: the __TEXT,__info_plist section of $binary differs from $plist" >&2
    exit 1
  fi
  # What the section holds, read back from the slice: identity, version and
  # LSUIElement (no Dock icon), as the packaging test checks the file.
  if ! python3 "$repo/tests/packaging/check_info_plist.py" "$scratch/info.plist" "$version" "$bundle_id"; then
    echo "macos-cross-build: the Info.plist in $binary fails its check" >&2
    exit 1
  fi
  echo "macos-cross-build: OK: $binary is a signed Mach-O $arch executable for macOS 12; $imports imported symbols, all bound to libraries; its __TEXT,__info_plist equals $plist and passes its check (LSUIElement true)"
}

build_slice arm64 "$build"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
bundle_id=$(sed -n 's/^set(KESTROVE_BUNDLE_ID \(.*\))$/\1/p' "$repo/cmake/packaging.cmake")
check_slice "$build/kestrove" arm64 "$build/Info.plist"
build_slice x86_64 "$build_x86_64"
check_slice "$build_x86_64/kestrove" x86_64 "$build_x86_64/Info.plist"
if ! cmp -s "$build/Info.plist" "$build_x86_64/Info.plist"; then
  echo "macos-cross-build: the two slices were configured with different Info.plist files" >&2
  exit 1
fi

universal="$build/universal/kestrove"
mkdir -p "$(dirname "$universal")"
"$lipo" -create -output "$universal" "$build/kestrove" "$build_x86_64/kestrove"
archs=$("$lipo" -archs "$universal")
if [[ "$(tr ' ' '\n' <<<"$archs" | sort | xargs)" != "arm64 x86_64" ]]; then
  echo "macos-cross-build: $universal holds [$archs], not arm64 and x86_64" >&2
  exit 1
fi
# Each slice of the universal binary is the slice that was built and checked.
for arch in arm64 x86_64; do
  "$lipo" -thin "$arch" -output "$scratch/kestrove-$arch" "$universal"
  check_slice "$scratch/kestrove-$arch" "$arch" "$build/Info.plist"
done
if ! cmp -s "$scratch/kestrove-arm64" "$build/kestrove" || ! cmp -s "$scratch/kestrove-x86_64" "$build_x86_64/kestrove"; then
  echo "macos-cross-build: a slice of $universal differs from the binary built for it" >&2
  exit 1
fi
identity=$(python3 -c 'import plistlib, sys
p = plistlib.load(open(sys.argv[1], "rb"))
print(p["CFBundleIdentifier"], p["CFBundleShortVersionString"])' "$build/Info.plist")
echo "macos-cross-build: OK: $universal is universal (arm64, x86_64); Info.plist: $identity"
