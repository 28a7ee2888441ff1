"""Human-readable tables and JSON documents for the command line's results."""

from __future__ import annotations

import math
from collections.abc import Sequence
from typing import Any

from .analysis import CoefficientSummary, FitSettings, MsdFit, RunReport
from .salts import Salt, SolutionState

type Json = dict[str, Any]


def number(value: float | None) -> float | None:
    """A float for JSON: NaN and infinities become null."""
    return value if value is not None and math.isfinite(value) else None


def finite(document: object) -> object:
    """The document with every NaN or infinite float replaced by None."""
    if isinstance(document, float):
        return document if math.isfinite(document) else None
    if isinstance(document, dict):
        return {key: finite(value) for key, value in document.items()}
    if isinstance(document, (list, tuple)):
        return [finite(value) for value in document]
    return document


def sci(value: float) -> str:
    return f"{value:.4e}" if math.isfinite(value) else "—"


def table(header: Sequence[str], rows: Sequence[Sequence[str]], indent: str = "  ") -> list[str]:
    """Columns left-aligned for the first, right-aligned for the others."""
    widths = [max(len(str(r[i])) for r in [header, *rows]) for i in range(len(header))]

    def line(cells: Sequence[str]) -> str:
        parts = [cells[0].ljust(widths[0])]
        parts += [c.rjust(w) for c, w in zip(cells[1:], widths[1:])]
        return (indent + "  ".join(parts)).rstrip()

    return [line(header), *(line(r) for r in rows)]


# ---- analyze ---------------------------------------------------------------

def run_text(report: RunReport, settings: FitSettings) -> list[str]:
    lines = [f"Run {report.path}"]
    if report.error:
        return lines + [f"  error: {report.error}"]
    lines.append(f"  files: {', '.join(report.files) if report.files else 'none'}")
    lines += [f"  missing, skipped: {m}" for m in report.missing]
    lines += [f"  error: {p}" for p in report.problems]
    lines += [f"  note: {n}" for n in report.notes]

    for name in dict.fromkeys(f.table for f in report.msd):
        fits = [f for f in report.msd if f.table == name]
        lines += ["", f"  Self-diffusion from {name} (time in s, MSD in m^2; "
                      f"D = slope / {2 * settings.dimensions})"]
        lines += table(["column", "slope m^2/s", "D m^2/s", "window ps", "points",
                        "log-log slope"], [_fit_row(f) for f in fits], "    ")

    for name, stats in report.thermo.items():
        lines += ["", f"  Thermodynamics from {name} (mean and population std over the rows)"]
        lines += table(["column", "mean", "std", "rows"],
                       [[c, f"{s.mean:.6g}", f"{s.std:.4g}", str(s.count)]
                        for c, s in stats.items()], "    ")

    if report.volume is not None or report.density is not None:
        volume_unit, density_unit = report.units
        parts = []
        if report.volume is not None:
            parts.append(f"volume {report.volume:.6g} {volume_unit}")
        if report.density is not None:
            parts.append(f"density {report.density:.6g} {density_unit}")
        lines += ["", "  " + ", ".join(parts) + " (first rows of volume.dat, density.dat)"]

    if report.groups:
        lines += ["", "  Atoms per group (log.lammps)"]
        lines += table(["group", "atoms"], [[g, str(n)] for g, n in report.groups.items()], "    ")
    if report.molality:
        solvent = report.groups[report.solvent_group or ""]
        lines += ["", f"  Ion molality per kg of solvent ({solvent} molecules, "
                      f"one atom each in group {report.solvent_group})"]
        lines += table(["ion group", "mol/kg"],
                       [[g, f"{m:.4f}"] for g, m in report.molality.items()], "    ")

    for peak in report.angle_peaks:
        if peak.found:
            text = (f"peak at {peak.coordinate:.6g} degrees "
                    f"(row {peak.index} counted from 0, {peak.column} {peak.value:.6g})")
        else:
            text = "no strict local maximum"
        lines += ["", f"  Bond-angle histogram {peak.file}: {text}"]
    return lines


def _fit_row(fit: MsdFit) -> list[str]:
    if not fit.ok:
        return [fit.column, "no fit", "—", "no window with a log-log slope near 1", "", ""]
    return [fit.column, sci(fit.slope), sci(fit.diffusion),
            f"{fit.window_start * 1e12:.4g} .. {fit.window_end * 1e12:.4g}",
            str(fit.window_points),
            f"{fit.loglog_slope:.4f}"]


