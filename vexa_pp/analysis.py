"""Finding the files a simulation run leaves and analysing each of them.

A run directory may hold (each one optional):

- the LAMMPS log, log.lammps: the atom count of every group, the unit style,
  the timestep, the group of every msd compute and the box;
- mean-squared displacements written by LAMMPS 'fix ave/time' of 'compute
  msd' (any file; recognised by its columns), converted to SI units with the
  log's unit style and timestep;
- transport tables in the '#Time' layout (diffself.dat, diffonsag.dat,
  viscosity.dat, thermconductivity.dat, or any other .dat file with a line
  starting '#Time'): time in s and mean-squared displacements in m^2;
- thermodynamic tables written by LAMMPS 'fix ave/time' (*_prod.dat);
- bond-angle histograms written by 'fix ave/histo' (*angle*.dat), in one or
  more blocks;
- volume.dat and density.dat.

A missing file is noted and skipped; a file that cannot be read or parsed is
noted with the reader's message, which names the file and the reason.
"""

from __future__ import annotations

import math
import os
import re
from collections import Counter
from collections.abc import Callable, Iterable, Sequence
from concurrent.futures import ProcessPoolExecutor, as_completed
from dataclasses import dataclass, field
from fnmatch import fnmatchcase
from pathlib import Path
from typing import cast

from . import lammps, physics, salts
from ._vexa_pp import (
    diff_calculator,
    diffusion_adjustment,
    koh_gilliam_eval,
    laliberte_density,
    laliberte_viscosity,
    local_maximum_finder,
    parse_volume_density,
    read_group_count,
    tau_calculator,
)
from .tables import read_table
from .uncertainty import block_average, line_fit, spread, window_spread

TRANSPORT_TABLES = ("diffself.dat", "diffonsag.dat", "viscosity.dat", "thermconductivity.dat")
THERMO_PATTERN = "*_prod.dat"
ANGLE_PATTERN = "*angle*.dat"
LOG_NAME = lammps.LOG_NAME
KNOWN_IONS = tuple(physics.ION_CHARGES)
WATER_MOLAR_MASS = 18.015  # g/mol
# Self-diffusion coefficients of liquids lie well inside this band; a value
# outside it is almost always a unit slip.
PLAUSIBLE_D = (1e-12, 1e-6)  # m^2/s
HOPPING_IONS = ("OH", "H3O")
# Windows whose D differ by less than this fraction of D agree, whatever the
# regression's error says.
AGREEMENT = 1e-6
# A window holding less of the run than this was likely picked by chance: on
# a long noisy run some short window always has a log-log slope near 1.
SMALL_SHARE = 0.01
_TEMPERATURE_NAMES = {"temp", "temperature", "thermo_temp"}
_GROUP_LINE = re.compile(r"^\s*(\d+) atoms in group (\S+)\s*$", re.MULTILINE)


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
    charges: tuple[tuple[str, int], ...] = ()  # beside the common ions' own
    salt: str | None = None  # None: the salt the ion groups make, if bundled
    viscosity: float | None = None  # Pa s, the force field's
    temperature: float | None = None  # K, instead of the thermodynamic table's
    experimental_conductivity: float | None = None  # S/m
    hop_distance: float | None = None  # m

    def charge(self, group: str) -> int | None:
        return dict(self.charges).get(group, physics.ION_CHARGES.get(group))


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
    group: str | None = None  # the atoms this MSD is of, when known
    fit_error: float = math.nan  # m^2/s: the regression's standard error of D
    window_spread: float = math.nan  # m^2/s: sample std of D over the acceptable windows
    windows: int = 0  # acceptable windows
    spread_from: str = ""  # "windows", or "halves" (two half-window fits)
    finite_size: float = math.nan  # m^2/s: D corrected for the box size

    @property
    def ok(self) -> bool:
        return math.isfinite(self.slope)

    @property
    def share(self) -> float:
        """The window's rows as a fraction of the table's."""
        return self.window_points / len(self.time) if self.time else math.nan

    @property
    def error(self) -> float:
        """The uncertainty of D: regression and window choice together."""
        parts = [e for e in (self.fit_error, self.window_spread) if math.isfinite(e)]
        return math.sqrt(sum(e * e for e in parts)) if parts else math.nan


