"""The base case of a study and the input files of its runs, edited by position.

The parameter files hold one value per line in a fixed order (blank lines are passed over;
the rest of a line is a comment). A run's file is the base case's file with the values the
study varies put in place of the items at their positions; everything else, comments
included, is kept as the base case has it. The program itself reads and checks the files;
which setting stands on which line, and the form of an integer or a real item, the sweep takes
from the program's description of its input files (description.py). It only needs to find an
item, and reads a few integers (the run mode and the grid) to plan its runs.
"""

import os
import stat

MODE_FILE = "dados1.ent"
MG_FILE = "MG2D_000.ent"
SG_FILE = "SG2D_000.ent"
REPORT_NAME = "report.txt"
# Base-case files are a few hundred bytes; anything past this is not one.
MAX_INPUT_BYTES = 1 << 20

MODE_FILES = {1: MG_FILE, 2: SG_FILE}

# What a mode whose file the base case lacks takes: the settings both files hold come from
# the other file, the rest from here (the grid is set by the plan, the coarsening ratio by the
# program's hierarchy).
FILL = {MG_FILE: {"coarsening_q": "1.0", "max_iterations": "100", "inner_iterations": "2"},
        SG_FILE: {"max_iterations": "20000"}}

_BLANKS = " \t\r\f"
_BOM = "\xef\xbb\xbf"  # UTF-8 byte order mark, decoded as ISO 8859-1


class InputError(Exception):
    """A base-case file that cannot be used; the message names the file (and line)."""


def read_regular_file(path, limit, what="file"):
    """The bytes of a regular file, refusing anything else (a FIFO would block the read, a
    device never ends) and files past the limit, each with one line of message."""
    try:
        st = os.stat(path)
    except OSError as e:
        raise InputError(f"{path}: cannot read: {e.strerror}") from None
    if not stat.S_ISREG(st.st_mode):
        raise InputError(f"{path}: not a regular file")
    if st.st_size > limit:
        raise InputError(f"{path}: {st.st_size} bytes is too large for a {what} "
                         f"(at most {limit})")
    try:
        fd = os.open(path, os.O_RDONLY | getattr(os, "O_NONBLOCK", 0))
        with os.fdopen(fd, "rb") as f:
            if not stat.S_ISREG(os.fstat(f.fileno()).st_mode):
                raise InputError(f"{path}: not a regular file")
            data = f.read(limit + 1)
    except OSError as e:
        raise InputError(f"{path}: cannot read: {e.strerror}") from None
    if len(data) > limit:
        raise InputError(f"{path}: too large for a {what} (at most {limit} bytes)")
    return data


def _item_span(line):
    """(start, end) of the first item of a non-blank line; an empty span where the line
    holds a null value (it starts with a comma or a slash)."""
    start = len(line) - len(line.lstrip(_BLANKS))
    c = line[start]
    if c in ",/":
        return start, start
    if c in "'\"":
        i = start + 1
        while i < len(line):
            if line[i] == c:
                if i + 1 < len(line) and line[i + 1] == c:
                    i += 2
                    continue
                return start, i + 1
            i += 1
        return start, len(line)
    end = start
    while end < len(line) and line[end] not in _BLANKS + ",/":
        end += 1
    return start, end


