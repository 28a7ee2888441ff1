"""The window search against every window fitted on its own."""

import math
import statistics
from pathlib import Path

import numpy as np
import pytest

from helpers import approx
from vexa_pp import msd_fits, msd_windows
from vexa_pp.msd_fits import check_fits, fit_msd
from vexa_pp.msd_sampling import Scatter
from vexa_pp.results import FitSettings, RunReport


def windows_by_hand(t, m, first, end, shortest, longest, tolerance):
    """(sampling shape, start, rows, MSD slope) of every qualifying window."""
    for start in range(first, end):
        for rows in range(max(shortest, 2), min(longest, end - start + 1)):
            w = slice(start, start + rows)
            logs = [math.log10(v) for v in t[w]], [math.log10(abs(v)) for v in m[w]]
            if abs(statistics.linear_regression(*logs).slope - 1) < tolerance:
                shape = 2.4 * (rows * rows + 1) / (rows * (rows + 1)) * (
                    (t[start] + t[start + rows - 1]) / (t[start + rows - 1] - t[start]))
                yield shape, start, rows, statistics.linear_regression(t[w], m[w]).slope


@pytest.mark.parametrize("seed", range(4))
def test_choice_among_every_window(seed):
    # MSD bending from a cage's plateau to diffusion, with noise, 45 .. 60 rows.
    rng = np.random.default_rng(seed)
    rows = int(rng.integers(45, 61))
    t = 0.1 * np.arange(1, rows + 1)
    m = 6 * (t + 0.5 * (1 - np.exp(-5 * t))) * (1 + rng.normal(0, 0.03, rows))
    first, end, shortest, longest = 6, rows - 4, int(rng.integers(2, 12)), int(rng.integers(15, 50))
    expected = sorted(windows_by_hand(t, m, first, end, shortest, longest, 0.1))
    assert msd_windows.search_step(end - first, longest, shortest, longest) == 1
    found = msd_windows.choose_windows(t, m[None, :], first, end, shortest, longest, 0.1)
    best = expected[0]
    assert (found.first[0], found.length[0], found.accepted[0]) == (best[1], best[2],
                                                                     len(expected))
    assert found.slope[0] == approx(best[3], rel=1e-9)
    near = [e[3] for e in expected if e[0] <= 1.5 ** 2 * best[0]]
    assert found.comparable[0] == len(near) > 1
    assert found.comparable_spread[0] == approx(statistics.stdev(near), rel=1e-7)


def test_long_runs_are_searched_on_a_grid():
    # 10^6 rows of an exact line: every window qualifies; the earliest,
    # longest window on the grid is taken, over nearly the whole region.
    t = np.arange(1, 10**6 + 1, dtype=float)
    found = msd_windows.choose_windows(t, 6 * t[None, :], 10**5, 9 * 10**5, 10, 10**6 + 1, 0.1)
    step = found.step
    assert step > 1 and found.first[0] == 10**5
    assert 8 * 10**5 - step < found.length[0] <= 8 * 10**5 and found.length[0] % step == 0
    assert found.slope[0] == approx(6.0)


@pytest.mark.parametrize("rows, given, expected", [
    (1501, {}, (75, 1502)),
    (120, {}, (10, 121)),
    (1501, {"max_window": 50}, (49, 50)),
    (1501, {"min_window": 400, "max_window": 1300}, (400, 1300)),
])
def test_default_windows_follow_the_run(rows, given, expected):
    assert FitSettings(**given).windows_for(rows) == expected


@pytest.mark.parametrize("rows, windows, spread_from", [
    (11, 2, "halves"),  # two windows of ten rows are too few for a spread of D
    (12, 3, "windows"),
])
def test_spread_of_d_over_windows_needs_three(rows, windows, spread_from):
    fit = exact_fit(rows)
    assert (fit.windows, fit.spread_from) == (windows, spread_from)


def exact_fit(rows):
    """The fit of D = 1e-9 m^2/s on a straight MSD of rows every picosecond."""
    t = np.arange(1, rows + 1) * 1e-12
    settings = FitSettings(margin=0, min_window=10, max_window=11, min_displacement=0)
    return fit_msd("msd", "c_msd[4]", t.tolist(), (6e-9 * t).tolist(), settings)


@pytest.mark.parametrize("spread, warned", [(1.9, False), (2.1, True)])
def test_windows_disagree_beyond_twice_the_statistical_error(spread, warned):
    fit = exact_fit(12)
    fit.fit_error, fit.sampling_error, fit.window_spread = 3e-12, 4e-12, spread * 5e-12
    report = RunReport(Path("run"), msd=[fit])
    check_fits(report)
    assert any("windows disagree" in w for w in report.warnings) == warned


def test_sampling_share_of_the_windows_spread_comes_off_in_quadrature(monkeypatch):
    rng = np.random.default_rng(5)
    t = np.arange(1, 201) * 1e-12
    msd = (6e-9 * t * (1 + rng.normal(0, 0.02, t.size))).tolist()

    def fitted(share):  # the windows' spread that sampling alone would give, over D
        monkeypatch.setattr(msd_fits, "search_scatter", lambda *_: Scatter(0.1, 0, share, 64))
        return fit_msd("msd", "c_msd[4]", t.tolist(), msd, FitSettings(), "Na", 50)

    alone = fitted(0.0)
    assert alone.spread_from == "windows" and alone.window_spread > 0
    half = fitted(0.5 * alone.window_spread / alone.diffusion)
    assert half.window_spread == approx(alone.window_spread * math.sqrt(0.75))
