"""Which stretch of an MSD curve D is fitted over.

A window qualifies when its log-log slope lies within the tolerance of 1
(the motion looks diffusive there). Among the qualifying windows the one
whose slope the sampling of the particles leaves least uncertain is taken:
for a single time origin that is the window starting earliest and running
longest (see `uncertainty.sampling_shape`). Every window of a grid of starts
and lengths is looked at, with running sums over all starts at once, for one
MSD curve or for many simulated ones side by side.
"""

from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np

from .uncertainty import sampling_shape

# Windows evaluated per search at most: a grid of starts and lengths this
# fine resolves the sampling error, which varies smoothly with both, and
# keeps a search of 10^6 rows as quick as one of 10^3.
WINDOW_BUDGET = 1 << 12
# Windows whose sampling standard deviation is within this factor of the
# chosen one's describe the same stretch of the run about as well; the
# spread of D among them shows how much D owes to where the window lies.
COMPARABLE = 1.5


@dataclass(frozen=True)
class WindowChoice:
    """The chosen window of each curve searched (arrays over the curves)."""

    first: np.ndarray  # index of the window's first row in the series; -1: none qualifies
    length: np.ndarray  # rows
    slope: np.ndarray  # least-squares MSD slope over the window; NaN: none qualifies
    accepted: np.ndarray  # qualifying windows
    comparable: np.ndarray  # qualifying windows within COMPARABLE of the chosen one's error
    comparable_spread: np.ndarray  # sample std of the MSD slope over those; NaN below two
    step: int  # rows between the starts, and between the lengths, searched


def search_step(rows: int, span: int, min_window: int, max_window: int) -> int:
    """Rows between searched starts and lengths: 1 unless rows x span
    windows exceed the budget, and small enough that some multiple of it
    lies in min_window .. max_window - 1."""
    step = max(1, math.ceil(math.sqrt(rows * span / WINDOW_BUDGET)))
    while step > 1 and (max_window - 1) // step * step < max(min_window, step):
        step -= 1
    return step


def choose_windows(time: np.ndarray, msd: np.ndarray, first: int, end: int, min_window: int,
                   max_window: int, max_error: float) -> WindowChoice:
    """For each curve (a row of msd, shape (curves, rows)) the qualifying
    window of rows first .. end - 1 with the smallest sampling error, its
    length at least min_window and below max_window rows; ties go to the
    earlier start, then the shorter window.

    Time is counted from the MSD's origin (where the displacements start).
    Rows are taken in blocks of `search_step` rows; the sums of each block
    are taken about its first row and those of each window about its first
    block's first row, which keeps them well conditioned however far into
    the run the window lies."""
    curves = msd.shape[0]
    rows = end - first
    span = min(max_window - 1, rows)
    step = search_step(rows, span, min_window, max_window) if rows >= 2 else 1
    found = _qualifying(time, msd, first, end, span, step, min_window, max_window, max_error)
    if found is None:
        none = np.full(curves, -1)
        nan = np.full(curves, math.nan)
        return WindowChoice(none, np.zeros(curves, dtype=int), nan, np.zeros(curves, dtype=int),
                            np.zeros(curves, dtype=int), nan, step)
    starts, lengths, shapes, qualifies, slopes = found
    order = np.lexsort((lengths, starts, shapes))
    ranked = qualifies[:, order]
    pick = order[np.argmax(ranked, axis=1)]
    chosen = ranked.any(axis=1)
    best = np.where(chosen, shapes[pick], math.nan)
    near = qualifies & (shapes <= COMPARABLE * COMPARABLE * best[:, None])
    count = near.sum(axis=1)
    values = np.where(near, slopes, 0.0)
    mean = values.sum(axis=1) / np.maximum(count, 1)
    squares = (np.where(near, slopes - mean[:, None], 0.0) ** 2).sum(axis=1)
    with np.errstate(invalid="ignore", divide="ignore"):
        spread = np.where(count > 1, np.sqrt(squares / (count - 1)), math.nan)
    return WindowChoice(
        first=np.where(chosen, first + starts[pick] * step, -1),
        length=np.where(chosen, lengths[pick], 0),
        slope=np.where(chosen, slopes[np.arange(curves), pick], math.nan),
        accepted=qualifies.sum(axis=1), comparable=count, comparable_spread=spread, step=step)