@dataclass(frozen=True)
class ColumnStats:
    mean: float
    error: float  # block-averaged standard error of the mean
    converged: bool  # the blocking found a plateau
    std: float | None  # sample standard deviation of the rows
    count: int


@dataclass(frozen=True)
class SeriesValue:
    """volume.dat or density.dat: the first row, and the mean over all rows."""

    first: float
    mean: float
    error: float
    converged: bool
    rows: int


@dataclass(frozen=True)
class AnglePeak:
    file: str
    column: str
    index: int
    coordinate: float  # degrees
    value: float
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


@dataclass(frozen=True)
class Conductivity:
    carriers: tuple[physics.Carrier, ...]
    value: float  # S/m, from the D of the run
    error: float
    corrected: float | None  # S/m, from the finite-size corrected D
    corrected_error: float | None
    experimental: float | None  # S/m
    experimental_source: str | None


@dataclass(frozen=True)
class Hopping:
    group: str
    carriers: int
    hop_distance: float  # m
    md_conductivity: float  # S/m, the value the gap is taken from
    tau: float  # s
    d_hop: float  # m^2/s


@dataclass(frozen=True)
class DensityCheck:
    salt: str
    molality: float  # mol/kg
    temperature: float  # K
    run: float  # kg/m^3
    run_error: float
    model: float  # kg/m^3

    @property
    def percent(self) -> float:
        return (self.run / self.model - 1.0) * 100.0


@dataclass
class RunReport:
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
    groups: dict[str, int] = field(default_factory=dict)
    solvent_group: str | None = None
    molality: dict[str, float] = field(default_factory=dict)  # ion group -> mol/kg
    salt: str | None = None
    salt_source: str | None = None
    salt_molality: float | None = None
    angle_peaks: list[AnglePeak] = field(default_factory=list)
    corrections: Corrections | None = None
    conductivity: Conductivity | None = None
    hopping: Hopping | None = None
    density_check: DensityCheck | None = None

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


def analyze_runs(paths: Sequence[Path], options: Options, jobs: int = 1,
                 progress: Callable[[Path], None] | None = None) -> list[RunReport]:
    """Every run, in the order given; with jobs > 1 in that many worker
    processes, which changes nothing in the results."""
    if jobs <= 1 or len(paths) <= 1:
        reports = []
        for path in paths:
            reports.append(_analyze_alone(path, options))
            if progress is not None:
                progress(path)
        return reports
    done: dict[int, RunReport] = {}
    with ProcessPoolExecutor(max_workers=min(jobs, len(paths))) as pool:
        futures = {pool.submit(_analyze_alone, path, options): k for k, path in enumerate(paths)}
        try:
            for future in as_completed(futures):
                path = paths[futures[future]]
                try:
                    done[futures[future]] = future.result()
                except Exception as exc:  # noqa: BLE001 - a worker that died
                    done[futures[future]] = _unexpected(path, exc)
                if progress is not None:
                    progress(path)
        except BaseException:
            for future in futures:  # Ctrl-C: no run waits to start
                future.cancel()
            raise
    return [done[k] for k in range(len(paths))]


def _analyze_alone(path: Path, options: Options) -> RunReport:
    """One run, whose unexpected failure is its own: the other runs are
    still reported."""
    try:
        return analyze_run(path, options)
    except Exception as exc:  # noqa: BLE001 - whatever it is, it is this run's
        return _unexpected(path, exc)


def _unexpected(path: Path, exc: Exception) -> RunReport:
    return RunReport(path, error=f"{path}: analysis failed with {type(exc).__name__}: {exc}")


