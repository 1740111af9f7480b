#!/usr/bin/env bash
# Builds the window and the simulated detector, starts ornat-sim on a pseudo-terminal
# (it registers itself as the port "ornat-sim"), then opens the window, whose Port
# menu preselects that port. Closing the window stops the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
# Release, as scripts/test.sh and the .deb build it: the two share build/ without
# rebuilding everything whenever one follows the other.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target ornat ornat-sim
./build/sim/ornat-sim --no-console --wire-log build/ornat-sim-wire.log >build/ornat-sim.out 2>&1 &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do grep -q '^PORT ' build/ornat-sim.out 2>/dev/null && break; sleep 0.1; done
echo "Simulated detector: $(grep '^PORT ' build/ornat-sim.out || echo 'did not start')"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting the window under Xvfb (set DISPLAY to see it)."
  xvfb-run -a ./build/src/app/ornat
else
  ./build/src/app/ornat
fi
