#!/usr/bin/env bash
# Builds the two programs (not the tests) with one line of output; the build's own output goes to
# a log, which is shown only when the build fails.
# Usage: build_programs.sh BUILD_DIR JOBS [CMAKE_FLAGS...]
set -euo pipefail
build=$1
jobs=$2
shift 2
mkdir -p "$build"
log=$build/build.log
printf 'building advdiff2d and advdiff2d-reference in %s (log: %s) ... ' "$build" "$log"
if { [[ -f $build/CMakeCache.txt ]] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release "$@"; } >"$log" 2>&1 &&
   cmake --build "$build" -j"$jobs" --target advdiff2d_programs >>"$log" 2>&1; then
  echo done
else
  echo failed
  cat "$log" >&2
  exit 1
fi
