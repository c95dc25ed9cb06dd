#!/usr/bin/env bash
# Whole-process timings of the X11 helper against peers on a throwaway
# desktop, with hyperfine:
#   windows of an app with 20 windows   vs  wmctrl -lpG
#   place (two moves, with read-back)   vs  xdotool windowsize/windowmove --sync
#   version (no display connection)     vs  /bin/true
# Usage: bench/x11/bench.sh [BUILD_DIR]   (a build with the X11 backend)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$here/../.."

if [[ "${1:-}" == "--inner" ]]; then
  build="$2"
  helper="$build/kestrove"
  client="$build/tests/x11/kestrove_x11_test_client"
  work=$(mktemp -d)
  trap 'kill "${apps[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
  apps=()
  mkfifo "$work/in"
  "$client" KtBench <"$work/in" >"$work/ids" &
  apps+=($!)
  exec 7>"$work/in"
  for _ in $(seq 20); do echo open >&7; done
  for _ in $(seq 200); do [[ $(wc -l <"$work/ids") -ge 20 ]] && break; sleep 0.05; done
  xclock -geometry 300x300+50+50 &
  apps+=($!)
  for _ in $(seq 100); do wmctrl -lx | grep -q XClock && break; sleep 0.05; done
  clock=$(wmctrl -lx | awk '/XClock/ {print $1; exit}')
  echo "windows listed by the helper: $("$helper" windows KtBench | grep -o '"id":' | wc -l)"
  "$KESTROVE_PIPELINING_BENCH"
  hyperfine -N --warmup 5 --min-runs 50 \
    "$helper windows KtBench" "wmctrl -lpG"
  hyperfine --warmup 3 --min-runs 30 \
    "$helper place XClock 100 100 400 300 && $helper place XClock 140 120 420 320" \
    "xdotool windowsize --sync $clock 400 300 windowmove --sync $clock 100 100 && xdotool windowsize --sync $clock 420 320 windowmove --sync $clock 140 120"
  hyperfine -N --warmup 20 --min-runs 300 "$helper version" "/bin/true"
  exit
fi

build="$(cd "${1:-$root/build}" && pwd)"
[[ -x "$build/kestrove" ]] || { echo "no helper in $build: build with -DKESTROVE_PLATFORM=x11" >&2; exit 1; }
# The in-process pipelining measure, built against the backend's archives.
x11lib="$build/src/platform/x11/libkestrove_platform_x11.a"
posixlib="$build/src/platform/posix/libkestrove_platform_posix.a"
export KESTROVE_PIPELINING_BENCH="$build/snapshot_pipelining"
g++ -std=c++20 -O2 -I"$root/src" "$here/snapshot_pipelining.cc" "$x11lib" "$posixlib" \
  $(pkg-config --libs xcb xcb-randr xcb-xinput xcb-xkb xcb-res) -o "$KESTROVE_PIPELINING_BENCH"
exec python3 "$root/tools/x11_desktop.py" run --wm-ready "$build/tests/x11/kestrove_x11_wm_ready" -- \
  bash "$0" --inner "$build"