def analyze_run(path: Path, options: Options) -> RunReport:
    report = RunReport(path)
    if shown(path) != str(path):
        report.error = f"{shown(path)}: the directory name is not valid UTF-8 (rename it)"
        return report
    if not path.exists():
        report.error = f"{path}: no such directory"
        return report
    if not path.is_dir():
        report.error = f"{path}: not a directory"
        return report

    entries = _regular_files(report, path)
    if entries is None:
        return report
    log = _read_log(report, path / LOG_NAME)
    others = {path / LOG_NAME, path / "volume.dat", path / "density.dat"}
    msd_files = [p for p in entries if p not in others and lammps.is_msd_file(p, log)]
    transport = [p for p in _transport_tables(path, entries) if p not in msd_files]
    thermo = [p for p in entries if fnmatchcase(p.name, THERMO_PATTERN)
              and "angle" not in p.name and p not in msd_files]
    angles = [p for p in entries if fnmatchcase(p.name, ANGLE_PATTERN) and p not in msd_files]
    report.files = [p.name for p in msd_files + transport + thermo + angles]
    report.files += [p.name for p in sorted(others) if p.is_file()]
    if not report.files:
        report.error = f"{path}: no files of a simulation run (see vexa-pp analyze --help)"
        return report
    for found, what in ((msd_files + transport, "mean-squared displacements (fix ave/time of "
                         f"compute msd, or {', '.join(TRANSPORT_TABLES)})"),
                        (thermo, f"thermodynamic table ({THERMO_PATTERN})"),
                        (angles, f"bond-angle histogram ({ANGLE_PATTERN})")):
        if not found:
            report.missing.append(what)
    report.missing += [p.name for p in sorted(others) if not p.is_file()]

    if (path / LOG_NAME).is_file():
        _groups(report, path / LOG_NAME, options)
    for file in msd_files:
        _fit_msd_file(report, file, log, options.fit)
    for table in transport:
        _fit_table(report, table, options.fit)
    for table in thermo:
        _thermo_means(report, table)
    style = log.units
    for name in ("volume", "density"):
        file = path / f"{name}.dat"
        if file.is_file():
            setattr(report, name, _series(report, file))
    for table in angles:
        _angle_peaks(report, table, options.peak_neighbors)
    _check_fits(report)
    _salt(report, options)
    _corrections(report, log, style, options)
    return report


def summarize(reports: list[RunReport]) -> list[CoefficientSummary]:
    """Mean, sample standard deviation, standard error and count over the
    runs of each diffusion coefficient, its finite-size corrected value and
    the Nernst-Einstein conductivities, each where any run has it.

    A run without that value, or whose fit failed, counts as NaN and so
    drops out of all of them.
    """
    keys = list(dict.fromkeys((f.table, f.column) for r in reports for f in r.msd))
    rows: list[tuple[str, str | None, str | None, list[float]]] = []
    for quantity in ("diffusion_coefficient", "finite_size_corrected"):
        for key in keys:
            found = [[f for f in r.msd if (f.table, f.column) == key] for r in reports]
            rows.append((quantity, *key, [
                math.nan if not fits else
                fits[0].diffusion if quantity == "diffusion_coefficient" else fits[0].finite_size
                for fits in found]))
    conductivities = [r.conductivity for r in reports]
    rows.append(("conductivity", None, None,
                 [math.nan if c is None else c.value for c in conductivities]))
    rows.append(("conductivity_corrected", None, None,
                 [math.nan if c is None or c.corrected is None else c.corrected
                  for c in conductivities]))
    result = []
    for quantity, table, column, values in rows:
        stats = spread(values)
        if stats.count:
            result.append(CoefficientSummary(quantity, table, column, stats.mean, stats.std,
                                             stats.error, stats.count, len(reports)))
    return result


def _read[T](report: RunReport, reader: Callable[[str], T], path: Path) -> T | None:
    try:
        return reader(str(path))
    except (OSError, ValueError) as exc:
        report.problems.append(str(exc))
        return None


