#!/usr/bin/env bash
# Sets up and runs TMV540 Update against the simulated TMV540 on COM1. The simulator's automatic
# operator presses the instrument's buttons, so a whole update runs with nobody at the instrument;
# answer the program's boxes as an operator would. Arguments go to the simulator (see
# `build/release/sim/tmv540-sim --help`), e.g. `scripts/run.sh --fault bad-serial=empty`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j"$(nproc)" --target TMV540_Update tmv540-sim

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found. Run this from a desktop session, or under a virtual one:" >&2
  echo "  apt-get install xvfb && xvfb-run scripts/run.sh   (the window is then invisible)" >&2
  exit 1
fi

workdir=build/run
mkdir -p "$workdir"
simout="$workdir/sim-device"
rm -f "$simout"
build/release/sim/tmv540-sim --auto-operator --pace --transcript "$workdir/sim-transcript.txt" \
  --save "$workdir/instrument-after.json" "$@" >"$simout" </dev/null &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$simout" ] && break; sleep 0.05; done
device=$(head -n 1 "$simout")
[ -n "$device" ] || { echo "The simulator did not start." >&2; exit 1; }
echo "Simulated TMV540 on $device (COM1). The backup files go to $workdir/."

export TMV540_COM1="$device"
cd "$workdir"
../release/src/ui/TMV540_Update
