#!/usr/bin/env bash
# bench/win32-window-timing.sh BUILD WIN32_BUILD CYCLE_SECONDS: the Win32 window's timers
# under Wine (bench_win32_window_timing.exe), as bench/run measures the Qt window's:
# ornat-sim of the Linux build on a pty with a wire log, the Windows test phase's prefix
# (WIN32_BUILD/wineprefix) with its COM1 (WIN32_BUILD/wine-ports/com1) pointed at that
# pty, and the Wine tests' modem-line shim preloaded. Needs a display (bench/run gives
# one). Prints the program's figures.
set -euo pipefail
build=$1
win=$2
seconds=${3:-30}
work=$(mktemp -d)
export WINEPREFIX="$PWD/$win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'kill "$sim" 2>/dev/null || true; wineserver -k 2>/dev/null || true; wait 2>/dev/null || true
  rm -rf "$work"' EXIT
"$build/sim/ornat-sim" --no-console --wire-log "$work/wire.log" >"$work/sim.out" 2>&1 &
sim=$!
for _ in $(seq 100); do
  grep -q '^PORT ' "$work/sim.out" && break
  sleep 0.05
done
pty=$(awk '/^PORT / { print $3 }' "$work/sim.out")
[ -n "$pty" ] || { echo "ornat-sim did not start" >&2; exit 1; }
ln -sfn "$pty" "$win/wine-ports/com1.new"
mv -T "$win/wine-ports/com1.new" "$win/wine-ports/com1"
# A server lingering after an earlier Wine program (bench/run's loop timers) would make
# -p fail: it goes first, and the new one reads the prefix's COM1 afresh.
wineserver -k 2>/dev/null || true
wineserver -w
# The server's own output (it dumps its objects when the pty hangs up) to a log.
wineserver -p >"$work/wineserver.log" 2>&1
LD_PRELOAD="$PWD/$build/tests/ornat_modem_lines_shim.so" \
  wine "$win/bench/bench_win32_window_timing.exe" "Z:$work/wire.log" "$seconds"
