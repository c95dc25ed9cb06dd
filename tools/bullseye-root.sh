#!/usr/bin/env bash
# Makes (once) a Debian 11 root for one architecture: the oldest C library
# the Linux helper supports, with the headers and archives its X11 build
# links. It is the sysroot of the release build and, for amd64, the system
# the release binary is run in (chroot) to show it starts there.
#
#   tools/bullseye-root.sh amd64|arm64      prints the root's path
#
# The root is kept in $KESTROVE_BULLSEYE_CACHE (default
# /var/cache/kestrove/bullseye) as ARCH/, and remade from scratch when it
# is missing or was made from another package list. The packages come from
# the Debian mirror apt already uses.
set -euo pipefail

arch=${1:?usage: bullseye-root.sh amd64|arm64}
case $arch in
  amd64 | arm64) ;;
  *) echo "bullseye-root: no root for architecture $arch" >&2; exit 2 ;;
esac
cache=${KESTROVE_BULLSEYE_CACHE:-/var/cache/kestrove/bullseye}
root=$cache/$arch

# libc6-dev for the C library; the XCB libraries (and what libXdmcp pulls
# in) as static archives; libutf8proc for grapheme segmentation; libsystemd
# for the sd-bus header only (the library is loaded at run time).
packages=(libc6-dev libxcb1-dev libxcb-randr0-dev libxcb-xinput-dev libxcb-xkb-dev libxcb-res0-dev
  libxau-dev libxdmcp-dev libbsd-dev libmd-dev libutf8proc-dev libsystemd-dev)
# Changing how the root is made changes the stamp, so that old roots are remade.
stamp="bullseye $arch root-2 ${packages[*]}"

if [[ -f $root/.kestrove-root && "$(cat "$root/.kestrove-root")" == "$stamp" ]]; then
  echo "$root"
  exit 0
fi

# The mirror of the first Debian source apt reads.
mirror=$(sed -n 's/^URIs: *\(http[^ ]*debian\/*\)$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)
if [[ -z $mirror ]]; then
  mirror=$(sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}\(http[^ ]*\) .*/\2/p' /etc/apt/sources.list 2>/dev/null | head -n 1)
fi
mirror=${mirror:-http://deb.debian.org/debian}

command -v debootstrap >/dev/null || { echo "bullseye-root: debootstrap is not installed (tools/setup.sh)" >&2; exit 1; }
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

echo "bullseye-root: making $root from $mirror" >&2
$sudo rm -rf "$root" "$root.new"
$sudo mkdir -p "$cache"
include=$(IFS=,; echo "${packages[*]}")
if [[ $arch == "$(dpkg --print-architecture)" ]]; then
  $sudo debootstrap --variant=minbase --include="$include" bullseye "$root.new" "$mirror" >&2
else
  # Another architecture's programs cannot run here, and a sysroot needs
  # none of them: the first stage downloads every package, which are then
  # unpacked without being configured.
  $sudo debootstrap --foreign --arch="$arch" --variant=minbase --include="$include" bullseye "$root.new" "$mirror" >&2
  for deb in "$root.new"/var/cache/apt/archives/*.deb; do
    $sudo dpkg-deb -x "$deb" "$root.new"
  done
fi
# Absolute links in the root (libm.so and the like) point into the host
# when it is used as a sysroot; relative ones resolve inside it.
while IFS= read -r link; do
  target=$(readlink "$link")
  [[ $target == /* ]] || continue
  $sudo ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$root.new$target")" "$link"
done < <($sudo find "$root.new/usr/lib" "$root.new/usr/lib64" "$root.new/lib" "$root.new/lib64" -type l 2>/dev/null)
echo "$stamp" | $sudo tee "$root.new/.kestrove-root" >/dev/null
$sudo mv "$root.new" "$root"
echo "$root"
