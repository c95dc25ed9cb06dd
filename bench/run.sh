#!/usr/bin/env bash
# Speed of the helper as a whole process, each figure beside its reference in
# the same run. Usage: bench/run.sh [BUILD_DIR] (default: build-bench, Release).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-bench}
if [ ! -x "$build/kestrove" ] || [ ! -x "$build/bench/kestrove_bench_floor" ]; then
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTROVE_BENCH=ON >/dev/null
  cmake --build "$build" -j2 >/dev/null
fi
helper=$build/kestrove
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

lines=1000000
seq 1 "$lines" | sed 's/^/#/; s/$/ version/' > "$work/lines"

rate() {  # command... ; prints lines per second for $lines lines
  local start end count
  start=$(date +%s.%N)
  count=$("$@" < "$work/lines" | wc -l)
  end=$(date +%s.%N)
  [ "$count" -eq "$lines" ] || { echo "expected $lines replies, got $count" >&2; exit 1; }
  echo "$lines / ($end - $start)" | bc -l
}

echo "== loop throughput: $lines '#N version' lines through a pipe"
for round in 1 2 3; do
  floor=$(rate "$build/bench/kestrove_bench_floor")
  ours=$(rate "$helper")
  printf 'round %d: floor %.0f lines/s, kestrove %.0f lines/s, ratio %.2f (goal >= 0.50)\n' \
    "$round" "$floor" "$ours" "$(echo "$ours / $floor" | bc -l)"
done

echo "== one-shot 'kestrove version' against /bin/true"
if command -v hyperfine >/dev/null; then
  hyperfine -N --warmup 20 --runs 300 --export-json "$work/oneshot.json" "$helper version" /bin/true >/dev/null
  python3 - "$work/oneshot.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
ours = next(v for k, v in r.items() if k.endswith("version"))
true = r["/bin/true"]
print(f"kestrove version: mean {ours['mean']*1e6:.0f} us, median {ours['median']*1e6:.0f} us")
print(f"/bin/true:        mean {true['mean']*1e6:.0f} us, median {true['median']*1e6:.0f} us")
print(f"ratio (median): {ours['median']/true['median']:.2f} (goal <= 2)")
PY
else
  echo "hyperfine is not installed; skipped"
fi

echo "== round trip, one request in flight"
"$build/bench/kestrove_bench_roundtrip" "$helper" 20000
echo "(goal: p50 <= 50 us)"
