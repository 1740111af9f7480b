#!/usr/bin/env bash
# Builds the window and the simulated detector, starts ornat-sim on a pseudo-terminal
# (it registers itself as the port "ornat-sim"), then opens the window, whose Port
# menu preselects that port. Closing the window stops the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target ornat ornat-sim
sim_in=$(mktemp -u)
mkfifo "$sim_in"
./build/sim/ornat-sim --wire-log build/ornat-sim-wire.log <"$sim_in" >build/ornat-sim.out 2>&1 &
sim_pid=$!
exec 3>"$sim_in"
trap 'exec 3>&-; kill $sim_pid 2>/dev/null || true; rm -f "$sim_in"' EXIT
for _ in $(seq 50); do grep -q '^PORT ' build/ornat-sim.out 2>/dev/null && break; sleep 0.1; done
echo "Simulated detector: $(grep '^PORT ' build/ornat-sim.out || echo 'did not start')"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting the window under Xvfb (set DISPLAY to see it)."
  xvfb-run -a ./build/src/app/ornat
else
  ./build/src/app/ornat
fi
