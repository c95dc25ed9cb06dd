#!/usr/bin/env bash
# Installs what building, testing and the demo need, from Debian's packages.
# Safe to run again: it only calls apt-get when something is missing.
# Usage: tools/setup.sh [demo]   (demo: only what tools/run-demo.sh builds and runs)
set -euo pipefail

packages=(
  # build
  cmake make gcc g++ pkg-config libutf8proc-dev
  # tests, benchmarks, fuzzing
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev clang lld llvm libclang-rt-dev
  hyperfine bc python3 git
  # the X11 backend and its real-desktop tests
  libxcb1-dev libxcb-randr0-dev libxcb-xinput-dev libxcb-xkb-dev libxcb-res0-dev
  xvfb openbox jwm xfwm4 dbus-daemon dbus-bin x11-apps xterm x11-utils x11-xserver-utils xdotool wmctrl xauth
  # the managers most desktops run, and header-bar windows read over AT-SPI
  mutter kwin-x11 kwin-style-breeze i3-wm metacity libsystemd-dev
  at-spi2-core libatk-adaptor python3-gi gir1.2-gtk-3.0 gir1.2-gtk-4.0 locales
  # packaging: the .deb (dpkg-shlibdeps), its checks, the man page
  dpkg-dev lintian man-db groff-base
  # the Linux release for older systems: Debian 11 roots (tools/bullseye-root.sh)
  # as sysroots, the aarch64 cross compiler, and the arm64 binary run under
  # qemu-user in the tests
  debootstrap g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user-static
  # the Windows helper, cross-built (tools/win32-cross-build.sh) with
  # mingw-w64 (static, posix threads); Wine to run it and its test app on the
  # X test desktop; zip for its archive
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64 zip
)

# The demo: the helper built with the X11 backend (no tests), one throwaway
# desktop with openbox and an xterm. A part of the list above.
demo_packages=(
  cmake make gcc g++ pkg-config libutf8proc-dev
  libxcb1-dev libxcb-randr0-dev libxcb-xinput-dev libxcb-xkb-dev libxcb-res0-dev libsystemd-dev
  xvfb openbox xterm x11-utils x11-xserver-utils xdotool wmctrl python3
)

case "${1:-}" in
  "") ;;
  demo) packages=("${demo_packages[@]}") ;;
  *) echo "usage: tools/setup.sh [demo]" >&2; exit 2 ;;
esac

# The Node.js client (clients/node) needs node 18 or later with npm; one
# already there is kept, so a newer node is not replaced by Debian's.
node_major=$(node -p 'process.versions.node.split(".")[0]' 2>/dev/null || echo 0)
if [ "${1:-}" != demo ] && { ! command -v npm >/dev/null || [ "$node_major" -lt 18 ]; }; then
  packages+=(nodejs npm)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: everything is installed"
  exit 0
fi
echo "setup: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
