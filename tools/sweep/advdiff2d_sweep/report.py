"""Reads an advdiff2d report (ISO 8859-1 text) into a dictionary of named values.

Every value of the report sits at the end of a line that starts with a fixed label, so a line
is recognised by its label and its value is the text after the label's colon. Fixed-width
fields can print a value that does not fit as asterisks (read as None), a value that is not a
number as NaN, infinities as Infinity, and numbers whose exponent has three digits without the
letter E (1.7976931348623157+308).
"""

import math
import re

# Every key of the dictionary; values the report does not show stay None.
FIELDS = ("report_name", "date", "solver", "tolerance", "msi_tolerance", "initial_estimate",
          "mode", "coarsening", "elapsed_seconds", "repetitions", "seconds_per_run",
          "outer_iterations", "inner_iterations", "nx", "ny", "unknowns", "coarsest_nx",
          "coarsest_ny", "levels", "initial_norm", "final_norm", "last_rate", "average_rate",
          "discretisation_error", "linf_error")

# Label at the start of a line -> (key, kind). The longer label of two with a common start
# comes first ("malha mais grossa em x" before "malha em x" cannot clash, but "Tolerancia
# para o MSI" must be tried before "Tolerancia").
_LABELS = (
    ("Tolerancia para o MSI", "msi_tolerance", float),
    ("Tolerancia ", "tolerance", float),
    ("Estimativa inicial ", "initial_estimate", int),
    ("Solver ", "solver", str),
    ("Razão de engrossamento : p/q :", "coarsening", "ratio"),
    ("Tempo de processamento (s)", "elapsed_seconds", float),
    ("Número de vezes que a simulação foi repetida", "repetitions", int),
    ("Tempo de cada simulação", "seconds_per_run", float),
    ("Iterações externas", "outer_iterations", int),
    ("Iterações internas", "inner_iterations", int),
    ("Numero de incognitas da malha em x", "nx", int),
    ("Numero de incognitas da malha em y", "ny", int),
    ("Numero de incognitas total da malha", "unknowns", int),
    ("Numero de incognitas da malha mais grossa em x", "coarsest_nx", int),
    ("Numero de incognitas da malha mais grossa em y", "coarsest_ny", int),
    ("Número de niveis em x e y", "levels", int),
    ("Norma L1 média do erro de it com base na est inic", "initial_norm", float),
    ("Convergiu com a norma L1 média do erro de iteração", "final_norm", float),
    ("Taxa de convergência na ultima iteracao", "last_rate", float),
    ("Taxa de Convergencia média", "average_rate", float),
    ("Erro de discretização na malha mais fina", "discretisation_error", float),
    ("Norma infinita (T_Analitica - T_Numerica)", "linf_error", float),
)

_NAME_LINE = "Simulacao : "
_DATE_LINE = "Data da simulacao:"
_MODEL_LINE = "***** Dados do Modelo Matem"
_MULTIGRID_LINES = ("***** Dados do Multigrid *****", "*********** Saidas ***********")
_SINGLE_GRID_LINE = "***** Saidas: Singlegrid"
_HISTORY_HEADER = re.compile(r"\s*Iteração\s+Norma\s*\Z")
_HISTORY_ROW = re.compile(r"\s*([+-]?\d+)\s+(\S+)\s*\Z")

_DECIMAL = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([Ee][+-]?\d+)?\Z")
_EXPONENT_NO_LETTER = re.compile(r"([+-]?(\d+\.?\d*|\.\d+))([+-]\d{3})\Z")
_INTEGER = re.compile(r"[+-]?\d+\Z")


class ReportError(ValueError):
    """The text is not an advdiff2d report, or one of its values cannot be read."""


