"""Error bars: of a straight-line fit, of an MSD slope from the sampling of
its particles, of the mean of a correlated time series, and over repeated
runs."""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np

from ._vexa_pp import repacking_results


@dataclass(frozen=True)
class LineFit:
    slope: float
    intercept: float
    slope_error: float  # standard error of the slope; NaN below three points


def line_fit(x: Sequence[float], y: Sequence[float]) -> LineFit:
    """Ordinary least squares, about the means so that times of 1e-12 s lose
    nothing to cancellation."""
    n = len(x)
    if n < 2 or n != len(y):
        return LineFit(math.nan, math.nan, math.nan)
    mx, my = sum(x) / n, sum(y) / n
    sxx = sum((a - mx) ** 2 for a in x)
    if sxx == 0:
        return LineFit(math.nan, math.nan, math.nan)
    slope = sum((a - mx) * (b - my) for a, b in zip(x, y)) / sxx
    intercept = my - slope * mx
    if n < 3:
        return LineFit(slope, intercept, math.nan)
    residual = sum((b - intercept - slope * a) ** 2 for a, b in zip(x, y))
    return LineFit(slope, intercept, math.sqrt(residual / (n - 2) / sxx))


type Times = float | np.ndarray


def sampling_shape(first_time: Times, last_time: Times, points: int) -> Times:
    """dimensions x particles x the relative variance of an MSD slope that
    the particles' random paths alone cause: N independent Brownian
    particles, one time origin (at time 0), a least-squares line through
    `points` equally spaced rows from first_time to last_time (numbers or
    numpy arrays).

    Each particle's squared displacement along one axis, x(t)^2, has
    Cov(x(s)^2, x(t)^2) = 2 (2 D min(s, t))^2, so the slope of the mean
    over dN such terms has the relative variance 2 w'Kw / (dN) with
    K = min(s, t)^2 and w the least-squares weights. For equal spacing the
    sum is (6/5) (J^2 + 1) / (J (J + 1)) (t1 + t2) / (t2 - t1): early,
    long windows know the slope best, and the continuum limit
    (4.8 t1 / span + 2.4) / (dN) lies 20 % above the often quoted
    (4 t1 / span + 2) / (dN)."""
    j = points
    return 2.4 * (j * j + 1) / (j * (j + 1)) * (first_time + last_time) / (last_time - first_time)


def sampling_error(time: Sequence[float], particles: int, dimensions: int) -> float:
    """Relative standard deviation of the least-squares MSD slope over these
    times (counted from the origin) from the sampling of `particles`
    independent Brownian particles: `sampling_shape` for any spacing.

    With f(t) = t^2 increasing, f(min(t_a, t_b)) = f(t_0) + sum over
    k <= min(a, b) of f(t_k) - f(t_(k-1)); the weights sum to zero, so
    w'Kw = sum_k (t_k^2 - t_(k-1)^2) W_k^2 with W_k the sum of the weights
    from row k on."""
    t = np.asarray(time, dtype=float)
    if t.size < 2 or particles < 1:
        return math.nan
    centred = t - t.mean()
    weights = centred / float(np.dot(centred, centred))
    tails = np.cumsum(weights[::-1])[::-1]
    quadratic = float(np.dot(t[1:] * t[1:] - t[:-1] * t[:-1], tails[1:] * tails[1:]))
    return math.sqrt(2.0 * quadratic / (dimensions * particles))


@dataclass(frozen=True)
class BlockAverage:
    mean: float
    error: float  # standard error of the mean
    block_size: int  # rows per block at the chosen level
    converged: bool  # False: no plateau, the error is the largest estimate


def block_average(values: Sequence[float], min_blocks: int = 8) -> BlockAverage:
    """Mean and standard error of a correlated series by blocking
    (Flyvbjerg and Petersen 1989): neighbours are averaged in pairs, level by
    level, and the naive standard error of each level grows until the blocks
    are longer than the correlation time. The plateau is taken at the first
    level followed by two steps that each rise by no more than that level's
    own statistical error; without one (too short a series), the largest
    estimate among levels of at least min_blocks blocks, flagged."""
    series = np.asarray(values, dtype=float)
    series = series[np.isfinite(series)]
    if not series.size:
        return BlockAverage(math.nan, math.nan, 0, False)
    mean = _mean(series)
    if series.size < 2:
        return BlockAverage(mean, math.nan, 1, False)
    levels = []  # (blocks, error estimate, its uncertainty, block size)
    size = 1
    while series.size >= 2:
        count = series.size
        deviation = series - _mean(series)
        variance = float(np.dot(deviation, deviation)) / count
        error = math.sqrt(variance / (count - 1))
        levels.append((count, error, error / math.sqrt(2.0 * (count - 1)), size))
        pairs = count // 2
        series = (series[0:2 * pairs:2] + series[1:2 * pairs:2]) / 2
        size *= 2
    for k in range(len(levels) - 2):
        if levels[k + 2][0] < min_blocks:
            break
        if (levels[k + 1][1] - levels[k][1] <= levels[k][2]
                and levels[k + 2][1] - levels[k + 1][1] <= levels[k + 1][2]):
            return BlockAverage(mean, levels[k + 1][1], levels[k + 1][3], True)
    usable = [level for level in levels if level[0] >= min_blocks] or levels[:1]
    best = max(usable, key=lambda level: level[1])
    return BlockAverage(mean, best[1], best[3], False)


def _mean(values: np.ndarray) -> float:
    """The mean with its rounding error corrected once: a constant series
    gets its value exactly, and so an error of exactly 0."""
    first = float(values.mean())
    return first + float((values - first).mean())


@dataclass(frozen=True)
class Spread:
    mean: float
    std: float | None  # sample standard deviation (n - 1); None below two values
    error: float | None  # standard error of the mean, std / sqrt(n)
    count: int


def spread(values: Sequence[float]) -> Spread:
    """Mean, sample standard deviation and standard error of the finite values."""
    mean, population_std, count = repacking_results(values)
    if count < 2:
        return Spread(mean, None, None, count)
    std = population_std * math.sqrt(count / (count - 1))
    return Spread(mean, std, std / math.sqrt(count), count)
