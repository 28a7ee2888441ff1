"""Self-diffusion coefficients from mean-squared displacements: the fit of
one MSD column, where its window lies in the table, and the checks that say
when a fit should not be trusted as it stands."""

from __future__ import annotations

import math
import sys
from pathlib import Path

import numpy as np

from . import lammps, physics
from ._vexa_pp import diff_calculator
from .msd_sampling import search_scatter
from .msd_windows import WindowChoice, choose_windows
from .results import FitSettings, MsdFit, RunReport
from .run_files import check_rows, read_or_report
from .tables import read_table
from .uncertainty import line_fit, sampling_error, spread

# Self-diffusion coefficients of liquids lie well inside this band; a value
# outside it is almost always a unit slip.
PLAUSIBLE_D = (1e-12, 1e-6)  # m^2/s
# Windows whose D differ by less than this fraction of D agree, whatever the
# regression's error says.
AGREEMENT = 1e-6
# A window holding less of the run than this was taken because no longer
# one looked diffusive: D then rests on a short stretch, whose log-log slope
# may be near 1 by chance, and its sampling error is large.
SMALL_SHARE = 0.1


def fit_table(report: RunReport, path: Path, settings: FitSettings) -> None:
    """Every MSD column of a '#Time' table (time in s, MSD in m^2)."""
    table = read_or_report(report, read_table, path)
    if table is None:
        return
    names = list(table)
    time_name = "Time" if "Time" in table else names[0]
    check_rows(report, path, len(table[time_name]), time_header=True)
    columns = [n for n in names if n != time_name and n.upper().startswith("MSD")]
    if not columns:
        report.notes.append(f"{path.name}: no MSD column (columns: {', '.join(names)})")
        return
    time = table[time_name].tolist()
    for column in columns:
        group = column[3:].lstrip("_") or None
        if group not in report.groups and group not in physics.ION_CHARGES:
            group = None
        report.msd.append(fit_msd(path.name, column, time, table[column].tolist(), settings, group,
                                  report.groups.get(group) if group else None))


def fit_msd_file(report: RunReport, path: Path, log: lammps.RunLog,
                 settings: FitSettings) -> None:
    """Every compute-msd column of a file LAMMPS wrote, in SI units."""
    table = read_or_report(report, lambda p: lammps.read_msd_file(Path(p), log), path)
    if table is None:
        return
    check_rows(report, path, len(table.time))
    report.timestep = table.timestep
    grouped = set(log.compute_groups.values())
    for column, msd in table.columns.items():
        group = column if column in grouped else None
        report.msd.append(fit_msd(path.name, column, table.time, msd, settings, group,
                                  report.groups.get(group) if group else None))


def fit_msd(table: str, column: str, time: list[float], msd: list[float],
            settings: FitSettings, group: str | None = None,
            particles: int | None = None) -> MsdFit:
    """Fit one MSD column.

    The window is the qualifying one (log-log slope within the tolerance
    of 1) whose D the sampling of the particles leaves least uncertain
    (`msd_windows.choose_windows`). D's ± joins three parts: that sampling
    error, which for one time origin and few particles dominates and which
    no single MSD curve shows (it needs the particle count); the
    regression's standard error; and the spread of D over the qualifying
    windows about as good as the chosen one (with fewer than three, over
    the two halves of the chosen window).

    Parameters
    ----------
    table, column : str
        The file and the column the MSD comes from, as the result names them.
    time : list of float
        Time of every row, s, counted from the MSD's origin.
    msd : list of float
        Mean-squared displacement of every row, m^2.
    settings : FitSettings
        The window search; ``settings.dimensions`` gives D = slope / (2 x dimensions).
    group : str, optional
        The atoms this MSD is of, when known.
    particles : int, optional
        How many atoms the MSD averages over; without it the ± lacks the
        sampling part.

    Returns
    -------
    MsdFit
        D in m^2/s with its errors and window (times in s); ``slope`` and
        ``diffusion`` are NaN when no window qualifies.
    """
    result = MsdFit(table=table, column=column, slope=math.nan, diffusion=math.nan,
                    window_start=math.nan, window_end=math.nan, window_points=0, first_row=-1,
                    loglog_slope=math.nan, time=time, msd=msd, fit_time=[], fit=[],
                    group=group, particles=particles)
    t_all, m_all = np.asarray(time, dtype=float), np.asarray(msd, dtype=float)
    if t_all.ndim != 1 or t_all.shape != m_all.shape:
        return result
    rows = np.flatnonzero(np.abs(m_all) >= settings.min_displacement ** 2)
    t, m = t_all[rows], m_all[rows]
    search = _search_bounds(rows.size, settings)
    if search is None:
        result.failure = _too_short(len(msd), rows.size, settings)
        return result
    choice = choose_windows(t, m[None, :], *search)
    result.search_step = choice.step
    result.qualifying_windows = int(choice.accepted[0])
    first = int(choice.first[0])
    if first < 0:
        result.failure = "no window with a log-log slope near 1"
        return result
    window = slice(first, first + int(choice.length[0]))
    fit_time, window_msd = t[window].tolist(), m[window].tolist()
    slope, fit = _line_through(fit_time, window_msd, settings)
    result.slope, result.diffusion = slope, slope / (2 * settings.dimensions)
    result.window_start, result.window_end = fit_time[0], fit_time[-1]
    result.window_points, result.first_row = len(fit_time), int(rows[first])
    result.loglog_slope = _loglog_slope(fit_time, window_msd)
    result.fit_time, result.fit, result.window_msd = fit_time, fit, window_msd
    _add_errors(result, choice, t, search, settings)
    return result


