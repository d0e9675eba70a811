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
import unicodedata

from . import inputs

SOLVER_NAMES = {1: "Gauss-Seidel", 2: "MSI", 3: "ADI", 4: "Gauss elimination"}
SOLVER_SHORT = {1: "gs", 2: "msi", 3: "adi", 4: "elim"}
_SOLVER_ALIASES = {"gs": 1, "gauss-seidel": 1, "msi": 2, "adi": 3, "elim": 4,
                   "elim_gauss": 4, "elim-gauss": 4}
MODE_NAMES = {1: "MG", 2: "SG"}
MODE_WORDS = {1: "multigrid", 2: "single grid"}
_MODE_ALIASES = {"mg": 1, "multigrid": 1, "sg": 2, "single-grid": 2, "singlegrid": 2}
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
# Parsing of axis values. Each parser takes the text of one value and the program's
# description of its input files: a value is accepted in the form the input files take it.

def _integer(text, d, low=None, high=None):
    t = text.strip()
    if not d.is_integer(t):
        if not re.fullmatch(r"[+-]?[0-9]+", t):
            raise ValueError(f"'{t[:40]}' is not an integer")
        if len(t) > _MAX_INTEGER_DIGITS:
            raise ValueError(f"an integer of {len(t)} digits does not fit a 32-bit integer")
        raise ValueError(f"{t} does not fit a 32-bit integer")
    v = int(t)
    if low is not None and v < low:
        raise ValueError(f"{t} is below {low}")
    if high is not None and v > high:
        raise ValueError(f"{t} is above {high}")
    return v


def _real(text, d):
    t = text.strip()
    if not d.is_real(t):
        raise ValueError(f"'{t[:40]}' is not a number as the input files write one (digits "
                         "with an optional point and an exponent E or D: 0.5, 1E-8, 1D-8)")
    v = d.real(t)
    if v is None:
        raise ValueError(f"'{t[:40]}' is out of the range of a double")
    return v


def _accepted(aliases, codes):
    """'gs (1, Gauss-Seidel), msi (2, MSI), ...': the names an option takes, with the codes
    they stand for."""
    shown = {}
    for name, code in aliases.items():
        shown.setdefault(code, name)
    return ", ".join(f"{shown[c]} ({c}, {codes[c]})" if c in shown else f"{c} ({codes[c]})"
                     for c in codes)


def parse_mode(text, d):
    t = text.strip().lower()
    if t in _MODE_ALIASES:
        return _MODE_ALIASES[t]
    modes = {m: MODE_WORDS[m] for m in d.run_modes(inputs.MODE_FILE) if m in MODE_WORDS}
    if d.integer(t) in modes:
        return int(t)
    raise ValueError(f"'{text.strip()[:40]}' is not a run mode: give "
                     f"{_accepted(_MODE_ALIASES, modes)}")


def _solver_codes(d):
    codes = {}
    for name in inputs.MODE_FILES.values():
        codes.update(d.setting(name, "solver_kind").values or {})
    return {c: SOLVER_NAMES.get(c, meaning) for c, meaning in sorted(codes.items())}


def parse_solver(text, d):
    t = text.strip().lower()
    if t in _SOLVER_ALIASES:
        return _SOLVER_ALIASES[t]
    codes = _solver_codes(d)
    if d.integer(t) in codes:
        return int(t)
    raise ValueError(f"'{text.strip()[:40]}' is not a solver: give "
                     f"{_accepted(_SOLVER_ALIASES, codes)}")


def parse_case(text, d):
    """A test case as (problem_kind, flow_angle, peclet_code): a short name of the program's
    test-case table (rotating, diffusion, 30, 45-10, ...), its name in words, or the raw codes
    kind:angle:code."""
    t = " ".join(text.strip().lower().split())
    for case in d.test_cases:
        if t in (case.label, case.name.lower()):
            return case.codes
    parts = t.split(":")
    if len(parts) == 3:
        return tuple(_integer(p, d) for p in parts)
    raise ValueError(f"'{text.strip()[:40]}' is not a test case: give "
                     f"{', '.join(d.case_labels())} or kind:angle:code")


def case_label(case, d):
    """The short name of a test case, or its codes when the table has no row for them."""
    found = d.test_case(*case)
    return found.label if found is not None else ":".join(map(str, case))


def parse_grid_size(text, d):
    """'17' (17 x 17) or '17x9' (Nx x Ny)."""
    t = text.strip().lower()
    m = re.fullmatch(r"(\d+)(?:x(\d+))?", t)
    if not m:
        raise ValueError(f"'{text.strip()[:40]}' is not a grid size (N or NxxNy, e.g. 33 or "
                         "17x9)")
    nx = _integer(m.group(1), d, 2)
    ny = _integer(m.group(2), d, 2) if m.group(2) else nx
    return (nx, ny)


def _parse_nx(text, d):
    return ("nx",) + parse_grid_size(text, d)