def _read_log(report: RunReport, path: Path) -> lammps.RunLog:
    if not path.is_file():
        return lammps.RunLog()
    try:
        log = lammps.read_log(path.read_text(encoding="utf-8", errors="replace"))
    except OSError as exc:
        report.problems.append(f"{path}: {exc.strerror or exc}")
        return lammps.RunLog()
    report.unit_style = log.unit_style
    if log.box_edges is not None:
        edges = " x ".join(f"{e:g}" for e in log.box_edges)
        report.box = f"{log.box_shape} {edges}"
    return log


def shown(path: Path | str) -> str:
    """The path as text that can be printed and put in JSON: bytes of a name
    that are not UTF-8 written as escapes (\\xff)."""
    return os.fsencode(path).decode("utf-8", "backslashreplace")


def _regular_files(report: RunReport, path: Path) -> list[Path] | None:
    """The directory's regular files, sorted. A name that is not UTF-8 is a
    problem, and a FIFO or device under a name the analysis reads is noted:
    reading it could wait for ever."""
    try:
        entries = sorted(path.iterdir())
    except OSError as exc:
        report.error = f"{path}: {exc.strerror or exc}"
        return None
    files = []
    for entry in entries:
        if shown(entry.name) != entry.name:
            report.problems.append(f"{shown(entry)}: the file name is not valid UTF-8; skipped "
                                   "(rename it)")
        elif entry.is_file():
            files.append(entry)
        elif not entry.is_dir() and (fnmatchcase(entry.name, "*.dat") or entry.name == LOG_NAME):
            report.notes.append(f"{entry.name}: not a regular file; skipped")
    return files


def _transport_tables(path: Path, entries: list[Path]) -> list[Path]:
    found = [path / name for name in TRANSPORT_TABLES if path / name in entries]
    others = [p for p in entries if fnmatchcase(p.name, "*.dat") and p not in found
              and not fnmatchcase(p.name, THERMO_PATTERN)
              and not fnmatchcase(p.name, ANGLE_PATTERN)
              and p.name not in ("volume.dat", "density.dat")]
    return found + [p for p in others if _has_time_header(p)]


def _has_time_header(path: Path) -> bool:
    try:
        with path.open("rb") as file:
            head = file.read(1 << 16)
    except OSError:
        return False
    return any(line.lstrip().startswith(b"#Time") for line in head.splitlines())


# A line break followed by a blank or comment line, or by the end.
_NOT_DATA = re.compile(rb"\n(?=[ \t]*(?:#|\r?\n|\r?\Z))")


def _last_time_header(data: bytes) -> int:
    """Where the last line starting with '#Time' (after blanks) starts; 0
    without one. A byte search from the end: no line is split."""
    end = len(data)
    while (at := data.rfind(b"#Time", 0, end)) >= 0:
        start = data.rfind(b"\n", 0, at) + 1
        if not data[start:at].strip(b" \t"):
            return start
        end = at
    return 0


def _check_rows(report: RunReport, path: Path, rows: int, time_header: bool = False) -> None:
    """Say what the reader dropped without a word: all rows when they do not
    fit the header (a problem), some of them (a note). Lines are counted at
    the speed of a byte search, and only the first rows are split."""
    try:
        data = path.read_bytes()
    except OSError:
        return  # the reader has said why
    if time_header:
        header = _last_time_header(data)
    else:
        header = data.find(b"\n") + 1
        if not header:
            return
    line_end = data.find(b"\n", header)
    if line_end < 0:
        return
    names = len(data[header:line_end].replace(b"#", b" ").split())
    # Each line of the rest starts after a line break, the last one included.
    body = data[line_end:]
    lines = body.count(b"\n")
    data_lines = lines - len(_NOT_DATA.findall(body))
    if not data_lines:
        report.notes.append(f"{path.name}: no data rows")
    elif rows == 0:
        head = [line.split() for line in body[:1 << 16].splitlines()
                if line.strip() and not line.lstrip().startswith(b"#")]
        fields = Counter(len(d) for d in head).most_common(1)[0][0] if head else names
        report.problems.append(
            f"{path}: header has {names} names, rows have {fields} fields" if fields < names
            else f"{path}: no row is all numbers")
    elif data_lines > rows:
        report.notes.append(f"{path.name}: {data_lines - rows} of {data_lines} rows dropped "
                            "(too few fields, or fields that are not numbers)")


