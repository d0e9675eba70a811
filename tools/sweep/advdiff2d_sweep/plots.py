"""The plots of a sweep, each written as PNG and SVG.

Every plot has one panel per test case. A series (a run mode and solver plus any other
setting that varies) keeps its look in every panel: the colour says the mode and solver,
the line style the next setting that varies, the marker the one after; the legend sits
outside the panels. Runs that did not converge are drawn hollow and are not fitted.
"""

import contextlib
import math
import os
import textwrap

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (the backend must be chosen first)
from matplotlib import ticker  # noqa: E402
from matplotlib.lines import Line2D  # noqa: E402

from . import results  # noqa: E402
from .fit import power_fit  # noqa: E402

MARKERS = "osD^v<>ph*X"
LINE_STYLES = ("-", "--", ":", "-.", (0, (5, 1, 1, 1, 1, 1)), (0, (1, 3)))
PANEL_COLUMNS = 3


def _positive(v):
    return v is not None and isinstance(v, (int, float)) and math.isfinite(v) and v > 0


def _save(fig, folder, name):
    for ext in ("png", "svg"):
        fig.savefig(os.path.join(folder, f"{name}.{ext}"), dpi=110, bbox_inches="tight")
    plt.close(fig)


class Styles:
    """Colour, line style and marker of each series, the same in every panel."""

    def __init__(self, rows):
        columns = results.varying_series_columns(rows) if rows else []
        self.columns = [c for c in columns if c != "case"]
        extra = [c for c in self.columns if c not in ("mode", "solver")]
        self.style_column = extra[0] if extra else None
        self.marker_column = extra[1] if len(extra) > 1 else None
        self.methods, self.style_values, self.marker_values = [], [], []
        for row in rows:
            for values, key in ((self.methods, (row["mode"], row["solver"])),
                                (self.style_values, self._value(row, self.style_column)),
                                (self.marker_values, self._value(row, self.marker_column))):
                if key not in values:
                    values.append(key)
        cmap = plt.get_cmap("tab10" if len(self.methods) <= 10 else "tab20")
        self.colours = {m: cmap(i % cmap.N) for i, m in enumerate(self.methods)}

    @staticmethod
    def _value(row, column):
        return row[column] if column else None

    def key(self, row):
        return tuple(row[c] for c in self.columns)

    def label(self, row):
        return results.series_label(row, self.columns)

    def look(self, row):
        style = self.style_values.index(self._value(row, self.style_column))
        marker = self.marker_values.index(self._value(row, self.marker_column))
        return {"color": self.colours[(row["mode"], row["solver"])],
                "linestyle": LINE_STYLES[style % len(LINE_STYLES)],
                "marker": MARKERS[(marker if self.marker_column else style) % len(MARKERS)]}


def _panels(keys, width=5.0, height=4.0, cols=None):
    n = max(1, len(keys))
    cols = cols or min(PANEL_COLUMNS, n)
    rows = math.ceil(n / cols)
    fig, axes = plt.subplots(rows, cols, figsize=(width * cols, height * rows), squeeze=False)
    flat = [ax for line in axes for ax in line]
    for ax in flat[n:]:
        ax.set_visible(False)
    return fig, flat[:n]


def _wrapped(title, panels):
    """A figure title folded to the width of its panels."""
    return textwrap.fill(title, width=55 * min(panels, PANEL_COLUMNS))


def _count_text(v, _=None):
    """An iteration count as a tick label: 800, 12k, 1.5M."""
    if abs(v) >= 1e6:
        return f"{v / 1e6:g}M"
    if abs(v) >= 1e4:
        return f"{v / 1e3:g}k"
    return f"{v:g}"


def _number_text(v):
    if v >= 1e5 or v < 1e-3:
        mantissa, exponent = f"{v:.0e}".split("e")
        return f"{mantissa}e{int(exponent)}"
    return f"{v:g}"


def _log_ticks(axis, values=None, labels=None):
    """Readable ticks on a log axis: the data's own values when given (at most ten), else
    1-2-5 steps where the axis spans less than three decades, plain decades otherwise."""
    if values is not None and 1 < len(values) <= 10:
        axis.set_major_locator(ticker.FixedLocator(values))
        axis.set_major_formatter(ticker.FixedFormatter(labels or [_number_text(v)
                                                                  for v in values]))
        axis.set_minor_locator(ticker.NullLocator())
        return
    low, high = axis.get_view_interval()
    if low > 0 and high / low < 1000:
        axis.set_major_locator(ticker.LogLocator(base=10, subs=(1.0, 2.0, 5.0)))
        axis.set_major_formatter(ticker.FuncFormatter(lambda v, _: _number_text(v)))
        axis.set_minor_formatter(ticker.NullFormatter())


