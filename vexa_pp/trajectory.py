"""Transport coefficients from a trajectory: self-diffusion from the MSD
averaged over every time origin, the collective (Einstein-Helfand)
conductivity, and the Haven ratio, each with an error bar built from
independent pieces of the run.

Everything here works on numpy arrays in the trajectory's own length unit
and converts to SI units once, with the length scale the caller gives, so it
does not care which reader produced the positions.

Why the error bars are built as they are
----------------------------------------
An MSD curve's points share their displacements, so neither the regression's
error nor the spread over fit windows says how far D is from the truth: the
sampling of a few particles over a finite run dominates. The run is cut into
`blocks` equal time blocks. Each particle in each block gives its own
multi-origin MSD and, over the same fit window, its own D, and D is their
mean. The error is the standard error of the group's D over the blocks,
which are independent whether or not the particles move together (ion pairs
and clusters do); the spread over particles, steadier but blind to that, is
reported beside it. A window reaches at most half a block, so every block
keeps at least as many time origins as lags.

The collective conductivity has no particles to average over: its
independent pieces are the blocks and the three Cartesian components of the
displacement of the total charge (uncorrelated in an isotropic liquid).

With few pieces the sample standard deviation itself scatters, and a plain
standard error covers the truth less often than 68 %. Every error here is
therefore the standard error times the Student-t factor of its degrees of
freedom: a ±1 error bar is a 68.3 % interval and ±2 one of about 95 %. A
simulation of Brownian particles with a known D checks it (the tests).
"""

from __future__ import annotations

import dataclasses
import math
from collections.abc import Iterable, Iterator, Mapping
from dataclasses import dataclass

import numpy as np

from . import physics
from ._vexa_pp import diff_calculator
from .multi_origin_msd import per_atom_msd
from .results import FitSettings
from .trajectory_results import (  # the types this module's callers name
    TrajectoryFrames as TrajectoryFrames,
    Frames as Frames,
    Diffusion as Diffusion,
    Conductivity as Conductivity,
    TrajectoryResult as TrajectoryResult,
)

DIMENSIONS = 3
# Time blocks behind the error bars, most first: a window reaches at most
# half a block, and a short run's blocks may end before a group's MSD turns
# diffusive (a few slow ions in 20 ps), so fewer and longer ones are taken
# then; in one block the error comes from the spread over the atoms.
BLOCK_CHOICES = (8, 4, 2, 1)
# Atoms whose MSDs are taken at once: bounds the working memory of the
# transforms (about 100 bytes per atom and frame) on long runs.
_ATOMS_PER_CHUNK = 128
# A window needs a line through at least this many lags.
_MIN_WINDOW_LAGS = 3