def _fit_table(report: RunReport, path: Path, settings: FitSettings) -> None:
    table = _read(report, read_table, path)
    if table is None:
        return
    names = list(table)
    time_name = "Time" if "Time" in table else names[0]
    _check_rows(report, path, len(table[time_name]), time_header=True)
    columns = [n for n in names if n != time_name and n.upper().startswith("MSD")]
    if not columns:
        report.notes.append(f"{path.name}: no MSD column (columns: {', '.join(names)})")
        return
    time = table[time_name].tolist()
    for column in columns:
        group = column[3:].lstrip("_") or None
        if group not in report.groups and group not in KNOWN_IONS:
            group = None
        report.msd.append(fit_msd(path.name, column, time, table[column].tolist(), settings,
                                  group))


def _fit_msd_file(report: RunReport, path: Path, log: lammps.RunLog,
                  settings: FitSettings) -> None:
    table = _read(report, lambda p: lammps.read_msd_file(Path(p), log), path)
    if table is None:
        return
    _check_rows(report, path, len(table.time))
    report.timestep = table.timestep
    grouped = set(log.compute_groups.values())
    for column, msd in table.columns.items():
        report.msd.append(fit_msd(path.name, column, table.time, msd, settings,
                                  column if column in grouped else None))


def fit_msd(table: str, column: str, time: list[float], msd: list[float],
            settings: FitSettings, group: str | None = None) -> MsdFit:
    """Fit one MSD column; `slope` is NaN when no window qualifies.

    Besides the regression's own standard error, which the correlation of
    neighbouring MSD points makes too small, D is fitted over every window
    the search accepts: their spread shows how much the result owes to the
    choice of window. With fewer than three such windows the two
    halves of the chosen one are fitted instead."""
    slope, fit_time, fit = diff_calculator(
        time, msd, settings.margin, settings.min_window, settings.max_window,
        settings.max_error, settings.min_displacement)
    first_row, window_msd = -1, list[float]()
    if math.isfinite(slope):
        first_row, window_msd = _locate_window(time, msd, fit_time, settings.min_displacement)
    result = MsdFit(
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
        group=group,
    )
    if first_row < 0:
        return result
    per_slope = 1.0 / (2 * settings.dimensions)
    result.fit_error = line_fit(fit_time, window_msd).slope_error * per_slope
    others = window_spread(time, msd, settings.margin, settings.min_window,
                           settings.max_window, settings.max_error, settings.min_displacement)
    result.windows = others.count
    if others.count >= 3:
        result.spread_from = "windows"
        result.window_spread = others.std * per_slope
    else:
        half = len(fit_time) // 2
        result.spread_from = "halves"
        values = [line_fit(fit_time[:half], window_msd[:half]).slope * per_slope,
                  line_fit(fit_time[half:], window_msd[half:]).slope * per_slope]
        result.window_spread = spread(values).std or math.nan
    return result


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
    return line_fit([x for x, _ in points], [y for _, y in points]).slope


