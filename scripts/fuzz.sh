#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan, std::array bounds checked),
# replays each target's committed corpus (seeds and the regressions of earlier
# findings) once, then fuzzes each for FUZZ_SECONDS (default 60), as many targets at
# once as there are cores.
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

# One target: its committed inputs replayed, then fuzzed; what it says goes to its
# report, and its status is its exit status.
fuzz_one() {
  local target=$1
  local name committed corpus artifacts log
  name=$(basename "$target" _fuzz)
  committed=fuzz/corpus/$name
  corpus=$out/corpus/$name
  artifacts=$out/artifacts/$name
  log=$out/logs/$name.log
  mkdir -p "$corpus" "$artifacts"

  # The committed inputs first, one by one: a regression fails here, by its name.
  if [ -d "$committed" ] && [ -n "$(ls -A "$committed")" ]; then
    echo "== replaying the $(ls "$committed" | wc -l) committed inputs of $name"
    if ! "$target" "${options[@]}" -artifact_prefix="$artifacts/" "$committed"/* >"$log" 2>&1; then
      last=$(sed -n 's/^Running: \(.*\)$/\1/p' "$log" | tail -1)
      report_failure "$target" "$log" "$last"
      return 1
    fi
    cp "$committed"/* "$corpus"/
  fi

  echo "== fuzzing $name for ${seconds}s"
  if ! "$target" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1; then
    report_failure "$target" "$log" ""
    return 1
  fi
  grep -E '^#[0-9]+.*DONE' "$log" | tail -1 || tail -1 "$log"
}

# The targets side by side, as many at once as there are cores (each libFuzzer run
# takes one), each for its whole time; their reports are printed in order.
mkdir -p "$out/logs"
targets=("$out"/fuzz/*_fuzz)
for i in "${!targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
  (
    s=0
    fuzz_one "${targets[$i]}" >"$out/logs/report.$i" 2>&1 || s=1
    echo $s >"$out/logs/status.$i"
  ) &
done
wait
status=0
for i in "${!targets[@]}"; do
  cat "$out/logs/report.$i"
  [ "$(cat "$out/logs/status.$i" 2>/dev/null)" = 0 ] || status=1
done
exit $status