def _add_errors(result: MsdFit, choice: WindowChoice, time: np.ndarray,
                search: tuple[int, int, int, int, float], settings: FitSettings) -> None:
    """The parts of a fitted D's ±: sampling, regression and windows."""
    per_slope = 1.0 / (2 * settings.dimensions)
    line = line_fit(result.fit_time, result.window_msd)
    result.fit_error = line.slope_error * per_slope
    result.windows = int(choice.comparable[0])
    spread_of_windows = float(choice.comparable_spread[0]) * per_slope
    if result.particles:
        fixed = sampling_error(result.fit_time, result.particles, settings.dimensions)
        result.sampling_fixed_window = result.sampling_error = abs(result.diffusion) * fixed
        result.sampling_from = "window"
        scatter = search_scatter(time, result.slope, line.intercept, result.particles,
                                 settings.dimensions, *search) if result.slope > 0 else None
        if scatter is not None and math.isfinite(scatter.relative_error):
            result.sampling_error = abs(result.diffusion) * scatter.relative_error
            result.sampling_from = "search"
            # Comparable windows scatter under sampling alone too; only a
            # spread beyond that says that where the window lies matters.
            if choice.comparable[0] >= 2:
                expected = scatter.window_spread * abs(result.diffusion)
                result.spread_from = "windows"
                result.window_spread = math.sqrt(max(spread_of_windows ** 2 - expected ** 2,
                                                     0.0))
            return
    if choice.comparable[0] >= 3:
        result.spread_from = "windows"
        result.window_spread = spread_of_windows
        return
    half = len(result.fit_time) // 2
    halves = [line_fit(result.fit_time[:half], result.window_msd[:half]),
              line_fit(result.fit_time[half:], result.window_msd[half:])]
    result.spread_from = "halves"
    result.window_spread = spread([h.slope * per_slope for h in halves]).std or math.nan


def _line_through(time: list[float], msd: list[float],
                  settings: FitSettings) -> tuple[float, list[float]]:
    """The least-squares line through one window: its slope and its values.

    The module's fit does it when it agrees that the window qualifies: a
    margin below -1/2 stretches the searched region past the data's end, so
    with the window's rows alone the only window it may take is all of them.
    On a log-log slope within rounding of the tolerance's edge it may not;
    the same regression is then done here."""
    length = len(time)
    slope, _, fit = diff_calculator(time, msd, -2.0, length, length + 1, settings.max_error,
                                    settings.min_displacement)
    if math.isfinite(slope) and len(fit) == length:
        return slope, fit
    line = line_fit(time, msd)
    return line.slope, [line.intercept + line.slope * v for v in time]


