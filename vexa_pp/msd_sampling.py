"""How much D would scatter over runs like this one: the same particle
count, the same rows, the same window search, other random paths.

Single-origin MSDs of N particles are simulated as free diffusion with the
fitted D plus a rattle in a cage whose size gives the fitted line's
intercept; each is searched for its window exactly as the run was. The
search itself is part of the estimate: whether a window's log-log slope
qualifies depends on the same noise as its D, so the scatter of the D it
picks differs from that of any fixed window (by a third for ten
particles), and only the whole procedure, repeated, shows by how much.

Summing over particles makes this cheap whatever N is: the squared
distance from the cage's starting point of dN Gaussian coordinates grows
as a squared Bessel process, whose step is a noncentral chi-square; the
rattle, taken to forget itself between rows (as in a liquid sampled every
picosecond or so), adds a fresh Gaussian vector at each row.
"""

from __future__ import annotations

import math
import zlib
from dataclasses import dataclass

import numpy as np

from .msd_windows import choose_windows

SIMULATED_RUNS = 64
SIMULATED_ROWS = 4096  # at most, per simulated run


@dataclass(frozen=True)
class Scatter:
    # Root mean square of the D the search gives minus the true D, over D:
    # the search's own bias (it takes early windows that the noise made
    # look diffusive) is part of its error.
    relative_error: float
    relative_bias: float  # mean of that D, over D, minus 1
    window_spread: float  # root mean square of the comparable windows' slope spread, over D
    runs: int  # simulated runs whose search found a window


def simulate_msd(time: np.ndarray, slope: float, offset: float, particles: int,
                 dimensions: int, runs: int, rng: np.random.Generator) -> np.ndarray:
    """Single-origin MSDs (runs x rows) of `particles` independent particles
    whose mean grows as slope x time + offset (time counted from the origin,
    offset from the cage rattle; a row at time 0 or before is 0)."""
    coordinates = dimensions * particles
    rattle = max(offset, 0.0) / (2 * dimensions)  # variance per coordinate
    spread = slope / dimensions  # 2 D: the variance growth per coordinate
    variance = spread * np.fmax(np.diff(np.fmax(time, 0.0), prepend=0.0), 0.0)
    rows = time.size
    # The distance r from the cage's starting point: the step's component
    # along r, and the length of the rest, r -> hypot(r + along, across).
    along = np.sqrt(variance)[:, None] * rng.standard_normal((rows, runs))
    across = np.sqrt(variance[:, None] * _chisquare(rng, coordinates - 1, (rows, runs)))
    distance = np.empty((rows, runs))
    r = np.sqrt(rattle * _chisquare(rng, coordinates, (runs,)))
    for k in range(rows):
        r = np.hypot(r + along[k], across[k], out=distance[k])
    shake = rng.standard_normal((rows, runs))
    shake_aside = _chisquare(rng, coordinates - 1, (rows, runs))
    msd = ((distance + np.sqrt(rattle) * shake) ** 2 + rattle * shake_aside) / particles
    msd[time <= 0] = 0.0
    return np.ascontiguousarray(msd.T)


def _chisquare(rng: np.random.Generator, freedom: int, shape: tuple[int, ...]) -> np.ndarray:
    return rng.chisquare(freedom, shape) if freedom > 0 else np.zeros(shape)


def search_scatter(time: np.ndarray, slope: float, offset: float, particles: int,
                   dimensions: int, first: int, end: int, min_window: int, max_window: int,
                   max_error: float) -> Scatter:
    """The scatter of the slope that `choose_windows` picks on simulated
    runs of these rows (see `simulate_msd`), relative to the slope simulated."""
    # Seeded by the data: a report can be reproduced to the last digit, and
    # the simulations' own chance error differs from one MSD to the next
    # rather than lean every ± of every run the same way.
    rng = np.random.default_rng(zlib.crc32(time.tobytes() + np.float64(slope).tobytes()))
    # A long run is simulated on every k-th row: the search steps over many
    # rows at a time there anyway, and the runs stay a few MB.
    k = max(1, math.ceil(time.size / SIMULATED_ROWS))
    runs = simulate_msd(time[::k], slope, offset, particles, dimensions, SIMULATED_RUNS, rng)
    found = choose_windows(time[::k], runs, first // k, end // k, max(min_window // k, 2),
                           max(math.ceil(max_window / k), 3), max_error)
    slopes = found.slope[np.isfinite(found.slope)] / slope
    if slopes.size < 10:
        return Scatter(np.nan, np.nan, np.nan, int(slopes.size))
    spreads = found.comparable_spread[np.isfinite(found.comparable_spread)] / slope
    return Scatter(float(np.sqrt(np.mean((slopes - 1.0) ** 2))), float(slopes.mean() - 1.0),
                   float(np.sqrt(np.mean(spreads ** 2))) if spreads.size else 0.0,
                   int(slopes.size))