def analyze_trajectory(frames: TrajectoryFrames, groups: Mapping[str, Iterable[int]],
                       charges: Mapping[str, float], temperature: float, timestep: float,
                       length_scale: float = 1e-10, *,
                       window: tuple[float, float] | None = None,
                       settings: FitSettings = FitSettings(),
                       blocks: int | None = None) -> TrajectoryResult:
    """Self-diffusion per group, collective conductivity and Haven ratio.

    Parameters
    ----------
    frames : TrajectoryFrames
        Unwrapped positions (atoms, 3, frames), atom types, the MD step of
        each frame and the box volume (attribute `volumes`, per frame or one
        value) in the trajectory's length unit.
    groups : mapping of str to iterable of int
        Group name to the atom types it holds.
    charges : mapping of str to float
        Charge in e of each charged group's atoms (a scaled-charge model's
        +0.85 as well as a valence); groups not named (or 0) carry none.
    temperature : float
        In K.
    timestep : float
        Duration of one MD step in s.
    length_scale : float
        Metres per length unit of the trajectory (1e-10 for Å).
    window : (float, float), optional
        First and last lag time of the fits in s; by default each group's
        window starts where its MSD reaches a log-log slope near 1 (the rule
        of the single-origin fits, `settings`) and ends at half a block, and
        the conductivity's starts where the last charged group's does.
    settings : FitSettings
        The window rule's margin, window lengths (in lags), tolerance and
        displacement threshold.
    blocks : int, optional
        Time blocks for the error bars; a window reaches at most half a
        block. By default the most of 8, 4, 2 or 1 that leave every group a
        fit window (a note says when fewer than 8 were taken).

    Returns
    -------
    TrajectoryResult

    Raises
    ------
    ValueError
        Arrays of inconsistent shapes, unevenly spaced frames, a
        non-positive timestep, length scale, temperature or volume, or a
        window outside what the blocks allow.
    """
    if blocks is None:
        for choice in BLOCK_CHOICES:
            found = analyze_trajectory(frames, groups, charges, temperature, timestep,
                                       length_scale, window=window, settings=settings,
                                       blocks=choice)
            if all(d.ok for d in found.diffusion):
                break
        if found.blocks == BLOCK_CHOICES[0]:
            return found
        taken = "one time block" if found.blocks == 1 else f"{found.blocks} time blocks"
        note = (f"{taken}, not {BLOCK_CHOICES[0]}: shorter ones hold no diffusive window for "
                "every group")
        return dataclasses.replace(found, notes=(note, *found.notes))
    positions = np.asarray(frames.positions, dtype=float)
    types = np.asarray(frames.types)
    steps = np.asarray(frames.timesteps)
    volumes = np.asarray(frames.volumes, dtype=float)
    if positions.ndim != 3 or positions.shape[1] != DIMENSIONS:
        raise ValueError(f"positions must be shaped (atoms, 3, frames), not {positions.shape}")
    atoms, _, count = positions.shape
    if types.shape != (atoms,) or steps.shape != (count,):
        raise ValueError(f"{atoms} atoms and {count} frames, but {types.shape[0]} types "
                         f"and {steps.shape[0]} timesteps")
    if count < 2:
        raise ValueError(f"a trajectory needs at least two frames, has {count}")
    for name, value in (("timestep", timestep), ("length_scale", length_scale),
                        ("temperature", temperature)):
        if not (math.isfinite(value) and value > 0):
            raise ValueError(f"{name} must be positive and finite, not {value!r}")
    if blocks < 1:
        raise ValueError(f"blocks must be at least 1, not {blocks}")
    intervals = np.diff(steps)
    if intervals[0] <= 0 or np.any(intervals != intervals[0]):
        raise ValueError(_uneven_frames(steps, intervals))
    volume = float(np.mean(volumes)) * length_scale ** 3
    if not (math.isfinite(volume) and volume > 0):
        raise ValueError(f"the box volume must be positive, not {volume!r} m^3")
    dt = float(intervals[0]) * timestep
    block_frames = count // blocks
    layout = _Layout(dt, length_scale, blocks, block_frames)
    lags = layout.user_lags(window) if window is not None else None

    notes: list[str] = []
    results: list[Diffusion] = []
    members: dict[str, np.ndarray] = {}
    for name, kinds in groups.items():
        wanted = list(kinds)
        rows = np.flatnonzero(np.isin(types, wanted))
        if not rows.size:
            notes.append(f"group {name}: no atom of type {', '.join(map(str, wanted))}")
            continue
        members[name] = rows
        result = _diffuse(name, positions, rows, layout, settings, lags)
        if not result.ok:
            notes.append(f"group {name}: no fit window with a log-log slope within "
                         f"{settings.max_error:g} of 1 over the first "
                         f"{layout.search_lags} lags")
        elif not abs(result.loglog_slope - 1) < settings.max_error:
            notes.append(f"group {name}: the MSD's log-log slope over the window is "
                         f"{result.loglog_slope:.2f}, not diffusive")
        results.append(result)
    charged = [d for d in results if charges.get(d.group, 0)]
    unfitted = [d.group for d in charged if not d.ok]
    carriers = [members[d.group] for d in charged]
    conductivity = None
    if unfitted:
        notes.append(f"no conductivity: no fitted D for {', '.join(unfitted)}")
    elif charged and np.unique(np.concatenate(carriers)).size < sum(r.size for r in carriers):
        notes.append("no conductivity: the charged groups share atoms")
    elif charged:
        conductivity = _conduct(positions, members, charged, charges, layout, lags,
                                volume, temperature)
    return TrajectoryResult(tuple(results), conductivity, count, dt, blocks, block_frames,
                            tuple(notes))


