"""The input files of advdiff2d: reading a base case and writing the files of one run.

The files hold one value per line at fixed positions; the rest of a line is a comment. They
are read here by the same free-format rules the program applies, so that a base case the
program accepts is understood the same way, and written back in a form the program reads
without ambiguity (the report name in apostrophes, doubles with an upper-case exponent).
"""

import os
import re

MODE_FILE = "dados1.ent"
MG_FILE = "MG2D_000.ent"
SG_FILE = "SG2D_000.ent"
REPORT_NAME_WIDTH = 35

# File layouts, in line order: (setting, type, comment written after the value).
MG_LAYOUT = (
    ("solver_kind", int, "solver_kind (smoother: 1 Gauss-Seidel, 2 MSI, 3 ADI, 4 Elim_Gauss)"),
    ("report_file_name", str, "report_file_name"),
    ("level_count", int, "level_count"),
    ("reference_file_index", int, "reference_file_index (reads exata<index>)"),
    ("coarsest_nx", int, "coarsest_nx"),
    ("coarsest_ny", int, "coarsest_ny"),
    ("problem_kind", int, "problem_kind (1 constant velocity, otherwise rotating flow)"),
    ("flow_angle", int, "flow_angle"),
    ("peclet_code", int, "peclet_code"),
    ("coarsening_p", float, "coarsening_p"),
    ("coarsening_q", float, "coarsening_q"),
    ("gamma", float, "gamma"),
    ("max_iterations", int, "max_iterations"),
    ("inner_iterations", int, "inner_iterations"),
    ("tolerance", float, "tolerance"),
    ("msi_tolerance", float, "msi_tolerance"),
    ("initial_estimate", int, "initial_estimate (1 zero, 2 analytic, 3 one half)"),
    ("print_history", int, "print_history"),
    ("history_interval", int, "history_interval"),
    ("unused_1", int, "unused"),
    ("unused_2", int, "unused"),
)

SG_LAYOUT = (
    ("solver_kind", int, "solver_kind (1 Gauss-Seidel, 2 MSI, 3 ADI, 4 Elim_Gauss)"),
    ("report_file_name", str, "report_file_name"),
    ("nx", int, "Nx"),
    ("ny", int, "Ny"),
    ("reference_file_index", int, "reference_file_index (reads exata<index>)"),
    ("problem_kind", int, "problem_kind (1 constant velocity, otherwise rotating flow)"),
    ("flow_angle", int, "flow_angle"),
    ("peclet_code", int, "peclet_code"),
    ("gamma", float, "gamma"),
    ("max_iterations", int, "max_iterations"),
    ("tolerance", float, "tolerance"),
    ("msi_tolerance", float, "msi_tolerance"),
    ("initial_estimate", int, "initial_estimate (1 zero, 2 analytic, 3 one half)"),
    ("print_history", int, "print_history"),
    ("history_interval", int, "history_interval"),
    ("unused_1", int, "unused"),
    ("unused_2", int, "unused"),
)

LAYOUTS = {1: (MG_FILE, MG_LAYOUT), 2: (SG_FILE, SG_LAYOUT)}

# Settings both parameter files hold; a mode whose file the base case lacks takes them from
# the other file.
COMMON_SETTINGS = ("solver_kind", "reference_file_index", "problem_kind", "flow_angle",
                   "peclet_code", "gamma", "tolerance", "msi_tolerance", "initial_estimate",
                   "print_history", "history_interval")

INT32_MIN, INT32_MAX = -2**31, 2**31 - 1
_INTEGER = re.compile(r"[+-]?\d+\Z")
_DOUBLE = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([EeDd][+-]?\d+)?\Z")


class InputError(Exception):
    """A base-case file that cannot be used; the message names the file, line and setting."""


def _first_item(line):
    """First item of a line: ('blank', None), ('keep', None) or ('value', text)."""
    s = line.lstrip(" \t")
    if not s:
        return "blank", None
    if s[0] in ",/":
        return "keep", None
    if s[0] in "'\"":
        quote, out, i = s[0], [], 1
        while i < len(s):
            if s[i] == quote:
                if i + 1 < len(s) and s[i + 1] == quote:
                    out.append(quote)
                    i += 2
                    continue
                return "value", "".join(out)
            out.append(s[i])
            i += 1
        return "unterminated", "".join(out)
    return "value", re.match(r"[^ \t,/]*", s).group()