def _check_fits(report: RunReport) -> None:
    low, high = PLAUSIBLE_D
    disagree: dict[str, list[str]] = {}
    small: dict[str, list[str]] = {}
    for fit in report.msd:
        if not fit.ok:
            continue
        if fit.share < SMALL_SHARE:
            small.setdefault(fit.table, []).append(
                f"{fit.column} ({fit.window_points} of {len(fit.time)} rows)")
        if not low <= abs(fit.diffusion) <= high:
            report.warnings.append(
                f"{fit.table} {fit.column}: D = {fit.diffusion:.3e} m^2/s is outside {low:g} .. "
                f"{high:g} m^2/s; check the units (time in s and MSD in m^2? Å^2 and ps "
                "written as SI?)")
        # On exact data both errors are round-off, whose ratio means nothing.
        scale = max(fit.fit_error, AGREEMENT * abs(fit.diffusion))
        if fit.window_spread > 2 * scale:
            disagree.setdefault(fit.table, []).append(
                f"{fit.column} ({fit.window_spread / scale:.1f} x)")
    for table, columns in disagree.items():
        report.warnings.append(
            f"{table}: the windows disagree by more than twice the regression's standard "
            f"error for {', '.join(columns)}: the choice of window decides D, and its ± "
            "includes that spread (a longer run narrows it; see --max-window, --tolerance)")
    for table, columns in small.items():
        report.warnings.append(
            f"{table}: the fitted window holds under {100 * SMALL_SHARE:g} % of the rows for "
            f"{', '.join(columns)}: the window closest to slope 1 is then as likely chance as "
            "diffusion; fit over more of the run with a larger --min-window and --max-window")


def _thermo_means(report: RunReport, path: Path) -> None:
    table = _read(report, lambda p: read_table(p, "thermo"), path)
    if table is None:
        return
    _check_rows(report, path, len(next(iter(table.values()), [])))
    stats = {}
    for name, values in table.items():
        if name.lower() == "timestep":
            continue
        # Both read a float64 array as it is (numpy, and the buffer protocol).
        series = cast(Sequence[float], values)
        blocked, rows = block_average(series), spread(series)
        stats[name] = ColumnStats(blocked.mean, blocked.error, blocked.converged, rows.std,
                                  rows.count)
    if not stats:
        report.notes.append(f"{path.name}: no data columns")
    report.thermo[path.name] = stats


def _series(report: RunReport, path: Path) -> SeriesValue | None:
    first = _read(report, parse_volume_density, path)
    if first is None:
        return None
    try:
        table = read_table(path, "thermo")
    except (OSError, ValueError):
        table = {}
    values = list(table.values())[1].tolist() if len(table) > 1 else [first]
    blocked = block_average(values)
    return SeriesValue(first, blocked.mean, blocked.error, blocked.converged, len(values))


def _groups(report: RunReport, log: Path, options: Options) -> None:
    try:
        text = log.read_text(encoding="utf-8", errors="replace")
    except OSError as exc:
        report.problems.append(f"{log}: {exc.strerror or exc}")
        return
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
        ions = tuple(n for n in report.groups if n in KNOWN_IONS or n in dict(options.charges))
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


def _salt(report: RunReport, options: Options) -> None:
    """The salt of the run's two ion groups, its molality, and the bundled
    parameters of it (or of --salt)."""
    charged = {g: options.charge(g) for g in report.molality}
    cations = [g for g, z in charged.items() if z is not None and z > 0]
    anions = [g for g, z in charged.items() if z is not None and z < 0]
    formula = None
    if len(cations) == 1 and len(anions) == 1:
        cation, anion = cations[0], anions[0]
        formula, per_salt, _ = physics.salt_formula(
            cation, charged[cation] or 0, anion, charged[anion] or 0)
        report.salt_molality = report.molality[cation] / per_salt
    try:
        salt = salts.find_salt(options.salt) if options.salt else (
            salts.find_salt(formula) if formula else None)
    except salts.UnknownSalt as exc:
        if options.salt:
            report.problems.append(str(exc.args[0]))
        salt = None
    if salt is None:
        return
    report.salt = salt.symbol
    report.salt_source = "--salt" if options.salt else "the ion groups"
    if options.salt and formula and formula.lower() != salt.symbol.lower():
        report.notes.append(f"--salt {salt.symbol}, but the ion groups make {formula}: "
                            f"the {salt.symbol} models are taken at their molality")
    if report.salt_molality is None:
        report.notes.append(f"no single cation and anion group: the {salt.symbol} models "
                            "need the salt's molality")


