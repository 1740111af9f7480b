#!/usr/bin/env bash
# Builds the window and saves a picture of it as it opens (after start-up) to
# docs/screenshot.png. Runs under Xvfb, so it needs no display. BUILD_DIR picks the
# build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target ornat ornat_screenshot
mkdir -p docs
xvfb-run -a -s "-screen 0 1280x1024x24" "$build_dir/src/app/ornat_screenshot" docs/screenshot.png
echo "Written: docs/screenshot.png"
