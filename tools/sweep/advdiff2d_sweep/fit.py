"""Power-law fits: y = exp(a) * x**p by least squares on log y = a + p log x."""

import math

import numpy as np


def power_fit(xs, ys):
    """(p, a) of the least-squares line through (log x, log y), or None.

    Points with a missing, non-finite or non-positive coordinate are left out; a fit needs
    at least two distinct x values among the rest.
    """
    pts = [(float(x), float(y)) for x, y in zip(xs, ys)
           if x is not None and y is not None
           and math.isfinite(float(x)) and math.isfinite(float(y))
           and float(x) > 0 and float(y) > 0]
    if len({x for x, _ in pts}) < 2:
        return None
    lx = np.log([x for x, _ in pts])
    ly = np.log([y for _, y in pts])
    p, a = np.polyfit(lx, ly, 1)
    return float(p), float(a)
