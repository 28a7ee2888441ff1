"""Finding the files a simulation run leaves and analysing each of them.

A run directory may hold (each one optional):

- transport tables in the '#Time' layout (diffself.dat, diffonsag.dat,
  viscosity.dat, thermconductivity.dat, or any other .dat file with a line
  starting '#Time'): time in s and mean-squared displacements in m^2;
- thermodynamic tables written by LAMMPS 'fix ave/time' (*_prod.dat);
- bond-angle histograms written by 'fix ave/histo' (*angle*.dat);
- volume.dat and density.dat;
- the LAMMPS log, log.lammps, for the atom count of every group.

A missing file is noted and skipped; a file that cannot be read or parsed is
noted with the reader's message, which names the file and the reason.
"""

from __future__ import annotations

import math
import re
from collections.abc import Callable, Iterable
from dataclasses import dataclass, field
from pathlib import Path

from ._vexa_pp import (
    diff_calculator,
    local_maximum_finder,
    parse_bond_angle,
    parse_thermoprop,
    parse_vexa_file,
    parse_volume_density,
    read_group_count,
    repacking_results,
)

TRANSPORT_TABLES = ("diffself.dat", "diffonsag.dat", "viscosity.dat", "thermconductivity.dat")
THERMO_PATTERN = "*_prod.dat"
ANGLE_PATTERN = "*angle*.dat"
LOG_NAME = "log.lammps"
# Ion groups looked for in the log when none are named.
KNOWN_IONS = ("Li", "Na", "K", "Rb", "Cs", "Mg", "Ca", "Sr", "Ba", "Zn",
              "F", "Cl", "Br", "I", "OH", "H3O", "NO3", "SO4", "ClO4")
WATER_MOLAR_MASS = 18.015  # g/mol
# What LAMMPS unit styles mean for volume.dat and density.dat.
VOLUME_DENSITY_UNITS = {
    "real": ("Å^3", "g/cm^3"),
    "metal": ("Å^3", "g/cm^3"),
    "si": ("m^3", "kg/m^3"),
    "cgs": ("cm^3", "g/cm^3"),
    "micro": ("µm^3", "pg/µm^3"),
    "nano": ("nm^3", "ag/nm^3"),
}

_GROUP_LINE = re.compile(r"^\s*(\d+) atoms in group (\S+)\s*$", re.MULTILINE)
_UNITS_LINE = re.compile(r"^\s*units\s+(\S+)", re.MULTILINE)


@dataclass(frozen=True)
class FitSettings:
    """The MSD window search: see `diff_calculator`."""

    margin: float = 0.1
    min_window: int = 10
    max_window: int = 100
    max_error: float = 0.1
    min_displacement: float = 1e-10  # m
    dimensions: int = 3


@dataclass(frozen=True)
class Options:
    fit: FitSettings = FitSettings()
    peak_neighbors: int = 2
    solvent_group: str = "OW"
    solvent_molar_mass: float = WATER_MOLAR_MASS
    ion_groups: tuple[str, ...] | None = None  # None: the groups named like ions


@dataclass
class MsdFit:
    table: str
    column: str
    slope: float  # m^2/s: the fitted line through MSD against time
    diffusion: float  # m^2/s: slope / (2 x dimensions)
    window_start: float  # s
    window_end: float  # s
    window_points: int
    first_row: int  # index of the window's first row in the table; -1 without a fit
    loglog_slope: float
    # The data and the fitted line, for plots.
    time: list[float] = field(repr=False)
    msd: list[float] = field(repr=False)
    fit_time: list[float] = field(repr=False)
    fit: list[float] = field(repr=False)

    @property
    def ok(self) -> bool:
        return math.isfinite(self.slope)


@dataclass(frozen=True)
class ColumnStats:
    mean: float
    std: float
    count: int


@dataclass(frozen=True)
class AnglePeak:
    file: str
    column: str
    index: int
    coordinate: float  # degrees
    value: float
    found: bool  # False: no strict local maximum, the index is the fallback


@dataclass
class RunReport:
    path: Path
    error: str | None = None  # the run directory itself is unusable
    files: list[str] = field(default_factory=list)
    missing: list[str] = field(default_factory=list)
    problems: list[str] = field(default_factory=list)
    notes: list[str] = field(default_factory=list)
    msd: list[MsdFit] = field(default_factory=list)
    thermo: dict[str, dict[str, ColumnStats]] = field(default_factory=dict)
    unit_style: str | None = None
    volume: float | None = None
    density: float | None = None
    groups: dict[str, int] = field(default_factory=dict)
    solvent_group: str | None = None
    molality: dict[str, float] = field(default_factory=dict)  # ion group -> mol/kg
    angle_peaks: list[AnglePeak] = field(default_factory=list)

    @property
    def failed(self) -> bool:
        return self.error is not None or bool(self.problems)

    @property
    def units(self) -> tuple[str, str]:
        """Units of volume and density, from the log's unit style."""
        if self.unit_style in VOLUME_DENSITY_UNITS:
            return VOLUME_DENSITY_UNITS[self.unit_style]
        label = f"(LAMMPS '{self.unit_style}' units)" if self.unit_style else "(LAMMPS units)"
        return label, label


