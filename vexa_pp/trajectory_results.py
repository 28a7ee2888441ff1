"""The results of a trajectory's analysis: multi-origin self-diffusion per
group, the collective (Einstein-Helfand) conductivity and the Haven ratio,
with the units of every field, and what a trajectory reader hands over."""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Protocol

import numpy as np


class TrajectoryFrames(Protocol):
    """What a trajectory reader hands over (a dump reader's result fits);
    read-only, so frozen dataclasses qualify."""

    @property
    def positions(self) -> np.ndarray:
        """(atoms, 3, frames), unwrapped, in the trajectory's length unit."""

    @property
    def types(self) -> np.ndarray:
        """(atoms,) atom types."""

    @property
    def timesteps(self) -> np.ndarray:
        """(frames,) MD step of each frame."""

    @property
    def volumes(self) -> np.ndarray | float:
        """(frames,) or one value, in the length unit cubed."""


@dataclass(frozen=True, eq=False)
class Frames:
    """Trajectory arrays gathered by hand.

    Attributes
    ----------
    positions : ndarray, shape (atoms, 3, frames)
        Unwrapped positions in the trajectory's length unit.
    types : ndarray, shape (atoms,)
        Atom type of each row.
    timesteps : ndarray, shape (frames,)
        MD step of each frame; frames must be evenly spaced.
    volumes : ndarray, shape (frames,), or float
        Box volume in the length unit cubed.
    """

    positions: np.ndarray
    types: np.ndarray
    timesteps: np.ndarray
    volumes: np.ndarray | float


@dataclass(frozen=True, eq=False)
class Diffusion:
    """Self-diffusion of one group from its multi-origin MSD.

    Attributes
    ----------
    group : str
    atoms : int
        Atoms in the group.
    time : ndarray, shape (frames,)
        Lag times of `msd`, in s.
    msd : ndarray, shape (frames,)
        MSD averaged over the group's atoms and every time origin of the
        whole run, in m^2.
    diffusion : float
        D in m^2/s: the mean over particles and time blocks of the slope of
        each one's MSD over the window, divided by 2 d (d = 3). NaN when no
        window qualifies.
    error : float
        Half-width of the 68.3 % interval of D in m^2/s: standard error over
        the independent pieces times the Student-t factor of `pieces` - 1
        degrees of freedom. NaN with fewer than two pieces.
    error_from : str
        The independent pieces: "time blocks" (the group's D in each), or
        "particles" when the run is one block.
    pieces : int
        How many independent estimates the error comes from.
    particle_error : float
        The error in m^2/s if the particles moved independently: over each
        particle's D in each block (68.3 %, Student-t). Well below `error`,
        it says the particles move together. NaN for one atom.
    window : tuple of float
        First and last lag time of the fit, in s.
    window_from : str
        "rule" (from where the single-origin fits' window starts, the
        log-log slope near 1, to half a block) or "user".
    loglog_slope : float
        Log-log slope of `msd` over the window; near 1 when diffusive.
    intercept : float
        Intercept of the fitted line MSD = intercept + 2 d D t, in m^2.
    """

    group: str
    atoms: int
    time: np.ndarray = field(repr=False)
    msd: np.ndarray = field(repr=False)
    diffusion: float
    error: float
    error_from: str
    pieces: int
    particle_error: float
    window: tuple[float, float]
    window_from: str
    loglog_slope: float
    intercept: float

    @property
    def ok(self) -> bool:
        return math.isfinite(self.diffusion)


@dataclass(frozen=True, eq=False)
class Conductivity:
    """Collective and ideal (Nernst-Einstein) conductivity of the charged groups.

    Attributes
    ----------
    einstein_helfand : float
        sigma_EH in S/m, from the slope of the MSD of the total charge
        displacement sum_i q_i dr_i over `window`: the mean over time blocks
        and Cartesian components.
    einstein_helfand_error : float
        Half-width of its 68.3 % interval in S/m (Student-t over `pieces`).
    pieces : int
        Blocks x components behind the error.
    nernst_einstein : float
        sigma_NE = e^2 / (V k_B T) sum_groups N z^2 D in S/m, from the
        groups' multi-origin D.
    nernst_einstein_error : float
        Its error in S/m from those of the D (taken as independent).
    haven_ratio : float
        sigma_NE / sigma_EH (dimensionless); 1 for uncorrelated ions.
    haven_ratio_error : float
        Its error from the two relative errors in quadrature; the two share
        the self terms and are positively correlated, so this errs large.
    window : tuple of float
        First and last lag time of the fit, in s.
    volume : float
        Mean box volume in m^3.
    temperature : float
        In K.
    time : ndarray, shape (frames,)
        Lag times in s.
    msd : ndarray, shape (frames,)
        Multi-origin MSD of the total charge displacement in C^2 m^2.
    """

    einstein_helfand: float
    einstein_helfand_error: float
    pieces: int
    nernst_einstein: float
    nernst_einstein_error: float
    haven_ratio: float
    haven_ratio_error: float
    window: tuple[float, float]
    volume: float
    temperature: float
    time: np.ndarray = field(repr=False)
    msd: np.ndarray = field(repr=False)


@dataclass(frozen=True, eq=False)
class TrajectoryResult:
    """Everything `analyze_trajectory` found.

    Attributes
    ----------
    diffusion : tuple of Diffusion
        One per group that holds atoms, in the order given.
    conductivity : Conductivity or None
        None without charged groups, or when one of them has no fitted D or
        two of them share atoms (see `notes`).
    frames : int
    frame_interval : float
        Time between frames in s.
    blocks : int
        Time blocks the run was cut into for the errors.
    block_frames : int
        Frames per block; the frames past the last whole block are left out
        of the blocks (not of `Diffusion.msd`).
    notes : tuple of str
        What was skipped and why.
    """

    diffusion: tuple[Diffusion, ...]
    conductivity: Conductivity | None
    frames: int
    frame_interval: float
    blocks: int
    block_frames: int
    notes: tuple[str, ...]

    def group(self, name: str) -> Diffusion | None:
        return next((d for d in self.diffusion if d.group == name), None)