class ParameterFile:
    """A parameter file as lines, with the line of each value position."""

    def __init__(self, path, text, skip_lines=0):
        self.path = path
        if text.startswith(_BOM):
            text = text[len(_BOM):]
        self.lines = text.split("\n")
        if self.lines and self.lines[-1] == "":
            self.lines.pop()
        self.value_lines = [i for i, line in enumerate(self.lines)
                            if i >= skip_lines and line.strip(_BLANKS)]

    @classmethod
    def read(cls, path, skip_lines=0):
        data = read_regular_file(path, MAX_INPUT_BYTES, "parameter file")
        return cls(path, data.decode("latin-1"), skip_lines)

    def item(self, position):
        """The text of the item at a value position ('' for a null value), or None."""
        if position >= len(self.value_lines):
            return None
        line = self.lines[self.value_lines[position]].rstrip("\r")
        start, end = _item_span(line)
        return line[start:end]

    def integer(self, position, setting, description):
        text = self.item(position)
        line = (self.value_lines[position] + 1 if position < len(self.value_lines)
                else len(self.lines) + 1)
        if text is None:
            raise InputError(f"{self.path}:{line}: {setting}: end of file before this value")
        value = description.integer(text)
        if value is None:
            raise InputError(f"{self.path}:{line}: {setting}: '{text[:40]}' is not an integer")
        return value

    def edited(self, values, names):
        """The file's text with the items at some positions replaced: values maps a setting
        name to its new item text; names lists the settings in position order. Positions
        past the end of the file are appended, one line each."""
        lines = list(self.lines)
        for position, name in enumerate(names):
            if name not in values:
                continue
            if position < len(self.value_lines):
                # The line's comment may describe the old value: the setting's name
                # replaces it.
                i = self.value_lines[position]
                start, end = _item_span(lines[i])
                if lines[i][start:end] != values[name]:
                    lines[i] = f"{lines[i][:start] + values[name]:<12} {name}"
            else:
                lines.append(f"{values[name]:<16} {name}")
        return "".join(line + "\n" for line in lines)


def number_text(value):
    """A value as the parameter files write it (an integer, or a double with its exponent)."""
    if isinstance(value, int):
        return str(value)
    return repr(float(value)).upper()


def text_item(text):
    return "'" + text.replace("'", "''") + "'"


class BaseCase:
    """The base case of a study: the run mode of dados1.ent and the parameter files there."""

    def __init__(self, folder, description):
        self.folder = folder
        self.description = description
        if not os.path.isdir(folder):
            raise InputError(f"{folder}: base case folder not found")
        mode_file = ParameterFile.read(os.path.join(folder, MODE_FILE), skip_lines=1)
        self.run_mode = mode_file.integer(0, "run_mode", description)
        self.files = {}
        for mode, name in MODE_FILES.items():
            path = os.path.join(folder, name)
            if os.path.lexists(path):
                self.files[mode] = ParameterFile.read(path)
        if not self.files:
            raise InputError(f"{folder}: neither {MG_FILE} nor {SG_FILE} is there")
        if self.run_mode in (1, 2) and self.run_mode not in self.files:
            raise InputError(f"{os.path.join(folder, MODE_FILE)}:2: run_mode: {self.run_mode} "
                             f"needs {MODE_FILES[self.run_mode]}, which the folder lacks")

    def default_mode(self):
        return self.run_mode if self.run_mode in (1, 2) else min(self.files)

    def names(self, mode):
        return self.description.names(MODE_FILES[mode])

    def item(self, mode, setting):
        """The base case's item of a setting for a mode: from the mode's own file, else
        (for the settings both files hold) from the other file, else the fill-in value."""
        if mode in self.files:
            return self.files[mode].item(self.names(mode).index(setting))
        other = 3 - mode
        if setting in self.names(other) and setting not in FILL[MODE_FILES[mode]]:
            return self.files[other].item(self.names(other).index(setting))
        if setting == "coarsening_p":
            return str(self.description.ratio)
        return FILL[MODE_FILES[mode]].get(setting)

    def integer(self, mode, setting):
        f = self.files[mode]
        return f.integer(self.names(mode).index(setting), setting, self.description)

    def parameter_text(self, mode, values):
        """The text of a run's parameter file: values maps settings to item texts."""
        names = self.names(mode)
        if mode in self.files:
            return self.files[mode].edited(values, names)
        full = {s: self.item(mode, s) or "0" for s in names}
        full.update(values)
        return "".join(f"{full[s]:<16} {s}\n" for s in names)


def run_files(mode, parameter_text, title):
    """The text of dados1.ent and of the mode's parameter file, by file name."""
    return {MODE_FILE: f"{title}\n{mode:<16} run_mode (1 multigrid, 2 single-grid)\n",
            MODE_FILES[mode]: parameter_text}
