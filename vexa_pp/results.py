"""What an analysis is asked to do and what it finds: the settings, the
options and the result types, with the unit of every quantity.

Everything here is plain data, so that the text and JSON reports and the
plots depend on what a run gave, not on how it was computed. Quantities are
in SI units unless a field says otherwise.
"""

from __future__ import annotations

import math
import os
from collections.abc import Mapping
from dataclasses import dataclass, field
from pathlib import Path
from typing import TYPE_CHECKING

from . import lammps, physics

if TYPE_CHECKING:
    from .trajectory import Conductivity as CollectiveConductivity

WATER_MOLAR_MASS = 18.015  # g/mol
MIN_WINDOW = 10  # rows: the shortest window a fit takes unless told otherwise


def shown(path: Path | str) -> str:
    """The path as text that can be printed and put in JSON: bytes of a name
    that are not UTF-8 written as escapes (\\xff)."""
    return os.fsencode(path).decode("utf-8", "backslashreplace")


@dataclass(frozen=True)
class FitSettings:
    """The MSD window search: see `diff_calculator`."""

    margin: float = 0.1  # fraction of the rows left out at each end
    min_window: int | None = None  # rows of the shortest window; None: from the run's length
    max_window: int | None = None  # rows: windows are shorter than this; None: no bound
    max_error: float = 0.1  # largest distance of a window's log-log slope from 1
    min_displacement: float = 1e-10  # m: rows with a smaller MSD are left out
    dimensions: int = 3  # D = slope / (2 x dimensions)

    def windows_for(self, rows: int) -> tuple[int, int]:
        """The shortest window and the bound on windows for an MSD of this
        many rows. Unless given, windows may run over the whole run and are
        at least a twentieth of it (and 10 rows): shorter ones know D far
        less well and are taken only when no longer one looks diffusive."""
        longest = rows + 1 if self.max_window is None else self.max_window
        if self.min_window is not None:
            return self.min_window, longest
        return min(max(MIN_WINDOW, rows // 20), max(longest - 1, 0)), longest


@dataclass(frozen=True)
class Options:
    """Everything an analysis of a run can be told beside its files."""

    fit: FitSettings = FitSettings()
    peak_neighbors: int = 2  # bins on each side a histogram peak is higher than
    solvent_group: str = "OW"  # the group with one atom per solvent molecule
    solvent_molar_mass: float = WATER_MOLAR_MASS  # g/mol
    ion_groups: tuple[str, ...] | None = None  # None: the groups named like ions
    charges: tuple[tuple[str, float], ...] = ()  # elementary charges, beside the common ions'
    salt: str | None = None  # None: the salt the ion groups make, if bundled
    viscosity: float | None = None  # Pa s, the force field's
    water_model: str | None = None  # a bundled water model whose viscosity is the force field's
    temperature: float | None = None  # K, instead of the thermodynamic table's
    experimental_conductivity: float | None = None  # S/m
    hop_distance: float | None = None  # m
    # Atom types of the trajectory's groups (--group), beside the log's.
    trajectory_groups: tuple[tuple[str, tuple[int, ...]], ...] = ()
    # Charges of ion groups in the run's data file (vexa_pp.data_charges
    # fills them in for each run), and the file's name.
    data_charges: tuple[tuple[str, float], ...] = ()
    data_file: str = ""

    def charge(self, group: str) -> float | None:
        """In e: --charge's, else the data file's, else the common ion's."""
        sources: tuple[Mapping[str, float], ...] = (
            dict(self.charges), dict(self.data_charges), physics.ION_CHARGES)
        for known in sources:
            if group in known:
                return known[group]
        return None

    def charge_from(self, group: str) -> str:
        """Where a group's charge comes from: the data file, or "" otherwise."""
        taken = group in dict(self.data_charges) and group not in dict(self.charges)
        return f"the data file {self.data_file}" if taken else ""


@dataclass
class MsdFit:
    """The self-diffusion coefficient of one MSD column."""

    table: str  # the file's name
    column: str
    slope: float  # m^2/s: the fitted line through MSD against time
    diffusion: float  # m^2/s: slope / (2 x dimensions)
    window_start: float  # s
    window_end: float  # s
    window_points: int
    first_row: int  # index of the window's first row in the table; -1 without a fit
    loglog_slope: float  # of log10 MSD against log10 t over the window (dimensionless)
    # The data and the fitted line, for plots.
    time: list[float] = field(repr=False)  # s
    msd: list[float] = field(repr=False)  # m^2
    fit_time: list[float] = field(repr=False)  # s
    fit: list[float] = field(repr=False)  # m^2
    window_msd: list[float] = field(default_factory=list, repr=False)  # m^2, at fit_time
    group: str | None = None  # the atoms this MSD is of, when known
    particles: int | None = None  # atoms the MSD averages over, when known
    sampling_error: float = math.nan  # m^2/s: of D, from the sampling of the particles
    # "search": the scatter of the window search over simulated runs;
    # "window": of the chosen window alone (Brownian particles); "": N unknown
    sampling_from: str = ""
    sampling_fixed_window: float = math.nan  # m^2/s: the chosen window's alone
    fit_error: float = math.nan  # m^2/s: the regression's standard error of D
    window_spread: float = math.nan  # m^2/s: sample std of D over the comparable windows
    windows: int = 0  # comparable windows: qualifying, sampling error within 1.5 x the chosen's
    spread_from: str = ""  # "windows", or "halves" (two half-window fits)
    qualifying_windows: int = 0  # windows whose log-log slope is within the tolerance of 1
    search_step: int = 1  # rows between the starts, and the lengths, searched
    finite_size: float = math.nan  # m^2/s: D corrected for the box size
    failure: str = ""  # why no window qualified, when none did
    # Over every time origin of a trajectory (vexa_pp.trajectory) rather
    # than from the single origin of an MSD table: D's ± is then the spread
    # over `pieces` independent pieces of the run (`error_from`: "time
    # blocks" or "particles"), 68.3 % with the Student-t factor.
    multi_origin: bool = False
    piece_error: float = math.nan  # m^2/s
    error_from: str = ""
    pieces: int = 0
    particle_error: float = math.nan  # m^2/s: as if the particles moved apart

    @property
    def ok(self) -> bool:
        return math.isfinite(self.slope)

    @property
    def share(self) -> float:
        """The window's rows as a fraction of the table's."""
        return self.window_points / len(self.time) if self.time else math.nan

    @property
    def error_parts(self) -> dict[str, float]:
        """The independent parts of D's uncertainty that are known, m^2/s."""
        parts = {"sampling": self.sampling_error, "regression": self.fit_error,
                 "windows": self.window_spread, self.error_from or "pieces": self.piece_error}
        return {name: value for name, value in parts.items() if math.isfinite(value)}

    @property
    def error(self) -> float:
        """The uncertainty of D in m^2/s: its known parts added in quadrature."""
        parts = self.error_parts.values()
        return math.sqrt(sum(e * e for e in parts)) if parts else math.nan


@dataclass(frozen=True)
class ColumnStats:
    """One column of a thermodynamic table, in the table's own units."""

    mean: float
    error: float  # block-averaged standard error of the mean
    converged: bool  # the blocking found a plateau
    std: float | None  # sample standard deviation of the rows
    count: int


@dataclass(frozen=True)
class SeriesValue:
    """volume.dat or density.dat: the first row, and the mean over all rows,
    in the units of the run's unit style (`RunReport.units`)."""

    first: float
    mean: float
    error: float  # block-averaged standard error of the mean
    converged: bool
    rows: int


@dataclass(frozen=True)
class AnglePeak:
    file: str
    column: str
    index: int  # row of the peak, counted from 0
    coordinate: float  # degrees
    value: float  # the histogram's value there (a count or a fraction)
    found: bool  # False: no strict local maximum, the index is the fallback
    step: float | None = None  # the block's timestep; None: the time average
    blocks: int = 1


@dataclass(frozen=True)
class Corrections:
    """What the finite-size correction and the conductivity rest on."""

    temperature: float  # K
    temperature_source: str
    volume: float  # m^3
    box_length: float  # m
    viscosity: float | None  # Pa s
    viscosity_source: str | None
    shift: float | None  # m^2/s, D_inf - D_PBC
    # "given" (--viscosity), "water model" or "experimental" (the real
    # solution's, not the simulated liquid's)
    viscosity_kind: str | None = None


@dataclass(frozen=True)
class Conductivity:
    """The Nernst-Einstein conductivity of the ion groups."""

    carriers: tuple[physics.Carrier, ...]
    value: float  # S/m, from the D of the run
    error: float  # S/m
    corrected: float | None  # S/m, from the finite-size corrected D
    corrected_error: float | None  # S/m
    experimental: float | None  # S/m
    experimental_source: str | None


@dataclass(frozen=True)
class Hopping:
    """The proton hopping that would close the gap to the experimental
    conductivity."""

    group: str
    carriers: int
    hop_distance: float  # m
    md_conductivity: float  # S/m, the value the gap is taken from
    tau: float  # s between hops
    d_hop: float  # m^2/s


@dataclass(frozen=True)
class DensityCheck:
    salt: str
    molality: float  # mol/kg
    temperature: float  # K
    run: float  # kg/m^3
    run_error: float  # kg/m^3
    model: float  # kg/m^3

    @property
    def percent(self) -> float:
        return (self.run / self.model - 1.0) * 100.0


@dataclass(frozen=True)
class TrajectorySection:
    """What a trajectory (a LAMMPS dump) gives beside the D of its groups."""

    file: str  # the dump's name
    found_by: str  # how the dump was found
    atoms: int  # atoms kept from it
    frames: int
    frame_interval: float  # s
    blocks: int  # time blocks behind the error bars
    block_frames: int
    groups: dict[str, tuple[int, ...]]  # group -> atom types
    groups_from: str  # where the types of the groups come from
    charges: dict[str, float]  # elementary charges of the charged groups
    temperature: float | None  # K
    temperature_source: str
    conductivity: CollectiveConductivity | None  # sigma_EH, sigma_NE, Haven ratio
    notes: tuple[str, ...]
    # Group -> where its charge comes from, for those not given or known by name.
    charges_from: dict[str, str] = field(default_factory=dict)


@dataclass
class RunReport:
    """Everything found in one run directory, and what stood in the way."""

    path: Path
    error: str | None = None  # the run directory itself is unusable
    files: list[str] = field(default_factory=list)
    missing: list[str] = field(default_factory=list)
    problems: list[str] = field(default_factory=list)
    warnings: list[str] = field(default_factory=list)
    notes: list[str] = field(default_factory=list)
    msd: list[MsdFit] = field(default_factory=list)
    thermo: dict[str, dict[str, ColumnStats]] = field(default_factory=dict)
    unit_style: str | None = None
    timestep: float | None = None  # s, of the MSD files
    box: str | None = None  # the box as the log describes it
    volume: SeriesValue | None = None
    density: SeriesValue | None = None
    groups: dict[str, int] = field(default_factory=dict)  # group -> atoms
    solvent_group: str | None = None
    molality: dict[str, float] = field(default_factory=dict)  # ion group -> mol/kg
    salt: str | None = None
    salt_source: str | None = None
    salt_molality: float | None = None  # mol/kg
    angle_peaks: list[AnglePeak] = field(default_factory=list)
    corrections: Corrections | None = None
    conductivity: Conductivity | None = None
    hopping: Hopping | None = None
    density_check: DensityCheck | None = None
    trajectory: TrajectorySection | None = None  # beside its D, which are among `msd`
    # Ion group -> where its charge comes from, for those taken from the data file.
    charges_from: dict[str, str] = field(default_factory=dict)

    @property
    def failed(self) -> bool:
        return self.error is not None or bool(self.problems)

    @property
    def units(self) -> tuple[str, str]:
        """Units of volume and density, from the log's unit style."""
        style = lammps.UNIT_STYLES.get(self.unit_style or "")
        if style:
            return style.volume_label, style.density_label
        label = f"(LAMMPS '{self.unit_style}' units)" if self.unit_style else "(LAMMPS units)"
        return label, label


@dataclass(frozen=True)
class CoefficientSummary:
    """One quantity over several runs, in the unit SUMMARY_QUANTITIES gives."""

    quantity: str  # one of SUMMARY_QUANTITIES
    table: str | None  # None for a conductivity
    column: str | None
    mean: float
    std: float | None  # sample standard deviation; None from one run
    error: float | None  # standard error of the mean
    count: int  # runs with a value
    runs: int  # runs analysed


# What is summarised over runs: name, label in the text, unit.
SUMMARY_QUANTITIES = {
    "diffusion_coefficient": ("D", "m^2/s"),
    "finite_size_corrected": ("D∞", "m^2/s"),
    "conductivity": ("sigma from D", "S/m"),
    "conductivity_corrected": ("sigma from D∞", "S/m"),
}
