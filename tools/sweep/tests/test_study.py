"""Planning a study and writing the input files of its runs (no simulation runs here)."""

import json
import os
import re
import subprocess

import pytest
from conftest import REPO

from advdiff2d_sweep import inputs
from advdiff2d_sweep.study import (Study, UsageError, axes_from_mapping, load_study,
                                   parse_case, plan_runs)

MG_EXAMPLE = REPO / "examples" / "multigrid-gs-65"
SG_EXAMPLE = REPO / "examples" / "single-grid-gs-33"


@pytest.fixture(autouse=True)
def _description(described):
    global D
    D = described


def plan(base, **axes):
    return plan_runs(inputs.BaseCase(str(base), D), Study(), axes_from_mapping(axes, "test", D))


def test_levels_give_both_modes_the_same_finest_grid():
    runs = plan(SG_EXAMPLE, mode="1,2", levels="3,4,5")
    assert [(r.mode, r.nx, r.ny, r.levels) for r in runs] == [
        (1, 9, 9, 3), (1, 17, 17, 4), (1, 33, 33, 5), (2, 9, 9, None), (2, 17, 17, None),
        (2, 33, 33, None)]
    assert all(r.coarsest == (3, 3) for r in runs if r.mode == 1)


def test_grid_sizes_map_to_level_counts_from_the_coarsest_grid():
    got = [(r.grid_text(), r.coarsest, r.levels) for nx, coarsest in (("17", "3"), ("33x17", "3x2"))
           for r in plan(MG_EXAMPLE, nx=nx, coarsest=coarsest, mode="mg")]
    assert got == [("17x17", (3, 3), 4), ("33x17", (3, 2), 5)]
    with pytest.raises(UsageError, match="20x20 cannot be reached"):
        plan(MG_EXAMPLE, nx="20", mode="1")


def test_without_a_grid_axis_both_modes_take_the_base_runs_grid():
    runs = plan(MG_EXAMPLE, mode="1,2")
    assert [(r.mode, r.grid_text()) for r in runs] == [(1, "65x65"), (2, "65x65")]


def test_settings_a_mode_does_not_have_do_not_multiply_its_runs():
    runs = plan(SG_EXAMPLE, mode="1,2", inner="1,2", levels="3")
    assert sorted((r.mode, r.value("inner_iterations")) for r in runs) == [
        (1, 1), (1, 2), (2, None)]


@pytest.mark.parametrize("text, case", [("rotating", (2, 0, 0)), ("diffusion", (1, 3, 0)),
                                        ("45-10", (1, 45, 10)), ("30", (1, 30, 0)),
                                        ("1:45:1000", (1, 45, 1000))])
def test_case_names(text, case):
    assert parse_case(text, D) == case


@pytest.mark.parametrize("axes, message", [
    ({"case": "45"}, "not a test case: give 0, diffusion, 30, 45-0, 45-1"),
    ({"case": "45-3"}, "not a test case"),
    ({"solver": "mis"}, "not a solver: give gs (1, Gauss-Seidel), msi (2, MSI), adi (3, ADI), "
                        "elim (4, Gauss elimination)"),
    ({"mode": "3"}, "not a run mode: give mg (1, multigrid), sg (2, single grid)"),
    ({"nx": "17", "levels": "3"}, "not both"), ({"levels": "4,,5"}, "empty value"),
    ({"colour": "red"}, "unknown setting"),
    # Numbers are taken as the input files take them: no inf, nan or digit separators.
    ({"tolerance": "nan"}, "not a number"), ({"gamma": "inf"}, "not a number"),
    ({"tolerance": "1_0"}, "not a number"), ({"gamma": "1e999"}, "out of the range"),
])
def test_bad_axis_values_are_usage_errors(axes, message):
    with pytest.raises(UsageError, match=re.escape(message)):
        axes_from_mapping(axes, "test", D)


@pytest.mark.parametrize("axes, message", [
    ({"mode": "mg", "solver": "elim"}, "MG2D_000.ent: solver_kind 4 selects nothing (accepted: 1"),
    ({"mode": "mg,sg", "solver": "gs,elim"}, "run mg elim rotating 65x65 L6"),
    ({"case": "1:50:0"}, "flow_angle 50 with peclet_code 0 is not in the velocity table"),
    ({"case": "1:45:3"}, "flow_angle 45 with peclet_code 3"),
    ({"case": "3:0:0"}, "problem_kind 3 selects nothing"),
    ({"init": "7"}, "initial_estimate 7 selects nothing"),
])
def test_combinations_that_select_nothing_are_refused_as_strict_runs_would_be(axes, message):
    with pytest.raises(UsageError, match=re.escape(message)):
        plan(MG_EXAMPLE, **axes)
    # Elimination on a single grid selects a solver.
    assert [r.solver for r in plan(MG_EXAMPLE, mode="sg", solver="elim", levels="3")] == [4]


