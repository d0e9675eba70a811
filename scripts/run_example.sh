#!/usr/bin/env bash
# Runs one bundled example in a scratch folder: reference solution, simulation, report.
# Usage: run_example.sh BUILD_DIR EXAMPLE_DIR WINDOW_SECONDS
set -euo pipefail
build=$(realpath "$1")
example=$(realpath "$2")
window=$3
[[ -d $example ]] || { echo "no example folder $2 (see examples/)" >&2; exit 2; }
work="$build/run/$(basename "$example")"
rm -rf "$work"
mkdir -p "$work"
cp "$example"/*.ent "$work"/
cd "$work"
"$build/advdiff2d-reference"
echo "running advdiff2d in $work (timing window ${window} s) ..."
"$build/advdiff2d" --no-edit --window "$window" --verdict
mode=$(sed -n 2p dados1.ent | awk '{print $1}')
[[ $mode == 1 ]] && param=MG2D_000.ent || param=SG2D_000.ent
report=$(sed -n 2p "$param" | sed -E "s/^[[:space:]]*['\"]([^'\"]*)['\"].*/\1/; t; s/^[[:space:]]*([^[:space:],\/]*).*/\1/")
echo "report $work/$report:"
iconv -f latin1 -t utf-8 "$report"
