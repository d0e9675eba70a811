"""The built program's --summary and --fields read back with the ecosystem's own readers: the JSON
with Python's json module, the fields file with the VTK library's ImageData reader. The values must
be the run's own: the grid of the summary, the reference file's values exactly, and the accuracy
the report prints."""

import json
import math
import os
import pathlib
import shutil
import subprocess

import numpy
import pytest

import vtk  # the VTK library's own reader (Debian python3-vtk9)
from vtk.util.numpy_support import vtk_to_numpy
from mpmath import mp  # independent multiple-precision arithmetic (Debian python3-mpmath)
from mpmath.libmp import to_float

REPO = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = REPO / "examples"


def set_values(path, values):
    """Replaces the values on the given 0-based lines of a parameter file."""
    lines = path.read_text().splitlines(keepends=True)
    for index, value in values.items():
        lines[index] = f"{value}        edited\n"
    path.write_text("".join(lines))


def report_field(report, label):
    """The number at the end of the report line that starts with `label`."""
    for line in report.splitlines():
        if line.startswith(label):
            return line[len(label):].strip()
    raise AssertionError(f"no report line {label!r}")


def run_example(build_dir, tmp_path, example, *options, grid=None):
    """Runs a bundled example; `grid` = (Nx, Ny) replaces a single-grid example's grid."""
    work = tmp_path / example
    work.mkdir()
    for source in (EXAMPLES / example).glob("*.ent"):
        shutil.copy(source, work / source.name)
    if grid:
        set_values(work / "SG2D_000.ent", {2: grid[0], 3: grid[1]})
    subprocess.run([build_dir / "advdiff2d-reference"], cwd=work, check=True, capture_output=True)
    before = sorted(p.name for p in work.iterdir())
    run = subprocess.run([build_dir / "advdiff2d", "--window", "0", "--no-edit", *options],
                         cwd=work, capture_output=True, text=True, stdin=subprocess.DEVNULL)
    assert run.returncode == 0, run.stderr
    assert run.stdout == "" and run.stderr == ""
    return work, before


def read_fields(path):
    reader = vtk.vtkXMLImageDataReader()
    reader.SetFileName(str(path))
    reader.Update()
    assert reader.GetErrorCode() == 0
    image = reader.GetOutput()
    points = image.GetPointData()
    arrays = {points.GetArrayName(k): points.GetArray(k) for k in range(points.GetNumberOfArrays())}
    return image, arrays


# A grid of unlike sides and spacings that are not binary fractions shows x fastest and the
# spacing read back exactly.
@pytest.mark.parametrize("example,sides", [("single-grid-gs-33", None), ("single-grid-gs-33", (30, 7)),
                                          ("multigrid-gs-65", None)])
def test_fields_and_summary_hold_the_runs_own_values(build_dir, tmp_path, example, sides):
    work, before = run_example(build_dir, tmp_path, example, "--summary", "run.json", "--fields=run.vti",
                               grid=sides)
    with open(work / "run.json", encoding="utf-8") as f:
        summary = json.load(f)
    report = (work / summary["report_file"]).read_text(encoding="latin-1")
    assert sorted(p.name for p in work.iterdir()) == sorted(before + [summary["report_file"], "run.json", "run.vti"])

    # The summary as a program reads it.
    assert summary["format"] == "advdiff2d-summary" and summary["format_version"] == 1
    assert summary["converged"] is True and summary["stop_reason"] == "tolerance_reached"
    assert len(summary["norm_history"]) == summary["iteration_count"] + 1
    assert summary["norm_history"][-1] == summary["final_norm"] <= summary["tolerance"]
    assert summary["levels"][0] == {k: summary["grid"][k] for k in ("Nx", "Ny", "N")}
    assert summary["settings"]["report_file_name"] == summary["report_file"]
    grid = summary["grid"]
    nx, ny = grid["Nx"], grid["Ny"]

    image, arrays = read_fields(work / "run.vti")
    if sides:
        assert (nx, ny) == sides
    assert image.GetDimensions() == (nx, ny, 1)
    assert image.GetOrigin() == (0.0, 0.0, 0.0)
    assert image.GetSpacing() == (grid["hx"], grid["hy"], 1.0)
    assert sorted(arrays) == ["TNum", "T_Analitica", "error", "reference_solution"]
    for array in arrays.values():
        assert array.GetDataTypeAsString() == "double"
        assert array.GetNumberOfTuples() == nx * ny and array.GetNumberOfComponents() == 1
    tnum, analytic, error, reference = (vtk_to_numpy(arrays[name]).tolist()
                                        for name in ("TNum", "T_Analitica", "error", "reference_solution"))

    # The reference file lists the values column by column (i outer, j inner); the fields file has
    # x fastest. Every value is the file's own, to the last bit.
    exact = [float(line.split()[0]) for line in
             (work / f"exata{summary['settings']['reference_file_index']}").read_text().splitlines()]
    assert reference == [exact[i * ny + j] for j in range(ny) for i in range(nx)]

    assert error == [a - t for a, t in zip(analytic, tnum)]
    largest = max(abs(a - t) for a, t in zip(analytic, tnum))
    assert largest == summary["linf_error"]
    assert f"{largest:.16E}" == report_field(report, "Norma infinita (T_Analitica - T_Numerica)          :")
    # The mean absolute error, summed in the report's order (i outer, j inner).
    total = 0.0
    for i in range(nx):
        for j in range(ny):
            total += abs(analytic[j * nx + i] - tnum[j * nx + i])
    assert total / (nx * ny) == summary["discretisation_error"]
    assert f"{summary['discretisation_error']:.16E}" == report_field(
        report, "Erro de discretização na malha mais fina           :")
    # The last row of the report's history table is the final norm.
    last_row = [line for line in report.splitlines() if line[:8].strip().isdigit()][-1]
    assert int(last_row[:8]) == summary["iteration_count"]
    assert last_row[8:].strip() == f"{summary['final_norm']:.16E}"


