"""What a study runs: the settings to vary, the study file, and the list of concrete runs.

A study is a base case plus axes (lists of values for settings). Each group of a study file
is the cross product of its axes; the groups are run one after the other. Axes given on the
command line replace the same axis in every group. Combinations that write identical input
files are run once.
"""

import itertools
import json
import math
import os
import re

from . import inputs

REPORT_NAME = "report.txt"
SOLVER_NAMES = {1: "Gauss-Seidel", 2: "MSI", 3: "ADI", 4: "Elim_Gauss"}
SOLVER_SHORT = {1: "gs", 2: "msi", 3: "adi", 4: "elim"}
_SOLVER_ALIASES = {"gs": 1, "gauss-seidel": 1, "msi": 2, "adi": 3, "elim": 4,
                   "elim_gauss": 4, "elim-gauss": 4}
MODE_NAMES = {1: "MG", 2: "SG"}
_MODE_ALIASES = {"mg": 1, "multigrid": 1, "sg": 2, "single-grid": 2, "singlegrid": 2}
_FLOW_ANGLES = (0, 3, 30, 60, 90)
_PECLET_CODES = (0, 1, 2, 10, 100, 1000)
DEFAULT_COARSEST = (3, 3)
# Upper bounds of iterations for a mode whose parameter file the base case lacks.
DEFAULT_MAX_ITERATIONS = {1: 100, 2: 20000}
DEFAULT_INNER_ITERATIONS = 2


class UsageError(Exception):
    """A study that cannot be run as given (bad option value, unreachable grid, ...)."""


# ---------------------------------------------------------------------------------------------
# Parsing of axis values. Each parser takes the text of one value.

def _integer(text, low=None, high=None):
    t = text.strip()
    if not re.fullmatch(r"[+-]?\d+", t):
        raise ValueError(f"'{t}' is not an integer")
    v = int(t)
    if not inputs.INT32_MIN <= v <= inputs.INT32_MAX:
        raise ValueError(f"{t} does not fit a 32-bit integer")
    if low is not None and v < low:
        raise ValueError(f"{t} is below {low}")
    if high is not None and v > high:
        raise ValueError(f"{t} is above {high}")
    return v


def _real(text):
    t = text.strip()
    try:
        v = float(t)
    except ValueError:
        raise ValueError(f"'{t}' is not a number") from None
    if not math.isfinite(v):
        raise ValueError(f"'{t}' is not a finite number")
    return v


def parse_mode(text):
    t = text.strip().lower()
    if t in _MODE_ALIASES:
        return _MODE_ALIASES[t]
    return _integer(t, 1, 2)


def parse_solver(text):
    t = text.strip().lower()
    if t in _SOLVER_ALIASES:
        return _SOLVER_ALIASES[t]
    return _integer(t, 1, 4)


def parse_case(text):
    """A test case as (problem_kind, flow_angle, peclet_code).

    rotating, diffusion, an angle (0, 30, 60, 90), 45-<peclet code>, or the raw triple
    kind:angle:code.
    """
    t = text.strip().lower()
    if t == "rotating":
        return (2, 0, 0)
    if t == "diffusion":
        return (1, 3, 0)
    m = re.fullmatch(r"45-(\d+)", t)
    if m:
        code = int(m.group(1))
        if code not in _PECLET_CODES:
            raise ValueError(f"'{t}': the Peclet code is one of {_PECLET_CODES}")
        return (1, 45, code)
    if re.fullmatch(r"\d+", t):
        angle = int(t)
        if angle not in _FLOW_ANGLES:
            raise ValueError(f"'{t}': the flow angle is one of {_FLOW_ANGLES} (45 needs a "
                             "Peclet code: 45-0, 45-1, 45-2, 45-10, 45-100, 45-1000)")
        return (1, angle, 0)
    m = re.fullmatch(r"([+-]?\d+):([+-]?\d+):([+-]?\d+)", t)
    if m:
        return tuple(_integer(g) for g in m.groups())
    raise ValueError(f"'{text.strip()}' is not a test case (rotating, diffusion, 0, 30, 60, 90, "
                     "45-<code> or kind:angle:code)")


