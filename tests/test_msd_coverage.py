"""D's ± covers the true D as often as a standard error should: particles of
known D, diffusing freely plus rattling in a cage (so that the log-log slope
nears 1 only after a while, as in liquids), recorded as 'compute msd' writes
them (one time origin, the mean over N particles, one row every 0.1 ps, 1,501
rows), fitted as `vexa-pp analyze` fits an MSD column."""

import numpy as np
import pytest

from vexa_pp.msd_fits import fit_msd
from vexa_pp.results import FitSettings

D, ROW, ROWS, DIMENSIONS = 1.3e-9, 1e-13, 1501, 3  # m^2/s, s
CAGE = 0.5e-20  # m^2: the rattle's variance along each axis
RUNS = 80


def compute_msd(particles, runs, rng):
    """Single-origin MSDs of `particles` particles, one run per row.

    Every axis of every particle moves as x(t) = w(t) + c(t) - c(0): a
    Brownian path w of variance 2 D t and a cage rattle c of variance CAGE,
    fresh at each row. The squared distance from c(0) summed over the dN
    axes, |w - c(0)|^2, steps from row to row as 2 D dt times a noncentral
    chi-square; the rattle at a row adds a Gaussian vector to it."""
    axes = DIMENSIONS * particles
    step = 2 * D * ROW
    away = CAGE * rng.chisquare(axes, runs)
    msd = np.zeros((runs, ROWS))
    for k in range(1, ROWS):
        away = step * rng.noncentral_chisquare(axes, away / step)
        along = rng.standard_normal(runs) * np.sqrt(CAGE)
        msd[:, k] = ((np.sqrt(away) + along) ** 2
                     + CAGE * rng.chisquare(axes - 1, runs)) / particles
    return msd


@pytest.fixture(scope="module")
def fits():
    """D's estimate and ± per N, window setting and run."""
    time = (np.arange(ROWS) * ROW).tolist()
    settings = {"default": FitSettings(), "long": FitSettings(min_window=400, max_window=1300)}
    found = {}
    for particles, seed in ((10, 1), (100, 2), (1000, 3)):
        for msd in compute_msd(particles, RUNS, np.random.default_rng(seed)):
            for name, setting in settings.items():
                fit = fit_msd("msd", "c_msd[4]", time, msd.tolist(), setting, "Na", particles)
                found.setdefault((particles, name), []).append((fit.diffusion, fit.error))
    return {key: np.array(values) for key, values in found.items()}


@pytest.mark.parametrize("particles", [10, 100, 1000])
@pytest.mark.parametrize("windows", ["default", "long"])
def test_plus_minus_covers_the_true_d(fits, particles, windows):
    d, error = fits[particles, windows].T
    assert np.isfinite(d).mean() > 0.95
    within = np.abs(d - D)[np.isfinite(d)] / error[np.isfinite(d)]
    assert 0.6 <= np.mean(within <= 1) <= 0.8
    assert np.mean(within <= 2) >= 0.9


def test_few_particles_quote_their_sampling_limit(fits):
    # One origin, ten particles: D is known to about a quarter, as the
    # estimates' own scatter says, and the ± says so.
    d, error = fits[10, "default"].T
    assert 0.15 < np.median(error / D) < 0.35
    assert np.median(error / D) == pytest.approx(np.std(d / D), rel=0.3)
