"""Pictures of the fields a run writes with --fields (VTK XML ImageData, read with the VTK
library): per run, the numerical solution and its error as heatmaps, on one colour scale
for every run of a test case. The VTK library is imported only when pictures are asked for.
"""

import math
import os

FIELDS_FILE = "fields.vti"
SOLUTION, ANALYTIC, ERROR = "TNum", "T_Analitica", "error"


class FieldsError(Exception):
    """The fields cannot be read or drawn (no VTK library, a file that is not ImageData)."""


def _vtk():
    try:
        from vtkmodules.util.numpy_support import vtk_to_numpy
        from vtkmodules.vtkCommonCore import vtkObject
        from vtkmodules.vtkIOXML import vtkXMLImageDataReader
    except ImportError:
        raise FieldsError("--fields needs the VTK library for Python (Debian package "
                          "python3-vtk9)") from None
    vtkObject.GlobalWarningDisplayOff()  # a bad file is reported here, in one line
    return vtkXMLImageDataReader, vtk_to_numpy


def check_available():
    _vtk()


def read_fields(path):
    """{"nx", "ny", "hx", "hy", "arrays": {name: array of shape (ny, nx)}} of a .vti file."""
    reader_class, vtk_to_numpy = _vtk()
    if not os.path.isfile(path):
        raise FieldsError(f"{path}: no fields file")
    reader = reader_class()
    if not reader.CanReadFile(str(path)):
        raise FieldsError(f"{path}: not a VTK ImageData file")
    reader.SetFileName(str(path))
    reader.Update()
    image = reader.GetOutput()
    nx, ny, nz = image.GetDimensions()
    if nx < 1 or ny < 1 or nz != 1:
        raise FieldsError(f"{path}: not a two-dimensional grid ({nx} x {ny} x {nz})")
    hx, hy, _ = image.GetSpacing()
    data = image.GetPointData()
    arrays = {}
    for i in range(data.GetNumberOfArrays()):
        values = vtk_to_numpy(data.GetArray(i))
        if values.size == nx * ny:
            arrays[data.GetArrayName(i)] = values.reshape(ny, nx)  # x runs fastest
    for name in (SOLUTION, ERROR):
        if name not in arrays:
            raise FieldsError(f"{path}: no point array '{name}'")
    return {"nx": nx, "ny": ny, "hx": hx, "hy": hy, "arrays": arrays}


def _finite_range(values):
    import numpy as np
    finite = values[np.isfinite(values)]
    return (float(finite.min()), float(finite.max())) if finite.size else (0.0, 1.0)


def draw(fields, title, solution_range, error_bound, path):
    """One figure: the solution and the error (analytic minus numerical) side by side."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    from matplotlib.colors import Normalize, SymLogNorm

    # Each value is drawn as the cell around its node.
    hx, hy = fields["hx"], fields["hy"]
    extent = (-hx / 2, (fields["nx"] - 0.5) * hx, -hy / 2, (fields["ny"] - 0.5) * hy)
    # The error spans decades from the coarsest grid of a case to its finest: a symmetric
    # logarithmic scale keeps the finest grid's error visible on the shared scale.
    panels = ((SOLUTION, "numerical solution TNum", "viridis",
               Normalize(*solution_range)),
              (ERROR, "error T_Analitica - TNum (symmetric log scale)", "RdBu_r",
               SymLogNorm(linthresh=error_bound * 1e-3, vmin=-error_bound, vmax=error_bound,
                          base=10)))
    fig, axes = plt.subplots(1, 2, figsize=(11, 4.6), constrained_layout=True)
    for ax, (name, label, cmap, norm) in zip(axes, panels):
        image = ax.imshow(fields["arrays"][name], origin="lower", extent=extent, cmap=cmap,
                          norm=norm, interpolation="nearest", aspect="equal")
        ax.set_xlabel("x")
        ax.set_ylabel("y")
        ax.set_title(label, fontsize="medium")
        fig.colorbar(image, ax=ax, shrink=0.9)
    fig.suptitle(title)
    fig.savefig(path, dpi=110)
    plt.close(fig)


def write_pictures(out, rows, step=None):
    """OUT/fields/<run>.png for every completed run that kept its fields; returns the paths.
    The colour scales are shared by the runs of one test case. step(k, n, name), when given,
    is a context manager around the drawing of each (progress)."""
    import contextlib

    import numpy as np

    loaded = []
    for row in rows:
        path = os.path.join(out, row["folder"], FIELDS_FILE)
        if row["status"] == "ok" and os.path.isfile(path):
            loaded.append((row, read_fields(path)))
    scales = {}
    for row, fields in loaded:
        low, high = _finite_range(fields["arrays"][SOLUTION])
        err = np.abs(fields["arrays"][ERROR])
        bound = float(err[np.isfinite(err)].max()) if np.isfinite(err).any() else 0.0
        s = scales.setdefault(row["case"], [math.inf, -math.inf, 0.0])
        s[0], s[1], s[2] = min(s[0], low), max(s[1], high), max(s[2], bound)
    written = []
    if loaded:
        os.makedirs(os.path.join(out, "fields"), exist_ok=True)
    step = step or (lambda k, n, name: contextlib.nullcontext())
    for k, (row, fields) in enumerate(loaded, start=1):
        low, high, bound = scales[row["case"]]
        if high <= low:
            high = low + 1.0
        name = os.path.basename(row["folder"])
        path = os.path.join(out, "fields", f"{name}.png")
        title = (f"run {row['run']}: {row['solver_name']}, {row['test_case'] or row['case']}, "
                 f"{row['grid'].replace('x', ' x ')} nodes" +
                 (f", {row['levels']} levels" if row["levels"] else ""))
        with step(k, len(loaded), name):
            draw(fields, title, (low, high), bound or 1e-300, path)
        written.append(path)
    return written
