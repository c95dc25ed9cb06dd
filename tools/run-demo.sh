#!/usr/bin/env bash
# Sets up what is missing, builds the helper with the X11 backend, and runs
# the demo on a throwaway X desktop. Usage: tools/run-demo.sh
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash tools/setup.sh
cmake -S . -B build-demo -DCMAKE_BUILD_TYPE=Release -DKESTROVE_PLATFORM=x11 >/dev/null
cmake --build build-demo -j2 --target kestrove kestrove_x11_wm_ready >/dev/null
exec bash tools/demo.sh build-demo
