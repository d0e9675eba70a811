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

SOLVER_NAMES = {1: "Gauss-Seidel", 2: "MSI", 3: "ADI", 4: "Gauss elimination"}
SOLVER_SHORT = {1: "gs", 2: "msi", 3: "adi", 4: "elim"}
_SOLVER_ALIASES = {"gs": 1, "gauss-seidel": 1, "msi": 2, "adi": 3, "elim": 4,
                   "elim_gauss": 4, "elim-gauss": 4}
MODE_NAMES = {1: "MG", 2: "SG"}
_MODE_ALIASES = {"mg": 1, "multigrid": 1, "sg": 2, "single-grid": 2, "singlegrid": 2}
_FLOW_ANGLES = (0, 3, 30, 60, 90)
_PECLET_CODES = (0, 1, 2, 10, 100, 1000)
DEFAULT_COARSEST = (3, 3)
INT32_MIN, INT32_MAX = -2**31, 2**31 - 1
# A plan past this many runs is refused before it is built.
MAX_RUNS = 100000
# Study files are small; a larger one is refused unread.
MAX_STUDY_BYTES = 1 << 20
# Longest integer text a study file may hold (the settings are 32-bit integers).
_MAX_INTEGER_DIGITS = 30


class UsageError(Exception):
    """A study that cannot be run as given (bad option value, unreachable grid, ...)."""


# ---------------------------------------------------------------------------------------------
# Parsing of axis values. Each parser takes the text of one value.

def _integer(text, low=None, high=None):
    t = text.strip()
    if not re.fullmatch(r"[+-]?\d+", t):
        raise ValueError(f"'{t[:40]}' is not an integer")
    if len(t) > _MAX_INTEGER_DIGITS:
        raise ValueError(f"an integer of {len(t)} digits does not fit a 32-bit integer")
    v = int(t)
    if not INT32_MIN <= v <= INT32_MAX:
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


MAX_SECONDS = 1e6


def _no_constant(name):
    raise ValueError(f"{name} is not a JSON number")


def _finite_float(text):
    v = float(text)
    if not math.isfinite(v):
        raise ValueError(f"{text[:40]} is out of range")
    return v


def _bounded_int(text):
    if len(text.lstrip("-")) > _MAX_INTEGER_DIGITS:
        raise ValueError(f"an integer of {len(text.lstrip('-'))} digits")
    return int(text)


def parse_json(data):
    """Strict JSON from bytes: no NaN or Infinity, bounded integers, bounded nesting (a
    nesting too deep for the decoder is a ValueError like any other malformed text)."""
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        raise ValueError(f"not UTF-8 text ({e.reason} at byte {e.start})") from None
    try:
        return json.loads(text, parse_constant=_no_constant, parse_int=_bounded_int,
                          parse_float=_finite_float)
    except RecursionError:
        raise ValueError("nested too deeply") from None


def load_study(path):
    """Reads a JSON study file (see README.md)."""
    try:
        data = parse_json(inputs.read_regular_file(path, MAX_STUDY_BYTES, "study file"))
    except inputs.InputError as e:
        raise UsageError(str(e)) from None
    except ValueError as e:
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
            if (isinstance(value, bool) or not isinstance(value, (int, float))
                    or not 0 <= value <= MAX_SECONDS):
                raise UsageError(f"{path}: {key}: must be a number of seconds from 0 to "
                                 f"{MAX_SECONDS:g}")
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
# Grids. The multigrid halves the grid spacing from level to level (the program accepts no
# other coarsening), so L levels above an n-node coarsest grid end on (n-1)*2^(L-1)+1 nodes.
# The plan uses this to name runs and to give single-grid runs the grids of the level counts;
# the tables take the sizes the program reports.

def finest_grid(levels, coarsest):
    return tuple((n - 1) * 2 ** (levels - 1) + 1 for n in coarsest)


def levels_for(grid, coarsest):
    """The level count whose finest grid is `grid`, or None when no count reaches it."""
    for levels in range(1, 32):
        fine = finest_grid(levels, coarsest)
        if fine == tuple(grid):
            return levels
        if fine[0] > grid[0]:
            return None
    return None


# ---------------------------------------------------------------------------------------------
# Runs.

# The settings (besides mode, solver, case and grid) a run's name shows when they vary:
# axis -> (name prefix, the settings whose items make the value).
NAMED_AXES = {
    "coarsest": ("c", ("coarsest_nx", "coarsest_ny")),
    "inner": ("inner", ("inner_iterations",)),
    "tolerance": ("tol", ("tolerance",)),
    "msi_tolerance": ("msitol", ("msi_tolerance",)),
    "init": ("init", ("initial_estimate",)),
    "gamma": ("gamma", ("gamma",)),
    "max_iterations": ("maxit", ("max_iterations",)),
    "history": ("hist", ("print_history", "history_interval")),
}


def _name_part(text):
    return re.sub(r"[^A-Za-z0-9.+-]", "_", text)