@dataclass(frozen=True)
class CoefficientSummary:
    table: str
    column: str
    mean: float  # m^2/s
    std: float  # m^2/s, population standard deviation
    count: int  # runs with a successful fit
    runs: int  # runs analysed


def analyze_runs(paths: Iterable[Path], options: Options,
                 progress: Callable[[int, Path], None] | None = None) -> list[RunReport]:
    reports = []
    for number, path in enumerate(paths, 1):
        reports.append(analyze_run(path, options))
        if progress is not None:
            progress(number, path)
    return reports


def analyze_run(path: Path, options: Options) -> RunReport:
    report = RunReport(path)
    if not path.exists():
        report.error = f"{path}: no such directory"
        return report
    if not path.is_dir():
        report.error = f"{path}: not a directory"
        return report

    transport = _transport_tables(path)
    thermo = sorted(p for p in path.glob(THERMO_PATTERN) if "angle" not in p.name)
    angles = sorted(path.glob(ANGLE_PATTERN))
    for found, what in ((transport, f"transport table ({', '.join(TRANSPORT_TABLES)})"),
                        (thermo, f"thermodynamic table ({THERMO_PATTERN})"),
                        (angles, f"bond-angle histogram ({ANGLE_PATTERN})")):
        report.files += [p.name for p in found]
        if not found:
            report.missing.append(what)
    for name in ("volume.dat", "density.dat", LOG_NAME):
        if (path / name).is_file():
            report.files.append(name)
        else:
            report.missing.append(name)

    for table in transport:
        _fit_table(report, table, options.fit)
    for table in thermo:
        _thermo_means(report, table)
    if (path / LOG_NAME).is_file():
        _groups(report, path / LOG_NAME, options)
    for name in ("volume", "density"):
        file = path / f"{name}.dat"
        if file.is_file():
            value = _read(report, parse_volume_density, file)
            if value is not None:
                setattr(report, name, value)
    for table in angles:
        _angle_peak(report, table, options.peak_neighbors)
    return report


def summarize(reports: list[RunReport]) -> list[CoefficientSummary]:
    """Mean, standard deviation and count of each coefficient over the runs.

    A run without that coefficient, or whose fit failed, counts as NaN and so
    drops out of all three.
    """
    keys: dict[tuple[str, str], None] = {}
    for report in reports:
        for fit in report.msd:
            keys[(fit.table, fit.column)] = None
    result = []
    for table, column in keys:
        values = []
        for report in reports:
            found = [f.diffusion for f in report.msd if (f.table, f.column) == (table, column)]
            values.append(found[0] if found else math.nan)
        mean, std, count = repacking_results(values)
        result.append(CoefficientSummary(table, column, mean, std, count, len(reports)))
    return result


def _read[T](report: RunReport, reader: Callable[[str], T], path: Path) -> T | None:
    try:
        return reader(str(path))
    except (OSError, ValueError) as exc:
        report.problems.append(str(exc))
        return None


def _transport_tables(path: Path) -> list[Path]:
    found = [path / name for name in TRANSPORT_TABLES if (path / name).is_file()]
    others = {p for p in path.glob("*.dat") if p not in found}
    others -= set(path.glob(THERMO_PATTERN)) | set(path.glob(ANGLE_PATTERN))
    others -= {path / "volume.dat", path / "density.dat"}
    found += sorted(p for p in others if p.is_file() and _has_time_header(p))
    return found


def _has_time_header(path: Path) -> bool:
    try:
        with path.open("rb") as file:
            head = file.read(1 << 16)
    except OSError:
        return False
    return any(line.lstrip().startswith(b"#Time") for line in head.splitlines())


def _fit_table(report: RunReport, path: Path, settings: FitSettings) -> None:
    table = _read(report, parse_vexa_file, path)
    if table is None:
        return
    names = list(table)
    time_name = "Time" if "Time" in table else names[0]
    columns = [n for n in names if n != time_name and n.upper().startswith("MSD")]
    if not columns:
        report.notes.append(f"{path.name}: no MSD column (columns: {', '.join(names)})")
        return
    time = table[time_name]
    for column in columns:
        report.msd.append(fit_msd(path.name, column, time, table[column], settings))


def fit_msd(table: str, column: str, time: list[float], msd: list[float],
            settings: FitSettings) -> MsdFit:
    """Fit one MSD column; `slope` is NaN when no window qualifies."""
    slope, fit_time, fit = diff_calculator(
        time, msd, settings.margin, settings.min_window, settings.max_window,
        settings.max_error, settings.min_displacement)
    first_row, window_msd = -1, list[float]()
    if math.isfinite(slope):
        first_row, window_msd = _locate_window(time, msd, fit_time, settings.min_displacement)
    return MsdFit(
        table=table,
        column=column,
        slope=slope,
        diffusion=slope / (2 * settings.dimensions),
        window_start=fit_time[0] if first_row >= 0 else math.nan,
        window_end=fit_time[-1] if first_row >= 0 else math.nan,
        window_points=len(fit_time) if first_row >= 0 else 0,
        first_row=first_row,
        loglog_slope=_loglog_slope(fit_time, window_msd) if first_row >= 0 else math.nan,
        time=time,
        msd=msd,
        fit_time=fit_time if first_row >= 0 else [],
        fit=fit if first_row >= 0 else [],
    )


