#!/usr/bin/env bash
# Runs a set of cases with the Linux program and with the Windows program (under wine) and
# compares their reports byte for byte, the date line and the three timing lines aside: every
# solver on single grids and as a multigrid smoother, pure diffusion, the rotating flow and a
# constant velocity, on grids of odd and unlike sides, with the norm of every iteration listed.
# Each system's reference tool makes the reference file its program reads; the two files must be
# the same bytes too.
# Usage: compare_windows_reports.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
set -euo pipefail
linux=$(realpath "${1:?usage: compare_windows_reports.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR}")
windows=$(realpath "${2:?usage: compare_windows_reports.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR}")
export WINEPREFIX=${WINEPREFIX:-$windows/wineprefix} WINEDEBUG=-all
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mask() { LC_ALL=C grep -a -v -e '^Data da simulacao' -e '^Tempo de ' -e $'^N\xfamero de vezes' "$1"; }

# problem_kind flow_angle peclet_code gamma: the test cases
cases=("1 3 0 1.0 pure-diffusion" "2 0 0 1.0 rotating-flow" "1 45 10 0.5 45-degrees-pe10" "1 30 0 0.1 30-degrees")
total=0 same=0
# The Windows program in DIR. Wine has, rarely, ended a run early with no message from the
# program; such a run is said and made once more, so that only a failure that repeats fails.
run_windows() {
  local status=0
  (cd "$1" && wine "$windows/advdiff2d.exe" --window 0 --no-edit </dev/null) || status=$?
  if [[ $status != 0 ]]; then
    echo "$(basename "$1"): the Windows program ended with status $status under wine; running it again"
    (cd "$1" && wine "$windows/advdiff2d.exe" --window 0 --no-edit </dev/null)
  fi
}
compare() {  # NAME: runs both programs in $work/NAME and compares the reports
  local name=$1 dir=$work/$1
  cp -r "$dir" "$dir.windows"
  total=$((total + 1))
  if ! (cd "$dir" && "$linux/advdiff2d-reference" >/dev/null) ||
     ! (cd "$dir.windows" && wine "$windows/advdiff2d-reference.exe" >/dev/null </dev/null); then
    echo "$name: a reference tool failed"
  elif ! cmp -s "$dir"/exata* "$dir.windows"/exata*; then
    echo "$name: the reference files differ"
  elif ! (cd "$dir" && "$linux/advdiff2d" --window 0 --no-edit </dev/null); then
    echo "$name: the Linux program failed"
  elif ! run_windows "$dir.windows"; then
    echo "$name: the Windows program failed twice"
  elif cmp -s <(mask "$dir/report.txt") <(mask "$dir.windows/report.txt"); then
    same=$((same + 1))
  else
    echo "$name: the reports differ (Linux <, Windows >):"
    diff <(mask "$dir/report.txt") <(mask "$dir.windows/report.txt") | head -n 6 | iconv -f latin1 -t utf-8 | sed 's/^/    /'
  fi
}

for c in "${cases[@]}"; do
  read -r kind angle peclet gamma label <<<"$c"
  for solver in 1 2 3 4; do
    for grid in "17 9" "9 33"; do
      read -r nx ny <<<"$grid"
      name=sg-$solver-$label-${nx}x$ny
      mkdir -p "$work/$name"
      printf 'caso\n2\n' >"$work/$name/dados1.ent"
      printf '%s\n' "$solver" "'report.txt'" "$nx" "$ny" 1 "$kind" "$angle" "$peclet" "$gamma" 500 1.0E-12 1.0E-3 \
        1 1 1 0 0 >"$work/$name/SG2D_000.ent"
      compare "$name"
    done
  done
  for solver in 1 2 3; do
    for coarsest in "3 5" "5 3"; do
      read -r nx ny <<<"$coarsest"
      name=mg-$solver-$label-${nx}x$ny
      mkdir -p "$work/$name"
      printf 'caso\n1\n' >"$work/$name/dados1.ent"
      printf '%s\n' "$solver" "'report.txt'" 4 1 "$nx" "$ny" "$kind" "$angle" "$peclet" 2.0 1.0 "$gamma" 30 2 \
        1.0E-12 1.0E-3 1 1 1 0 0 >"$work/$name/MG2D_000.ent"
      compare "$name"
    done
  done
done
echo "$same/$total reference files and reports of the Windows programs identical to the Linux programs'"
[[ $same == "$total" ]]
