import math

import pytest

from advdiff2d_sweep.fit import power_fit


def test_recovers_the_exponent_of_an_exact_power_law():
    xs = [289, 1089, 4225, 16641]
    p, a = power_fit(xs, [3e-7 * x ** 1.5 for x in xs])
    assert p == pytest.approx(1.5, abs=1e-12)
    assert math.exp(a) == pytest.approx(3e-7, rel=1e-9)


def test_least_squares_slope_through_scattered_points():
    # log-log points (0, 0), (1, 1), (2, 3): slope 1.5 by least squares.
    p, _ = power_fit([1, math.e, math.e ** 2], [1, math.e, math.e ** 3])
    assert p == pytest.approx(1.5)


def test_unusable_points_are_left_out():
    xs = [0.1, 0.05, 0.025, 0.0125, -1.0, 0.2]
    ys = [4e-3, 1e-3, 2.5e-4, None, 1.0, math.nan]
    assert power_fit(xs, ys)[0] == pytest.approx(2.0)


@pytest.mark.parametrize("xs, ys", [([], []), ([10], [1.0]), ([10, 10], [1.0, 2.0]),
                                     ([10, 20], [0.0, None])])
def test_no_fit_without_two_distinct_points(xs, ys):
    assert power_fit(xs, ys) is None