def _locate_window(time: list[float], msd: list[float], fit_time: list[float],
                   min_displacement: float) -> tuple[int, list[float]]:
    """The table row where the fitted window starts, and the window's MSD values.

    The fit runs on the rows whose |MSD| reaches the displacement threshold
    squared, so the window is a run of consecutive kept rows.
    """
    threshold = min_displacement * min_displacement
    kept = [k for k, m in enumerate(msd) if abs(m) >= threshold]
    length = len(fit_time)
    for start in range(len(kept) - length + 1):
        rows = kept[start:start + length]
        if [time[k] for k in rows] == fit_time:
            return rows[0], [msd[k] for k in rows]
    return -1, []


def _loglog_slope(time: list[float], msd: list[float]) -> float:
    """Least-squares slope of log10 |MSD| against log10 t."""
    points = [(math.log10(t), math.log10(abs(m))) for t, m in zip(time, msd) if t > 0 and m != 0]
    n = len(points)
    if n < 2:
        return math.nan
    sx = sum(x for x, _ in points)
    sy = sum(y for _, y in points)
    sxx = sum(x * x for x, _ in points)
    sxy = sum(x * y for x, y in points)
    den = n * sxx - sx * sx
    return (n * sxy - sx * sy) / den if den != 0 else math.nan


def _thermo_means(report: RunReport, path: Path) -> None:
    table = _read(report, parse_thermoprop, path)
    if table is None:
        return
    stats = {}
    for name, values in table.items():
        if name.lower() == "timestep":
            continue
        stats[name] = ColumnStats(*repacking_results(values))
    if not stats:
        report.notes.append(f"{path.name}: no data columns")
    report.thermo[path.name] = stats


def _groups(report: RunReport, log: Path, options: Options) -> None:
    try:
        text = log.read_text(encoding="utf-8", errors="replace")
    except OSError as exc:
        report.problems.append(f"{log}: {exc.strerror or exc}")
        return
    units = _UNITS_LINE.search(text)
    report.unit_style = units.group(1) if units else None
    logged: dict[str, int] = {}
    for count, name in _GROUP_LINE.findall(text):
        logged.setdefault(name, int(count))
    if not logged:
        report.notes.append(f"{LOG_NAME}: no group atom counts")
        return
    for name, count_line in logged.items():
        count = _read(report, lambda p: read_group_count(p, name), log)
        if count is None:
            return
        if count != count_line:
            # The lookup matches "group NAME" as a plain substring, so a
            # group named like the start of another can pick up its count.
            report.notes.append(f"{LOG_NAME}: group {name!r} has {count_line} atoms by its own "
                                f"line, not {count} as the first 'group {name}' suggests")
            count = count_line
        report.groups[name] = count

    solvent = report.groups.get(options.solvent_group)
    ions = options.ion_groups
    if ions is None:
        ions = tuple(n for n in report.groups if n in KNOWN_IONS)
    unknown = [n for n in ions if n not in report.groups]
    if unknown:
        report.notes.append(f"{LOG_NAME}: no group {', '.join(map(repr, unknown))}")
    if not solvent:
        report.notes.append(f"{LOG_NAME}: no atoms in the solvent group "
                            f"{options.solvent_group!r}; molality not computed")
        return
    report.solvent_group = options.solvent_group
    kilograms = solvent * options.solvent_molar_mass / 1000.0
    for name in ions:
        if name in report.groups:
            report.molality[name] = report.groups[name] / kilograms


def _angle_peak(report: RunReport, path: Path, neighbors: int) -> None:
    table = _read(report, parse_bond_angle, path)
    if table is None:
        return
    names = list(table)
    value_name = next((n for n in ("Count/Total", "Count") if n in table), names[-1] if names else "")
    coordinate_name = "Coord" if "Coord" in table else (names[1] if len(names) > 1 else value_name)
    values = table.get(value_name, [])
    if not values:
        report.notes.append(f"{path.name}: no histogram rows")
        return
    index = local_maximum_finder(values, 0, neighbors)
    found = _is_peak(values, index, neighbors)
    inside = index < len(values)
    report.angle_peaks.append(AnglePeak(
        file=path.name,
        column=value_name,
        index=index,
        coordinate=table[coordinate_name][index] if inside else math.nan,
        value=values[index] if inside else math.nan,
        found=found,
    ))


def _is_peak(values: list[float], index: int, neighbors: int) -> bool:
    if neighbors == 0 or index < neighbors or index + neighbors >= len(values):
        return False
    peak = values[index]
    return all(peak > values[index - m] and peak > values[index + m]
               for m in range(1, neighbors + 1))
