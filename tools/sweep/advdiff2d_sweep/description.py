"""What advdiff2d says of its input files (`advdiff2d --describe-inputs`).

The program is the one source of the settings: the line of each value in its file, the form an
item may take, the codes a coded setting selects, the test cases and the grid hierarchy. The
sweep reads that description from the program that will run, instead of keeping copies of its
tables, and plans, names and checks its runs with it.
"""

import json
import math
import re
import subprocess

from . import tasks

FORMAT = "advdiff2d-inputs"
OPTION = "--describe-inputs"
INT32_MIN, INT32_MAX = -2**31, 2**31 - 1
# The description is a few tens of kB; the program gets this long to print it.
TIMEOUT = 60.0
# Marks a setting whose unlisted codes --strict refuses.
STRICT_MARK = "refused by --strict"


class DescriptionError(Exception):
    """The program gave no usable description (an older build, a broken program)."""


class Setting:
    """One value of an input file."""

    def __init__(self, file, entry):
        self.file = file
        self.position = entry["position"]
        self.name = entry["name"]
        self.type = entry["type"]
        self.meaning = entry.get("meaning") or ""
        self.minimum = entry.get("minimum")
        self.max_length = entry.get("max_length")
        self.used = entry.get("used", True) is not False
        values = entry.get("values")
        # code -> meaning, in the program's order; None for a setting that is not coded
        self.values = ({v["value"]: v.get("meaning") or "" for v in values}
                       if isinstance(values, list) else None)
        self.other_values = entry.get("other_values")

    @property
    def strict(self):
        """Whether --strict refuses the codes this setting does not list."""
        return self.values is not None and STRICT_MARK in (self.other_values or "")

    def accepted_text(self):
        return ", ".join(f"{code} ({meaning})" if meaning else str(code)
                         for code, meaning in self.values.items())


class TestCase:
    """A row of the program's test-case table."""

    def __init__(self, entry):
        self.problem_kind = entry["problem_kind"]
        self.flow_angle = entry.get("flow_angle")
        self.peclet_code = entry.get("peclet_code")
        self.name = entry["name"]
        self.scheme_exact = entry.get("scheme_exact") is True
        self.pex, self.pey = entry.get("Pex"), entry.get("Pey")

    @property
    def constant_velocity(self):
        return self.problem_kind == 1

    @property
    def label(self):
        """The short name the sweep's options, run folders and tables use."""
        if not self.constant_velocity:
            return "rotating"
        if self.pex == 0 and self.pey == 0:
            return "diffusion"
        if self.peclet_code is None:
            return str(self.flow_angle)
        return f"{self.flow_angle}-{self.peclet_code}"

    @property
    def codes(self):
        """(problem_kind, flow_angle, peclet_code) as the sweep writes them (0 where any
        value selects this case)."""
        return (self.problem_kind, self.flow_angle or 0, self.peclet_code or 0)

    def selects(self, kind, angle, code):
        if kind != self.problem_kind:
            return False
        if not self.constant_velocity:
            return True
        return angle == self.flow_angle and self.peclet_code in (None, code)


def _require(condition, what):
    if not condition:
        raise DescriptionError(f"the description of the input files has no usable {what}")


