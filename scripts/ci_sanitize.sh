#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in a build folder of its
# own and runs the test suite there. The end-to-end tests then run the sanitized programs too, so
# every bad input of their tables passes through the checked code, and so does every hostile case
# (the memory limit of a cgroup, signals while a file is written, file-size and stack limits; the
# cases that need an address-space limit skip, as a sanitized program cannot start under one).
# Each test runs in a process of its own (CTest), as in the plain suite: a test process that had
# grown under the sanitizers' quarantine would otherwise lend its peak resident memory to every
# program it starts, and the checks that a refused run stays small would measure the test process.
# Tests whose name holds "Slow" are left out (they repeat what the fast ones check, on sizes that
# take minutes under the sanitizers); ADVDIFF_SANITIZE_EXCLUDE replaces that pattern (a CTest
# regular expression). The build goes through ccache where it is installed.
# Usage: ci_sanitize.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: ci_sanitize.sh BUILD_DIR}
here=$(cd "$(dirname "$0")/.." && pwd)
exclude=${ADVDIFF_SANITIZE_EXCLUDE:-Slow}
start=$SECONDS

launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DADVDIFF_SANITIZE=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j2
echo "sanitized build done in $((SECONDS - start)) s"

# Any finding stops the process with a non-zero status, in the test binary and in the programs it
# starts.
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" -E "$exclude" -j2 --output-on-failure >"$build/ctest.log" 2>&1 || { cat "$build/ctest.log"; exit 1; }
sed -n '/tests passed, /,$p' "$build/ctest.log"
echo "sanitizer step passed in $((SECONDS - start)) s"
