#!/usr/bin/env bash
# Builds a release and writes what ships to dist/:
#   kestrove_VERSION_ARCH.deb                    the Debian package (CPack)
#   kestrove-VERSION-macos-universal.tar.gz      when a macOS SDK is present:
#       the universal binary (arm64 and x86_64), the manual page, README,
#       LICENSE and CHANGELOG.md
#   npm/kestrove-VERSION.tgz                     the Node.js client
#   npm/kestrove-linux-x64-gnu-VERSION.tgz       its platform packages, each
#   npm/kestrove-linux-arm64-gnu-VERSION.tgz     only bin/kestrove, a README
#   npm/kestrove-darwin-universal-VERSION.tgz    and the licence (the macOS
#   npm/kestrove-win32-x64-VERSION.tgz           one when an SDK is present;
#                                                the Windows one holds
#                                                bin/kestrove.exe)
#   kestrove-VERSION-win32-x64.zip               kestrove.exe, README, LICENSE
#                                                (tools/win32-cross-build.sh,
#                                                when it is there)
#
#   tools/package.sh [SDK_ROOT]
#
# The Linux binaries are built against Debian 11 roots (tools/bullseye-root.sh)
# so that they start on glibc 2.31 and later; the aarch64 one with Debian's
# cross compiler (g++-aarch64-linux-gnu). The version is the one of
# project() in CMakeLists.txt, written into every package here.
#
# SDK_ROOT defaults to $KESTROVE_MACOS_SDK, else /work/sdk/macos12/root.
# Build directories: build-package (Linux x86_64 and the .deb),
# build-package-arm64, build-macos and build-macos-x86_64
# (tools/macos-cross-build.sh).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
sdk=${1:-${KESTROVE_MACOS_SDK:-/work/sdk/macos12/root}}
build=${KESTROVE_PACKAGE_BUILD_DIR:-$repo/build-package}
dist=$repo/dist
jobs=${KESTROVE_JOBS:-2}

rm -rf "$dist"
mkdir -p "$dist"

build_linux() {  # arch (x86_64, aarch64), Debian architecture, build directory
  local root
  root=$(bash "$repo/tools/bullseye-root.sh" "$2")
  echo "== package: Release build for Linux $1 against $root"
  cmake -S "$repo" -B "$3" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/linux-bullseye.cmake" -DKESTROVE_LINUX_ARCH="$1" \
    -DKESTROVE_BULLSEYE_ROOT="$root" -DCMAKE_BUILD_TYPE=Release -DKESTROVE_TESTS=OFF -DKESTROVE_WERROR=ON >/dev/null
  cmake --build "$3" -j"$jobs"
  python3 "$repo/tools/check-glibc-floor.py" --max 2.31 --root "$root" "$3/kestrove"
}
build_linux x86_64 amd64 "$build"
arm64_build=${KESTROVE_PACKAGE_ARM64_BUILD_DIR:-$repo/build-package-arm64}
build_linux aarch64 arm64 "$arm64_build"

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