def parse_number(text):
    """A printed real: a float, NaN, an infinity, or None for a field of asterisks."""
    t = text.strip()
    if t and set(t) == {"*"}:
        return None
    low = t.lower()
    if low in ("nan", "-nan", "+nan"):
        return math.nan
    if low in ("infinity", "+infinity", "inf", "+inf"):
        return math.inf
    if low in ("-infinity", "-inf"):
        return -math.inf
    if _DECIMAL.match(t):
        return float(t)
    m = _EXPONENT_NO_LETTER.match(t)
    if m:
        return float(f"{m.group(1)}e{m.group(3)}")
    raise ValueError(f"'{t}' is not a number")


def parse_integer(text):
    t = text.strip()
    if t and set(t) == {"*"}:
        return None
    if not _INTEGER.match(t):
        raise ValueError(f"'{t}' is not an integer")
    return int(t)


def _value_after_label(line, label):
    """The text after the colon that closes a label (the last colon of the line)."""
    rest = line[len(label):]
    colon = rest.rfind(":")
    return rest[colon + 1:] if colon >= 0 else rest


def _parse_ratio(text):
    parts = text.split("/")
    if len(parts) != 2:
        raise ValueError(f"'{text.strip()}' is not p/q")
    return [parse_number(parts[0]), parse_number(parts[1])]


def parse_report(text, source="report"):
    """Parses the text of a report; raises ReportError naming the source when it is none."""
    lines = text.replace("\r", "").split("\n")
    first = next((i for i, line in enumerate(lines) if line.strip()), None)
    if first is None or not lines[first].startswith(_NAME_LINE):
        raise ReportError(f"{source}: not an advdiff2d report (no 'Simulacao :' line at the top)")
    if not any(line.startswith(_MODEL_LINE) for line in lines):
        raise ReportError(f"{source}: not an advdiff2d report (no model section)")

    result = dict.fromkeys(FIELDS)
    result["history"] = []
    result["report_name"] = lines[first][len(_NAME_LINE):].strip()
    in_history = False
    for number, line in enumerate(lines[first + 1:], start=first + 2):
        try:
            if in_history:
                m = _HISTORY_ROW.match(line)
                if m:
                    result["history"].append([int(m.group(1)), parse_number(m.group(2))])
                    continue
                if line.strip():
                    raise ValueError(f"'{line.strip()}' is not a row of the norm table")
                continue
            if _HISTORY_HEADER.match(line):
                in_history = True
                continue
            if line.startswith(_DATE_LINE):
                result["date"] = " ".join(line[len(_DATE_LINE):].replace(" as ", " ").split())
                continue
            if line.startswith(_MULTIGRID_LINES):
                result["mode"] = 1
                continue
            if line.startswith(_SINGLE_GRID_LINE):
                result["mode"] = 2
                continue
            for label, key, kind in _LABELS:
                if line.startswith(label):
                    value = _value_after_label(line, label)
                    if kind is str:
                        result[key] = value.strip()
                    elif kind is int:
                        result[key] = parse_integer(value)
                    elif kind == "ratio":
                        result[key] = _parse_ratio(value)
                    else:
                        result[key] = parse_number(value)
                    break
        except ValueError as e:
            raise ReportError(f"{source}:{number}: {e}") from None
    return result


def read_report(path):
    """Reads and parses a report file (ISO 8859-1)."""
    try:
        with open(path, "rb") as f:
            data = f.read(16 << 20)
    except OSError as e:
        raise ReportError(f"{path}: cannot read: {e.strerror}") from None
    if b"\0" in data:
        raise ReportError(f"{path}: not an advdiff2d report (binary data)")
    return parse_report(data.decode("latin-1"), str(path))


def to_json_value(value):
    """Strict JSON has no NaN or infinities: they become the texts the report prints."""
    if isinstance(value, float) and not math.isfinite(value):
        return "NaN" if math.isnan(value) else ("Infinity" if value > 0 else "-Infinity")
    if isinstance(value, list):
        return [to_json_value(v) for v in value]
    if isinstance(value, dict):
        return {k: to_json_value(v) for k, v in value.items()}
    return value
