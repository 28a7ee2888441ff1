"""Multi-origin MSD, D and the conductivities with their error bars, checked
on simulated Brownian walkers whose D and correlations are known."""

import math

import numpy as np
import pytest

from helpers import approx, nan
from vexa_pp import physics, trajectory
from vexa_pp.analysis import FitSettings

ANGSTROM = 1e-10
FRAME = 1e-12  # s between frames
D_TRUE = 2e-9  # m^2/s
BOX = 40.0  # Å


def walk(rng, walkers, frames, diffusion=D_TRUE):
    """Brownian paths in Å, (walkers, 3, frames), from scattered starts."""
    steps = rng.normal(0.0, math.sqrt(2 * diffusion * FRAME) / ANGSTROM, (walkers, 3, frames))
    steps[:, :, 0] = rng.uniform(0.0, BOX, (walkers, 3))
    return np.cumsum(steps, axis=2)


def frames_of(positions, types):
    count = positions.shape[2]
    return trajectory.Frames(positions, np.asarray(types), np.arange(count) * 10,
                             np.full(count, BOX ** 3))


def analyze(positions, types, groups, charges=None, **options):
    return trajectory.analyze_trajectory(frames_of(positions, types), groups, charges or {},
                                         300.0, FRAME / 10, ANGSTROM, **options)


def direct_msd(positions):
    count = positions.shape[2]
    return np.array([[0.0] + [np.mean(np.sum((p[:, m:] - p[:, :-m]) ** 2, axis=0))
                              for m in range(1, count)] for p in positions])


@pytest.mark.parametrize("atoms, frames, offset", [(1, 2, 0.0), (3, 17, 0.0), (5, 256, 1e4),
                                                   (600, 40, -3e3)])
def test_fft_msd_equals_the_direct_average_over_origins(atoms, frames, offset):
    positions = walk(np.random.default_rng(frames), atoms, frames) + offset
    fast, slow = trajectory._per_atom_msd(positions), direct_msd(positions)
    assert fast.shape == (atoms, frames)
    assert np.abs(fast[:, 0]).max() <= 1e-12 * slow.max()
    assert fast[:, 1:] == approx(slow[:, 1:], rel=1e-12)


def covered(estimates, errors, truth):
    """Shares of trials whose ±1 and ±2 error bars hold the truth."""
    miss = np.abs(np.asarray(estimates) - truth) / np.asarray(errors)
    return float(np.mean(miss <= 1)), float(np.mean(miss <= 2))


def assert_honest(shares):
    one, two = shares
    assert 0.60 <= one <= 0.80 and two >= 0.90, shares


# 400 frames in 8 blocks: windows reach 25 lags.
SETTINGS = FitSettings(min_window=5, max_window=15)


# Frames, trials and window for each case (1000 particles on a shorter run,
# to stay fast). Walkers moving in pairs are not independent particles.
@pytest.mark.parametrize("particles, together, frames, trials, window", [
    (10, 1, 400, 400, None), (10, 1, 400, 400, (3e-12, 24e-12)), (100, 1, 400, 150, None),
    (1000, 1, 200, 100, (1e-12, 12e-12)), (100, 2, 400, 150, None)])
