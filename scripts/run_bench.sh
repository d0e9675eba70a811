#!/usr/bin/env bash
# Runs the kernel benchmarks, then times the whole program on a fixed set of cases and prints one
# table row per case.
# Usage: run_bench.sh BUILD_DIR      (BUILD_DIR configured with -DADVDIFF_BENCH=ON and built)
# Environment:
#   BENCH_ARGS      extra options for advdiff2d_bench, e.g. "--benchmark_filter=gauss_seidel"
#   BENCH_CYCLE_GRID  finest grid side of the per-level V-cycle table (default 1025; 0: none)
#   BENCH_WINDOW    timing window of each whole-program run in seconds (default 2)
#   BENCH_SKIP      "kernels" or "program" skips that part
#   BENCH_REFERENCE_TIMEOUT  seconds allowed to advdiff2d-reference per case (default 600)
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: run_bench.sh BUILD_DIR" >&2; exit 2; }
build=$(realpath "$1")
window=${BENCH_WINDOW:-2}
skip=${BENCH_SKIP:-}
reference_timeout=${BENCH_REFERENCE_TIMEOUT:-600}
bench_binary="$build/bench/advdiff2d_bench"
program="$build/advdiff2d"
reference_tool="$build/advdiff2d-reference"

now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
started=$(now)

# ---------------------------------------------------------------------------------------------
# Kernel benchmarks.
kernel_seconds=0
if [[ $skip != kernels ]]; then
    [[ -x $bench_binary ]] || {
        echo "no $bench_binary: configure $build with -DADVDIFF_BENCH=ON (make bench does)" >&2
        exit 1
    }
    echo "=== Kernel benchmarks ($bench_binary) ==="
    kernel_started=$(now)
    # shellcheck disable=SC2086  # BENCH_ARGS is a list of options
    # After Google Benchmark's own table the binary prints one table per kernel (ns and bytes per
    # node against grid size, its paths side by side, each against the measured copy bandwidth)
    # and one V-cycle's time by level and by kernel.
    "$bench_binary" --benchmark_format=console --cycle_grid="${BENCH_CYCLE_GRID:-1025}" ${BENCH_ARGS:-}
    kernel_seconds=$(seconds_since "$kernel_started")
    echo
fi