def _corrections(report: RunReport, log: lammps.RunLog, style: lammps.UnitStyle | None,
                 options: Options) -> None:
    """Finite-size correction, Nernst-Einstein conductivity, proton hopping
    and the density check: each when what it rests on is known."""
    temperature, source = options.temperature, "--temperature"
    if temperature is None:
        temperature, source = _thermo_temperature(report)
    volume = None
    if report.volume is not None and style is not None:
        volume = report.volume.mean * style.volume
    elif log.box_edges is not None and style is not None and log.box_shape == "orthogonal":
        volume = math.prod(log.box_edges) * style.volume
        report.notes.append(f"volume from the box in {LOG_NAME} (no volume.dat)")
    salt = salts.find_salt(report.salt) if report.salt else None
    molality = report.salt_molality
    if salt is not None and molality is not None and temperature is not None:
        report.warnings += salt.range_warnings(temperature, molality)
        _density_check(report, salt, molality, temperature, style)
    if temperature is None or volume is None:
        if report.msd:
            report.notes.append("no temperature (thermodynamic table or --temperature) or no "
                                "volume: no finite-size correction or conductivity")
        return
    box_length = volume ** (1 / 3)
    if log.box_edges is not None and log.cubic_edge() is None:
        report.warnings.append(f"{LOG_NAME} shows a {report.box} box: the finite-size "
                               "correction takes L = V^(1/3), as for a cube")

    viscosity = options.viscosity
    viscosity_source: str | None = "--viscosity (the force field's)"
    if viscosity is None and salt is not None and molality is not None:
        (viscosity,) = laliberte_viscosity([temperature], [molality], salt.molecular_weight,
                                           *salt.viscosity)
        viscosity_source = (f"experimental: Laliberte model of {salt.symbol} at "
                            f"{molality:.4g} mol/kg, {temperature:.2f} K")
    shift = None
    if viscosity is None:
        viscosity_source = None
        if report.msd:
            report.notes.append("no viscosity (--viscosity, or --salt for the experimental "
                                "one): no finite-size correction")
    else:
        shift = physics.finite_size_shift(temperature, viscosity, box_length)
        for fit in report.msd:
            if fit.ok:
                fit.finite_size = fit.diffusion + shift
    report.corrections = Corrections(temperature, source, volume, box_length, viscosity,
                                     viscosity_source, shift)
    _conductivity(report, salt, molality, options)


def _thermo_temperature(report: RunReport) -> tuple[float | None, str]:
    for table, stats in report.thermo.items():
        for name, column in stats.items():
            bare = re.sub(r"^[cv]_|\[\d+\]$", "", name).lower()
            if bare in _TEMPERATURE_NAMES and math.isfinite(column.mean):
                return column.mean, f"mean of {name} in {table}"
    return None, ""


def _density_check(report: RunReport, salt: salts.Salt, molality: float, temperature: float,
                   style: lammps.UnitStyle | None) -> None:
    if report.density is None or style is None:
        return
    (model,), _ = laliberte_density([temperature], [molality], salt.molecular_weight,
                                    *salt.density)
    report.density_check = DensityCheck(salt.symbol, molality, temperature,
                                        report.density.mean * style.density,
                                        report.density.error * style.density, model)