def summary_text(summary: list[CoefficientSummary]) -> list[str]:
    if not summary:
        return []
    runs = summary[0].runs
    lines = ["", f"Diffusion coefficients over {runs} runs (failed fits and missing tables "
                 "left out; population std)"]
    lines += table(["table", "column", "mean m^2/s", "std m^2/s", "runs"],
                   [[s.table, s.column, sci(s.mean), sci(s.std), f"{s.count}/{s.runs}"]
                    for s in summary])
    return lines


def fit_json(fit: MsdFit, settings: FitSettings) -> Json:
    return {
        "table": fit.table,
        "column": fit.column,
        "slope": number(fit.slope),
        "diffusion_coefficient": number(fit.diffusion),
        "dimensions": settings.dimensions,
        "units": {"slope": "m^2/s", "diffusion_coefficient": "m^2/s", "time": "s"},
        "window": None if not fit.ok else {
            "start_time": fit.window_start,
            "end_time": fit.window_end,
            "points": fit.window_points,
            "first_row": fit.first_row,
            "loglog_slope": number(fit.loglog_slope),
        },
    }


def run_json(report: RunReport, settings: FitSettings) -> Json:
    if report.error:
        return {"run": str(report.path), "error": report.error}
    volume_unit, density_unit = report.units
    return {
        "run": str(report.path),
        "files": report.files,
        "missing": report.missing,
        "problems": report.problems,
        "notes": report.notes,
        "msd_fits": [fit_json(f, settings) for f in report.msd],
        "thermo": {name: {c: {"mean": number(s.mean), "std": number(s.std), "count": s.count}
                          for c, s in stats.items()}
                   for name, stats in report.thermo.items()},
        "lammps_units": report.unit_style,
        "volume": None if report.volume is None else {
            "value": number(report.volume), "unit": volume_unit},
        "density": None if report.density is None else {
            "value": number(report.density), "unit": density_unit},
        "groups": report.groups,
        "molality": None if not report.molality else {
            "solvent_group": report.solvent_group,
            "unit": "mol/kg",
            "ions": {g: number(m) for g, m in report.molality.items()},
        },
        "angle_peaks": [{"file": p.file, "column": p.column, "found": p.found, "index": p.index,
                         "angle": number(p.coordinate) if p.found else None,
                         "value": number(p.value) if p.found else None}
                        for p in report.angle_peaks],
    }


def analysis_json(reports: list[RunReport], summary: list[CoefficientSummary],
                  settings: FitSettings) -> Json:
    return {
        "fit_settings": {
            "margin": settings.margin,
            "min_window": settings.min_window,
            "max_window": settings.max_window,
            "tolerance": settings.max_error,
            "min_displacement": settings.min_displacement,
            "dimensions": settings.dimensions,
        },
        "runs": [run_json(r, settings) for r in reports],
        "summary": [{"table": s.table, "column": s.column, "mean": number(s.mean),
                     "std": number(s.std), "count": s.count, "runs": s.runs,
                     "unit": "m^2/s"} for s in summary],
    }


# ---- props -----------------------------------------------------------------

def props_text(salt: Salt, states: list[SolutionState]) -> list[str]:
    lines = [f"{salt.symbol} ({salt.name}, {salt.molecular_weight} g/mol), Laliberte model"]
    if salt.status != "published":
        lines.append(f"  note: the {salt.symbol} parameters are {salt.status}, see the sources")
    header = ["T K", "molality mol/kg", "molarity mol/L", "mass fraction", "density kg/m^3",
              "viscosity mPa s"]
    conductivity = salt.conductivity is not None
    if conductivity:
        header.append("conductivity S/m")
    rows = []
    for s in states:
        row = [f"{s.temperature:.2f}", f"{s.molality:.5g}", f"{s.molarity:.5g}",
               f"{s.mass_fraction:.5f}", f"{s.density:.2f}", f"{s.viscosity * 1e3:.4f}"]
        if conductivity:
            row.append(f"{s.conductivity:.4g}" if s.conductivity is not None else "")
        rows.append(row)
    lines += table(header, rows)
    lines += ["Sources:"] + [f"  {source}" for source in salt.sources]
    return lines


def props_json(salt: Salt, states: list[SolutionState]) -> Json:
    return {
        "salt": salt.symbol,
        "name": salt.name,
        "molecular_weight": salt.molecular_weight,
        "status": salt.status,
        "sources": list(salt.sources),
        "units": {"temperature": "K", "molality": "mol/kg", "molarity": "mol/L",
                  "density": "kg/m^3", "viscosity": "Pa s", "conductivity": "S/m"},
        "states": [{"temperature": s.temperature, "molality": number(s.molality),
                    "molarity": number(s.molarity), "mass_fraction": number(s.mass_fraction),
                    "density": number(s.density), "viscosity": number(s.viscosity),
                    "conductivity": number(s.conductivity)} for s in states],
    }
