"""The summary document the program writes with --summary: reading and checking it.

Strict JSON has no NaN or infinities; the program writes them as the strings "NaN",
"Infinity" and "-Infinity", which number() turns back into floats.
"""

import math

from . import inputs
from .study import UsageError, check_text, parse_json

FORMAT = "advdiff2d-summary"
# A summary holds the whole norm history; ten million iterations are some 250 MB of text.
MAX_SUMMARY_BYTES = 1 << 30
_SPECIAL = {"NaN": math.nan, "Infinity": math.inf, "-Infinity": -math.inf}


class SummaryError(ValueError):
    """The document is not an advdiff2d summary, or a value in it cannot be used."""


def number(value):
    """A number of the summary as a float or int; None when absent or not a number."""
    if isinstance(value, bool):
        return None
    if isinstance(value, (int, float)):
        return value
    if isinstance(value, str):
        return _SPECIAL.get(value)
    return None


def check(doc, source):
    """The document when it is a summary of a known format version; else SummaryError."""
    if not isinstance(doc, dict) or doc.get("format") != FORMAT:
        raise SummaryError(f"{source}: not an advdiff2d summary (no \"format\": \"{FORMAT}\")")
    version = doc.get("format_version")
    if not isinstance(version, int) or isinstance(version, bool) or version < 1:
        raise SummaryError(f"{source}: format_version: must be a positive integer")
    history = doc.get("norm_history", [])
    if not isinstance(history, list):
        raise SummaryError(f"{source}: norm_history: must be a list")
    for key in ("grid", "timing", "settings"):
        if key in doc and not isinstance(doc[key], dict):
            raise SummaryError(f"{source}: {key}: must be an object")
    try:
        check_text(doc, source)
    except UsageError as e:
        raise SummaryError(str(e)) from None
    return doc


def _looks_like_report(data):
    head = data[:4096].lstrip()
    return head.startswith(b"Simulacao") or b"\nSimulacao :" in data[:4096]


def read_summary(path):
    """Reads a summary file whole; SummaryError (one line naming the file) otherwise."""
    try:
        data = inputs.read_regular_file(path, MAX_SUMMARY_BYTES, "summary")
    except inputs.InputError as e:
        raise SummaryError(str(e)) from None
    if _looks_like_report(data):
        raise SummaryError(f"{path}: this is a report, not a summary: run advdiff2d with "
                           "--summary FILE and read that file")
    try:
        doc = parse_json(data)
    except ValueError as e:
        raise SummaryError(f"{path}: not a JSON summary: {e}") from None
    return check(doc, str(path))


def values(doc):
    """The numbers of a summary the sweep's tables hold, by column name."""
    grid = doc.get("grid") if isinstance(doc.get("grid"), dict) else {}
    timing = doc.get("timing") if isinstance(doc.get("timing"), dict) else {}
    rate = doc.get("last_iteration_rate")
    rate = rate if isinstance(rate, dict) else {}
    levels = doc.get("levels") if isinstance(doc.get("levels"), list) else []
    settings = doc.get("settings") if isinstance(doc.get("settings"), dict) else {}
    mode = number(doc.get("run_mode"))
    converged = doc.get("converged")
    out = {
        "solver_name": doc.get("solver_name") if isinstance(doc.get("solver_name"), str) else None,
        "test_case": doc.get("test_case") if isinstance(doc.get("test_case"), str) else None,
        "converged": converged if isinstance(converged, bool) else None,
        "stop_reason": doc.get("stop_reason") if isinstance(doc.get("stop_reason"), str) else None,
        "seconds_per_run": number(timing.get("seconds_per_run")),
        "repetitions": number(timing.get("repetition_count")),
        "elapsed_seconds": number(timing.get("elapsed_seconds")),
        "outer_iterations": number(doc.get("iteration_count")),
        "inner_iterations": (number(settings.get("inner_iterations")) if mode == 1 else 1),
        "nx": number(grid.get("Nx")), "ny": number(grid.get("Ny")),
        "unknowns": number(grid.get("N")),
        "levels": len(levels) if mode == 1 and levels else None,
        "initial_norm": number(doc.get("initial_norm")),
        "final_norm": number(doc.get("final_norm")),
        "last_rate": number(rate.get("printed")),
        "last_reduction_factor": number(rate.get("reduction_factor")),
        "discretisation_error": number(doc.get("discretisation_error")),
        "linf_error": number(doc.get("linf_error")),
    }
    history = doc.get("norm_history")
    out["history"] = [number(v) for v in history] if isinstance(history, list) else []
    return out
