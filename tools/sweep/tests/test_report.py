"""The report reader, on reports the program writes and on texts that are not reports."""

import math
import subprocess

import pytest
from conftest import GOLDEN, SCRIPT, copy_case

from advdiff2d_sweep import inputs, study
from advdiff2d_sweep.report import ReportError, parse_number, parse_report, read_report

CASES = sorted(p.name for p in GOLDEN.iterdir() if p.is_dir())


@pytest.mark.parametrize("case", CASES)
def test_program_report_fields_match_the_inputs_of_the_run(case, build_dir, tmp_path):
    folder = copy_case(GOLDEN / case, tmp_path / case)
    subprocess.run([build_dir / "advdiff2d", "--no-edit", "--window", "0"], cwd=folder,
                   check=True, capture_output=True)
    mode = inputs.read_run_mode(folder)
    name, layout = inputs.LAYOUTS[mode]
    p = inputs.read_values(folder / name, layout)
    r = read_report(folder / p["report_file_name"])

    assert r["report_name"] == p["report_file_name"]
    assert r["mode"] == mode
    assert r["solver"] == study.SOLVER_NAMES[p["solver_kind"]]
    if mode == 1:
        grid = study.finest_grid(p["level_count"], (p["coarsest_nx"], p["coarsest_ny"]))
        assert (r["levels"], r["coarsest_nx"], r["coarsest_ny"]) == (
            p["level_count"], p["coarsest_nx"], p["coarsest_ny"])
        assert r["inner_iterations"] == p["inner_iterations"]
        assert r["coarsening"] == [p["coarsening_p"], p["coarsening_q"]]
        assert r["last_rate"] is None and r["average_rate"] is None
    else:
        grid = (p["nx"], p["ny"])
        assert r["inner_iterations"] == 1 and r["levels"] is None
        assert r["average_rate"] == (0.0 if p["solver_kind"] != 4 else None)
    assert (r["nx"], r["ny"], r["unknowns"]) == (grid[0], grid[1], grid[0] * grid[1])
    assert r["repetitions"] == 1 and r["seconds_per_run"] == r["elapsed_seconds"]
    assert r["tolerance"] == (p["tolerance"] if p["solver_kind"] != 4 else None)
    assert r["msi_tolerance"] == (p["msi_tolerance"] if p["solver_kind"] == 2 else None)
    assert 0 <= r["discretisation_error"] <= r["linf_error"]

    k = r["outer_iterations"]
    if p["print_history"] == 1 and p["solver_kind"] != 4:
        every = p["history_interval"]
        expected = [1] + [n for n in range(2, k + 1) if n == k or n % every == 0]
        assert [row[0] for row in r["history"]] == expected
        # The last row and the final-norm line print the same number, to 17 and 5 digits.
        assert r["final_norm"] == pytest.approx(r["history"][-1][1], rel=1e-4)
    else:
        assert r["history"] == []


def _with_field(text, label, value):
    """The report text with the field after `label` replaced by `value`."""
    lines = text.split("\n")
    i = next(i for i, line in enumerate(lines) if line.startswith(label))
    lines[i] = lines[i][:lines[i].rindex(":") + 1] + value
    return "\n".join(lines)


GS_REPORT = (GOLDEN / "mg-gs-rotating-L5" / "expected-mg_gs.txt").read_bytes().decode("latin-1")


@pytest.mark.parametrize("label, value, key, expected", [
    ("Iterações externas", " *************", "outer_iterations", None),
    ("Convergiu com a norma", "          NaN", "final_norm", math.nan),
    ("Norma L1 média do erro", "     Infinity", "initial_norm", math.inf),
    ("Erro de discretização", "  -1.7976931348623157+308", "discretisation_error",
     -1.7976931348623157e308),
    ("Norma infinita", "   4.9406564584124654-324", "linf_error", 5e-324),
    ("Tolerancia ", "    -Infinity", "tolerance", -math.inf),
])
def test_special_field_texts_are_read(label, value, key, expected):
    r = parse_report(_with_field(GS_REPORT, label, value))
    if expected is None or math.isnan(expected):
        assert r[key] is None if expected is None else math.isnan(r[key])
    else:
        assert r[key] == expected


def test_worked_example_of_a_multigrid_report():
    r = parse_report(GS_REPORT)
    assert (r["outer_iterations"], r["levels"], r["unknowns"]) == (6, 5, 1089)
    assert r["final_norm"] == 6.2513e-12
    assert r["discretisation_error"] == 1.0009015041781269e-04
    assert r["history"][0] == [1, 3.5333991705050719e-04]
    assert r["date"] == "8/12/2026 21:1:31"


@pytest.mark.parametrize("text, expected", [
    ("   1.2346E-05", 1.2346e-05), ("      0.250000", 0.25), ("  -5.0000E-01", -0.5),
    ("1.7976931348623157+308", 1.7976931348623157e308),
    ("4.9406564584124654-324", 5e-324), ("-1.0000000000000000-100", -1e-100),
    ("*************", None), ("Infinity", math.inf), ("-Infinity", -math.inf),
])
def test_number_texts(text, expected):
    assert parse_number(text) == expected


@pytest.mark.parametrize("content, message", [
    (b"", "not an advdiff2d report"),
    ((GOLDEN / "sg-adi-30-17" / "SG2D_000.ent").read_bytes(), "not an advdiff2d report"),
    (b"run,status\n1,ok\n", "not an advdiff2d report"),
    (b"\nSimulacao :   x\n\0\1\2", "binary"),
    (b"\nSimulacao :                a.txt\n", "no model section"),
    (_with_field(GS_REPORT, "Iterações externas", "  12x").encode("latin-1"),
     "'12x' is not an integer"),
    ((GS_REPORT + "  garbage\n").encode("latin-1"), "not a row of the norm table"),
])
def test_texts_that_are_not_reports_are_refused(content, message, tmp_path):
    path = tmp_path / "file.txt"
    path.write_bytes(content)
    with pytest.raises(ReportError, match=message) as info:
        read_report(path)
    assert str(path) in str(info.value)


def test_read_option_prints_json_or_one_error_line(tmp_path):
    good = subprocess.run([SCRIPT, "--read", GOLDEN / "sg-adi-30-17" / "expected-sg_adi.txt"],
                          capture_output=True, text=True)
    assert good.returncode == 0 and '"outer_iterations": 251' in good.stdout
    bad = tmp_path / "notes.txt"
    bad.write_text("hello\n")
    refused = subprocess.run([SCRIPT, "--read", bad], capture_output=True, text=True)
    assert refused.returncode == 1 and refused.stdout == ""
    assert refused.stderr.count("\n") == 1 and "not an advdiff2d report" in refused.stderr
