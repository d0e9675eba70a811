"""The plots of a sweep, each written as PNG and SVG."""

import math
import os

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (the backend must be chosen first)

from .fit import power_fit  # noqa: E402
from .results import group_series  # noqa: E402

MARKERS = "osD^v<>ph*"


def _positive(v):
    return v is not None and isinstance(v, (int, float)) and math.isfinite(v) and v > 0


def _save(fig, folder, name):
    for ext in ("png", "svg"):
        fig.savefig(os.path.join(folder, f"{name}.{ext}"), dpi=120)
    plt.close(fig)


def _xy_plot(rows, x, y, fit_symbol, xlabel, ylabel, title):
    """Log-log lines of y against x per series; fit_symbol adds the fitted exponent."""
    fig, ax = plt.subplots(figsize=(7, 5))
    drawn = 0
    for i, (label, members) in enumerate(group_series(rows)):
        pts = [(r[x], r[y]) for r in members if _positive(r[x]) and _positive(r[y])]
        if not pts:
            continue
        pts.sort()
        xs, ys = [p[0] for p in pts], [p[1] for p in pts]
        if fit_symbol:
            f = power_fit(xs, ys)
            label += f" ({fit_symbol} = {f[0]:.2f})" if f else ""
        ax.loglog(xs, ys, marker=MARKERS[i % len(MARKERS)], label=label)
        drawn += 1
    if not drawn:
        plt.close(fig)
        return None
    ax.set_xlabel(xlabel)
    ax.set_ylabel(ylabel)
    ax.set_title(title)
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(fontsize="small")
    fig.tight_layout()
    return fig


def write_plots(folder, rows, histories):
    """Writes the plots that have data; returns their names (without extension)."""
    ok = [r for r in rows if r["status"] == "ok"]
    written = []
    charts = (
        ("time_vs_unknowns", "unknowns", "mean_seconds", "p", "unknowns N",
         "time per simulation (s)", "Time per simulation, fit t ~ N^p"),
        ("iterations_vs_unknowns", "unknowns", "outer_iterations", "p", "unknowns N",
         "outer iterations (cycles for multigrid)", "Iterations to reach the tolerance, "
         "fit ~ N^p"),
        ("error_vs_h", "h", "discretisation_error", "order", "grid spacing h = 1/(Nx-1)",
         "discretisation error (mean |T_analytic - T|)",
         "Discretisation error, observed order of accuracy"),
    )
    for name, x, y, fit_symbol, xlabel, ylabel, title in charts:
        fig = _xy_plot(ok, x, y, fit_symbol, xlabel, ylabel, title)
        if fig is not None:
            _save(fig, folder, name)
            written.append(name)
    fig = _history_plot(ok, histories)
    if fig is not None:
        _save(fig, folder, "history")
        written.append("history")
    return written


def _history_plot(rows, histories):
    """Norm against iteration, one panel per run mode: multigrid needs a handful of cycles
    where single-grid needs thousands of sweeps, so one axis would hide the former. The point
    at iteration 0 is the initial estimate's norm (five digits in the report)."""
    with_history = [r for r in rows if histories.get(r["run"])]
    modes = sorted({r["mode"] for r in with_history})
    if not modes:
        return None
    fig, axes = plt.subplots(1, len(modes), figsize=(6 * len(modes), 5), squeeze=False)
    for ax, mode in zip(axes[0], modes):
        lines = 0
        for label, members in group_series([r for r in with_history if r["mode"] == mode]):
            for r in members:
                hist = [(it, n) for it, n in histories[r["run"]] if _positive(n)]
                if _positive(r["initial_norm"]):
                    hist.insert(0, (0, r["initial_norm"]))
                if not hist:
                    continue
                ax.semilogy([h[0] for h in hist], [h[1] for h in hist],
                            marker="." if len(hist) < 40 else None,
                            label=f"{label} {r['grid']}")
                lines += 1
        ax.set_xlabel("iteration" if mode != 1 else "V-cycle")
        ax.set_ylabel("iteration-error norm (L1 mean)")
        ax.set_title(f"Convergence history, {'multigrid' if mode == 1 else 'single-grid'}")
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize="x-small", ncol=2 if lines > 8 else 1)
    fig.tight_layout()
    return fig
