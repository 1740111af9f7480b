#!/usr/bin/env bash
# The Windows phase of the test command (scripts/test.sh runs it after the main pass):
# the Windows build cross-built in Release with Debian's mingw-w64 (build-win32/), its
# unit suite run under Wine by CTest, then the Wine tests of the Linux build (label
# wine): the real Win32 device over a pty mapped as a COM port, ornat-cli.exe's port
# list from the registry and its sessions against ornat-sim, compared with the Linux
# ornat-cli's. Leaves the portable zip in build-win32/ornat-<version>-win64.zip.
#
# The Wine prefix is the build tree's own (build-win32/wineprefix), made anew each run;
# COM1, COM7 and COM12 are mapped through HKLM\Software\Wine\Ports to links in
# build-win32/wine-ports/ that the tests point at ptys; COM1, which a program picks when
# it is told no port, leads to nothing. Wine still gives the machine's own serial ports
# (/dev/ttyS*) the next free numbers (COM2...): the tests open only COM7 and COM12, and
# never a port they did not point themselves.
#
# Knobs (environment): BUILD_DIR (the Linux build, default build), WIN32_BUILD_DIR
# (default build-win32), JOBS (default: the cores).
set -euo pipefail
cd "$(dirname "$0")/.."
native=${BUILD_DIR:-build}
win=${WIN32_BUILD_DIR:-build-win32}
jobs=${JOBS:-$(nproc)}
phase() { echo "== windows: $* (at $((SECONDS / 60))m$((SECONDS % 60))s)"; }

phase "cross build (Release, mingw-w64)"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DORNAT_BUILD_TESTS=ON \
  -DORNAT_BUILD_BENCH=ON "${launcher[@]}" >/dev/null
cmake --build "$win" -j"$jobs" --target ornat-cli ornat_unit_tests com_probe bench_loop_lateness \
  ornat_zip

phase "the Linux side of the Wine tests"
[ -f "$native/CMakeCache.txt" ] || cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$native" -j"$jobs" --target ornat_wine_tests ornat-sim ornat-cli ornat_modem_lines_shim

phase "a Wine prefix of the build's own"
export WINEPREFIX="$PWD/$win/wineprefix" WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko: console programs need neither, and wineboot would ask for them.
export WINEDLLOVERRIDES="mscoree,mshtml="
ports="$PWD/$win/wine-ports"
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX" "$ports"
mkdir -p "$ports"
wineboot -i >/dev/null 2>&1
for com in COM1 COM7 COM12; do
  wine reg add 'HKLM\Software\Wine\Ports' /v "$com" /d "$ports/${com,,}" /f >/dev/null 2>&1
done
# The mapping takes effect when the server starts again; from then on one server stays
# up for all the tests (without it each test waits for the last one's to go).
# Its own output goes to a log: it dumps its objects when a pty it opened hangs up.
wineserver -w
wineserver -p >"$win/wineserver.log" 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit >/dev/null 2>&1
for com in com1 com7 com12; do
  if [ "$(readlink "$WINEPREFIX/dosdevices/$com")" != "$ports/$com" ]; then
    echo "the prefix's $com does not lead to $ports/$com" >&2
    exit 1
  fi
done

phase "unit suite under Wine"
ctest --test-dir "$win" -L unit --output-on-failure

phase "Wine tests: the Win32 device on a pty, ornat-cli.exe against ornat-sim"
# One at a time: they share the prefix's COM7.
ORNAT_WIN32_BUILD="$PWD/$win" ORNAT_WINE_PORTS="$ports" \
  ctest --test-dir "$native" -L wine --output-on-failure

zip=$(cd "$win" && ls ornat-*-win64.zip)
cmake -E tar tf "$win/$zip" | grep -q '/ornat-cli.exe$'
phase "done; the zip: $win/$zip"