class Run:
    """One concrete simulation: its mode, the items of its parameter file, and labels."""

    def __init__(self, group, mode, items, case, nx, ny, levels):
        self.index = 0
        self.group = group
        self.mode = mode
        self.items = items          # setting -> item text of the run's parameter file
        self.case = case
        self.nx, self.ny, self.levels = nx, ny, levels
        self.text = ""              # the parameter file's text
        self.named = ()             # the NAMED_AXES its name shows

    def value(self, setting):
        return inputs.item_value(self.items.get(setting))

    @property
    def solver(self):
        return self.value("solver_kind")

    @property
    def coarsest(self):
        if self.mode != 1:
            return None
        return (self.value("coarsest_nx"), self.value("coarsest_ny"))

    def grid_text(self):
        return f"{self.nx}x{self.ny}"

    def axis_text(self, axis):
        settings = NAMED_AXES[axis][1]
        if any(s not in self.items for s in settings):
            return None
        return "x".join(self.items[s] for s in settings)

    def _parts(self):
        solver = self.solver
        parts = [MODE_NAMES[self.mode].lower(), SOLVER_SHORT.get(solver, f"solver{solver}"),
                 case_label(self.case).replace(":", "_"), self.grid_text()]
        if self.mode == 1:
            parts.append(f"L{self.levels}")
        for axis in self.named:
            text = self.axis_text(axis)
            if text is not None:
                parts.append(NAMED_AXES[axis][0] + _name_part(text))
        return parts

    def slug(self):
        return "-".join([f"{self.index:03d}"] + self._parts())

    def label(self):
        return " ".join(self._parts())

    def files(self):
        return inputs.run_files(self.mode, self.text,
                                f"advdiff2d-sweep run {self.index}: {self.label()}")


def _base_grid(base):
    """Finest grid of the base case's own run mode."""
    mode = base.default_mode()
    if mode == 1:
        return finest_grid(base.integer(1, "level_count"), _base_coarsest(base))
    return (base.integer(2, "Nx"), base.integer(2, "Ny"))


def _base_coarsest(base):
    if 1 in base.files:
        return (base.integer(1, "coarsest_nx"), base.integer(1, "coarsest_ny"))
    return DEFAULT_COARSEST


def resolve_run(base, group, combo):
    """A Run from one combination of axis values (None: the base case's value)."""
    mode = combo.get("mode") or base.default_mode()
    edits = {"report_file_name": inputs.text_item(inputs.REPORT_NAME)}
    if combo.get("solver") is not None:
        edits["solver_kind"] = str(combo["solver"])
    if combo.get("case") is not None:
        for setting, v in zip(("problem_kind", "flow_angle", "peclet_code"), combo["case"]):
            edits[setting] = str(v)
    for axis, setting in (("tolerance", "tolerance"), ("msi_tolerance", "msi_tolerance"),
                          ("init", "initial_estimate"), ("gamma", "gamma"),
                          ("max_iterations", "max_iterations")):
        if combo.get(axis) is not None:
            edits[setting] = inputs.number_text(combo[axis])
    if combo.get("history") is not None:
        edits["print_history"] = "1" if combo["history"] > 0 else "0"
        if combo["history"] > 0:
            edits["history_interval"] = str(combo["history"])
    if mode == 1 and combo.get("inner") is not None:
        edits["inner_iterations"] = str(combo["inner"])

    coarsest = combo.get("coarsest") or _base_coarsest(base)
    grid = combo.get("grid")
    if grid is None:
        if mode == 1 and base.default_mode() == 1 and combo.get("coarsest") is None:
            levels = base.integer(1, "level_count")
            nx, ny = finest_grid(levels, coarsest)
        else:
            nx, ny = _base_grid(base)
            levels = levels_for((nx, ny), coarsest) if mode == 1 else None
    elif grid[0] == "levels":
        levels = grid[1]
        nx, ny = finest_grid(levels, coarsest)
    else:
        nx, ny = grid[1], grid[2]
        levels = levels_for((nx, ny), coarsest) if mode == 1 else None
    if mode == 1:
        if levels is None:
            raise UsageError(f"the multigrid grid {nx}x{ny} cannot be reached from a "
                             f"{coarsest[0]}x{coarsest[1]} coarsest grid by doubling; give "
                             f"--levels or a grid (n-1)*2^k+1, or another --coarsest")
        edits["level_count"] = str(levels)
        edits["coarsest_nx"], edits["coarsest_ny"] = str(coarsest[0]), str(coarsest[1])
    else:
        edits["Nx"], edits["Ny"] = str(nx), str(ny)
    if nx * ny > INT32_MAX:
        raise UsageError(f"the grid {nx}x{ny} has more nodes than a 32-bit count holds")
    names = inputs.POSITIONS[inputs.MODE_FILES[mode]]
    items = {s: base.item(mode, s) for s in names}
    items.update(edits)
    case = tuple(inputs.item_value(items[s]) for s in ("problem_kind", "flow_angle",
                                                        "peclet_code"))
    run = Run(group, mode, items, case, nx, ny, levels if mode == 1 else None)
    run.text = base.parameter_text(mode, edits)
    return run


def plan_size(study, overrides):
    """How many combinations the study's groups make (before duplicates are removed)."""
    total = 0
    for _, axes in study.groups:
        merged = dict(axes)
        merged.update(overrides)
        total += math.prod(len(merged.get(name, [None])) for name in AXES)
    return total


def plan_runs(base, study, overrides):
    """Every run of the study, in order, duplicates removed."""
    size = plan_size(study, overrides)
    if size > MAX_RUNS:
        raise UsageError(f"the study makes {size} runs, more than the {MAX_RUNS} a sweep "
                         "plans; vary fewer settings at once")
    runs, seen = [], set()
    order = list(AXES)
    for group, axes in study.groups:
        merged = dict(axes)
        merged.update(overrides)
        lists = [merged.get(name, [None]) for name in order]
        for combo in itertools.product(*lists):
            run = resolve_run(base, group, dict(zip(order, combo)))
            key = (run.mode, run.text)
            if key in seen:
                continue
            seen.add(key)
            runs.append(run)
    named = []
    for axis in NAMED_AXES:
        for mode in (1, 2):
            values = {r.axis_text(axis) for r in runs if r.mode == mode}
            if len(values - {None}) > 1:
                named.append(axis)
                break
    for i, run in enumerate(runs, start=1):
        run.index = i
        run.named = tuple(named)
    return runs
