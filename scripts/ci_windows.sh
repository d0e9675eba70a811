#!/usr/bin/env bash
# The Windows step of CI: cross-builds the programs and the test suite with mingw-w64 (warnings as
# errors), packs the zip, and runs under wine (a prefix of its own in the build folder):
#   - the test suite (unit, kernel bit-identity, input-error, output and Windows tests; the POSIX-only
#     tests are not built for Windows, and the cases that need what Windows lacks skip, with the
#     reason);
#   - the test that needs a console (notepad opened on each file), in a terminal of its own;
#   - the summary and fields files of the Windows program, read back on Linux with Python's json
#     and VTK's own reader (tests/end_to_end/test_outputs_vtk.py);
#   - a set of cases whose reports must be byte-identical to the Linux program's.
# LINUX_BUILD_DIR is a built Linux tree (make test's): its programs are the ones compared with.
# Usage: ci_windows.sh BUILD_DIR LINUX_BUILD_DIR
set -euo pipefail
build=${1:?usage: ci_windows.sh BUILD_DIR LINUX_BUILD_DIR}
linux=$(realpath "${2:?usage: ci_windows.sh BUILD_DIR LINUX_BUILD_DIR}")
here=$(cd "$(dirname "$0")/.." && pwd)
start=$SECONDS

bash "$here/scripts/install_deps.sh" g++-mingw-w64-x86-64-posix wine wine64 libgtest-dev zip unzip bsdutils

launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DADVDIFF_WERROR=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j2
bash "$here/scripts/windows_package.sh" "$build" >/dev/null
build=$(realpath "$build")
echo "Windows build and zip done in $((SECONDS - start)) s"

export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1
cd "$build"
wine advdiff2d_tests.exe --gtest_brief=1 </dev/null
# The notepad test needs a console: `script` gives wine a terminal, which becomes the console.
if ! script -qec "wine advdiff2d_tests.exe --gtest_filter='WindowsRuns.Notepad*' --gtest_output=xml:console.xml" \
    console.log </dev/null >/dev/null 2>&1 || ! grep -q 'tests="2" failures="0" disabled="0" skipped="0"' console.xml; then
  echo "the console test failed under wine:" >&2
  sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' console.log | tr -d '\r' >&2
  exit 1
fi
echo "console test (notepad opened on each file and the report) passed"

# The Windows programs behind the names the output tests run.
mkdir -p wine-bin
printf '#!/usr/bin/env bash\nexec wine %q "$@"\n' "$build/advdiff2d.exe" >wine-bin/advdiff2d
printf '#!/usr/bin/env bash\nexec wine %q "$@"\n' "$build/advdiff2d-reference.exe" >wine-bin/advdiff2d-reference
chmod +x wine-bin/advdiff2d wine-bin/advdiff2d-reference
ADVDIFF_BUILD_DIR=$build/wine-bin ADVDIFF_NAMES_LATIN1=1 "${PYTHON:-/usr/bin/python3}" -m pytest -q -p no:cacheprovider \
  "$here/tests/end_to_end/test_outputs_vtk.py"

bash "$here/scripts/compare_windows_reports.sh" "$linux" "$build"
echo "Windows step passed in $((SECONDS - start)) s"
