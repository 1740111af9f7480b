#!/usr/bin/env bash
# Builds everything and runs every test: the main build, in Release as a packager makes
# it (unit, integration and GUI suites, then its .deb: lintian, the desktop entry and
# the AppStream metadata checked, installed and started), the Windows build (cross-built
# with mingw-w64, its unit suite and the Wine tests: scripts/test-windows.sh), the unit
# suite under AddressSanitizer + UndefinedBehaviorSanitizer, and the threaded suites
# under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
# A test that lacks what this command provides (a display, socat, pymodbus, the Wine
# set-up) fails here instead of skipping (tests/support/test_environment.h).
export ORNAT_TESTS_NO_SKIP=1
jobs=$(nproc)
# Each phase says how long the run has taken so far, so a slow one is easy to find.
phase() { echo "== $* (at $((SECONDS / 60))m$((SECONDS % 60))s)"; }

phase "main build (Release)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build -L unit --output-on-failure -j"$jobs"
# Each integration test has its own pty, runtime folder and ports: side by side, one
# more at a time than there are cores, as most of their time is spent waiting out the
# line's timing rather than computing.
ctest --test-dir build -L integration --output-on-failure -j"$((jobs + 1))"
if [ -n "$(ctest --test-dir build -N -L gui | grep -E '^ +Test +#')" ]; then
  # Each GUI test starts an X server of its own (tests/gui/own_display.sh): side by side.
  ctest --test-dir build -L gui --output-on-failure -j"$jobs"
fi

phase "the .deb: lintian, desktop entry, AppStream; installs and runs"
bash scripts/check-deb.sh

phase "the Windows build: cross-built, its unit suite and the Wine tests"
bash scripts/test-windows.sh

phase "unit suite under ASan + UBSan"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORNAT_SANITIZE=address,undefined \
  -DCMAKE_CXX_FLAGS=-D_GLIBCXX_ASSERTIONS \
  -DORNAT_BUILD_APP=OFF -DORNAT_BUILD_BENCH=OFF >/dev/null
# The unit suite is what runs here: the integration suite's programs are not built.
cmake --build build-asan -j"$jobs" --target ornat_unit_tests
ctest --test-dir build-asan -L unit --output-on-failure -j"$jobs"

phase "unit and integration suites under TSan"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORNAT_SANITIZE=thread \
  -DORNAT_BUILD_APP=OFF -DORNAT_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$jobs"
# TSan's shadow memory needs the classic address-space layout on kernels with high
# mmap randomisation; setarch -R gives it to the test processes.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
# The soak covers every fault once in 30 s; the main pass runs it for 60 s.
export ORNAT_SOAK_SECONDS=30
# The longest runs of one path (200 exchanges, a full sweep, the searches up to 246 and
# 247, two full searches of a busy line) were just run in the main pass; under TSan the
# soak covers the threads for longer.
setarch "$(uname -m)" -R ctest --test-dir build-tsan -L 'unit|integration' --output-on-failure \
  -j"$jobs" -E 'TwoHundredExchangesLeakNoFileDescriptor|AFullSweepWithoutADetector|Address24[67]At|TwoDevicesAtOneAddressAreToldAsSuchNotTakenForOne'
phase "fuzz targets (bounded runs)"
# A bounded run that keeps the test command short: the committed inputs (regressions
# included) are replayed first, then each target fuzzes for 20 s. Long runs are made
# by hand (FUZZ_SECONDS=1800 bash scripts/fuzz.sh) before a change to a target lands.
FUZZ_SECONDS=${FUZZ_SECONDS:-20} bash scripts/fuzz.sh
phase "all suites passed"
