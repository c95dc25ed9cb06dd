#!/usr/bin/env bash
# Records the helper's side of the samples from kestrove-sim on
# textedit-world.json (the observer's side, *-observer.json, is written by
# hand in the shapes the self-check's scripts print).
#   tests/selfcheck/samples/record.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sim="$1/tests/sim_driver/kestrove-sim"
world="$here/textedit-world.json"
"$sim" "$world" version >"$here/helper-version.json"
"$sim" "$world" screens >"$here/helper-screens.json"
"$sim" "$world" windows com.apple.TextEdit >"$here/helper-windows.json"
"$sim" "$world" place com.apple.TextEdit 60 73 640 400 >"$here/helper-place.json"
# Loop mode: observe, then the world's timeline moves, resizes and closes the
# window and quits the app.
{ echo "#1 observe com.apple.TextEdit"; sleep 2; echo "#2 unobserve"; } | "$sim" "$world" >"$here/helper-loop.txt"
