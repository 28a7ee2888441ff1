"""The analysis of a simulation run, and of many runs side by side.

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
- volume.dat and density.dat;
- the data file the log's read_data names: the charges of the ion groups.

A missing file is noted and skipped; a file that cannot be read or parsed is
noted with the reader's message, which names the file and the reason.
"""

from __future__ import annotations

import math
import os
from collections.abc import Callable, Sequence
from concurrent.futures import ProcessPoolExecutor, as_completed
from pathlib import Path

from . import data_charges, electrolyte, run_files, run_trajectory
from .angle_peaks import angle_peaks
from .msd_fits import check_fits, fit_msd, fit_msd_file, fit_table
from .results import (
    WATER_MOLAR_MASS,
    CoefficientSummary,
    FitSettings,
    MsdFit,
    Options,
    RunReport,
    shown,
)
from .run_files import LOG_NAME, SERIES
from .thermo import series, thermo_means
from .uncertainty import spread

# A worker process costs its start (the interpreter, the package, numpy)
# before it analyses anything: four runs of 7.6 MB in all took as long in two
# workers as one after another, smaller ones up to seven times longer
# (benchmarks/bench_jobs.py on a shared 2-core machine).
BYTES_PER_WORKER = 8 << 20

_FIX_TABLE = b"# Time-averaged data"  # how every fix ave/time file starts

__all__ = ["analyze_run", "analyze_runs", "distinct_runs", "workers", "summarize", "fit_msd",
           "CoefficientSummary", "FitSettings", "MsdFit", "Options", "RunReport",
           "WATER_MOLAR_MASS", "shown"]


def analyze_runs(paths: Sequence[Path], options: Options, jobs: int = 1,
                 progress: Callable[[Path], None] | None = None) -> list[RunReport]:
    """Every run, in the order given.

    Parameters
    ----------
    paths : sequence of Path
        The run directories.
    options : Options
        What every run is analysed with (lengths in m, viscosity in Pa s,
        temperature in K, conductivity in S/m).
    jobs : int, default 1
        Worker processes; above 1 the runs are analysed in that many
        processes, which changes nothing in the results.
    progress : callable, optional
        Called with a run's path when that run is done, in the order they
        finish.

    Returns
    -------
    list of RunReport
        One per path, in the order given. A run whose analysis failed
        unexpectedly has that failure as its error; the other runs are still
        reported.
    """
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


def distinct_runs(paths: Sequence[Path]) -> tuple[list[Path], list[str]]:
    """The run directories with each one kept once, however it was named
    (another spelling, a symbolic link), and a note on each left out."""
    kept: dict[object, Path] = {}
    notes = []
    for path in paths:
        try:
            stat = path.stat()
            key: object = (stat.st_dev, stat.st_ino)
        except (OSError, ValueError):  # reported when it is analysed
            key = os.path.abspath(path)
        if key in kept:
            again = "named twice" if path == kept[key] else f"{shown(kept[key])} again"
            notes.append(f"{shown(path)} is {again}: analysed once")
        else:
            kept[key] = path
    return list(kept.values()), notes


def workers(paths: Sequence[Path], jobs: int) -> int:
    """How many of the jobs asked for pay for their start: no more than the
    runs, and one per BYTES_PER_WORKER of the files the runs hold."""
    if jobs <= 1 or len(paths) <= 1:
        return 1
    size = 0
    for path in paths:
        try:
            with os.scandir(path) as entries:
                size += sum(e.stat().st_size for e in entries if _read_by_analysis(e))
        except OSError:
            pass  # reported when it is analysed
    return max(1, min(jobs, len(paths), size // BYTES_PER_WORKER))


def _read_by_analysis(entry: os.DirEntry[str]) -> bool:
    """Whether the analysis reads the file: a trajectory beside the tables
    weighs nothing in the choice of workers."""
    if not entry.is_file():
        return False
    if entry.name == LOG_NAME or entry.name.endswith(".dat"):
        return True
    try:
        with open(entry.path, "rb") as file:
            return file.read(len(_FIX_TABLE)) == _FIX_TABLE
    except OSError:
        return False


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
    """Everything the files of one run directory give.

    Parameters
    ----------
    path : Path
        The run directory (see the module's documentation for its files).
    options : Options
        The MSD window search, the groups and the physical inputs (lengths in
        m, viscosity in Pa s, temperature in K, conductivity in S/m, molar
        mass in g/mol).

    Returns
    -------
    RunReport
        D in m^2/s, times in s, volume in m^3, molality in mol/kg,
        conductivity in S/m; thermodynamic means, volume and density in the
        units the run wrote them in. ``error`` is set when the directory is
        unusable; unreadable files are among ``problems``, and the run goes
        on without them.
    """
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

    entries = run_files.regular_files(report, path)
    if entries is None:
        return report
    log = run_files.read_log(report, path / LOG_NAME)
    files = run_files.sort_files(report, path, entries, log)
    if files is None:
        return report

    charged = data_charges.with_data_charges(path, log, options)
    options = charged.options
    report.notes += charged.notes
    report.warnings += charged.warnings
    report.charges_from = {g: options.charge_from(g) for g, _ in options.data_charges}
    if (path / LOG_NAME).is_file():
        electrolyte.groups(report, path / LOG_NAME, options)
    for file in files.msd:
        fit_msd_file(report, file, log, options.fit)
    for table in files.transport:
        fit_table(report, table, options.fit)
    for table in files.thermo:
        thermo_means(report, table)
    for name in SERIES:
        file = path / f"{name}.dat"
        if file.is_file():
            setattr(report, name, series(report, file))
    for table in files.angles:
        angle_peaks(report, table, options.peak_neighbors)
    check_fits(report)
    run_trajectory.add_trajectory(report, path, entries, log, options)
    unknown = [name for name, _ in options.charges if name not in {f.group for f in report.msd}]
    if unknown and report.msd:
        report.warnings.append(f"--charge names no group of this run: {', '.join(unknown)}")
    electrolyte.salt(report, options)
    electrolyte.corrections(report, log, options)
    return report


def summarize(reports: list[RunReport]) -> list[CoefficientSummary]:
    """Each diffusion coefficient, its finite-size corrected value and the
    Nernst-Einstein conductivities over the runs, each where any run has it.

    A run without that value, or whose fit failed, counts as NaN and so
    drops out of all of them.

    Parameters
    ----------
    reports : list of RunReport
        The runs, as `analyze_runs` gives them.

    Returns
    -------
    list of CoefficientSummary
        Mean, sample standard deviation (None from one run), standard error
        and count of each quantity: D and D∞ in m^2/s, conductivity in S/m.
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