def _parse_levels(text, d):
    return ("levels", _integer(text, d, 1, 30))


# Axis name -> (parser, help). The order is the nesting order of the runs: the grid changes
# fastest, so that each series of runs climbs through the grids.
AXES = {
    "case": (parse_case, "test case: rotating, diffusion, a flow angle (30) or 45-<Peclet "
                         "code> (45-10), as the program's test-case table names them (a wrong "
                         "one lists them), or kind:angle:code"),
    "mode": (parse_mode, "mg (1) multigrid, sg (2) single-grid"),
    "solver": (parse_solver, "gs (1), msi (2), adi (3), elim (4, single-grid only); for "
                             "multigrid the smoother"),
    "coarsest": (parse_grid_size, "coarsest multigrid grid, N or NxxNy (default: the base "
                                  "case's, else 3)"),
    "inner": (lambda t, d: _integer(t, d, 0), "smoothing sweeps per level visit (multigrid "
                                              "only)"),
    "tolerance": (_real, "stopping tolerance of the iteration-error norm"),
    "msi_tolerance": (_real, "tolerance handed to the MSI solver"),
    "init": (lambda t, d: _integer(t, d), "initial estimate, as the input files code it "
                                          "(1 zero, 2 analytic, 3 one half)"),
    "gamma": (_real, "diffusion coefficient"),
    "max_iterations": (lambda t, d: _integer(t, d, 0), "upper bound of outer iterations / "
                                                       "cycles"),
    "history": (lambda t, d: _integer(t, d, 0), "0: no norm table; N: list the norm every N "
                                                "iterations (1 lists every one)"),
    "grid": (None, "finest grid: given as --nx or --levels"),
}
GRID_KEYS = {"nx": _parse_nx, "levels": _parse_levels}


def parse_axis_values(name, raw, d):
    """A list of parsed values from a comma-separated text or a JSON scalar or list."""
    parser = GRID_KEYS[name] if name in GRID_KEYS else AXES[name][0]
    items = raw if isinstance(raw, list) else [raw]
    texts = []
    for item in items:
        if isinstance(item, bool) or not isinstance(item, (str, int, float)):
            raise UsageError(f"{name}: {json.dumps(item)[:60]} is not a value")
        texts.extend(str(item).split(",") if isinstance(item, str) else [repr(item)])
    values = []
    for t in texts:
        if not t.strip():
            raise UsageError(f"{name}: empty value in '{str(raw)[:60]}'")
        try:
            v = parser(t, d)
        except ValueError as e:
            raise UsageError(f"{name}: {e}") from None
        if v not in values:
            values.append(v)
    if not values:
        raise UsageError(f"{name}: no values")
    return values


def axes_from_mapping(mapping, where, d):
    """Axis values of one level of a study file or of the command line (name -> raw)."""
    axes = {}
    if "nx" in mapping and "levels" in mapping:
        raise UsageError(f"{where}: give the grid either as nx or as levels, not both")
    for name, raw in mapping.items():
        if name in GRID_KEYS:
            axes["grid"] = parse_axis_values(name, raw, d)
        elif name in AXES and name != "grid":
            axes[name] = parse_axis_values(name, raw, d)
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


def _lone_surrogate(text):
    for c in text:
        if "\ud800" <= c <= "\udfff":
            return c
    return None


def check_text(doc, path, where=""):
    """Every text of a JSON document (a study, a summary) must be text: JSON can write half of
    a UTF-16 pair ("\ud800"), which no file, table or terminal can take."""
    if isinstance(doc, dict):
        for key, value in doc.items():
            check_text(key, path, where)
            check_text(value, path, f"{where}{key}: ")
    elif isinstance(doc, list):
        for i, value in enumerate(doc, start=1):
            if isinstance(value, (str, list, dict)):  # a long list of numbers goes quickly
                check_text(value, path, f"{where}item {i}: ")
    elif isinstance(doc, str):
        c = _lone_surrogate(doc)
        if c is not None:
            raise UsageError(f"{path}: {where}holds a lone surrogate (\\u{ord(c):04x}), which "
                             "is not text")


def _one_line(value, path, where):
    """A text the tables and headings show as it is: one line, no control characters."""
    if isinstance(value, (dict, list)):
        raise UsageError(f"{path}: {where}: must be a text")
    text = str(value)
    for c in text:
        if unicodedata.category(c) == "Cc" or c in "\u2028\u2029":
            raise UsageError(f"{path}: {where}: holds the control character U+{ord(c):04X}; "
                             "write it as one line of text")
    return text


