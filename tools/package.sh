#!/usr/bin/env bash
# Builds a release and writes what ships to dist/:
#   kestrove_VERSION_ARCH.deb                    the Debian package (CPack)
#   kestrove-VERSION-macos-universal.tar.gz      when a macOS SDK is present:
#       the universal binary (arm64 and x86_64), the manual page, README,
#       LICENSE and CHANGELOG.md
#
#   tools/package.sh [SDK_ROOT]
#
# SDK_ROOT defaults to $KESTROVE_MACOS_SDK, else /work/sdk/macos12/root.
# Build directories: build-package (Debian), build-macos and
# build-macos-x86_64 (tools/macos-cross-build.sh).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
sdk=${1:-${KESTROVE_MACOS_SDK:-/work/sdk/macos12/root}}
build=${KESTROVE_PACKAGE_BUILD_DIR:-$repo/build-package}
dist=$repo/dist
jobs=${KESTROVE_JOBS:-2}

rm -rf "$dist"
mkdir -p "$dist"

echo "== package: Release build for the Debian package"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTROVE_TESTS=OFF -DKESTROVE_WERROR=ON >/dev/null
cmake --build "$build" -j"$jobs"

# The version as CMake configured it: the project version.
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
if [[ -z "$version" ]]; then
  echo "package: no CPACK_PACKAGE_VERSION in $build/CPackConfig.cmake" >&2
  exit 1
fi

rm -rf "$build/cpack"
(cd "$build" && cpack -G DEB -B "$build/cpack")
deb="kestrove_${version}_$(dpkg --print-architecture).deb"
cp "$build/cpack/$deb" "$dist/"
echo "package: wrote dist/$deb"

macos="kestrove-${version}-macos-universal"
if [[ ! -f "$sdk/SDKSettings.json" ]]; then
  echo "package: no macOS SDK at $sdk; dist/$macos.tar.gz is skipped"
  exit 0
fi

echo "== package: universal macOS binary"
KESTROVE_MACOS_BUILD_DIR=${KESTROVE_MACOS_BUILD_DIR:-$repo/build-macos} bash "$repo/tools/macos-cross-build.sh" "$sdk"
macos_build=${KESTROVE_MACOS_BUILD_DIR:-$repo/build-macos}

stage="$build/stage"
rm -rf "$stage"
mkdir -p "$stage/$macos"
cp "$macos_build/universal/kestrove" "$macos_build/kestrove.1" "$repo/README.md" "$repo/LICENSE" \
  "$repo/CHANGELOG.md" "$stage/$macos/"
chmod 0755 "$stage/$macos/kestrove"
chmod 0644 "$stage/$macos/kestrove.1" "$stage/$macos/README.md" "$stage/$macos/LICENSE" "$stage/$macos/CHANGELOG.md"
# The same bytes from the same commit: times from the commit, no owner names.
stamp=${SOURCE_DATE_EPOCH:-$(git -C "$repo" log -1 --format=%ct 2>/dev/null || date +%s)}
tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$stamp" -C "$stage" -cf - "$macos" \
  | gzip -9n >"$dist/$macos.tar.gz"
echo "package: wrote dist/$macos.tar.gz"