class Description:
    """The parsed and checked output of `advdiff2d --describe-inputs`."""

    def __init__(self, doc):
        _require(isinstance(doc, dict) and doc.get("format") == FORMAT, f'"format": "{FORMAT}"')
        self.version = doc.get("version")
        try:
            syntax = doc["syntax"]
            self._integer = re.compile(syntax["integer"])
            self._real = re.compile(syntax["real"])
        except (KeyError, TypeError, re.error):
            raise DescriptionError("the description of the input files has no usable item "
                                   "syntax (integer, real)") from None
        self.files = {}
        try:
            for f in doc["files"]:
                settings = sorted((Setting(f["name"], e) for e in f["settings"]),
                                  key=lambda s: s.position)
                _require([s.position for s in settings] == list(range(1, len(settings) + 1)),
                         f"positions for {f['name']}")
                self.files[f["name"]] = settings
            self.test_cases = [TestCase(e) for e in doc["test_cases"]]
            self.ratio = doc["hierarchy"]["ratio"]
        except (KeyError, TypeError, AttributeError):
            raise DescriptionError("the description of the input files lacks a part the sweep "
                                   "needs (files, test_cases, hierarchy)") from None
        _require(isinstance(self.ratio, int) and not isinstance(self.ratio, bool)
                 and self.ratio >= 2, "hierarchy ratio")
        _require(self.test_cases, "test cases")
        labels = [c.label for c in self.test_cases]
        _require(len(set(labels)) == len(labels), "test cases (two rows of one name)")

    # -- items ----------------------------------------------------------------------------

    def is_integer(self, text):
        return self._integer.fullmatch(text) is not None

    def is_real(self, text):
        return self._real.fullmatch(text) is not None

    def integer(self, text):
        """The value of an integer item as the program reads it, else None."""
        if text is None or not self.is_integer(text):
            return None
        v = int(text)
        return v if INT32_MIN <= v <= INT32_MAX else None

    def real(self, text):
        """The value of a real item (the exponent letter may be D), else None; a value past
        the range of a double is None as well."""
        if text is None or not self.is_real(text):
            return None
        v = float(text.replace("D", "E").replace("d", "e"))
        return v if math.isfinite(v) else None

    # -- files ----------------------------------------------------------------------------

    def settings(self, file):
        return self.files[file]

    def names(self, file):
        """The setting names of a file in line order."""
        return tuple(s.name for s in self.files[file])

    def setting(self, file, name):
        for s in self.files[file]:
            if s.name == name:
                return s
        raise KeyError(name)

    def run_modes(self, mode_file):
        """The run modes the mode file's run_mode selects: code -> meaning."""
        return self.setting(mode_file, "run_mode").values or {}

    # -- test cases -----------------------------------------------------------------------

    def test_case(self, kind, angle, code):
        """The row a combination of codes selects, or None when none does."""
        for case in self.test_cases:
            if case.selects(kind, angle, code):
                return case
        return None

    def case_named(self, label):
        for case in self.test_cases:
            if case.label == label:
                return case
        return None

    def case_labels(self):
        return [c.label for c in self.test_cases]

    def velocity_table_text(self):
        """The flow angles of the velocity table, with the Peclet codes where they matter."""
        codes = {}
        for c in self.test_cases:
            if c.constant_velocity:
                codes.setdefault(c.flow_angle, []).append(c.peclet_code)
        return ", ".join(str(angle) if None in listed else
                         f"{angle} with peclet_code {', '.join(map(str, listed))}"
                         for angle, listed in codes.items())

    # -- the grid hierarchy ---------------------------------------------------------------

    def finest_grid(self, levels, coarsest):
        """Each level's spacing is the coarser one's divided by the ratio."""
        return tuple((n - 1) * self.ratio ** (levels - 1) + 1 for n in coarsest)

    def levels_for(self, grid, coarsest):
        """The level count whose finest grid is `grid`, or None when none reaches it."""
        for levels in range(1, 64):
            fine = self.finest_grid(levels, coarsest)
            if fine == tuple(grid):
                return levels
            if fine[0] > grid[0]:
                return None
        return None

    # -- settings that select nothing -----------------------------------------------------

    def selects_nothing(self, file, value_of):
        """The settings of a parameter file whose values --strict refuses, as (setting,
        message) pairs; value_of(name) gives a setting's integer value (None: unknown)."""
        found = []
        for s in self.files[file]:
            if not s.strict or s.name in ("flow_angle", "peclet_code"):
                continue
            v = value_of(s.name)
            if v is not None and v not in s.values:
                found.append((s, f"{s.name} {v} selects nothing (accepted: "
                                 f"{s.accepted_text()})"))
        kind, angle, code = (value_of(n) for n in ("problem_kind", "flow_angle", "peclet_code"))
        if kind == 1 and None not in (angle, code) and self.test_case(kind, angle, code) is None:
            found.append((self.setting(file, "flow_angle"),
                          f"flow_angle {angle} with peclet_code {code} is not in the velocity "
                          f"table (accepted flow_angle: {self.velocity_table_text()})"))
        return found


_cache = {}


def describe(program):
    """The description the program at this path gives (asked once per path)."""
    if program in _cache:
        return _cache[program]
    doc = read_description(program)
    _cache[program] = Description(doc)
    return _cache[program]


def read_description(program):
    """The JSON document the program prints for --describe-inputs."""
    try:
        done = subprocess.run([program, OPTION], stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=TIMEOUT)
    except (OSError, subprocess.TimeoutExpired) as e:
        raise DescriptionError(f"{program} {OPTION}: {getattr(e, 'strerror', None) or e}") \
            from None
    if done.returncode != 0:
        why = tasks.last_line(done.stderr.decode(tasks.ENCODING)) or \
            f"exit status {done.returncode}"
        raise DescriptionError(f"{program} does not describe its input files ({why}); "
                               "it may be an older build")
    try:
        return json.loads(done.stdout.decode("utf-8"))
    except (ValueError, RecursionError) as e:
        raise DescriptionError(f"{program} {OPTION}: not JSON: {e}") from None


def from_json(doc):
    return Description(doc)