def correctly_rounded(function, x):
    """function(x) for a double x, rounded to the nearest double: evaluated with 200 bits, then
    rounded to nearest once more. That gives the correctly rounded double unless the exact value lay
    within 2^-195 of the midpoint between two doubles, far closer than the hardest cases of sin and
    sinh over all doubles come."""
    with mp.workprec(200):
        return to_float(function(mp.mpf(x))._mpf_, rnd="n")


def varies_between_runs(line):
    return line.startswith(("Data da simulacao", "Tempo de ", "N\u00famero de vezes"))


# Pure diffusion on grids of unlike sides, some of which made the C library's sin and sinh print
# other digits on another of its processor paths: T_Analitica is sin(pi x) sinh(pi y) / sinh(pi)
# with correctly rounded sin and sinh, every multiplication and division in double, and the
# program's outputs are the same on both of glibc's paths (one iteration of Gauss-Seidel against a
# zero reference: the analytic field does not depend on the solution).
@pytest.mark.parametrize("nx,ny", [(17, 9), (16, 62), (31, 66), (46, 78), (61, 84), (100, 3), (385, 257),
                                   (1025, 17)])
def test_pure_diffusion_analytic_field_is_correctly_rounded_on_every_cpu_path(build_dir, tmp_path, nx, ny):
    kpi = 3.141592653589793
    outputs = []
    for path, environment in (("default", {}), ("without-avx2-fma", {"GLIBC_TUNABLES": "glibc.cpu.hwcaps=-AVX2,-FMA"})):
        work = tmp_path / path
        work.mkdir()
        for source in (EXAMPLES / "single-grid-gs-33").glob("*.ent"):
            shutil.copy(source, work / source.name)
        set_values(work / "SG2D_000.ent", {2: nx, 3: ny, 5: 1, 6: 3, 9: 1, 12: 2})
        (work / "exata1").write_text("0.0\n" * (nx * ny))
        run = subprocess.run([build_dir / "advdiff2d", "--window", "0", "--no-edit", "--fields", "run.vti"], cwd=work,
                             capture_output=True, text=True, stdin=subprocess.DEVNULL,
                             env={**os.environ, **environment})
        assert run.returncode == 0, run.stderr
        report = [line for line in (work / "sg_gs_33.txt").read_text(encoding="latin-1").splitlines()
                  if not varies_between_runs(line)]
        outputs.append((report, (work / "run.vti").read_bytes()))
    assert outputs[0] == outputs[1]

    _, arrays = read_fields(tmp_path / "default" / "run.vti")
    analytic = vtk_to_numpy(arrays["T_Analitica"])
    hx, hy = 1.0 / (nx - 1), 1.0 / (ny - 1)
    sin_pi_x = numpy.array([correctly_rounded(mp.sin, kpi * ((i - 1) * hx)) for i in range(1, nx + 1)])
    sinh_pi_y = numpy.array([correctly_rounded(mp.sinh, kpi * ((j - 1) * hy)) for j in range(1, ny + 1)])
    sinh_pi = correctly_rounded(mp.sinh, kpi)
    expected = (sin_pi_x[numpy.newaxis, :] * sinh_pi_y[:, numpy.newaxis]) / sinh_pi  # x fastest, as stored
    assert numpy.array_equal(analytic.view(numpy.uint64), expected.reshape(-1).view(numpy.uint64))