# An npm package of one helper binary: bin/kestrove (kestrove.exe for
# Windows), a README, the licence, and os/cpu/libc so that npm installs it
# only where it runs.
npm_stage=$build/npm
rm -rf "$npm_stage"
mkdir -p "$dist/npm"
platform_package() {  # name (after @kestrove/), binary, strip program, description, os, cpus, libc or "", [file]
  local name=$1 binary=$2 strip=$3 what=$4 os=$5 cpus=$6 libc=$7 file=${8:-kestrove} dir=$npm_stage/$1
  mkdir -p "$dir/bin"
  cp "$binary" "$dir/bin/$file"
  [[ -z $strip ]] || "$strip" --strip-unneeded "$dir/bin/$file"
  chmod 0755 "$dir/bin/$file"
  cp "$repo/LICENSE" "$dir/LICENSE"
  cat >"$dir/README.md" <<README
# @kestrove/$name

The kestrove helper $version for $what, as the Node.js client \`kestrove\`
installs it: npm picks this package on matching systems only, through the
client's optional dependencies. Install \`kestrove\`, not this package.

It holds one executable, \`bin/$file\`; the client finds it by itself.
See the client's README for the protocol and for Electron apps (unpack it
from app.asar).
README
  python3 - "$dir/package.json" "$name" "$version" "$what" "$os" "$cpus" "$libc" "$file" <<'PY'
import json, sys
path, name, version, what, os_name, cpus, libc, file = sys.argv[1:]
manifest = {
    "name": f"@kestrove/{name}",
    "version": version,
    "description": f"The kestrove window helper for {what}",
    "license": "MIT",
    "os": [os_name],
    "cpu": cpus.split(","),
    **({"libc": [libc]} if libc else {}),
    "files": [f"bin/{file}"],
    "preferUnplugged": True,
}
with open(path, "w") as out:
    json.dump(manifest, out, indent=2)
    out.write("\n")
PY
  (cd "$dir" && npm pack --silent --pack-destination "$dist/npm" >/dev/null)
  echo "package: wrote dist/npm/kestrove-$name-$version.tgz"
}
# Every platform package, written or not here: the client lists them all.
platform_packages=(darwin-universal linux-arm64-gnu linux-x64-gnu win32-x64)
platform_package linux-x64-gnu "$build/kestrove" strip "Linux x64 (glibc 2.31 or later)" linux x64 glibc
platform_package linux-arm64-gnu "$arm64_build/kestrove" aarch64-linux-gnu-strip "Linux arm64 (glibc 2.31 or later)" linux arm64 glibc

# The Windows helper: a zip as Windows users unpack it, and its npm package.
stamp=${SOURCE_DATE_EPOCH:-$(git -C "$repo" log -1 --format=%ct 2>/dev/null || date +%s)}
windows="kestrove-${version}-win32-x64"
if [[ -f "$repo/tools/win32-cross-build.sh" ]]; then
  echo "== package: the Windows helper"
  bash "$repo/tools/win32-cross-build.sh"
  exe=$repo/build-win32/kestrove.exe
  [[ -f $exe ]] || { echo "package: the Windows cross-build left no $exe" >&2; exit 1; }
  win_stage=$build/stage-win32
  rm -rf "$win_stage"
  mkdir -p "$win_stage/$windows"
  cp "$exe" "$repo/README.md" "$repo/LICENSE" "$win_stage/$windows/"
  x86_64-w64-mingw32-strip --strip-unneeded "$win_stage/$windows/kestrove.exe"
  # The same bytes from the same commit: the commit's time on every entry,
  # sorted names, no extra attributes.
  touch -d "@$stamp" "$win_stage/$windows" "$win_stage/$windows"/*
  (cd "$win_stage" && TZ=UTC zip -q -X -D -9 "$dist/$windows.zip" "$windows/kestrove.exe" "$windows/LICENSE" \
    "$windows/README.md")
  echo "package: wrote dist/$windows.zip"
  platform_package win32-x64 "$exe" x86_64-w64-mingw32-strip "Windows 10 and 11 (x64)" win32 x64 "" kestrove.exe
else
  echo "package: no tools/win32-cross-build.sh; dist/$windows.zip and @kestrove/win32-x64 are skipped"
fi

# The client, built, with this version and its platform packages pinned to it.
echo "== package: the Node.js client"
(cd "$repo/clients/node" && npm ci --no-audit --no-fund --silent && npm run build --silent)
client_stage=$npm_stage/kestrove
mkdir -p "$client_stage"
cp -R "$repo/clients/node/package.json" "$repo/clients/node/README.md" "$repo/clients/node/dist" \
  "$repo/clients/node/src" "$repo/clients/node/examples" "$client_stage/"
cp "$repo/LICENSE" "$client_stage/LICENSE"
python3 - "$client_stage/package.json" "$version" "${platform_packages[*]}" <<'PY'
import json, sys
path, version, names = sys.argv[1:]
with open(path) as f:
    manifest = json.load(f)
manifest["version"] = version
# Listed here, not in the checkout's package.json: packages that exist only
# once released would make `npm ci` fail in every checkout.
manifest["optionalDependencies"] = {f"@kestrove/{name}": version for name in names.split()}
with open(path, "w") as out:
    json.dump(manifest, out, indent=2)
    out.write("\n")
PY
# Built above in the checkout; the stage has no sources to build from, so
# the client's prepack build is not run again here.
(cd "$client_stage" && npm pack --ignore-scripts --silent --pack-destination "$dist/npm" >/dev/null)
echo "package: wrote dist/npm/kestrove-$version.tgz"

macos="kestrove-${version}-macos-universal"
if [[ ! -f "$sdk/SDKSettings.json" ]]; then
  echo "package: no macOS SDK at $sdk; dist/$macos.tar.gz and @kestrove/darwin-universal are skipped"
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
tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$stamp" -C "$stage" -cf - "$macos" \
  | gzip -9n >"$dist/$macos.tar.gz"
echo "package: wrote dist/$macos.tar.gz"

platform_package darwin-universal "$macos_build/universal/kestrove" "" "macOS 12 or later (arm64 and x86_64)" darwin arm64,x64 ""
