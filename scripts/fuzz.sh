#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan, std::array bounds checked),
# replays each target's committed corpus (seeds and the regressions of earlier
# findings) once, then fuzzes each for FUZZ_SECONDS (default 60).
#
# Everything stays in build-fuzz/ so a red run can be reproduced:
#   build-fuzz/corpus/<target>/     the working corpus: the committed one plus what
#                                   the runs found, kept from run to run
#   build-fuzz/artifacts/<target>/  every crash, leak, timeout and out-of-memory input
#   build-fuzz/logs/<target>.log    the last run's output
# A failing target prints its input's path, the input in base64 and the command that
# replays it, and the script goes on with the others and exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
out=build-fuzz
cmake -S . -B "$out" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORNAT_BUILD_FUZZ=ON -DORNAT_BUILD_APP=OFF -DORNAT_BUILD_TESTS=OFF -DORNAT_BUILD_BENCH=OFF \
  -DORNAT_SANITIZE=address,undefined \
  -DCMAKE_CXX_FLAGS="-D_GLIBCXX_ASSERTIONS -fsanitize=fuzzer-no-link" >/dev/null
# Only the targets: the programs (ornat-cli, ornat-sim) are not fuzzed.
targets=()
for src in fuzz/*_fuzz.cpp; do targets+=("$(basename "$src" .cpp)"); done
cmake --build "$out" -j"$(nproc)" --target "${targets[@]}"

# The options of every run, replays included, so a replay meets the same limits.
options=(-max_len=512 -timeout=10 -rss_limit_mb=2048)

# Prints what a red run needs to be reproduced: the input (path and base64) that
# libFuzzer wrote, or else the last committed input it ran, and the replay command.
report_failure() {
  local target=$1 log=$2 input=$3
  tail -60 "$log"
  echo "fuzz target $(basename "$target") FAILED (whole output: $log)"
  if [ -z "$input" ]; then
    input=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
  fi
  if [ -n "$input" ] && [ -f "$input" ]; then
    echo "input: $input ($(wc -c <"$input") bytes)"
    echo "input, base64:"
    base64 -w 0 "$input"
    echo
    echo "replay: $target ${options[*]} $input"
  else
    echo "no input was written; the run's seed: $(sed -n 's/.*INFO: Seed: \([0-9]*\).*/\1/p' "$log" | head -1)"
  fi
}

status=0
for target in "$out"/fuzz/*_fuzz; do
  name=$(basename "$target" _fuzz)
  committed=fuzz/corpus/$name
  corpus=$out/corpus/$name
  artifacts=$out/artifacts/$name
  log=$out/logs/$name.log
  mkdir -p "$corpus" "$artifacts" "$out/logs"

  # The committed inputs first, one by one: a regression fails here, by its name.
  if [ -d "$committed" ] && [ -n "$(ls -A "$committed")" ]; then
    echo "== replaying the $(ls "$committed" | wc -l) committed inputs of $name"
    if ! "$target" "${options[@]}" -artifact_prefix="$artifacts/" "$committed"/* >"$log" 2>&1; then
      last=$(sed -n 's/^Running: \(.*\)$/\1/p' "$log" | tail -1)
      report_failure "$target" "$log" "$last"
      status=1
      continue
    fi
    cp "$committed"/* "$corpus"/
  fi

  echo "== fuzzing $name for ${seconds}s"
  if ! "$target" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1; then
    report_failure "$target" "$log" ""
    status=1
  else
    grep -E '^#[0-9]+.*DONE' "$log" | tail -1 || tail -1 "$log"
  fi
done
exit $status