def _uneven_frames(steps: np.ndarray, intervals: np.ndarray) -> str:
    """Where the frames stop being evenly spaced: the first step that breaks
    the rule, said so that a repeated frame (a restarted run writes its first
    frame again into a dump it appends to) is recognised."""
    broken = 0 if intervals[0] <= 0 else int(np.flatnonzero(intervals != intervals[0])[0])
    before, after = int(steps[broken]), int(steps[broken + 1])
    why = ("repeats it (a restarted run writes its first frame again: drop one of the two)"
           if after == before else "goes back in time" if after < before else
           f"is {after - before} steps later where the frames before were {intervals[0]} apart")
    return ("frames must be evenly spaced in time for a multi-origin MSD: the frame of timestep "
            f"{after} (frame {broken + 1} counted from 0) follows timestep {before} and {why}")


@dataclass(frozen=True)
class _Layout:
    """How the run is cut: frame interval, blocks and the lags a window may use."""

    dt: float  # s
    length_scale: float  # m per length unit
    blocks: int
    block_frames: int

    @property
    def search_lags(self) -> int:
        return self.block_frames // 2

    def user_lags(self, window: tuple[float, float]) -> tuple[int, int]:
        start, end = window
        if not (math.isfinite(start) and math.isfinite(end)):
            raise ValueError(f"the window {start:g} .. {end:g} s must be finite")
        first = math.ceil(start / self.dt * (1 - 1e-9))
        last = math.floor(end / self.dt * (1 + 1e-9))
        if first < 1 or last - first + 1 < _MIN_WINDOW_LAGS or last >= self.block_frames:
            raise ValueError(
                f"the window {start:g} .. {end:g} s must hold at least {_MIN_WINDOW_LAGS} "
                f"lags between {self.dt:g} s and {(self.block_frames - 1) * self.dt:g} s "
                f"(the last lag in a block of {self.block_frames} frames; fewer blocks "
                "allow a longer window)")
        return first, last

    def slope_weights(self, first: int, last: int) -> np.ndarray:
        """Least-squares slope over lags first..last as a dot product: the
        slope is linear in the MSD, so the mean of many curves' slopes is the
        slope of their mean."""
        time = np.arange(first, last + 1) * self.dt
        centred = time - time.mean()
        weights: np.ndarray = centred / np.dot(centred, centred)
        return weights

    def block(self, index: int) -> slice:
        return slice(index * self.block_frames, (index + 1) * self.block_frames)


def _diffuse(name: str, positions: np.ndarray, rows: np.ndarray, layout: _Layout,
             settings: FitSettings, lags: tuple[int, int] | None) -> Diffusion:
    """D of the atoms in `rows`, a chunk of them at a time so that no copy of
    the whole group's positions or MSDs is made."""
    area = layout.length_scale ** 2
    msd = sum(_per_atom_msd(chunk).sum(axis=0) for chunk in _chunks(positions, rows))
    msd = msd * (area / rows.size)
    time = np.arange(msd.size) * layout.dt
    window_from = "user"
    if lags is None:
        window_from = "rule"
        lags = _rule_window(time, msd, layout.search_lags, settings)
    if lags is None:
        return Diffusion(name, rows.size, time, msd, math.nan, math.nan, "", 0, math.nan,
                         (math.nan, math.nan), window_from, math.nan, math.nan)
    first, last = lags
    slopes = np.concatenate([_block_slopes(chunk, layout, first, last)
                             for chunk in _chunks(positions, rows)])
    mean, error, error_from, pieces, apart = _diffusion_error(
        slopes * (area / (2 * DIMENSIONS)))
    window_time = time[first:last + 1]
    return Diffusion(
        group=name, atoms=rows.size, time=time, msd=msd, diffusion=mean, error=error,
        error_from=error_from, pieces=pieces, particle_error=apart,
        window=(float(window_time[0]), float(window_time[-1])), window_from=window_from,
        loglog_slope=_loglog_slope(window_time, msd[first:last + 1]),
        intercept=float(msd[first:last + 1].mean()
                        - 2 * DIMENSIONS * mean * window_time.mean()))