def _qualifying(time: np.ndarray, msd: np.ndarray, first: int, end: int, span: int, step: int,
                min_window: int, max_window: int, max_error: float
                ) -> tuple[np.ndarray, ...] | None:
    """Every window of the grid: start block, rows, sampling shape (one
    entry per window), and whether it qualifies and its MSD slope (one row
    per curve); None when the grid holds no window."""
    curves = msd.shape[0]
    blocks = (end - first) // step
    if blocks < 1 or span < max(min_window, 2):
        return None
    used = slice(first, first + blocks * step)
    t = time[used].reshape(blocks, step)
    m = msd[:, used].reshape(curves, blocks, step)
    with np.errstate(divide="ignore", invalid="ignore"):
        x, y = np.log10(t), np.log10(np.abs(m))
    # Sums of each block about its first row: of log t and t, the same for
    # every curve, and of the curves' own log MSD and MSD with them.
    x0, t0, y0, m0 = x[:, 0], t[:, 0], y[..., 0], m[..., 0]
    dx, dt, dy, dm = x - x[:, :1], t - t[:, :1], y - y[..., :1], m - m[..., :1]
    bx, bt, by, bm = dx.sum(-1), dt.sum(-1), dy.sum(-1), dm.sum(-1)
    bxx, btt = (dx * dx).sum(-1), (dt * dt).sum(-1)
    bxy, btm = (dx * dy).sum(-1), (dt * dm).sum(-1)
    last_time = t[:, -1]

    sx, st, sxx, stt = (np.zeros(blocks) for _ in range(4))
    sy, sm, sxy, stm = (np.zeros((curves, blocks)) for _ in range(4))
    low, high = 1.0 - max_error, 1.0 + max_error
    found: list[tuple[np.ndarray, ...]] = []
    with np.errstate(all="ignore"):
        for length in range(1, span // step + 1):
            k = blocks - length + 1  # windows of this many blocks
            if k <= 0:
                break
            a = slice(length - 1, length - 1 + k)  # the block added to each window
            ex, et = x0[a] - x0[:k], t0[a] - t0[:k]  # its origin from the window's
            ey, em = y0[:, a] - y0[:, :k], m0[:, a] - m0[:, :k]
            sxy[:, :k] += bxy[:, a] + ex * by[:, a] + ey * bx[a] + step * ex * ey
            stm[:, :k] += btm[:, a] + et * bm[:, a] + em * bt[a] + step * et * em
            sxx[:k] += bxx[a] + 2 * ex * bx[a] + step * ex * ex
            stt[:k] += btt[a] + 2 * et * bt[a] + step * et * et
            sx[:k] += bx[a] + step * ex
            st[:k] += bt[a] + step * et
            sy[:, :k] += by[:, a] + step * ey
            sm[:, :k] += bm[:, a] + step * em
            points = length * step  # below max_window: span stops short of it
            if points < min_window:
                continue
            loglog = (points * sxy[:, :k] - sx[:k] * sy[:, :k]) / (
                points * sxx[:k] - sx[:k] * sx[:k])
            slope = (points * stm[:, :k] - st[:k] * sm[:, :k]) / (
                points * stt[:k] - st[:k] * st[:k])
            shape = np.asarray(sampling_shape(t0[:k], last_time[a], points))
            qualifies = (low < loglog) & (loglog < high) & np.isfinite(slope) & np.isfinite(
                shape)
            found.append((np.arange(k), np.full(k, points), shape, qualifies, slope))
    if not found:
        return None
    starts, lengths, shapes = (np.concatenate(c) for c in list(zip(*found))[:3])
    qualifies, slopes = (np.concatenate(c, axis=1) for c in list(zip(*found))[3:])
    return starts, lengths, shapes, qualifies, slopes