def test_without_options_only_the_report_is_written(build_dir, tmp_path):
    work, before = run_example(build_dir, tmp_path, "single-grid-gs-33")
    added = sorted(set(p.name for p in work.iterdir()) - set(before))
    assert len(added) == 1 and added[0].endswith(".txt")


def prepared_single_grid(build_dir, tmp_path, max_iterations):
    work = tmp_path / "case"
    shutil.copytree(EXAMPLES / "single-grid-gs-33", work)
    set_values(work / "SG2D_000.ent", {9: max_iterations})
    subprocess.run([build_dir / "advdiff2d-reference"], cwd=work, check=True, capture_output=True)
    return work


def summary_of(build_dir, work):
    run = subprocess.run([build_dir / "advdiff2d", "--window", "0", "--no-edit", "--summary", "s.json"],
                         cwd=work, capture_output=True, text=True, stdin=subprocess.DEVNULL)
    assert run.returncode == 0, run.stderr
    return json.loads((work / "s.json").read_text())


def test_a_run_stopped_by_its_bound_is_not_converged(build_dir, tmp_path):
    summary = summary_of(build_dir, prepared_single_grid(build_dir, tmp_path, 3))
    assert summary["converged"] is False
    assert summary["stop_reason"] == "iteration_bound_reached"
    assert summary["iteration_count"] == 3 and len(summary["norm_history"]) == 4
    assert summary["final_norm"] > summary["tolerance"]
    rate = summary["last_iteration_rate"]
    history = summary["norm_history"]
    assert rate["reduction_factor"] == history[3] / history[2]
    assert rate["printed"] == (history[2] - history[1]) / (history[3] - history[2])


def test_a_norm_past_the_double_range_is_a_string_and_not_converged(build_dir, tmp_path):
    # Reference values near the largest double: the mean iteration error overflows to infinity.
    work = prepared_single_grid(build_dir, tmp_path, 5)
    reference = work / "exata1"
    reference.write_text("1.7E+308\n" * len(reference.read_text().splitlines()))
    summary = summary_of(build_dir, work)
    assert summary["converged"] is False
    assert summary["stop_reason"] == "norm_not_finite"
    assert summary["final_norm"] == "Infinity" and summary["initial_norm"] == "Infinity"
    assert summary["iteration_count"] == 5


# A report name that is not UTF-8 (ISO 8859-1, the report's own character set, or bytes that no
# encoding gives) still makes a summary that a strict reader takes, and that names the file exactly.
@pytest.mark.parametrize("name", [b"relat\xf3rio.txt", "relat\u00f3rio.txt".encode(), b"surrogate\xed\xa0\x80",
                                  b"overlong\xc0\xaf", b"above-max\xf4\x90\x80\x80"])
def test_the_summary_is_strict_json_and_names_the_report_whatever_its_bytes(build_dir, tmp_path, name):
    work = prepared_single_grid(build_dir, tmp_path, 3)
    parameters = work / "SG2D_000.ent"
    lines = parameters.read_bytes().split(b"\n")
    lines[1] = b"'" + name + b"'"
    parameters.write_bytes(b"\n".join(lines))
    summary_of(build_dir, work)
    summary = json.loads((work / "s.json").read_bytes().decode("utf-8", errors="strict"))
    assert bytes.fromhex(summary["report_file_bytes"]) == name
    # The Windows program (under wine, ADVDIFF_NAMES_LATIN1 set) takes the name's bytes as ISO 8859-1
    # characters, which wine keeps in this machine's UTF-8.
    on_disk = name.decode("latin-1").encode() if os.environ.get("ADVDIFF_NAMES_LATIN1") else name
    assert os.path.isfile(os.path.join(os.fsencode(work), on_disk))
    try:
        text = name.decode("utf-8")
    except UnicodeDecodeError:
        text = name.decode("latin-1")
    assert summary["report_file"] == text == summary["settings"]["report_file_name"]