def _diffusion_error(values: np.ndarray) -> tuple[float, float, str, int, float]:
    """From the (particles, blocks) estimates of D: their mean, its error,
    what the error comes from and from how many pieces, and the error the
    particles would give if they moved independently.

    The group's D in each block holds whatever its particles share (ion
    pairs and clusters move together), so the blocks' spread is the error
    whatever the particles do. The spread over particles is far steadier
    but misses what they share: on simulated walkers moving in pairs it
    covered the true D in 54 % of cases at ±1 and 82 % at ±2, the blocks'
    in 73 % and 95 %. Taking the larger of the two errors covered
    independent walkers 74-79 % of the time, too often."""
    atoms, blocks = values.shape
    mean, apart = _mean_and_error(values.ravel()) if atoms > 1 else (float(values.mean()),
                                                                     math.nan)
    if blocks > 1:
        return mean, _mean_and_error(values.mean(axis=0))[1], "time blocks", blocks, apart
    return mean, apart, "particles" if atoms > 1 else "", values.size, apart


def _chunks(positions: np.ndarray, rows: np.ndarray) -> Iterator[np.ndarray]:
    for begin in range(0, rows.size, _ATOMS_PER_CHUNK):
        yield positions[rows[begin:begin + _ATOMS_PER_CHUNK]]


def _block_slopes(positions: np.ndarray, layout: _Layout, first: int, last: int) -> np.ndarray:
    """Slope of each atom's multi-origin MSD over lags first..last in each
    time block, (atoms, blocks), in length unit^2 per s."""
    weights = layout.slope_weights(first, last)
    return np.stack([_per_atom_msd(positions[:, :, layout.block(b)])[:, first:last + 1]
                     @ weights for b in range(layout.blocks)], axis=1)


_RULE_WINDOW = (10, 100)  # rows: the single-origin rule's bounds before they followed the run


def _rule_window(time: np.ndarray, msd: np.ndarray, search_lags: int,
                 settings: FitSettings) -> tuple[int, int] | None:
    """From where the single-origin fits' window would start, among lags 1
    to `search_lags` (lag 0 has no logarithm), to the last of those lags.

    The rule alone picks the window whose curve is straightest through the
    origin; on a noisy MSD that is a short window whose intercept happens to
    be near 0, and with it the slope is chosen too: on simulated Brownian
    particles such D lay closer to the truth than their spread over the
    pieces says (±1 covered it 81-83 % of the time). Where diffusion begins
    is what the rule tells reliably; running the window on from there to
    the longest lag the blocks allow leaves the slope to the data."""
    if search_lags < _MIN_WINDOW_LAGS:
        return None
    head = slice(1, search_lags + 1)
    # Only where diffusion starts is asked of the rule, so its classic
    # bounds serve unless the user gave others.
    min_window = _RULE_WINDOW[0] if settings.min_window is None else settings.min_window
    max_window = _RULE_WINDOW[1] if settings.max_window is None else settings.max_window
    slope, fit_time, _ = diff_calculator(
        time[head].tolist(), msd[head].tolist(), settings.margin, min_window, max_window,
        settings.max_error, settings.min_displacement)
    if not math.isfinite(slope) or len(fit_time) < 2:
        return None
    return round(fit_time[0] / time[1]), search_lags


def _loglog_slope(time: np.ndarray, msd: np.ndarray) -> float:
    with np.errstate(divide="ignore", invalid="ignore"):
        x, y = np.log(time), np.log(np.abs(msd))
    keep = np.isfinite(x) & np.isfinite(y)
    if keep.sum() < 2:
        return math.nan
    return float(np.polyfit(x[keep], y[keep], 1)[0])