def _conductivity(report: RunReport, salt: salts.Salt | None, molality: float | None,
                  options: Options) -> None:
    corrections = report.corrections
    assert corrections is not None
    fits = {f.group: f for f in reversed(report.msd) if f.group and f.ok}
    carriers = []
    for group in report.molality:
        charge = options.charge(group)
        if charge is None:
            report.notes.append(f"charge of group {group!r} unknown (--charge {group}=+1): "
                                "no conductivity")
            return
        if group not in fits:
            if report.msd:
                report.notes.append(f"no D of ion group {group!r}: no conductivity")
            return
        fit = fits[group]
        carriers.append((physics.Carrier(group, report.groups[group], charge, fit.diffusion,
                                         fit.error), fit.finite_size))
    if not carriers:
        return
    value, error = physics.nernst_einstein(corrections.volume, corrections.temperature,
                                           [c for c, _ in carriers])
    corrected = corrected_error = None
    if corrections.shift is not None:
        corrected, corrected_error = physics.nernst_einstein(
            corrections.volume, corrections.temperature,
            [physics.Carrier(c.group, c.count, c.charge, d, c.error) for c, d in carriers])
    experimental, source = options.experimental_conductivity, "--experimental-conductivity"
    if experimental is None and salt is not None and salt.conductivity == "koh-gilliam" \
            and molality is not None:
        (experimental,) = koh_gilliam_eval([corrections.temperature], [molality],
                                           salt.molecular_weight, *salt.density)
        source = (f"Gilliam model of {salt.symbol} at {molality:.4g} mol/kg, "
                  f"{corrections.temperature:.2f} K")
    report.conductivity = Conductivity(tuple(c for c, _ in carriers), value, error, corrected,
                                       corrected_error, experimental,
                                       source if experimental is not None else None)
    if options.hop_distance is not None:
        _hopping(report, report.conductivity, options.hop_distance)


def _hopping(report: RunReport, conductivity: Conductivity, hop_distance: float) -> None:
    corrections = report.corrections
    assert corrections is not None
    hopping = [c for c in conductivity.carriers if c.group in HOPPING_IONS]
    if conductivity.experimental is None or not hopping:
        report.notes.append("proton hopping needs an experimental conductivity (KOH, or "
                            "--experimental-conductivity) and a group "
                            f"{' or '.join(HOPPING_IONS)}")
        return
    md = conductivity.corrected if conductivity.corrected is not None else conductivity.value
    carrier = hopping[0]
    tau = tau_calculator(conductivity.experimental, md, corrections.temperature,
                         corrections.box_length, carrier.count, hop_distance)
    report.hopping = Hopping(carrier.group, carrier.count, hop_distance, md, tau,
                             diffusion_adjustment(tau, hop_distance))


def _angle_peaks(report: RunReport, path: Path, neighbors: int) -> None:
    try:
        column, blocks = lammps.histogram_blocks(path)
    except (OSError, ValueError) as exc:
        report.problems.append(str(exc))
        return
    if not blocks[0].value:
        report.notes.append(f"{path.name}: no histogram rows")
        return
    if len(blocks) > 1:
        report.angle_peaks.append(_peak(path.name, column, lammps.average_block(blocks),
                                        neighbors, len(blocks)))
    report.angle_peaks += [_peak(path.name, column, block, neighbors, len(blocks))
                           for block in blocks]


def _peak(file: str, column: str, block: lammps.HistogramBlock, neighbors: int,
          blocks: int) -> AnglePeak:
    values = block.value
    index = local_maximum_finder(values, 0, neighbors)
    inside = index < len(values)
    return AnglePeak(
        file=file,
        column=column,
        index=index,
        coordinate=block.coordinate[index] if inside else math.nan,
        value=values[index] if inside else math.nan,
        found=_is_peak(values, index, neighbors),
        step=block.step if blocks > 1 else None,
        blocks=blocks,
    )


def _is_peak(values: list[float], index: int, neighbors: int) -> bool:
    if neighbors == 0 or index < neighbors or index + neighbors >= len(values):
        return False
    peak = values[index]
    return all(peak > values[index - m] and peak > values[index + m]
               for m in range(1, neighbors + 1))


def charges_from(pairs: Iterable[str]) -> tuple[tuple[str, int], ...]:
    """--charge NAME=Z arguments, as (name, charge) pairs. Raises ValueError."""
    result = []
    for pair in pairs:
        name, sep, value = pair.partition("=")
        if not sep or not name:
            raise ValueError(f"{pair!r}: give NAME=CHARGE, as Na=+1")
        result.append((name, int(value)))
    return tuple(result)
