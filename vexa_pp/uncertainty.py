"""Error bars: of a straight-line fit, of an MSD fit's choice of window, of
the mean of a correlated time series, and over repeated runs."""

from __future__ import annotations

import math
import sys
from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np

from ._vexa_pp import repacking_results

EPSILON = sys.float_info.epsilon


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


def _index(value: float) -> int:
    """A double turned into a window index as the fit does: truncated,
    negative and NaN to 0, saturating."""
    if not value > 0:
        return 0
    return sys.maxsize if value >= sys.maxsize else int(value)


@dataclass(frozen=True)
class WindowSpread:
    count: int  # windows accepted
    mean: float  # their mean MSD slope
    std: float  # sample standard deviation of their slopes; NaN below two windows


def window_spread(time: Sequence[float], msd: Sequence[float], margin: float,
                  min_window: int, max_window: int, max_error: float,
                  min_displacement: float) -> WindowSpread:
    """Count, mean and spread of the MSD slope of every window that
    `diff_calculator` would accept with these settings (log-log slope strictly
    within max_error of 1). The window rules are the fit's own (displacement
    filter, trimmed region, repeated-time skip, lengths from min_window below
    max_window); the sums run from each start, so a slope lying on the band's
    edge may be judged differently, which does not matter for a spread.

    A long run has millions of such windows: all starts advance together one
    length at a time, and the slopes of each length are folded into a running
    mean and variance (Chan et al.), so memory stays in proportion to the
    series and no slope is kept."""
    t_all = np.asarray(time, dtype=float)
    m_all = np.asarray(msd, dtype=float)
    empty = WindowSpread(0, math.nan, math.nan)
    if t_all.ndim != 1 or not t_all.size or t_all.shape != m_all.shape:
        return empty
    kept = np.abs(m_all) >= min_displacement * min_displacement
    t, m = t_all[kept], m_all[kept]
    n = t.size
    with np.errstate(divide="ignore", invalid="ignore"):
        x, y = np.log10(t), np.log10(np.abs(m))
    start, end = _index(margin * n), _index((1.0 - margin) * n)
    stop = end - min_window if min_window <= end else 0
    last = min(stop, n - min_window + 1, n)  # starts without a full window end the scan
    if last <= start:
        return empty
    starts, size = slice(start, last), last - start
    following = np.full(size, np.nan)  # the last point is never a repeated time
    following[:min(n, last + 1) - start - 1] = t[start + 1:last + 1]
    usable = ~(np.abs(t[starts] - following) < EPSILON * np.fmax(np.abs(t[starts]), 1.0))
    # Sums about each window's first point keep them well conditioned; a
    # slope does not depend on the origin.
    origins = [np.where(np.isfinite(x[starts]), x[starts], 0.0),
               np.where(np.isfinite(y[starts]), y[starts], 0.0), t[starts], m[starts]]
    sx, sy, sxy, sxx, st, sm, stm, stt = (np.zeros(size) for _ in range(8))
    low, high = 1.0 - max_error, 1.0 + max_error
    count, mean, squares = 0, 0.0, 0.0
    with np.errstate(all="ignore"):
        for j in range(1, max_window):
            # Windows of length j starting at i end at point i + j - 1, inside
            # the data and before stop.
            k = min(size, stop - j - start, n - j + 1 - start)
            if k <= 0:
                break
            ahead = slice(start + j - 1, start + j - 1 + k)
            a, b = x[ahead] - origins[0][:k], y[ahead] - origins[1][:k]
            c, d = t[ahead] - origins[2][:k], m[ahead] - origins[3][:k]
            sx[:k] += a
            sy[:k] += b
            sxy[:k] += a * b
            sxx[:k] += a * a
            st[:k] += c
            sm[:k] += d
            stm[:k] += c * d
            stt[:k] += c * c
            if j < min_window:
                continue
            den = j * sxx[:k] - sx[:k] * sx[:k]
            loglog = (j * sxy[:k] - sx[:k] * sy[:k]) / den
            raw = j * stt[:k] - st[:k] * st[:k]
            accept = (usable[:k] & (den != 0) & np.isfinite(den) & (low < loglog)
                      & (loglog < high) & (raw != 0))
            if not accept.any():
                continue
            slopes = ((j * stm[:k] - st[:k] * sm[:k]) / raw)[accept]
            slopes = slopes[np.isfinite(slopes)]
            if not slopes.size:
                continue
            here = float(slopes.mean())
            total = count + slopes.size
            delta = here - mean
            mean += delta * slopes.size / total
            squares += float(np.dot(slopes - here, slopes - here)) + (
                delta * delta * count * slopes.size / total)
            count = total
    if not count:
        return empty
    return WindowSpread(count, mean, math.sqrt(squares / (count - 1)) if count > 1 else math.nan)


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