def _index(value: float) -> int:
    """A row count times a fraction as a row index: truncated, at least 0."""
    return int(min(value, sys.maxsize)) if value > 0 else 0


def _search_bounds(rows: int,
                   settings: FitSettings) -> tuple[int, int, int, int, float] | None:
    """The rows the window search looks at (first, end), the window bounds
    and the slope tolerance; None when not one window fits between the
    margins."""
    min_window, max_window = settings.windows_for(rows)
    first = _index(settings.margin * rows)
    end = min(rows, _index((1.0 - settings.margin) * rows))
    if end - first < max(min_window, 2) or min_window >= max_window:
        return None
    return first, end, min_window, max_window, settings.max_error


def _too_short(rows: int, kept: int, settings: FitSettings) -> str:
    """A table too short for the window search is told as such: no slope
    was ever looked at."""
    needed = rows_needed(settings)
    if needed is None:
        return "no window fits the margins and window bounds given"
    dropped = f" ({rows - kept} below --min-displacement)" if kept < rows else ""
    return f"too short for the window search: needs at least {needed} rows, has {kept}{dropped}"


def rows_needed(settings: FitSettings, limit: int = 1 << 20) -> int | None:
    """The fewest rows that leave one window between the margins (the
    search's own truncations and window bounds); None when no length up to
    the limit does."""
    if not 0 <= settings.margin < 0.5:
        return None
    return next((rows for rows in range(2, limit) if _search_bounds(rows, settings)), None)


def _loglog_slope(time: list[float], msd: list[float]) -> float:
    """Least-squares slope of log10 |MSD| against log10 t."""
    points = [(math.log10(t), math.log10(abs(m))) for t, m in zip(time, msd) if t > 0 and m != 0]
    return line_fit([x for x, _ in points], [y for _, y in points]).slope


def check_fits(report: RunReport) -> None:
    """Warn of a D outside the plausible band, of windows that disagree by
    more than the statistics say, of windows holding little of the run, and
    note the fits whose ± lacks the sampling of the particles."""
    low, high = PLAUSIBLE_D
    disagree: dict[str, list[str]] = {}
    small: dict[str, list[str]] = {}
    uncounted: dict[str, list[str]] = {}
    for fit in report.msd:
        if not fit.ok:
            continue
        if fit.share < SMALL_SHARE:
            small.setdefault(fit.table, []).append(
                f"{fit.column} ({fit.window_points} of {len(fit.time)} rows)")
        if not fit.particles:
            uncounted.setdefault(fit.table, []).append(fit.column)
        if not low <= abs(fit.diffusion) <= high:
            report.warnings.append(
                f"{fit.table} {fit.column}: D = {fit.diffusion:.3e} m^2/s is outside {low:g} .. "
                f"{high:g} m^2/s; check the units (time in s and MSD in m^2? Å^2 and ps "
                "written as SI?)")
        # On exact data every error is round-off, whose ratio means nothing.
        statistical = [e for e in (fit.fit_error, fit.sampling_error) if math.isfinite(e)]
        scale = max(math.hypot(*statistical), AGREEMENT * abs(fit.diffusion))
        if fit.window_spread > 2 * scale:
            disagree.setdefault(fit.table, []).append(
                f"{fit.column} ({fit.window_spread / scale:.1f} x)")
    for table, columns in disagree.items():
        report.warnings.append(
            f"{table}: the windows disagree by more than twice the statistical error for "
            f"{', '.join(columns)}: the choice of window decides D, and its ± includes that "
            "spread (a longer run narrows it; see --min-window, --tolerance)")
    for table, columns in small.items():
        report.warnings.append(
            f"{table}: the fitted window holds under {100 * SMALL_SHARE:g} % of the rows for "
            f"{', '.join(columns)}: no longer window has a log-log slope near 1, so D rests "
            "on a short stretch that may look diffusive by chance; check the MSD plot, and "
            "a longer run or a larger --tolerance")
    for table, columns in uncounted.items():
        report.notes.append(
            f"{table}: the atom count of {', '.join(columns)} is unknown (no 'atoms in group' "
            "line for its group in log.lammps), so D's ± lacks the sampling of the particles, "
            "its largest part for few of them: it holds the regression and the spread over "
            "windows only")
