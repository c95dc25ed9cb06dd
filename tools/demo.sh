#!/usr/bin/env bash
# The README's demo: a throwaway X desktop with one xterm, and the helper
# listing, placing and observing it. Installs nothing; run tools/setup.sh and
# build with the X11 backend first. Usage: tools/demo.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

inner() {
  local helper="$1"
  xterm -class DemoTerm -geometry 80x24 &
  term=$!
  trap 'kill "$term" 2>/dev/null || true' EXIT
  # Bounded wait for the window to be managed.
  for _ in $(seq 100); do
    xprop -root _NET_CLIENT_LIST | grep -q 0x && wmctrl -lx | grep -q DemoTerm && break
    sleep 0.05
  done
  echo "\$ kestrove windows DemoTerm"
  "$helper" windows DemoTerm
  echo "\$ kestrove place DemoTerm 100 120 640 400"
  "$helper" place DemoTerm 100 120 640 400 || true
  echo "\$ kestrove   (loop mode: observe, a move by another program, a place, unobserve)"
  local window
  window=$(wmctrl -lx | awk '/DemoTerm/ {print $1; exit}')
  {
    echo "#1 observe DemoTerm"
    sleep 0.3
    xdotool windowmove --sync "$window" 400 300
    sleep 0.3
    echo "#2 place DemoTerm 60 80 800 500"
    sleep 0.3
    echo "#3 unobserve"
  } | timeout 10 "$helper"
}

if [[ "${1:-}" == "--inner" ]]; then
  shift
  inner "$@"
  exit
fi
build="${1:-$here/../build}"
helper="$build/kestrove"
wm_ready="$build/tests/x11/kestrove_x11_wm_ready"
[[ -x "$wm_ready" ]] || wm_ready="$build/kestrove_x11_wm_ready"
[[ -x "$helper" ]] || { echo "no helper at $helper: build first" >&2; exit 1; }
exec python3 "$here/x11_desktop.py" run --wm-ready "$wm_ready" -- bash "$0" --inner "$helper"
