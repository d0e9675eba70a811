#!/usr/bin/env bash
# Packs the Windows programs of a cross build into a zip beside them:
#   BUILD_DIR/advdiff2d-<version>-windows-<x86_64 or i686>.zip
# holding advdiff2d-<version>/ with the programs (advdiff2d.exe, advdiff2d-reference.exe),
# README.md, the examples and the Windows note. The entries carry the date of
# the last commit, so that the same sources give the same zip.
# Usage: windows_package.sh BUILD_DIR
set -euo pipefail
build=$(realpath "${1:?usage: windows_package.sh BUILD_DIR}")
here=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(advdiff2d VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
name=advdiff2d-$version
processor=$(sed -n 's/^set(CMAKE_SYSTEM_PROCESSOR "\(.*\)")$/\1/p' "$build"/CMakeFiles/*/CMakeSystem.cmake | head -n 1)
zip=$build/$name-windows-${processor:-x86_64}.zip
stage=$build/package
rm -rf "$stage" "$zip"
mkdir -p "$stage/$name"
cp "$build/advdiff2d.exe" "$build/advdiff2d-reference.exe" "$stage/$name/"
cp "$here/README.md" "$stage/$name/"
cp -r "$here/examples" "$stage/$name/"
# The note in Windows line ends, for every Notepad.
sed 's/$/\r/' "$here/packaging/windows/WINDOWS.txt" >"$stage/$name/WINDOWS.txt"
stamp=$(git -C "$here" log -1 --format=%cd --date=format:%Y%m%d%H%M.%S 2>/dev/null || date +%Y%m%d%H%M.%S)
find "$stage" -exec touch -t "$stamp" {} +
(cd "$stage" && find "$name" | LC_ALL=C sort | TZ=UTC zip -q -X "$zip" -@)
echo "$zip"
unzip -l "$zip" | sed -n '4,$p' | awk '{print "  " $4}' | grep -v '^  $' | grep -v '/$' || true