def load_study(path, d):
    """Reads a JSON study file (see README.md); d is the program's description of its
    input files."""
    try:
        data = parse_json(inputs.read_regular_file(path, MAX_STUDY_BYTES, "study file"))
    except inputs.InputError as e:
        raise UsageError(str(e)) from None
    except ValueError as e:
        raise UsageError(f"{path}: not a JSON study file: {e}") from None
    if not isinstance(data, dict):
        raise UsageError(f"{path}: the study must be a JSON object")
    check_text(data, path)
    data = dict(data)
    study = Study(source=path)
    study.description = _one_line(data.pop("description", ""), path, "description")
    if "base" in data:
        base = data.pop("base")
        if not isinstance(base, str):
            raise UsageError(f"{path}: base: must be a folder name")
        study.base = os.path.join(os.path.dirname(os.path.abspath(path)),
                                  _one_line(base, path, "base"))
    for key in ("window", "timeout"):
        if key in data:
            value = data.pop(key)
            if (isinstance(value, bool) or not isinstance(value, (int, float))
                    or not 0 <= value <= MAX_SECONDS):
                raise UsageError(f"{path}: {key}: must be a number of seconds from 0 to "
                                 f"{MAX_SECONDS:g}")
            setattr(study, key, float(value))
    groups = data.pop("groups", None)
    defaults = axes_from_mapping(data, path, d)
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
            name = _one_line(group.pop("name", f"group {i}"), path, f"group {i}: name")
            axes = axes_from_mapping(group, f"{path}: group '{name}'", d)
            merged = dict(defaults)
            merged.update(axes)
            study.groups.append((name, merged))
    return study


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

    def __init__(self, description, group, mode, items, case, nx, ny, levels):
        self.description = description
        self.index = 0
        self.group = group
        self.mode = mode
        self.items = items          # setting -> item text of the run's parameter file
        self.case = case
        self.nx, self.ny, self.levels = nx, ny, levels
        self.text = ""              # the parameter file's text
        self.named = ()             # the NAMED_AXES its name shows

    @property
    def file(self):
        return inputs.MODE_FILES[self.mode]

    def value(self, setting):
        """A setting's value as the program reads it: an int or a float (0 for a null item),
        the text of the report name; None when the run's file lacks it or cannot be read."""
        text = self.items.get(setting)
        if text is None:
            return None
        if text == "":
            return 0
        kind = self.description.setting(self.file, setting).type
        if kind == "integer":
            return self.description.integer(text)
        if kind == "real":
            return self.description.real(text)
        return text.strip("'\"")

    def case_label(self):
        return case_label(self.case, self.description)

    def test_case(self):
        """The row of the program's test-case table the run selects (None: none)."""
        return self.description.test_case(*self.case)

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
                 self.case_label().replace(":", "_"), self.grid_text()]
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
        return base.description.finest_grid(base.integer(1, "level_count"),
                                            _base_coarsest(base))
    return (base.integer(2, "Nx"), base.integer(2, "Ny"))


def _base_coarsest(base):
    if 1 in base.files:
        return (base.integer(1, "coarsest_nx"), base.integer(1, "coarsest_ny"))
    return DEFAULT_COARSEST


def resolve_run(base, group, combo):
    """A Run from one combination of axis values (None: the base case's value). The grids:
    a multigrid run of L levels above an n-node coarsest grid ends on the finest grid of the
    program's hierarchy, and a single-grid run of the same level count takes that grid."""
    d = base.description
    finest_grid, levels_for = d.finest_grid, d.levels_for
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
                             f"{coarsest[0]}x{coarsest[1]} coarsest grid (each level's spacing "
                             f"is the coarser one's divided by {d.ratio}); give --levels or a "
                             f"grid (n-1)*{d.ratio}^k+1, or another --coarsest")
        edits["level_count"] = str(levels)
        edits["coarsest_nx"], edits["coarsest_ny"] = str(coarsest[0]), str(coarsest[1])
    else:
        edits["Nx"], edits["Ny"] = str(nx), str(ny)
    if nx * ny > INT32_MAX:
        raise UsageError(f"the grid {nx}x{ny} has more nodes than a 32-bit count holds")
    items = {s: base.item(mode, s) for s in base.names(mode)}
    items.update(edits)
    run = Run(d, group, mode, items, None, nx, ny, levels if mode == 1 else None)
    run.case = tuple(run.value(s) for s in ("problem_kind", "flow_angle", "peclet_code"))
    run.text = base.parameter_text(mode, edits)
    return run


def check_selects_something(run):
    """Refuses a run whose settings select nothing, by the rules of the program's --strict
    (which every run is given): a code its setting does not list, a flow angle and Peclet
    code the velocity table lacks, Gauss elimination as a multigrid smoother."""
    found = run.description.selects_nothing(run.file, run.value)
    if found:
        setting, message = found[0]
        hint = ""
        if setting.name == "solver_kind" and run.mode == 1:
            hint = ("; Gauss elimination is single-grid only: vary the solver per mode in the "
                    "groups of a study file")
        raise UsageError(f"run {run.label()}: {run.file}: {message}{hint}")


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
            check_selects_something(run)
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