def test_written_run_files_hold_the_planned_settings(build_dir, tmp_path):
    # The program reads the edited files back: its summary lists every setting it took.
    runs = plan(MG_EXAMPLE, mode="1,2", levels="3", tolerance="1e-8", gamma="0.5",
                case="45-2", inner="3")
    for r in runs:
        folder = tmp_path / r.slug()
        folder.mkdir()
        for name, text in r.files().items():
            (folder / name).write_text(text, encoding="latin-1")
        subprocess.run([build_dir / "advdiff2d-reference"], cwd=folder, check=True,
                       capture_output=True)
        subprocess.run([build_dir / "advdiff2d", "--no-edit", "--window", "0", "--summary",
                        "s.json"], cwd=folder, check=True, capture_output=True)
        got = json.loads((folder / "s.json").read_text())
        s = got["settings"]
        assert (s["tolerance"], s["gamma"]) == (1e-8, 0.5)
        assert (s["problem_kind"], s["flow_angle"], s["peclet_code"]) == (1, 45, 2)
        assert s["report_file_name"].strip() == "report.txt"
        assert (got["grid"]["Nx"], got["grid"]["Ny"]) == (r.nx, r.ny) == (9, 9)
        if r.mode == 1:
            assert (s["level_count"], s["inner_iterations"]) == (3, 3)
        else:  # made from the multigrid file: the shared settings and a bound of its own
            assert s["max_iterations"] == 20000


@pytest.mark.parametrize("lines, error", [
    (["title", "x"], "dados1.ent:2: run_mode: 'x' is not an integer"),
    (["title"], "dados1.ent:2: run_mode: end of file"),
    (["title", "2"], "run_mode: 2 needs SG2D_000.ent"),
])
def test_base_case_errors_name_file_line_and_setting(lines, error, tmp_path):
    (tmp_path / "dados1.ent").write_text("\n".join(lines) + "\n")
    (tmp_path / "MG2D_000.ent").write_text((MG_EXAMPLE / "MG2D_000.ent").read_text())
    with pytest.raises(inputs.InputError, match=error):
        inputs.BaseCase(str(tmp_path), D)


def test_base_files_that_are_not_regular_are_refused_unread(tmp_path):
    (tmp_path / "MG2D_000.ent").write_text((MG_EXAMPLE / "MG2D_000.ent").read_text())
    os.mkfifo(tmp_path / "dados1.ent")
    with pytest.raises(inputs.InputError, match="dados1.ent: not a regular file"):
        inputs.BaseCase(str(tmp_path), D)


def test_items_are_found_past_blank_lines_and_edited_in_place(tmp_path):
    path = tmp_path / "SG2D_000.ent"
    lines = ["2 msi", "'it''s, a name' x", "", "  17,", "9/", ", keeps zero", "\t1d-6 tol"]
    path.write_text("\ufeff".encode("utf-8").decode("latin-1") + "\n".join(lines) + "\n",
                    encoding="latin-1")
    f = inputs.ParameterFile.read(path)
    assert [f.item(i) for i in range(7)] == ["2", "'it''s, a name'", "17", "9", "", "1d-6",
                                             None]
    names = ("a", "b", "c", "d", "e", "f", "g")
    text = f.edited({"b": "'r.txt'", "c": "17", "e": "4", "f": "0.5", "g": "7"}, names)
    assert text.split("\n") == ["2 msi", "'r.txt'      b", "", "  17,", "9/", "4            e",
                                 "\t0.5         f", "7                g", ""]


def test_study_file_groups_and_defaults(tmp_path):
    path = tmp_path / "study.json"
    path.write_text(json.dumps({"base": str(MG_EXAMPLE), "window": 0.5, "case": "rotating",
                                "groups": [{"name": "mg", "mode": 1, "levels": [3, 4]},
                                           {"name": "sg", "mode": "sg", "nx": "9"}]}))
    s = load_study(str(path), D)
    runs = plan_runs(inputs.BaseCase(s.base, D), s, {})
    assert s.window == 0.5
    assert [(r.group, r.mode, r.grid_text()) for r in runs] == [
        ("mg", 1, "9x9"), ("mg", 1, "17x17"), ("sg", 2, "9x9")]
    path.write_text('{"groups": [{"levels": [3], "speed": 2}]}')
    with pytest.raises(UsageError, match="unknown setting 'speed'"):
        load_study(str(path), D)
