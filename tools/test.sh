#!/usr/bin/env bash
# Sets up, builds and runs every test: a normal build with warnings as errors,
# an AddressSanitizer + UndefinedBehaviorSanitizer build, a bounded fuzzing
# run, the macOS cross-build when a macOS SDK is present, the Windows
# cross-build and its tests under Wine, and the packages:
# the .deb, the Linux binaries in a Debian 11 root and (arm64) under qemu,
# and the npm packages installed from a private registry on 127.0.0.1.
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
  # The self-check reads the shipped file's slices from its bytes; read the
  # binary just linked, so the reader is tried on what a Mac will load.
  if [ -f build-macos/universal/kestrove ]; then
    KESTROVE_MACOS_BINARY=build-macos/universal/kestrove python3 -m unittest tests/selfcheck/test_macos_selfcheck_macho.py
  fi
else
  echo "no cross-build script yet; skipped"
fi
echo "== Windows cross-build and its tests under Wine"
bash tools/win32-cross-build.sh
# Built just now: a skip here (77) means the exe or Wine is missing, a failure.
# The place checks are skipped, visibly: a place under Wine can be undone
# after its read-back (docs/win32-backend.md); run them by hand without it.
KESTROVE_WINE_SKIP_PLACE=1 python3 tests/win32/test_wine.py

# The release as users get it: the .deb built, linted, installed, run, read
# and removed again; the macOS archive when an SDK is present.
check_package() {
  local sudo="" arch version deb macos reply path leftover=()
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  if dpkg-query -W -f='${Status}' kestrove 2>/dev/null | grep -q "ok installed" || [ -e /usr/bin/kestrove ]; then
    echo "package: kestrove is already installed on this machine; remove it first" >&2
    return 1
  fi
  bash tools/package.sh
  version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build-package/CPackConfig.cmake)
  arch=$(dpkg --print-architecture)
  deb="dist/kestrove_${version}_${arch}.deb"
  [ -n "$version" ] && [ -f "$deb" ] || { echo "package: no $deb" >&2; return 1; }
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || { echo "package: $deb is not version $version" >&2; return 1; }

  # The C library the .deb asks for is the one the binary was built against.
  local libc
  libc=$(dpkg-deb -f "$deb" Depends | sed -n 's/.*libc6 (>= \([0-9.]*\)).*/\1/p')
  if [ -z "$libc" ] || ! dpkg --compare-versions "$libc" le 2.31; then
    echo "package: $deb depends on libc6 (>= ${libc:-?}); the floor is 2.31" >&2
    return 1
  fi
  echo "package: $deb depends on $(dpkg-deb -f "$deb" Depends)"

  echo "== package: lintian"
  lintian --fail-on error --display-info "$deb"

  echo "== package: install, run, remove"
  # Minimal images may exclude /usr/share/man and /usr/share/doc from every
  # install (path-exclude in /etc/dpkg/dpkg.cfg.d); this package's own
  # files are included again so that the page is really installed.
  $sudo dpkg -i --path-include=/usr/share/man/man1/kestrove.1.gz --path-include='/usr/share/doc/kestrove/*' "$deb"
  [ "$(command -v kestrove)" = /usr/bin/kestrove ] || { echo "package: kestrove is not /usr/bin/kestrove on PATH" >&2; return 1; }
  reply=$(kestrove version)
  python3 -c 'import json, sys
reply = json.loads(sys.argv[1])
if reply.get("ok") is not True or reply.get("helper") != "kestrove" or reply.get("version") != sys.argv[2]:
    sys.exit(f"package: kestrove version replied {sys.argv[1]}, not version {sys.argv[2]}")' "$reply" "$version"
  path=$(man -w kestrove) || { echo "package: man -w kestrove finds no page" >&2; return 1; }
  [ "$path" = /usr/share/man/man1/kestrove.1.gz ] || { echo "package: man -w kestrove gives $path" >&2; return 1; }
  grep -q "kestrove $version" <<<"$(man -P cat kestrove 2>/dev/null)" || { echo "package: the page does not show kestrove $version" >&2; return 1; }
  grep -q '^License: Expat' /usr/share/doc/kestrove/copyright || { echo "package: no licence in /usr/share/doc/kestrove/copyright" >&2; return 1; }
  echo "package: installed; kestrove version says $version; man -w kestrove gives $path"
  $sudo dpkg -r kestrove
  if dpkg-query -W -f='${Status}' kestrove 2>/dev/null | grep -q "installed"; then
    echo "package: kestrove is still installed after dpkg -r" >&2
    return 1
  fi
  while read -r path; do
    [ -e "$path" ] && leftover+=("$path")
  done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -n 's|^\./|/|p' | grep -v '/$')
  [ -e /usr/share/doc/kestrove ] && leftover+=(/usr/share/doc/kestrove)
  if [ ${#leftover[@]} -gt 0 ] || command -v kestrove >/dev/null || man -w kestrove >/dev/null 2>&1; then
    echo "package: left behind after dpkg -r: ${leftover[*]:-} $(command -v kestrove || true)" >&2
    return 1
  fi
  echo "package: removed; nothing of it is left"

  macos="dist/kestrove-${version}-macos-universal.tar.gz"
  if [ -f "${KESTROVE_MACOS_SDK:-/work/sdk/macos12/root}/SDKSettings.json" ]; then
    local contents expected
    contents=$(tar -tzf "$macos" | sort | xargs)
    expected=$(printf "kestrove-$version-macos-universal/%s\n" "" kestrove kestrove.1 README.md LICENSE CHANGELOG.md | sort | xargs)
    [ "$contents" = "$expected" ] || { echo "package: $macos holds [$contents], not [$expected]" >&2; return 1; }
    tar -xzOf "$macos" "kestrove-$version-macos-universal/kestrove" | cmp -s - "${KESTROVE_MACOS_BUILD_DIR:-build-macos}/universal/kestrove" \
      || { echo "package: the binary in $macos is not the checked universal binary" >&2; return 1; }
    echo "package: $macos holds the checked universal binary, the page, README, LICENSE and CHANGELOG.md"
  elif [ -e "$macos" ]; then
    echo "package: $macos written without an SDK" >&2
    return 1
  fi
}
echo "== package"
check_package

# The Linux helpers where the oldest supported systems are: the x86_64 one in
# the Debian 11 root (chroot), the aarch64 one under qemu-user, both against
# a throwaway X desktop. tools/package.sh has checked their symbol versions.
echo "== Linux binaries in Debian 11 and under qemu"
python3 tools/check-glibc-floor.py --max 2.31 build-package/kestrove build-package-arm64/kestrove
python3 tools/linux-compat-test.py \
  --x64 build-package/kestrove --x64-root "$(bash tools/bullseye-root.sh amd64)" \
  --arm64 build-package-arm64/kestrove --arm64-root "$(bash tools/bullseye-root.sh arm64)"

# The npm packages installed as users install them, from a private registry
# on 127.0.0.1 (verdaccio, from tools/npm-registry).
echo "== npm packages from a private registry"
(cd tools/npm-registry && npm ci --no-audit --no-fund)
python3 tools/npm-install-test.py dist/npm

echo "tools/test.sh: all passed"
