"""The error bars of the analysis, each against a computation of its own:
scipy's regression, Brownian particles simulated one by one, a correlated
series with a known standard error."""

import math
import random
import statistics

import numpy as np
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


@pytest.mark.parametrize("first, rows", [(1, 10), (40, 10), (150, 300), (0, 3)])
def test_sampling_error_of_brownian_particles(first, rows):
    # Ten particles' squared displacements along three axes, summed and
    # fitted over rows first .. first + rows - 1 of a single-origin MSD.
    rng = np.random.default_rng(first)
    time = np.arange(first, first + rows) * 0.5
    steps = np.diff(time, prepend=0.0)
    paths = np.cumsum(rng.standard_normal((2000, 30, rows)) * np.sqrt(steps), axis=2)
    msd = (paths ** 2).sum(axis=1) / 10
    centred = time - time.mean()
    slopes = msd @ centred / (centred @ centred)
    expected = slopes.std() / slopes.mean()  # within 5 % of the truth at 2,000 runs
    assert uncertainty.sampling_error(time, 10, 3) == approx(expected, rel=0.06)
    # Equal spacing: the closed form.
    assert uncertainty.sampling_shape(time[0], time[-1], rows) / 30 == approx(
        uncertainty.sampling_error(time, 10, 3) ** 2, rel=1e-12)


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
