#!/usr/bin/env bash
# Builds the .deb from the main build, installs it, starts the installed ornat-sim and
# ornat (under Xvfb) for a few seconds, and removes the package again.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build -j"$(nproc)" --target ornat ornat-sim >/dev/null
(cd build && cpack -G DEB >/dev/null)
deb=$(ls -t build/ornat_*_amd64.deb | head -1)
echo "package: $deb"
dpkg -i "$deb" >/dev/null
trap 'dpkg -r ornat >/dev/null 2>&1 || true' EXIT
test -x /usr/bin/ornat && test -x /usr/bin/ornat-sim
test -f /usr/share/applications/ornat.desktop
/usr/bin/ornat-sim --help >/dev/null
runtime=$(mktemp -d)
XDG_RUNTIME_DIR=$runtime /usr/bin/ornat-sim --no-console >"$runtime/sim.out" 2>&1 &
sim=$!
sleep 0.5
grep -q '^PORT ornat-sim ' "$runtime/sim.out"
set +e
XDG_RUNTIME_DIR=$runtime timeout 4 xvfb-run -a /usr/bin/ornat
status=$?
set -e
kill $sim 2>/dev/null || true
rm -rf "$runtime"
# 124: still running when the time was up, as a window should be.
if [ $status -ne 124 ]; then
  echo "the installed ornat ended early with status $status"
  exit 1
fi
echo "the installed package runs"
