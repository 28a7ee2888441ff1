"""Self-diffusion coefficients from mean-squared displacements: the fit of
one MSD column, where its window lies in the table, and the checks that say
when a fit should not be trusted as it stands."""

from __future__ import annotations

import math
from pathlib import Path

from . import lammps, physics
from ._vexa_pp import diff_calculator, parse_vexa_file
from .results import FitSettings, MsdFit, RunReport
from .run_files import check_rows, read_or_report
from .uncertainty import line_fit, spread, window_spread

# Self-diffusion coefficients of liquids lie well inside this band; a value
# outside it is almost always a unit slip.
PLAUSIBLE_D = (1e-12, 1e-6)  # m^2/s
# Windows whose D differ by less than this fraction of D agree, whatever the
# regression's error says.
AGREEMENT = 1e-6
# A window holding less of the run than this was likely picked by chance: on
# a long noisy run some short window always has a log-log slope near 1.
SMALL_SHARE = 0.01


def fit_table(report: RunReport, path: Path, settings: FitSettings) -> None:
    """Every MSD column of a '#Time' table (time in s, MSD in m^2)."""
    table = read_or_report(report, parse_vexa_file, path)
    if table is None:
        return
    names = list(table)
    time_name = "Time" if "Time" in table else names[0]
    check_rows(report, path, len(table[time_name]), time_header=True)
    columns = [n for n in names if n != time_name and n.upper().startswith("MSD")]
    if not columns:
        report.notes.append(f"{path.name}: no MSD column (columns: {', '.join(names)})")
        return
    time = table[time_name]
    for column in columns:
        group = column[3:].lstrip("_") or None
        if group not in report.groups and group not in physics.ION_CHARGES:
            group = None
        report.msd.append(fit_msd(path.name, column, time, table[column], settings, group))


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
        report.msd.append(fit_msd(path.name, column, table.time, msd, settings,
                                  column if column in grouped else None))


def fit_msd(table: str, column: str, time: list[float], msd: list[float],
            settings: FitSettings, group: str | None = None) -> MsdFit:
    """Fit one MSD column.

    Besides the regression's own standard error, which the correlation of
    neighbouring MSD points makes too small, D is fitted over every window
    the search accepts: their spread shows how much the result owes to the
    choice of window. With fewer than three such windows the two
    halves of the chosen one are fitted instead.

    Parameters
    ----------
    table, column : str
        The file and the column the MSD comes from, as the result names them.
    time : list of float
        Time of every row, s.
    msd : list of float
        Mean-squared displacement of every row, m^2.
    settings : FitSettings
        The window search; ``settings.dimensions`` gives D = slope / (2 x dimensions).
    group : str, optional
        The atoms this MSD is of, when known.

    Returns
    -------
    MsdFit
        D in m^2/s with its errors and window (times in s); ``slope`` and
        ``diffusion`` are NaN when no window qualifies.
    """
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
        result.failure = _why_no_window(msd, settings)
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


def _why_no_window(msd: list[float], settings: FitSettings) -> str:
    """A table too short for the window search is told as such: no slope
    was ever looked at."""
    threshold = settings.min_displacement * settings.min_displacement
    kept = sum(1 for m in msd if abs(m) >= threshold)
    needed = rows_needed(settings)
    if needed is None or kept >= needed:
        return "no window with a log-log slope near 1"
    dropped = f" ({len(msd) - kept} below --min-displacement)" if kept < len(msd) else ""
    return f"too short for the window search: needs at least {needed} rows, has {kept}{dropped}"


def rows_needed(settings: FitSettings) -> int | None:
    """The fewest rows that leave one window of --min-window rows once the
    margins are cut off (the search's own truncations); None when no length
    does."""
    margin, shortest = settings.margin, settings.min_window
    if not 0 <= margin < 0.5 or shortest >= settings.max_window:
        return None
    rows = shortest + 1
    while int((1.0 - margin) * rows) - int(margin * rows) <= shortest:
        rows += 1
    return rows


def _loglog_slope(time: list[float], msd: list[float]) -> float:
    """Least-squares slope of log10 |MSD| against log10 t."""
    points = [(math.log10(t), math.log10(abs(m))) for t, m in zip(time, msd) if t > 0 and m != 0]
    return line_fit([x for x, _ in points], [y for _, y in points]).slope


def check_fits(report: RunReport) -> None:
    """Warn of a D outside the plausible band, of windows that disagree by
    more than the regression says, and of windows holding little of the run."""
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