def _legend(fig, styles, rows, suffix=None, title=None):
    """The figure's one legend, outside the panels: a line per series."""
    handles, seen = [], set()
    for row in rows:
        key = styles.key(row)
        if key in seen:
            continue
        seen.add(key)
        label = styles.label(row) + (suffix(key) if suffix else "")
        handles.append(Line2D([], [], label=label, **styles.look(row)))
    if any(r["converged"] is not True for r in rows):
        handles.append(Line2D([], [], color="0.3", marker="o", linestyle="none",
                              markerfacecolor="none", label="did not converge (not fitted)"))
    fig.legend(handles=handles, loc="upper left", bbox_to_anchor=(1.0, 0.92),
               fontsize="small", frameon=False, title=title, title_fontsize="small",
               alignment="left")


def _reference_slopes(ax, xs, ys, exponents):
    """Lines N^k from half the panel's lowest time at its smallest N (below the data, so
    that they do not hide a series of the same slope), labelled where they end."""
    x0, x1 = min(xs), max(xs)
    y0 = 0.5 * min(ys)
    low, high = ax.get_ylim()
    for k in exponents:
        xe = x1
        ye = y0 * (xe / x0) ** k
        if ye > high:  # stop the line at the top of the panel
            xe = x0 * (high / y0) ** (1.0 / k)
            ye = high
        ax.plot([x0, xe], [y0, ye], color="0.55", linestyle=":", linewidth=1, zorder=0)
        ax.annotate(f"$N^{k}$", (xe, ye), xytext=(2, -10 if ye >= high else 0),
                    textcoords="offset points", fontsize="x-small", color="0.4")
    ax.set_ylim(min(low, 0.8 * y0), high)


def _case_words(rows):
    """A test case as a panel's title: its name in words, as the program gives it."""
    return rows[0]["test_case"] or f"test case {rows[0]['case']}"


def _xy_plot(rows, x, y, fit_symbol, xlabel, ylabel, title, slopes=False, h_ticks=False):
    """Log-log points of y against x, a panel per test case, a fitted line per series."""
    usable = [r for r in rows if _positive(r[x]) and _positive(r[y])]
    if not usable:
        return None
    styles = Styles(usable)
    cases = list(dict.fromkeys(r["case"] for r in usable))
    fig, axes = _panels(cases)
    fitted = {}  # series -> test case -> fitted exponent
    for ax, case in zip(axes, cases):
        in_case = [r for r in usable if r["case"] == case]
        for _, members in results.group_series(in_case):
            look = styles.look(members[0])
            good = sorted((r[x], r[y]) for r in members if results.fit_ok(r))
            hollow = [(r[x], r[y]) for r in members if not results.fit_ok(r)]
            if good:
                ax.plot(*zip(*good), **look)
            if hollow:
                ax.plot(*zip(*hollow), color=look["color"], marker=look["marker"],
                        linestyle="none", markerfacecolor="none")
            fit_points = good if y != "discretisation_error" else sorted(
                (r[x], r[y]) for r in members
                if results.fit_ok(r) and not results.error_is_noise(r))
            f = power_fit(*zip(*fit_points)) if len(fit_points) > 1 else None
            if f:
                fx = [min(p[0] for p in fit_points), max(p[0] for p in fit_points)]
                fy = [math.exp(f[1]) * v ** f[0] for v in fx]
                ax.plot(fx, fy, color=look["color"], linewidth=0.8, alpha=0.6,
                        linestyle=(0, (6, 3)))
                fitted.setdefault(styles.key(members[0]), {})[case] = f[0]
        ax.set_xscale("log")
        ax.set_yscale("log")
        xs = sorted({r[x] for r in in_case})
        ax.margins(x=0.15)
        if slopes:
            _reference_slopes(ax, [r[x] for r in in_case], [r[y] for r in in_case], (1, 2))
        if h_ticks:
            _log_ticks(ax.xaxis, xs, [f"1/{round(1 / v)}" if abs(1 / v - round(1 / v)) < 1e-9
                                      else f"{v:.3g}" for v in xs])
        else:
            _log_ticks(ax.xaxis, xs)
            plt.setp(ax.get_xticklabels(), rotation=30, ha="right")
        _log_ticks(ax.yaxis)
        ax.set_xlabel(xlabel)
        ax.set_ylabel(ylabel)
        ax.set_title(_case_words(in_case), fontsize="medium")
        ax.grid(True, which="major", alpha=0.3)
    def exponents(key):
        got = fitted.get(key, {})
        return f"   {fit_symbol} = " + " | ".join(
            f"{got[c]:.2f}".replace("-0.00", "0.00") if c in got else "-" for c in cases)

    words = [_case_words([r for r in usable if r["case"] == c]) for c in cases]
    heading = (f"series   (fitted {fit_symbol}" +
               (f" for {' | '.join(words)})" if len(cases) > 1 else ")"))
    _legend(fig, styles, usable, exponents, heading)
    fig.suptitle(_wrapped(title, len(axes)))
    fig.tight_layout()
    return fig


