#!/usr/bin/env bash
# Builds the libFuzzer targets of the file readers with clang in a build folder of their own and
# runs each for a fixed time, starting from the seed corpus in fuzz/corpus/<target>/. Fails when a
# target crashes or breaks one of its checks; the input that did it is left in BUILD_DIR/crashes/.
# Usage: ci_fuzz.sh BUILD_DIR [SECONDS_PER_TARGET]
set -euo pipefail
build=${1:?usage: ci_fuzz.sh BUILD_DIR [SECONDS_PER_TARGET]}
seconds=${2:-30}
here=$(cd "$(dirname "$0")/.." && pwd)
targets=(free_format reference_file)
start=$SECONDS

# libFuzzer comes with clang and its runtime libraries: only this step needs them.
bash "$here/scripts/install_deps.sh" clang libclang-rt-14-dev

cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DADVDIFF_FUZZ=ON -DADVDIFF_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"
echo "fuzz targets built in $((SECONDS - start)) s"

mkdir -p "$build/crashes"
for t in "${targets[@]}"; do
  # New inputs go to the first folder, in the build folder; the seeds are only read.
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  echo "fuzzing $t for $seconds s ..."
  if ! "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$build/crashes/$t-" \
      "$corpus" "$here/fuzz/corpus/$t" >"$build/fuzz_$t.log" 2>&1; then
    tail -n 60 "$build/fuzz_$t.log" >&2
    echo "fuzz_$t failed; the input is in $build/crashes/" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units|^Done [0-9]+ runs' "$build/fuzz_$t.log" || true
done
echo "fuzzing passed in $((SECONDS - start)) s"
