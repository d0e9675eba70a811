"""The tables and plots of a sweep from rows made up here (no simulation runs)."""

import os

import pytest

from advdiff2d_sweep import fields, plots, results


def _row(run, nx, error, case="diffusion", solver=1, mode=1, converged=True, inner=2,
         final_norm=1e-11, tolerance=1e-10, exact=False):
    row = dict.fromkeys(results.COLUMNS)
    row.update(run=run, folder=f"runs/{run:03d}", status="ok", mode=mode, solver=solver,
               solver_name=f"solver {solver}", case=case, test_case=f"the {case} case",
               scheme_exact=exact, grid=f"{nx}x{nx}", nx=nx, ny=nx,
               unknowns=nx * nx, h=1.0 / (nx - 1), discretisation_error=error,
               linf_error=4 * error, final_norm=final_norm, tolerance=tolerance,
               converged=converged, inner_setting=inner,
               mean_seconds=1e-7 * nx ** 2, outer_iterations=6 if converged else 100,
               stop_reason="tolerance_reached" if converged else "iteration_bound_reached")
    return row


@pytest.mark.parametrize("errors, extra, ratios, orders, note", [
    ((0.256 / 64, 0.256 / 256, 0.256 / 1024), {}, [4.0, 4.0], [2.0, 2.0], ""),
    # A constant-velocity case: the scheme is exact, the error is the iteration error.
    ((3e-11, 1e-11, 5e-11), {"exact": True}, [], [], "exact for this case"),
    # An error a few times the tolerance the run stopped at says nothing either.
    ((2e-9, 9e-10, 3e-10), {"tolerance": 1e-10}, [], [], "at the tolerance"),
    ((2e-16, 9e-16, 3e-15), {"tolerance": 1e-16, "final_norm": 0.0}, [], [], "at round-off"),
], ids=["second-order", "exact", "tolerance", "round-off"])
def test_rates_between_refinements_for_mean_and_maximum(errors, extra, ratios, orders, note):
    rows = [_row(i, nx, e, **extra) for i, (nx, e) in enumerate(zip((9, 17, 33), errors), 1)]
    [(label, steps)] = results.rate_table(rows)
    for column in (1, 2):  # the mean error, then the maximum
        got = [s[column] for s in steps]
        assert [r for r, _, _ in got if r is not None] == pytest.approx(ratios)
        assert [o for _, o, _ in got if o is not None] == pytest.approx(orders)
        assert {n for _, _, n in got} == {note}
    [(_, _, q, _, fit_note)] = results.series_fits(rows)
    assert (q is None) == bool(note) and note in fit_note


def test_runs_that_did_not_converge_or_failed_are_not_fitted():
    rows = [_row(i, nx, 1.0 / (nx - 1) ** 2) for i, nx in enumerate((9, 17, 33), 1)]
    rows.append(_row(4, 65, 1.0, converged=False))
    failed = _row(5, 129, 1e-9)
    failed["status"] = "failed"
    [(_, p, q, n, _)] = results.series_fits(rows + [failed])
    assert n == 3 and q == pytest.approx(2.0, abs=0.1) and p == pytest.approx(1.0, abs=0.1)
    text = results.summary_text(rows + [failed], "cmd", "title", 1.0, [], planned=7)
    assert "5 runs, 4 ok, 1 not ok (2 of the 7 planned still to run)" in text
    assert "- run 4 (runs/004): iteration_bound_reached, 100 iterations" in text


def test_ranking_per_case_and_grid_fastest_first_against_the_slowest():
    rows = [_row(1, 33, 1e-3, solver=1), _row(2, 33, 1e-3, solver=2),
            _row(3, 33, 1e-3, solver=3, converged=False), _row(4, 33, 1e-3, solver=1, mode=2),
            _row(5, 17, 1e-3, solver=1)]  # alone on its grid: nothing to rank
    rows[0]["mean_seconds"], rows[1]["mean_seconds"], rows[3]["mean_seconds"] = 0.4, 0.1, 0.8
    [((case, grid), _, entries)] = results.ranking(rows)
    assert (case, grid) == ("the diffusion case", "33x33")
    assert [(r["run"], n, x) for r, n, x in entries] == [
        (2, 1089 / 0.1, 8.0), (1, 1089 / 0.4, 2.0), (4, 1089 / 0.8, 1.0), (3, None, None)]
    text = results.summary_text(rows, "cmd", "title", 1.0, [])
    assert "| 1 | multigrid solver 2 | 0.1 | 6 | 0.0167 | 1.09e+04 | 8.00 |" in text
    assert "| - | multigrid solver 3 | " in text and "did not converge" in text


def test_plots_scale_to_many_series_and_cases(tmp_path):
    rows, histories = [], {}
    for solver in (1, 2, 3, 4):
        for inner in (1, 2, 3):
            for case in ("rotating", "diffusion"):
                for nx in (9, 17, 33):
                    row = _row(len(rows) + 1, nx, 1.0 / nx ** 2, case=case, solver=solver,
                               inner=inner, converged=nx != 33 or solver != 4)
                    rows.append(row)
                    histories[row["run"]] = [10.0 ** -k for k in range(7)]
    names = plots.write_plots(str(tmp_path), rows, histories)
    assert names == ["time_vs_unknowns", "iterations_vs_unknowns", "error_vs_h", "history"]
    for name in names:
        assert os.path.getsize(tmp_path / f"{name}.png") > 10000
    fig = plots._xy_plot(rows, "unknowns", "mean_seconds", "p", "N", "t", "title", True)
    visible = [ax for ax in fig.axes if ax.get_visible()]
    assert [ax.get_title() for ax in visible] == ["the rotating case", "the diffusion case"]
    [legend] = fig.legends
    labels = [t.get_text() for t in legend.get_texts()]
    assert len(labels) == 13 and labels[-1] == "did not converge (not fitted)"
    assert len(set(labels)) == 13
    styles = plots.Styles(rows)
    looks = {(tuple(sorted(map(str, styles.look(r).values())))) for r in rows}
    assert len(looks) == 12  # every series is drawn differently
    assert all(ax.get_legend() is None for ax in visible)  # the legend is outside the panels
    assert all(len(ax.get_xticklabels()) == 3 for ax in visible)


def test_tables_are_replaced_whole_or_not_at_all(tmp_path):
    path = tmp_path / "results.csv"
    results.write_csv(path, [_row(1, 9, 1e-3)])
    assert path.read_text().count("\n") == 2
    (tmp_path / "blocked.csv").mkdir()
    with pytest.raises(OSError):
        results.write_csv(tmp_path / "blocked.csv", [])
    assert sorted(os.listdir(tmp_path)) == ["blocked.csv", "results.csv"]


def test_a_fields_file_that_is_not_image_data_is_one_error(tmp_path):
    path = tmp_path / "fields.vti"
    path.write_text("<VTKFile type='PolyData'></VTKFile>")
    with pytest.raises(fields.FieldsError, match="fields.vti: not a VTK ImageData file"):
        fields.read_fields(path)