def case_label(case):
    kind, angle, code = case
    if kind != 1 and (angle, code) == (0, 0):
        return "rotating"
    if kind == 1 and angle == 3 and code == 0:
        return "diffusion"
    if kind == 1 and angle == 45:
        return f"45-{code}"
    if kind == 1 and angle in _FLOW_ANGLES and code == 0:
        return str(angle)
    return f"{kind}:{angle}:{code}"


def parse_grid_size(text):
    """'17' (17 x 17) or '17x9' (Nx x Ny)."""
    t = text.strip().lower()
    m = re.fullmatch(r"(\d+)(?:x(\d+))?", t)
    if not m:
        raise ValueError(f"'{text.strip()}' is not a grid size (N or NxxNy, e.g. 33 or 17x9)")
    nx = _integer(m.group(1), 2)
    ny = _integer(m.group(2), 2) if m.group(2) else nx
    return (nx, ny)


def _parse_nx(text):
    return ("nx",) + parse_grid_size(text)


def _parse_levels(text):
    return ("levels", _integer(text, 1, 30))


# Axis name -> (parser, help). The order is the nesting order of the runs: the grid changes
# fastest, so that each series of runs climbs through the grids.
AXES = {
    "case": (parse_case, "test case: rotating, diffusion, 0, 30, 60, 90, 45-<Peclet code> "
                         "(45-0, 45-1, 45-2, 45-10, 45-100, 45-1000) or kind:angle:code"),
    "mode": (parse_mode, "1 (or mg) multigrid, 2 (or sg) single-grid"),
    "solver": (parse_solver, "1 gs, 2 msi, 3 adi, 4 elim (multigrid: the smoother)"),
    "coarsest": (parse_grid_size, "coarsest multigrid grid, N or NxxNy (default: the base "
                                  "case's, else 3)"),
    "inner": (lambda t: _integer(t, 0), "smoothing sweeps per level visit (multigrid only)"),
    "tolerance": (_real, "stopping tolerance of the iteration-error norm"),
    "msi_tolerance": (_real, "tolerance handed to the MSI solver"),
    "init": (lambda t: _integer(t), "initial estimate: 1 zero, 2 analytic, 3 one half"),
    "gamma": (_real, "diffusion coefficient"),
    "max_iterations": (lambda t: _integer(t, 0), "upper bound of outer iterations / cycles"),
    "history": (lambda t: _integer(t, 0), "0: no norm table; N: list the norm every N "
                                          "iterations (1 lists every one)"),
    "grid": (None, "finest grid: given as --nx or --levels"),
}
GRID_KEYS = {"nx": _parse_nx, "levels": _parse_levels}


def parse_axis_values(name, raw):
    """A list of parsed values from a comma-separated text or a JSON scalar or list."""
    parser = GRID_KEYS[name] if name in GRID_KEYS else AXES[name][0]
    items = raw if isinstance(raw, list) else [raw]
    texts = []
    for item in items:
        if isinstance(item, bool) or not isinstance(item, (str, int, float)):
            raise UsageError(f"{name}: {json.dumps(item)} is not a value")
        texts.extend(str(item).split(",") if isinstance(item, str) else [repr(item)])
    values = []
    for t in texts:
        if not t.strip():
            raise UsageError(f"{name}: empty value in '{raw}'")
        try:
            v = parser(t)
        except ValueError as e:
            raise UsageError(f"{name}: {e}") from None
        if v not in values:
            values.append(v)
    if not values:
        raise UsageError(f"{name}: no values")
    return values


def axes_from_mapping(mapping, where):
    """Axis values of one level of a study file or of the command line (name -> raw)."""
    axes = {}
    if "nx" in mapping and "levels" in mapping:
        raise UsageError(f"{where}: give the grid either as nx or as levels, not both")
    for name, raw in mapping.items():
        if name in GRID_KEYS:
            axes["grid"] = parse_axis_values(name, raw)
        elif name in AXES and name != "grid":
            axes[name] = parse_axis_values(name, raw)
        else:
            raise UsageError(f"{where}: unknown setting '{name}'")
    return axes


class Study:
    """Base folder, timing settings and the groups of axes."""

    def __init__(self, base=None, window=None, timeout=None, description="", groups=None,
                 source=None):
        self.base = base
        self.window = window
        self.timeout = timeout
        self.description = description
        self.groups = groups or [("", {})]
        self.source = source


