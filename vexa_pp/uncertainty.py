"""Error bars: of a straight-line fit, of an MSD fit's choice of window, of
the mean of a correlated time series, and over repeated runs."""

from __future__ import annotations

import math
import sys
from collections.abc import Sequence
from dataclasses import dataclass

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


def _log10(value: float) -> float:
    if value > 0:
        return math.log10(value)
    return -math.inf if value == 0 else math.nan


def window_slopes(time: Sequence[float], msd: Sequence[float], margin: float,
                  min_window: int, max_window: int, max_error: float,
                  min_displacement: float) -> list[float]:
    """The MSD slope of every window that `diff_calculator` would accept with
    these settings (log-log slope strictly within max_error of 1), in its scan
    order. The window rules are the fit's own (displacement filter, trimmed
    region, repeated-time skip, lengths from min_window below max_window);
    the sums run from each start, so a slope lying on the band's edge may be
    judged differently, which does not matter for a spread."""
    if not time or len(time) != len(msd):
        return []
    threshold = min_displacement * min_displacement
    kept = [(t, m) for t, m in zip(time, msd) if abs(m) >= threshold]
    n = len(kept)
    t = [p[0] for p in kept]
    m = [p[1] for p in kept]
    x = [_log10(v) for v in t]
    y = [_log10(abs(v)) for v in m]
    start, end = _index(margin * n), _index((1.0 - margin) * n)
    stop = end - min_window if min_window <= end else 0
    low, high = 1.0 - max_error, 1.0 + max_error
    slopes = []
    for i in range(start, stop):
        if i + min_window > n:
            break
        if i + 1 < n and abs(t[i] - t[i + 1]) < EPSILON * max(abs(t[i]), 1.0):
            continue
        # Sums about the window's first point keep the raw sums well
        # conditioned; a slope does not depend on the origin.
        x0 = x[i] if math.isfinite(x[i]) else 0.0
        y0 = y[i] if math.isfinite(y[i]) else 0.0
        t0, m0 = t[i], m[i]
        sx = sy = sxy = sxx = st = sm = stm = stt = 0.0
        for j in range(1, min(stop - i, max_window)):
            p = i + j - 1
            if p >= n:
                break
            a, b, c, d = x[p] - x0, y[p] - y0, t[p] - t0, m[p] - m0
            sx, sy, sxy, sxx = sx + a, sy + b, sxy + a * b, sxx + a * a
            st, sm, stm, stt = st + c, sm + d, stm + c * d, stt + c * c
            if j < min_window:
                continue
            den = j * sxx - sx * sx
            if den == 0 or not math.isfinite(den):
                continue
            s = (j * sxy - sx * sy) / den
            if not low < s < high:
                continue
            raw = j * stt - st * st
            if raw != 0:
                slopes.append((j * stm - st * sm) / raw)
    return slopes


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
    series = [v for v in values if math.isfinite(v)]
    if not series:
        return BlockAverage(math.nan, math.nan, 0, False)
    mean = math.fsum(series) / len(series)
    if len(series) < 2:
        return BlockAverage(mean, math.nan, 1, False)
    levels = []  # (blocks, error estimate, its uncertainty, block size)
    size = 1
    while len(series) >= 2:
        count = len(series)
        level_mean = math.fsum(series) / count
        variance = math.fsum((v - level_mean) ** 2 for v in series) / count
        error = math.sqrt(variance / (count - 1))
        levels.append((count, error, error / math.sqrt(2.0 * (count - 1)), size))
        series = [(series[2 * k] + series[2 * k + 1]) / 2 for k in range(count // 2)]
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