def _history_plot(rows, histories):
    """Norm against iteration, a panel per test case and run mode (each its own x range:
    multigrid needs a handful of cycles where single-grid needs thousands of sweeps). A
    series looks as in the other plots; the finer the grid, the wider and darker its line."""
    with_history = [r for r in rows if histories.get(r["run"])]
    if not with_history:
        return None
    cases = list(dict.fromkeys(r["case"] for r in with_history))
    modes = sorted({r["mode"] for r in with_history})
    # A row of panels per run mode, a column per test case (while the cases fit a row).
    cols = len(cases) if len(cases) <= PANEL_COLUMNS else None
    keys = [(c, m) for m in modes for c in cases]
    grids = sorted({r["unknowns"] or 0 for r in with_history})
    rank = {g: i / max(1, len(grids) - 1) for i, g in enumerate(grids)}
    styles = Styles(with_history)
    fig, axes = _panels(keys, cols=cols)
    present = {(r["case"], r["mode"]) for r in with_history}
    for ax, (case, mode) in zip(axes, keys):
        if (case, mode) not in present:
            ax.set_visible(False)
            continue
        for r in (r for r in with_history if (r["case"], r["mode"]) == (case, mode)):
            points = [(i, v) for i, v in enumerate(histories[r["run"]]) if _positive(v)]
            if not points:
                continue
            look = styles.look(r)
            weight = rank[r["unknowns"] or 0]
            ax.semilogy(*zip(*points), color=look["color"], linestyle=look["linestyle"],
                        marker=look["marker"] if len(points) < 30 else None, markersize=3,
                        linewidth=0.7 + 1.6 * weight, alpha=0.35 + 0.65 * weight)
        ax.set_xlabel("V-cycles" if mode == 1 else "iterations")
        ax.set_ylabel("iteration-error norm (mean of |T - T_reference|)")
        in_panel = [r for r in with_history if (r["case"], r["mode"]) == (case, mode)]
        ax.set_title(f"{_case_words(in_panel)}, {'multigrid' if mode == 1 else 'single grid'}",
                     fontsize="medium")
        ax.xaxis.set_major_locator(ticker.MaxNLocator(nbins=6, integer=True))
        ax.xaxis.set_major_formatter(ticker.FuncFormatter(_count_text))
        ax.grid(True, which="major", alpha=0.3)
    grid_text = {r["unknowns"] or 0: r["grid"] for r in with_history}
    handles = []
    seen = set()
    for r in with_history:
        if styles.key(r) not in seen:
            seen.add(styles.key(r))
            handles.append(Line2D([], [], label=styles.label(r), **styles.look(r)))
    handles += [Line2D([], [], color="0.2", linewidth=0.7 + 1.6 * rank[g],
                       alpha=0.35 + 0.65 * rank[g],
                       label=f"grid {grid_text[g].replace('x', ' x ')} nodes")
                for g in grids]
    fig.legend(handles=handles, loc="upper left", bbox_to_anchor=(1.0, 0.92),
               fontsize="small", frameon=False)
    fig.suptitle(_wrapped("Convergence history (iteration 0: the initial estimate)", len(axes)))
    fig.tight_layout()
    return fig


def write_plots(folder, rows, histories, step=None):
    """Writes the plots that have data; returns their names (without extension). step(name),
    when given, is a context manager around the drawing of each (progress)."""
    ok = [r for r in rows if r["status"] == "ok"]
    written = []
    charts = (
        ("time_vs_unknowns", "unknowns", "mean_seconds", "p", "unknowns N (grid nodes)",
         "time per simulation (s)",
         "Time per simulation, fit $t \\sim N^p$ (dotted: slopes $N^1$ and $N^2$)", True, False),
        ("iterations_vs_unknowns", "unknowns", "outer_iterations", "p", "unknowns N (grid nodes)",
         "outer iterations (V-cycles for multigrid)", "Iterations to reach the tolerance, "
         "fit $\\sim N^p$", False, False),
        ("error_vs_h", "h", "discretisation_error", "order", "grid spacing h = 1/(Nx-1)",
         "discretisation error (mean of |T_analytic - T|)",
         "Discretisation error, observed order of accuracy (not fitted: errors at the tolerance "
         "or at round-off, and cases the scheme solves exactly)", False, True),
    )
    step = step or (lambda name: contextlib.nullcontext())
    for name, x, y, fit_symbol, xlabel, ylabel, title, slopes, h_ticks in charts:
        with step(name):
            fig = _xy_plot(ok, x, y, fit_symbol, xlabel, ylabel, title, slopes, h_ticks)
            if fig is not None:
                _save(fig, folder, name)
                written.append(name)
    with step("history"):
        fig = _history_plot(ok, histories)
        if fig is not None:
            _save(fig, folder, "history")
            written.append("history")
    return written
