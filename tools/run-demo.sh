#!/usr/bin/env bash
# Sets up what the demo needs, builds the helper with the X11 backend, and runs
# the demo on a throwaway X desktop. Usage: tools/run-demo.sh
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash tools/setup.sh demo
cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=Release -DKESTROVE_PLATFORM=x11 -DKESTROVE_TESTS=OFF >/dev/null
cmake --build build-demo -j2 --target kestrove >/dev/null
# The manager-readiness handshake the desktop waits on; the tests build it
# too, but the demo builds no tests.
cc -O2 -o build-demo/kestrove_x11_wm_ready tests/x11/wm_ready.c $(pkg-config --cflags --libs xcb)
exec bash tools/demo.sh build-demo