def test_d_error_bar_covers_the_true_d(particles, together, frames, trials, window):
    rng = np.random.default_rng(particles + together)
    found = [analyze(np.repeat(walk(rng, particles // together, frames), together, axis=0),
                     [1] * particles, {"A": [1]}, window=window, settings=SETTINGS).diffusion[0]
             for _ in range(trials)]
    assert {(d.error_from, d.pieces) for d in found} == {("time blocks", 8)}
    assert_honest(covered([d.diffusion for d in found], [d.error for d in found], D_TRUE))


# Ions as walkers: each ion follows one walker, so ions sharing a walker move
# together. sigma_EH is then e^2 / (V k_B T) sum_walkers Q^2 D, Q being the
# charge the walker carries.
IONS = 20
CORRELATIONS = {
    "independent": np.arange(IONS),
    "cations in fives": np.r_[np.repeat(np.arange(2), 5), np.arange(2, 12)],
    "neutral pairs": np.r_[np.arange(10), np.arange(10)],
}


def ions(rng, assignment, frames=400):
    walkers = walk(rng, assignment.max() + 1, frames)
    return walkers[assignment] + rng.uniform(0, 3, (IONS, 3, 1)), [1] * 10 + [2] * 10


@pytest.mark.parametrize("name", CORRELATIONS)
def test_einstein_helfand_on_ions_with_known_correlations(name):
    assignment = CORRELATIONS[name]
    charge = np.r_[np.ones(10), -np.ones(10)]
    carried = np.bincount(assignment, weights=charge)
    scale = physics.ELEMENTARY_CHARGE ** 2 / ((BOX * ANGSTROM) ** 3 * physics.BOLTZMANN * 300.0)
    truth = scale * np.sum(carried ** 2) * D_TRUE
    rng = np.random.default_rng(len(name))
    found = [analyze(*ions(rng, assignment), {"Na": [1], "Cl": [2]}, {"Na": 1, "Cl": -1},
                     settings=SETTINGS).conductivity for _ in range(200)]
    assert {c.pieces for c in found} == {24}
    ne = [c.nernst_einstein for c in found]
    eh = np.array([c.einstein_helfand for c in found])
    assert np.mean(ne) == approx(scale * IONS * D_TRUE, rel=0.02)
    if not truth:
        assert np.abs(eh).max() < 1e-12 * np.mean(ne)
        return
    assert_honest(covered(eh, [c.einstein_helfand_error for c in found], truth))
    haven = np.array([c.haven_ratio for c in found])
    assert np.median(haven) == approx(scale * IONS * D_TRUE / truth, rel=0.15)
    assert_honest(covered(haven, [c.haven_ratio_error for c in found],
                          scale * IONS * D_TRUE / truth))


def test_groups_windows_and_notes():
    rng = np.random.default_rng(7)
    positions = np.concatenate([walk(rng, 5, 400), walk(rng, 5, 400, diffusion=D_TRUE / 4)])
    types = [1] * 5 + [2] * 5
    result = analyze(positions, types, {"fast": [1], "slow": [2], "none": [3]},
                     {"fast": 1}, settings=SETTINGS)
    assert [d.group for d in result.diffusion] == ["fast", "slow"]
    assert result.notes == ("group none: no atom of type 3",)
    shared = analyze(positions, types, {"fast": [1], "all": [1, 2]}, {"fast": 1, "all": -1},
                     settings=SETTINGS)
    assert shared.conductivity is None
    assert shared.notes == ("no conductivity: the charged groups share atoms",)
    fast, slow = result.diffusion
    assert fast.window_from == "rule" and 0.9 < fast.loglog_slope < 1.1
    assert fast.diffusion / slow.diffusion == approx(4, rel=0.4)
    rows = (fast.time >= fast.window[0]) & (fast.time <= fast.window[1])
    line = fast.intercept + 6 * fast.diffusion * fast.time[rows]
    assert line == approx(fast.msd[rows], abs=0.05 * fast.msd[rows].max())
    start, end = result.conductivity.window
    assert (start, end) == fast.window and end == 25 * FRAME


@pytest.mark.parametrize("frames, blocks", [(60, 2), (120, 4), (400, 8)])
def test_short_runs_take_fewer_longer_blocks(frames, blocks):
    positions = walk(np.random.default_rng(3), 10, frames)
    result = analyze(positions, [1] * 10, {"a": [1]}, settings=SETTINGS)
    assert (result.blocks, result.diffusion[0].ok) == (blocks, True)
    assert (blocks == 8) == (f"{blocks} time blocks, not 8" not in " ".join(result.notes))
    assert analyze(positions, [1] * 10, {"a": [1]}, settings=SETTINGS, blocks=8).blocks == 8


# (particles, blocks) estimates of D: the error is over the blocks' means,
# the particles' one over every estimate.
@pytest.mark.parametrize("values, error_from, pieces, spread, apart", [
    ([[1, 2, 3], [3, 2, 1]], "time blocks", 3, 0.0, math.sqrt(0.8 / 6) * 1.1),
    ([[1, 2, 3], [1, 2, 3]], "time blocks", 3, math.sqrt(1 / 3) * 1.3, math.sqrt(0.8 / 6) * 1.1),
    ([[1], [3]], "particles", 2, 1.0 * 1.8, 1.0 * 1.8),
    ([[1, 2, 3]], "time blocks", 3, math.sqrt(1 / 3) * 1.3, nan),
    ([[1]], "", 1, nan, nan),
])
def test_error_pieces(values, error_from, pieces, spread, apart):
    mean, error, kind, count, particles = trajectory._diffusion_error(
        np.asarray(values, dtype=float))
    assert (kind, count) == (error_from, pieces) and mean == approx(np.mean(values))
    # Student-t factors to two digits (1, 2 and 5 degrees of freedom).
    assert [error, particles] == approx([spread, apart], rel=0.03, nan_ok=True)


@pytest.mark.parametrize("change, message", [
    ({"window": (0.0, 10e-12)}, "must hold at least 3 lags"),
    ({"window": (5e-12, 100e-12)}, "fewer blocks allow a longer window"),
    ({"window": (math.nan, 10e-12)}, "must be finite"),
    ({"steps": [0, 10, 20, 40]}, r"evenly spaced .* timestep 40 \(frame 3 .* is 20 steps later "
                                 "where the frames before were 10 apart"),
    ({"steps": [0, 10, 10, 20]}, r"timestep 10 \(frame 2 .* follows timestep 10 and repeats it"),
    ({"steps": [0, 10, 5, 15]}, "timestep 5 .* goes back in time"),
    ({"types": [1]}, "but 1 types"),
])
def test_refused_inputs(change, message):
    positions = walk(np.random.default_rng(1), 2, 400 if "window" in change else 4)
    count = positions.shape[2]
    frames = trajectory.Frames(positions, np.asarray(change.get("types", [1, 1])),
                               np.asarray(change.get("steps", np.arange(count))), BOX ** 3)
    with pytest.raises(ValueError, match=message):
        trajectory.analyze_trajectory(frames, {"A": [1]}, {}, 300.0, FRAME, ANGSTROM,
                                      window=change.get("window"))


@pytest.mark.parametrize("dof", [1, 2, 3, 5, 9, 39, 1000])
def test_one_sigma_t_factor(dof):
    scipy = pytest.importorskip("scipy.stats", exc_type=ImportError)
    assert trajectory.one_sigma_t(dof) == approx(scipy.t.ppf(scipy.norm.cdf(1), dof), rel=2e-4)
