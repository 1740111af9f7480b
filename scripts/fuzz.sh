#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan, std::array bounds checked) and
# runs each for FUZZ_SECONDS (default 60) from its committed seed corpus. New inputs go
# to a scratch copy; a crash or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORNAT_BUILD_FUZZ=ON -DORNAT_BUILD_APP=OFF -DORNAT_BUILD_TESTS=OFF -DORNAT_BUILD_BENCH=OFF \
  -DORNAT_SANITIZE=address,undefined \
  -DCMAKE_CXX_FLAGS="-D_GLIBCXX_ASSERTIONS -fsanitize=fuzzer-no-link" >/dev/null
cmake --build build-fuzz -j"$(nproc)"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for target in build-fuzz/fuzz/*_fuzz; do
  name=$(basename "$target" _fuzz)
  mkdir -p "$scratch/$name"
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$scratch/$name/"
  echo "== fuzzing $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -max_len=512 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$scratch/" "$scratch/$name" >"$scratch/$name.log" 2>&1; then
    tail -40 "$scratch/$name.log"
    echo "fuzz target $name FAILED"
    status=1
  else
    tail -1 "$scratch/$name.log"
  fi
done
exit $status