def load_study(path):
    """Reads a JSON study file (see README.md)."""
    try:
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
    except OSError as e:
        raise UsageError(f"{path}: cannot read: {e.strerror}") from None
    except (json.JSONDecodeError, UnicodeDecodeError) as e:
        raise UsageError(f"{path}: not a JSON study file: {e}") from None
    if not isinstance(data, dict):
        raise UsageError(f"{path}: the study must be a JSON object")
    data = dict(data)
    study = Study(source=path)
    study.description = str(data.pop("description", ""))
    if "base" in data:
        base = data.pop("base")
        if not isinstance(base, str):
            raise UsageError(f"{path}: base: must be a folder name")
        study.base = os.path.join(os.path.dirname(os.path.abspath(path)), base)
    for key in ("window", "timeout"):
        if key in data:
            value = data.pop(key)
            if isinstance(value, bool) or not isinstance(value, (int, float)) or value < 0:
                raise UsageError(f"{path}: {key}: must be a number of seconds >= 0")
            setattr(study, key, float(value))
    groups = data.pop("groups", None)
    defaults = axes_from_mapping(data, path)
    if groups is None:
        study.groups = [("", defaults)]
    else:
        if not isinstance(groups, list) or not groups:
            raise UsageError(f"{path}: groups: must be a non-empty list of objects")
        study.groups = []
        for i, group in enumerate(groups, start=1):
            if not isinstance(group, dict):
                raise UsageError(f"{path}: group {i}: must be an object")
            group = dict(group)
            name = str(group.pop("name", f"group {i}"))
            axes = axes_from_mapping(group, f"{path}: group '{name}'")
            merged = dict(defaults)
            merged.update(axes)
            study.groups.append((name, merged))
    return study


# ---------------------------------------------------------------------------------------------
# Grids.

def finest_grid(levels, coarsest, p=2.0):
    """Node counts of the finest grid: each finer level has (n - 1) * p intervals."""
    nx, ny = coarsest
    for _ in range(levels - 1):
        nx, ny = int((nx - 1) * p + 1.0), int((ny - 1) * p + 1.0)
    return nx, ny


def levels_for(grid, coarsest, p=2.0):
    """The level count whose finest grid is `grid`, or None when no count reaches it."""
    nx, ny = coarsest
    levels = 1
    while nx < grid[0]:
        nnx, nny = int((nx - 1) * p + 1.0), int((ny - 1) * p + 1.0)
        if nnx <= nx:
            return None
        nx, ny, levels = nnx, nny, levels + 1
    return levels if (nx, ny) == tuple(grid) else None


# ---------------------------------------------------------------------------------------------
# Runs.

class Run:
    """One concrete simulation: the mode, the full parameter-file values, and labels."""

    def __init__(self, group, mode, params, case, nx, ny):
        self.index = 0
        self.group = group
        self.mode = mode
        self.params = params
        self.case = case
        self.nx, self.ny = nx, ny

    @property
    def solver(self):
        return self.params["solver_kind"]

    @property
    def levels(self):
        return self.params["level_count"] if self.mode == 1 else None

    @property
    def coarsest(self):
        return (self.params["coarsest_nx"], self.params["coarsest_ny"]) if self.mode == 1 else None

    def grid_text(self):
        return f"{self.nx}x{self.ny}"

    def slug(self):
        parts = [f"{self.index:03d}", MODE_NAMES[self.mode].lower(),
                 SOLVER_SHORT.get(self.solver, f"solver{self.solver}"),
                 case_label(self.case).replace(":", "_"), self.grid_text()]
        if self.mode == 1:
            parts.append(f"L{self.levels}")
        return "-".join(parts)

    def label(self):
        text = (f"{MODE_NAMES[self.mode]} {SOLVER_NAMES.get(self.solver, self.solver)} "
                f"{case_label(self.case)} {self.grid_text()}")
        return text + (f" L{self.levels}" if self.mode == 1 else "")

    def key(self):
        values = dict(self.params)
        values.pop("report_file_name")
        return (self.mode, tuple(sorted(values.items())))