def _conduct(positions: np.ndarray, members: Mapping[str, np.ndarray],
             charged: list[Diffusion], charges: Mapping[str, float], layout: _Layout,
             lags: tuple[int, int] | None, volume: float, temperature: float) -> Conductivity:
    """sigma_EH from the displacement of the total charge, sigma_NE from the
    groups' D, and their ratio."""
    # Total charge position in e x length unit, (3, frames), as three
    # one-dimensional "atoms" so the per-atom MSD gives each component's.
    dipole = np.zeros(positions.shape[1:])
    for result in charged:
        rows = members[result.group]
        dipole += charges[result.group] * sum(c.sum(axis=0) for c in _chunks(positions, rows))
    components = dipole[:, None, :]
    if lags is None:
        # Every charged group must be diffusive inside the window.
        lags = (max(round(d.window[0] / layout.dt) for d in charged),
                max(round(d.window[1] / layout.dt) for d in charged))
    first, last = lags
    scale = (physics.ELEMENTARY_CHARGE * layout.length_scale) ** 2
    kt = physics.BOLTZMANN * temperature
    # d/dt <|dM|^2> = 3 d/dt <dM_x^2>, so each component's estimate is
    # 3 slope / (2 d V k_B T) = slope / (2 V k_B T).
    slopes = _block_slopes(components, layout, first, last).ravel()
    eh, eh_error = _mean_and_error(slopes * scale / (2 * volume * kt))
    carriers = [physics.Carrier(d.group, d.atoms, charges[d.group], d.diffusion, d.error)
                for d in charged]
    ne, ne_error = physics.nernst_einstein(volume, temperature, carriers)
    haven = ne / eh if eh else math.nan
    haven_error = abs(haven) * math.hypot(ne_error / ne if ne else math.nan,
                                          eh_error / eh if eh else math.nan)
    msd = _per_atom_msd(components).sum(axis=0) * scale
    return Conductivity(
        einstein_helfand=eh, einstein_helfand_error=eh_error, pieces=slopes.size,
        nernst_einstein=ne, nernst_einstein_error=ne_error, haven_ratio=haven,
        haven_ratio_error=haven_error, window=(first * layout.dt, last * layout.dt),
        volume=volume, temperature=temperature, time=np.arange(msd.size) * layout.dt, msd=msd)


def _mean_and_error(values: np.ndarray) -> tuple[float, float]:
    """Mean of independent estimates and the half-width of its 68.3 %
    interval (standard error times the Student-t factor)."""
    mean = float(values.mean())
    if values.size < 2:
        return mean, math.nan
    error = float(values.std(ddof=1)) / math.sqrt(values.size)
    return mean, error * one_sigma_t(values.size - 1)


def one_sigma_t(dof: int) -> float:
    """The Student-t quantile at 0.8413 (the normal distribution's one
    sigma) for `dof` degrees of freedom: exact for 1 and 2, otherwise the
    Cornish-Fisher series of Abramowitz and Stegun 26.7.5 in 1/dof, within
    2e-4 from 3 on."""
    if dof == 1:
        return math.tan(math.pi * (_ONE_SIGMA - 0.5))
    if dof == 2:
        p = _ONE_SIGMA
        return (2 * p - 1) / math.sqrt(2 * p * (1 - p))
    # The series' coefficients g1..g4 at z = 1.
    return 1 + (0.5 + (0.25 + (1 / 16 - (33 / 5760) / dof) / dof) / dof) / dof


_ONE_SIGMA = 0.5 * (1 + math.erf(1 / math.sqrt(2)))


def _per_atom_msd(positions: np.ndarray) -> np.ndarray:
    """Multi-origin MSD of each atom, (atoms, frames) from (atoms, c, frames)
    for c of 1 to 3 coordinates, by FFT in the compiled module (without the
    interpreter lock), which takes three: the missing ones are held at zero.
    A block's strided view is copied to the contiguous rows it reads."""
    if positions.shape[1] == DIMENSIONS:
        return per_atom_msd(np.ascontiguousarray(positions, dtype=np.float64))
    padded = np.zeros((positions.shape[0], DIMENSIONS, positions.shape[2]))
    padded[:, :positions.shape[1]] = positions
    return per_atom_msd(padded)
