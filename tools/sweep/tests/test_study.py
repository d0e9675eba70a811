"""Planning a study and writing the input files of its runs (no simulation runs here)."""

import json

import pytest
from conftest import REPO

from advdiff2d_sweep import inputs
from advdiff2d_sweep.study import (Study, UsageError, axes_from_mapping, load_study,
                                   parse_case, plan_runs)

MG_EXAMPLE = REPO / "examples" / "multigrid-gs-65"
SG_EXAMPLE = REPO / "examples" / "single-grid-gs-33"


def plan(base, **axes):
    return plan_runs(inputs.BaseCase(str(base)), Study(), axes_from_mapping(axes, "test"))


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
    assert sorted((r.mode, r.params.get("inner_iterations")) for r in runs) == [
        (1, 1), (1, 2), (2, None)]


@pytest.mark.parametrize("text, case", [("rotating", (2, 0, 0)), ("diffusion", (1, 3, 0)),
                                        ("45-10", (1, 45, 10)), ("30", (1, 30, 0)),
                                        ("1:45:1000", (1, 45, 1000))])
def test_case_names(text, case):
    assert parse_case(text) == case


@pytest.mark.parametrize("axes, message", [
    ({"case": "45"}, "Peclet code"), ({"case": "45-3"}, "Peclet code"),
    ({"solver": "sor"}, "not an integer"), ({"mode": "3"}, "above 2"),
    ({"nx": "17", "levels": "3"}, "not both"), ({"tolerance": "nan"}, "finite"),
    ({"levels": "4,,5"}, "empty value"), ({"colour": "red"}, "unknown setting"),
])
def test_bad_axis_values_are_usage_errors(axes, message):
    with pytest.raises(UsageError, match=message):
        axes_from_mapping(axes, "test")


def test_written_run_files_read_back_to_the_same_settings(tmp_path):
    run = plan(MG_EXAMPLE, mode="1,2", tolerance="1e-8", gamma="0.5", case="45-2")
    for r in run:
        r.params["report_file_name"] = "it's a report.txt"
        folder = tmp_path / str(r.mode)
        folder.mkdir()
        inputs.write_run_files(folder, r.mode, r.params, "title line")
        name, layout = inputs.LAYOUTS[r.mode]
        assert inputs.read_run_mode(folder) == r.mode
        assert inputs.read_values(folder / name, layout) == r.params


@pytest.mark.parametrize("lines, error", [
    (["1", "'r.txt'", "10.0"], "x.ent:3: level_count: '10.0' is not an integer"),
    (["1", "'r.txt"], "x.ent:2: report_file_name: text without its closing quote"),
    (["1", "r.txt", "3"], "x.ent:4: reference_file_index: end of file"),
])
def test_base_file_errors_name_file_line_and_setting(lines, error, tmp_path):
    path = tmp_path / "x.ent"
    path.write_text("\n".join(lines) + "\n")
    with pytest.raises(inputs.InputError, match=error.replace("(", r"\(")):
        inputs.read_values(path, inputs.MG_LAYOUT)


def test_free_format_values_with_comments_blank_lines_and_d_exponents(tmp_path):
    path = tmp_path / "SG2D_000.ent"
    values = ["2 msi", "two words", "", "  17,", "9/", "1", "1", "45", "10", "1D-1", "100",
              "1d-6 tol", ", keeps zero", "1", "1", "1", "0", "0"]
    path.write_text("\n".join(values) + "\n")
    p = inputs.read_values(path, inputs.SG_LAYOUT)
    assert (p["solver_kind"], p["report_file_name"], p["nx"], p["ny"]) == (2, "two", 17, 9)
    assert (p["gamma"], p["tolerance"], p["msi_tolerance"]) == (0.1, 1e-6, 0.0)


def test_study_file_groups_and_defaults(tmp_path):
    path = tmp_path / "study.json"
    path.write_text(json.dumps({"base": str(MG_EXAMPLE), "window": 0.5, "case": "rotating",
                                "groups": [{"name": "mg", "mode": 1, "levels": [3, 4]},
                                           {"name": "sg", "mode": "sg", "nx": "9"}]}))
    s = load_study(str(path))
    runs = plan_runs(inputs.BaseCase(s.base), s, {})
    assert s.window == 0.5
    assert [(r.group, r.mode, r.grid_text()) for r in runs] == [
        ("mg", 1, "9x9"), ("mg", 1, "17x17"), ("sg", 2, "9x9")]
    path.write_text('{"groups": [{"levels": [3], "speed": 2}]}')
    with pytest.raises(UsageError, match="unknown setting 'speed'"):
        load_study(str(path))