def _mode_params(base, mode):
    """Parameter-file values of a mode: the base's own file, or one made from the other."""
    if mode in base.params:
        return dict(base.params[mode])
    other = base.params[3 - mode]
    params = {name: 0 for name, _, _ in inputs.LAYOUTS[mode][1]}
    params["report_file_name"] = REPORT_NAME
    for name in inputs.COMMON_SETTINGS:
        params[name] = other[name]
    params["max_iterations"] = DEFAULT_MAX_ITERATIONS[mode]
    if mode == 1:
        params.update(coarsening_p=2.0, coarsening_q=1.0,
                      inner_iterations=DEFAULT_INNER_ITERATIONS)
    return params


def _base_grid(base):
    """Finest grid of the base case's own run mode."""
    mode = base.default_mode()
    p = base.params[mode]
    if mode == 1:
        return finest_grid(p["level_count"], (p["coarsest_nx"], p["coarsest_ny"]),
                           p["coarsening_p"])
    return (p["nx"], p["ny"])


def _base_coarsest(base):
    if 1 in base.params:
        p = base.params[1]
        return (p["coarsest_nx"], p["coarsest_ny"])
    return DEFAULT_COARSEST


def resolve_run(base, group, combo):
    """A Run from one combination of axis values (None: the base case's value)."""
    mode = combo.get("mode") or base.default_mode()
    params = _mode_params(base, mode)
    params["report_file_name"] = REPORT_NAME
    if combo.get("solver") is not None:
        params["solver_kind"] = combo["solver"]
    if combo.get("case") is not None:
        params["problem_kind"], params["flow_angle"], params["peclet_code"] = combo["case"]
    for axis, setting in (("tolerance", "tolerance"), ("msi_tolerance", "msi_tolerance"),
                          ("init", "initial_estimate"), ("gamma", "gamma"),
                          ("max_iterations", "max_iterations")):
        if combo.get(axis) is not None:
            params[setting] = combo[axis]
    if combo.get("history") is not None:
        params["print_history"] = 1 if combo["history"] > 0 else 0
        if combo["history"] > 0:
            params["history_interval"] = combo["history"]
    if mode == 1 and combo.get("inner") is not None:
        params["inner_iterations"] = combo["inner"]

    coarsest = combo.get("coarsest") or _base_coarsest(base)
    p = params["coarsening_p"] if mode == 1 else 2.0
    grid = combo.get("grid")
    if grid is None:
        if mode == 1 and base.default_mode() == 1 and combo.get("coarsest") is None:
            levels = params["level_count"]
            nx, ny = finest_grid(levels, coarsest, p)
        else:
            nx, ny = _base_grid(base)
            levels = levels_for((nx, ny), coarsest, p) if mode == 1 else None
    elif grid[0] == "levels":
        levels = grid[1]
        nx, ny = finest_grid(levels, coarsest, p)
    else:
        nx, ny = grid[1], grid[2]
        levels = levels_for((nx, ny), coarsest, p) if mode == 1 else None
    if mode == 1:
        if levels is None:
            raise UsageError(f"the multigrid grid {nx}x{ny} cannot be reached from a "
                             f"{coarsest[0]}x{coarsest[1]} coarsest grid by doubling; give "
                             f"--levels or a grid (n-1)*2^k+1, or another --coarsest")
        params["level_count"] = levels
        params["coarsest_nx"], params["coarsest_ny"] = coarsest
    else:
        params["nx"], params["ny"] = nx, ny
    if nx * ny > inputs.INT32_MAX:
        raise UsageError(f"the grid {nx}x{ny} has more nodes than a 32-bit count holds")
    case = (params["problem_kind"], params["flow_angle"], params["peclet_code"])
    return Run(group, mode, params, case, nx, ny)


def plan_runs(base, study, overrides):
    """Every run of the study, in order, duplicates removed."""
    runs, seen = [], set()
    order = list(AXES)
    for group, axes in study.groups:
        merged = dict(axes)
        merged.update(overrides)
        lists = [merged.get(name, [None]) for name in order]
        for combo in itertools.product(*lists):
            run = resolve_run(base, group, dict(zip(order, combo)))
            if run.key() in seen:
                continue
            seen.add(run.key())
            runs.append(run)
    for i, run in enumerate(runs, start=1):
        run.index = i
    return runs