# ---------------------------------------------------------------------------------------------
# Whole-program table. Every case runs a fixed number of iterations: the tolerance (1e-30) is
# never reached, so max_iterations decides. The rotating flow (problem_kind 2, gamma 1) from the
# zero estimate throughout.
program_seconds=0
if [[ $skip != program ]]; then
    [[ -x $program ]] || { echo "no $program: build $build first" >&2; exit 1; }
    cases_root="$build/bench-cases"
    rm -rf "$cases_root"
    mkdir -p "$cases_root"
    program_started=$(now)

    # write_single_grid SOLVER N MAX_ITERATIONS DIR
    write_single_grid() {
        printf '%s\n' "Benchmark case: single grid, solver $1, $2 x $2, rotating flow" \
            "2            run_mode (single-grid)" >"$4/dados1.ent"
        cat >"$4/SG2D_000.ent" <<EOF
$1            solver_kind
'bench.txt'  report_file_name
$2           Nx
$2           Ny
1            reference_file_index
2            problem_kind (rotating flow)
0            flow_angle
0            peclet_code
1.0          gamma
$3           max_iterations
1.0E-30      tolerance (never reached: max_iterations decides)
1.0E-30      msi_tolerance
1            initial_estimate (zero)
0            print_history
0            history_interval
0            unused
0            unused
EOF
    }

    # write_multigrid SOLVER LEVELS MAX_CYCLES INNER DIR (coarsest grid 3 x 3)
    write_multigrid() {
        printf '%s\n' "Benchmark case: multigrid, smoother $1, $2 levels from 3 x 3, rotating flow" \
            "1            run_mode (multigrid)" >"$5/dados1.ent"
        cat >"$5/MG2D_000.ent" <<EOF
$1            solver_kind (smoother)
'bench.txt'  report_file_name
$2           level_count
1            reference_file_index
3            coarsest_nx
3            coarsest_ny
2            problem_kind (rotating flow)
0            flow_angle
0            peclet_code
2.0          coarsening_p
1.0          coarsening_q
1.0          gamma
$3           max_iterations (V-cycles)
$4           inner_iterations
1.0E-30      tolerance (never reached: max_iterations decides)
1.0E-30      msi_tolerance
1            initial_estimate (zero)
0            print_history
0            history_interval
0            unused
0            unused
EOF
    }

    # The numbers of a run from its summary (advdiff2d --summary): elapsed seconds, repetitions,
    # seconds per simulation and iterations, separated by blanks.
    summary_values() {
        "${PYTHON:-python3}" -c 'import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
t = d["timing"]
print(t["elapsed_seconds"], t["repetition_count"], t["seconds_per_run"], d["iteration_count"])' "$1"
    }

    printf '=== Whole program (advdiff2d --no-edit --window %s --summary; cases in %s) ===\n' "$window" "$cases_root"
    header_format='%-12s %-12s %-12s %6s %6s %14s %14s %12s  %s\n'
    # shellcheck disable=SC2059  # the format is ours
    printf "$header_format" case grid solver iters reps "s/simulation" "us/iteration" "ns/node-it" reference
    rule=$(printf '%.0s-' {1..108})
    echo "$rule"

    declare -A exact_reference=()  # grid size -> a reference file the tool wrote for it
    reference_seconds=0

    # run_case NAME GRID_N SOLVER_NAME WRITER ARGS... (the writer gets the case folder last)
    run_case() {
        local name=$1 n=$2 solver=$3
        shift 3
        local dir="$cases_root/$name"
        mkdir -p "$dir"
        "$@" "$dir"
        local reference reference_started
        reference_started=$(now)
        if [[ -n ${exact_reference[$n]:-} ]]; then
            # Every case solves the same system on an n x n grid: its reference is the same file.
            cp "${exact_reference[$n]}" "$dir/exata1"
            reference=exact
        elif (cd "$dir" && timeout "$reference_timeout" "$reference_tool" </dev/null >reference.log 2>&1) &&
            [[ -s $dir/exata1 ]]; then
            exact_reference[$n]="$dir/exata1"
            reference=exact
        else
            # The tool is missing or failed: zeros with the right number of lines. The timing
            # hardly depends on the values, and the iteration count is fixed anyway.
            awk -v count=$((n * n)) 'BEGIN { for (k = 0; k < count; ++k) print "0.0000000000000000E+00" }' \
                >"$dir/exata1"
            reference="zeros (advdiff2d-reference failed, see $name/reference.log)"
        fi
        reference_seconds=$(awk -v a="$reference_seconds" -v b="$(seconds_since "$reference_started")" \
            'BEGIN { printf "%.1f", a + b }')
        local status=0
        (cd "$dir" && "$program" --no-edit --window "$window" --summary summary.json \
            </dev/null >run.log 2>&1) || status=$?
        if [[ $status -ne 0 || ! -f $dir/summary.json ]]; then
            printf '%-12s %-12s %-12s failed (exit %s): %s\n' "$name" "$n x $n" "$solver" "$status" \
                "$(head -n 1 "$dir/run.log")"
            return 0
        fi
        local elapsed reps per_run iterations
        read -r elapsed reps per_run iterations < <(summary_values "$dir/summary.json")
        per_run=$(awk -v t="$per_run" 'BEGIN { printf "%.6f", t }')
        # Per iteration from the total time over the repetitions.
        local per_iteration per_node
        per_iteration=$(awk -v t="$elapsed" -v r="$reps" -v i="$iterations" \
            'BEGIN { if (r > 0 && i > 0) printf "%.2f", t / r / i * 1e6; else print "-" }')
        per_node=$(awk -v t="$elapsed" -v r="$reps" -v i="$iterations" -v n="$n" \
            'BEGIN { if (r > 0 && i > 0) printf "%.2f", t / r / i / (n * n) * 1e9; else print "-" }')
        # shellcheck disable=SC2059
        printf "$header_format" "$name" "$n x $n" "$solver" "$iterations" "$reps" "$per_run" "$per_iteration" \
            "$per_node" "$reference"
    }

    run_case sg-gs-65 65 Gauss-Seidel write_single_grid 1 65 2000
    run_case sg-msi-129 129 MSI write_single_grid 2 129 200
    run_case sg-adi-129 129 ADI write_single_grid 3 129 200
    run_case sg-elim-33 33 elimination write_single_grid 4 33 1
    run_case sg-elim-129 129 elimination write_single_grid 4 129 1
    run_case mg-gs-257 257 "MG GS" write_multigrid 1 8 20 2
    run_case mg-msi-257 257 "MG MSI" write_multigrid 2 8 20 2
    run_case mg-adi-257 257 "MG ADI" write_multigrid 3 8 20 2
    run_case mg-gs-1025 1025 "MG GS" write_multigrid 1 10 20 2
    program_seconds=$(seconds_since "$program_started")
    echo "(of the ${program_seconds} s, ${reference_seconds} s went to making the reference solutions)"
    echo
fi

echo "bench time: kernels ${kernel_seconds} s, whole program ${program_seconds} s, total $(seconds_since "$started") s"
