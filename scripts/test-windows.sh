#!/usr/bin/env bash
# The Windows phase of the test command (scripts/test.sh runs it after the main pass):
# the Windows build cross-built in Release with Debian's mingw-w64 (build-win32/), its
# unit suite run under Wine by CTest, then the Wine tests of the Linux build (label
# wine): the real Win32 device over a pty mapped as a COM port, ornat-cli.exe's port
# list from the registry and its sessions against ornat-sim, compared with the Linux
# ornat-cli's; then the window, ornat.exe: its unit suite under Wine and its Wine tests
# (label win32window: driven from a second Wine process at 96 and 144 dpi, against
# ornat-sim on the pty COM1 leads to), with the pictures they take in build/screenshots/;
# and the installer and the zip (scripts/check-windows-installer.sh). Leaves
# build-win32/ornat-<version>-win64.zip and build-win32/ornat-<version>-setup.exe.
#
# The window needs a display: without one the script runs itself under xvfb-run. The
# prefix gets a virtual desktop of 1280 x 1024 (window frames drawn as Windows draws
# them, one screen size for every run), Wine's own fonts (HKCU\Software\Wine\Fonts
# Path: Debian's Wine looks elsewhere) and faces with Cyrillic for the names the window
# asks for: "Courier" is DejaVu Sans Condensed (about the width the window's labels
# were laid out for), "Courier New" Liberation Mono, "MS Sans Serif" DejaVu Sans.
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
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
native=${BUILD_DIR:-build}
win=${WIN32_BUILD_DIR:-build-win32}
jobs=${JOBS:-$(nproc)}
phase() { echo "== windows: $* (at $((SECONDS / 60))m$((SECONDS % 60))s)"; }
# Every test of this phase must run: one that lacks its set-up fails rather than skips
# (tests/support/test_environment.h), and ctest_every fails a run in which CTest counted
# any test as skipped.
export ORNAT_TESTS_NO_SKIP=1
ctest_every() {
  local log status=0
  log=$(mktemp)
  ctest "$@" 2>&1 | tee "$log" || status=$?
  if grep -q '(Skipped)' "$log"; then
    echo "the Windows phase skipped tests (listed above): each of them must run here" >&2
    status=1
  fi
  rm -f "$log"
  return "$status"
}

phase "cross build (Release, mingw-w64)"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DORNAT_BUILD_TESTS=ON \
  -DORNAT_BUILD_BENCH=ON "${launcher[@]}" >/dev/null
cmake --build "$win" -j"$jobs" --target ornat-cli ornat_unit_tests com_probe bench_loop_lateness \
  ornat ornat_win32gui_unit_tests gui_driver ornat_zip ornat_installer

phase "the Linux side of the Wine tests"
[ -f "$native/CMakeCache.txt" ] || cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$native" -j"$jobs" --target ornat_wine_tests ornat-sim ornat-cli ornat_modem_lines_shim \
  ornat_win32gui_wine_tests

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
# The window's screen: a virtual desktop, Wine's fonts, faces with Cyrillic.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Fonts' /v Path /d 'Z:\usr\share\wine\fonts' /f >/dev/null 2>&1
for face in 'Courier=DejaVu Sans Condensed' 'Courier New=Liberation Mono' 'MS Sans Serif=DejaVu Sans'; do
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "${face%%=*}" /d "${face#*=}" /f \
    >/dev/null 2>&1
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
ctest_every --test-dir "$win" -L unit --output-on-failure

phase "Wine tests: the Win32 device on a pty, ornat-cli.exe against ornat-sim"
# One at a time: they share the prefix's COM7.
ORNAT_WIN32_BUILD="$PWD/$win" ORNAT_WINE_PORTS="$ports" \
  ctest_every --test-dir "$native" -L wine --output-on-failure

zip=$(cd "$win" && ls ornat-*-win64.zip)
listing=$(cmake -E tar tf "$win/$zip")
if ! grep -q '/ornat-cli.exe$' <<<"$listing"; then
  echo "the zip $win/$zip holds no ornat-cli.exe" >&2
  exit 1
fi

phase "the window: its unit suite under Wine"
ctest_every --test-dir "$win" -L win32window --output-on-failure

phase "the window: ornat.exe driven from a second Wine process, against ornat-sim on COM1"
ORNAT_WIN32_BUILD="$PWD/$win" ORNAT_WINE_PORTS="$ports" \
  ctest_every --test-dir "$native" -L win32window --output-on-failure
echo "pictures of the window: $(ls "$native"/screenshots/*.png | tr '\n' ' ')"

phase "the installer and the zip, in a prefix of their own"
wineserver -k 2>/dev/null || true
WIN32_BUILD_DIR="$win" bash scripts/check-windows-installer.sh

phase "done; the zip: $win/$zip, the installer: $win/$(cd "$win" && ls ornat-*-setup.exe)"