def _convert(path, lineno, name, kind, item):
    where = f"{path}:{lineno}: {name}"
    if kind is str:
        return item[:REPORT_NAME_WIDTH]
    if kind is int:
        if not _INTEGER.match(item):
            raise InputError(f"{where}: '{item}' is not an integer")
        value = int(item)
        if not INT32_MIN <= value <= INT32_MAX:
            raise InputError(f"{where}: {item} does not fit a 32-bit integer")
        return value
    if not _DOUBLE.match(item):
        raise InputError(f"{where}: '{item}' is not a number")
    value = float(item.replace("D", "E").replace("d", "e"))
    if value in (float("inf"), float("-inf")):
        raise InputError(f"{where}: {item} is out of range")
    return value


def _read_text(path):
    try:
        with open(path, "rb") as f:
            data = f.read(1 << 20)
    except OSError as e:
        raise InputError(f"{path}: cannot read: {e.strerror}") from None
    lines = data.decode("latin-1").replace("\r", "").split("\n")
    return lines[:-1] if lines[-1] == "" else lines


def read_values(path, layout, skip_lines=0):
    """Reads the settings of a layout from a file; returns a dict setting -> value."""
    lines = _read_text(path)
    values = {}
    pos = skip_lines
    for name, kind, _ in layout:
        while True:
            if pos >= len(lines):
                raise InputError(f"{path}:{pos + 1}: {name}: end of file before this value")
            state, item = _first_item(lines[pos])
            pos += 1
            if state != "blank":
                break
        if state == "unterminated":
            raise InputError(f"{path}:{pos}: {name}: text without its closing quote")
        if state == "keep":
            values[name] = "" if kind is str else kind(0)
        else:
            values[name] = _convert(path, pos, name, kind, item)
    return values


def read_run_mode(folder):
    path = os.path.join(folder, MODE_FILE)
    return read_values(path, (("run_mode", int, ""),), skip_lines=1)["run_mode"]


class BaseCase:
    """The base case of a study: the run mode of dados1.ent and the parameter files present."""

    def __init__(self, folder):
        self.folder = folder
        if not os.path.isdir(folder):
            raise InputError(f"{folder}: base case folder not found")
        self.run_mode = read_run_mode(folder)
        self.params = {}
        for mode, (name, layout) in LAYOUTS.items():
            path = os.path.join(folder, name)
            if os.path.exists(path):
                self.params[mode] = read_values(path, layout)
        if not self.params:
            raise InputError(f"{folder}: neither {MG_FILE} nor {SG_FILE} is there")
        if self.run_mode in (1, 2) and self.run_mode not in self.params:
            missing = LAYOUTS[self.run_mode][0]
            raise InputError(f"{os.path.join(folder, MODE_FILE)}:2: run_mode: "
                             f"{self.run_mode} needs {missing}, which the folder lacks")

    def default_mode(self):
        return self.run_mode if self.run_mode in (1, 2) else min(self.params)


def format_value(value, kind):
    if kind is str:
        return "'" + value.replace("'", "''") + "'"
    if kind is int:
        return str(int(value))
    return repr(float(value)).upper()


def render(layout, values):
    """The text of a parameter file: one value per line, its setting name as a comment."""
    out = []
    for name, kind, comment in layout:
        out.append(f"{format_value(values[name], kind):<16} {comment}\n")
    return "".join(out)


def run_files(mode, values, title):
    """The text of dados1.ent and of the parameter file of the mode, by file name."""
    name, layout = LAYOUTS[mode]
    return {MODE_FILE: f"{title}\n{mode:<16} run_mode (1 multigrid, 2 single-grid)\n",
            name: render(layout, values)}


def write_run_files(folder, mode, values, title):
    """Writes dados1.ent and the parameter file of the mode into a run folder."""
    for name, text in run_files(mode, values, title).items():
        with open(os.path.join(folder, name), "w", encoding="latin-1") as f:
            f.write(text)
