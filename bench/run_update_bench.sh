#!/usr/bin/env bash
# One whole update at real speed against the simulator, paced at 115200 baud, with its automatic
# operator at the front panel. Prints the wall time against the floor that the protocol's waits
# and time-outs and the simulator's own delays set, the updater's CPU time and its peak memory.
# It takes about two and a half minutes.
#
# Usage: bench/run_update_bench.sh [BUILD_DIR]    (default: build/bench, a Release build)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
operator_delay=1000

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTMV_WITH_QT=OFF >/dev/null
fi
cmake --build "$build" -j2 --target update_bench tmv540-sim >/dev/null

work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# The simulator runs as a process of its own, so the figures are the updater's alone.
"$build/sim/tmv540-sim" --pace --auto-operator --operator-delay "$operator_delay" \
  --link "$work/line" --transcript "$work/simulator.txt" </dev/null >"$work/simulator.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  [ -e "$work/line" ] && break
  sleep 0.05
done
[ -e "$work/line" ] || { echo "the simulator did not start:"; cat "$work/simulator.out"; exit 1; }

echo "Command: $build/bench/update_bench $work/line $work/simulator.txt $operator_delay"
"$build/bench/update_bench" "$work/line" "$work/simulator.txt" "$operator_delay"
