#!/usr/bin/env bash
# The whole test suite: unit and end-to-end tests (CTest), the end-to-end tests that read the
# programs' outputs back with Python's own readers (json, VTK), then the sweep tool's tests.
# Usage: run_tests.sh BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")/.." && pwd)
# CTest's line per test goes to a log; a person sees the closing summary (and the skipped tests),
# or the whole log when something failed.
log=$build/ctest.log
echo "unit and end-to-end tests (CTest; every test's line in $log)"
if ctest --test-dir "$build" --output-on-failure -j2 >"$log" 2>&1; then
  sed -n '/tests passed, /,$p' "$log"
else
  cat "$log"
  exit 1
fi
python=${PYTHON:-/usr/bin/python3}
if "$python" -c 'import numpy, pytest, vtk' 2>/dev/null; then
  ADVDIFF_BUILD_DIR=$(realpath "$build") "$python" -m pytest -q -p no:cacheprovider "$here/tests/end_to_end"
else
  echo "the output tests need python3 with numpy, pytest and vtk (scripts/install_deps.sh installs them)" >&2
  exit 1
fi
if [[ -d $here/tools/sweep/tests ]]; then
  if "${PYTHON:-/usr/bin/python3}" -c 'import numpy, matplotlib, pytest' 2>/dev/null; then
    ADVDIFF_BUILD_DIR=$(realpath "$build") "${PYTHON:-/usr/bin/python3}" -m pytest -q "$here/tools/sweep/tests"
  else
    echo "sweep tests need python3 with numpy, matplotlib and pytest (scripts/install_deps.sh installs them)" >&2
    exit 1
  fi
fi
