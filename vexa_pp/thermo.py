"""Thermodynamic tables, and the volume and density a run wrote: means with
block-averaged standard errors, in the units the run wrote them in."""

from __future__ import annotations

from collections.abc import Sequence
from pathlib import Path
from typing import cast

from ._vexa_pp import parse_volume_density
from .results import ColumnStats, RunReport, SeriesValue
from .run_files import check_rows, read_or_report
from .tables import read_table
from .uncertainty import block_average, spread


def thermo_means(report: RunReport, path: Path) -> None:
    """The statistics of every column but the timestep, in report.thermo."""
    table = read_or_report(report, lambda p: read_table(p, "thermo"), path)
    if table is None:
        return
    check_rows(report, path, len(next(iter(table.values()), [])))
    stats = {}
    for name, values in table.items():
        if name.lower() == "timestep":
            continue
        # Both read a float64 array as it is (numpy, and the buffer protocol).
        column = cast(Sequence[float], values)
        blocked, rows = block_average(column), spread(column)
        stats[name] = ColumnStats(blocked.mean, blocked.error, blocked.converged, rows.std,
                                  rows.count)
    if not stats:
        report.notes.append(f"{path.name}: no data columns")
    report.thermo[path.name] = stats


def series(report: RunReport, path: Path) -> SeriesValue | None:
    """volume.dat or density.dat: the first row's value, and the mean of the
    second column over all rows (the first row alone when there is no such
    column)."""
    first = read_or_report(report, parse_volume_density, path)
    if first is None:
        return None
    try:
        table = read_table(path, "thermo")
    except (OSError, ValueError):
        table = {}
    values = list(table.values())[1].tolist() if len(table) > 1 else [first]
    blocked = block_average(values)
    return SeriesValue(first, blocked.mean, blocked.error, blocked.converged, len(values))
