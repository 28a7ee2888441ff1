"""The error bars of the analysis, each against a computation of its own:
scipy's regression, a correlated series with a known standard error,
hand-counted windows."""

import math
import random
import statistics
import tracemalloc

import pytest

from helpers import approx
from vexa_pp import uncertainty


@pytest.mark.parametrize("seed", range(3))
def test_line_fit_matches_scipy(seed):
    stats = pytest.importorskip("scipy.stats", exc_type=ImportError)  # none for python3.14d
    rng = random.Random(seed)
    x = [1e-12 * (10 + k) for k in range(30)]  # times in s: cancellation would show
    y = [6e-9 * t + rng.gauss(0, 1e-21) for t in x]
    expected = stats.linregress(x, y)
    fit = uncertainty.line_fit(x, y)
    assert (fit.slope, fit.intercept, fit.slope_error) == approx(
        (expected.slope, expected.intercept, expected.stderr), rel=1e-9)


def test_windows_of_a_straight_msd():
    # Every window has log-log slope 1, so all count: starts 10 .. 84
    # (stop = 90 - 5), lengths 5 .. min(85 - i, 50) - 1.
    time = [float(k) for k in range(1, 101)]
    found = uncertainty.window_spread(time, [6 * 2.5 * t for t in time], 0.1, 5, 50, 0.05, 0.0)
    assert found.count == sum(max(0, min(85 - i, 50) - 5) for i in range(10, 85))
    assert (found.mean, found.std) == approx((15.0, 0.0), rel=1e-9, abs=1e-12)


def acceptable_slopes(t, m, margin, shortest, longest, tolerance):
    """The MSD slope of every window the search accepts, each fitted on its
    own (these inputs have no filtered rows and no repeated times)."""
    n = len(t)
    start, stop = int(margin * n), int((1 - margin) * n) - shortest
    for i in range(start, stop):
        for j in range(shortest, min(stop - i, longest)):
            w = slice(i, i + j)
            logs = [math.log10(v) for v in t[w]], [math.log10(v) for v in m[w]]
            if abs(statistics.linear_regression(*logs).slope - 1) < tolerance:
                yield statistics.linear_regression(t[w], m[w]).slope


@pytest.mark.parametrize("seed", range(2))
def test_window_spread_over_every_acceptable_window(seed):
    # MSD bending from ballistic to diffusive, with noise.
    rng = random.Random(seed)
    time = [0.1 * k for k in range(1, 121)]
    msd = [6 * t * (1 - math.exp(-t)) * (1 + rng.gauss(0, 0.02)) for t in time]
    expected = list(acceptable_slopes(time, msd, 0.05, 5, 40, 0.1))
    found = uncertainty.window_spread(time, msd, 0.05, 5, 40, 0.1, 0.0)
    assert found.count == len(expected) > 100
    assert (found.mean, found.std) == approx(
        (statistics.fmean(expected), statistics.stdev(expected)), rel=1e-9)


def test_window_spread_keeps_no_slope():
    # 3,500 starts by 390 lengths: a list of their slopes would take tens of MB.
    time = [float(k) for k in range(1, 5001)]
    tracemalloc.start()
    found = uncertainty.window_spread(time, [6.0 * t for t in time], 0.1, 10, 400, 0.1, 0.0)
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    assert found.count > 10**6 and peak < 2 << 20


def ar1(n, phi, seed):
    """x_t = phi x_(t-1) + e_t with unit Gaussian e: the standard error of the
    mean of n values tends to 1 / ((1 - phi) sqrt(n))."""
    rng = random.Random(seed)
    x, out = rng.gauss(0, 1) / math.sqrt(1 - phi * phi), []
    for _ in range(n):
        x = phi * x + rng.gauss(0, 1)
        out.append(x)
    return out


@pytest.mark.parametrize("phi", [0.0, 0.9])
def test_block_average_of_a_correlated_series(phi):
    n = 1 << 16
    found = [uncertainty.block_average(ar1(n, phi, seed)) for seed in range(3)]
    expected = 1 / ((1 - phi) * math.sqrt(n))
    assert all(b.converged for b in found)
    assert statistics.mean(b.error for b in found) == approx(expected, rel=0.1)
    assert all(b.error == approx(expected, rel=0.2) for b in found)
    if phi:  # the naive error of correlated values is far too small
        assert statistics.stdev(ar1(n, phi, 0)) / math.sqrt(n) < expected / 3


def test_block_plateau_within_a_levels_own_error():
    # Levels built so that the error rises by e0 / sqrt(63) from 32 to 16
    # blocks and not at all from 16 to 8: within the first level's own error
    # e0 / sqrt(2 (32 - 1)), so the plateau is at blocks of two rows.
    c = 1 / math.sqrt(63)
    g = math.sqrt(8 / 7)  # 16 blocks then have the error of 8
    d = math.sqrt(31 / (7 * (1 + c) ** 2) - 15 / 7)
    eight = [(-1.0) ** j for j in range(8)]
    sixteen = [v + s * g for v in eight for s in (1, -1)]
    found = uncertainty.block_average([v + s * d for v in sixteen for s in (1, -1)])
    assert (found.converged, found.block_size, found.error) == (True, 2, approx(7 ** -0.5))


@pytest.mark.parametrize("values, expected", [
    ([2e-9, 3e-9, math.nan, 4e-9], (3e-9, 1e-9, 1e-9 / math.sqrt(3), 3)),
    ([2e-9, math.inf], (2e-9, None, None, 1)),  # one value: no spread, never 0
    ([], (math.nan, None, None, 0)),
])
def test_spread(values, expected):
    found = uncertainty.spread(values)
    assert (found.std, found.error, found.count) == approx(expected[1:])
    assert found.mean == approx(expected[0], nan_ok=True)
