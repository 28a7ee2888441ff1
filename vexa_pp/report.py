"""Human-readable tables and JSON documents for the command line's results."""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import asdict
from typing import Any

from . import physics
from .physics import charge_text
from .results import (
    AnglePeak,
    CoefficientSummary,
    FitSettings,
    MsdFit,
    SUMMARY_QUANTITIES,
    RunReport,
    SeriesValue,
    TrajectorySection,
    shown,
)

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

def pm(value: float, error: float | None, digits: int = 4) -> str:
    """value ± error in scientific notation; the error alone when the value is known."""
    if not math.isfinite(value):
        return "—"
    if error is None or not math.isfinite(error):
        return f"{value:.{digits}e}"
    return f"{value:.{digits}e} ± {error:.2e}"


def run_text(report: RunReport, settings: FitSettings) -> list[str]:
    lines = [f"Run {shown(report.path)}"]
    if report.error:
        return lines + [f"  error: {report.error}"]
    lines.append(f"  files: {', '.join(report.files) if report.files else 'none'}")
    about = [f"units {report.unit_style}"] if report.unit_style else []
    if report.timestep is not None:
        about.append(f"timestep {report.timestep * 1e15:g} fs")
    if report.box:
        about.append(f"{report.box} box")
    if about:
        lines.append(f"  LAMMPS: {', '.join(about)}")
    lines += [f"  missing, skipped: {m}" for m in report.missing]
    lines += [f"  error: {p}" for p in report.problems]
    lines += [f"  warning: {w}" for w in report.warnings]
    lines += [f"  note: {n}" for n in report.notes]

    corrected = report.corrections is not None and report.corrections.shift is not None
    single = [f for f in report.msd if not f.multi_origin]
    if report.trajectory is not None:
        lines += trajectory_text(report.trajectory, report.msd, corrected)
    for name in dict.fromkeys(f.table for f in single):
        fits = [f for f in single if f.table == name]
        lines += ["", f"  Self-diffusion from {name} (MSD in m^2 against time in s; "
                      f"D = slope / {2 * settings.dimensions}; ± joins in quadrature the "
                      "sampling of the N atoms (the window search repeated on simulated runs "
                      "of N atoms), the regression, and the spread over comparable windows "
                      "beyond that sampling)"]
        header = ["column", "D m^2/s", "N", "± sampling", "± fit", "± windows", "windows",
                  "window ps", "points", "of run", "log-log slope"]
        lines += table(header + (["D∞ m^2/s"] if corrected else []),
                       [_fit_row(f, corrected) for f in fits], "    ")

    if report.corrections is not None:
        lines += _corrections_text(report)
    if report.conductivity is not None:
        lines += _conductivity_text(report)
    if report.density_check is not None:
        check = report.density_check
        lines += ["", f"  Density check: the run's {check.run:.2f} ± {check.run_error:.2f} "
                      f"kg/m^3 against {check.model:.2f} kg/m^3 (Laliberte model of {check.salt} at "
                      f"{check.molality:.4g} mol/kg, {check.temperature:.2f} K): "
                      f"{check.percent:+.2f} %"]

    for name, stats in report.thermo.items():
        lines += ["", f"  Thermodynamics from {name} (mean ± block-averaged standard error; "
                      "* no plateau, the largest estimate; std of the rows)"]
        lines += table(["column", "mean", "± error", "std", "rows"],
                       [[c, f"{s.mean:.6g}", f"{s.error:.2g}" + ("" if s.converged else "*"),
                         "—" if s.std is None else f"{s.std:.4g}", str(s.count)]
                        for c, s in stats.items()], "    ")

    volume_unit, density_unit = report.units
    for label, series, unit in (("volume", report.volume, volume_unit),
                                ("density", report.density, density_unit)):
        if series is not None:
            flag = "" if series.converged else ", no plateau"
            lines += ["", f"  {label} {series.mean:.6g} ± {series.error:.2g} {unit} (mean of "
                          f"{series.rows} rows, block-averaged error{flag}; first row "
                          f"{series.first:.6g})"]

    if report.groups:
        lines += ["", "  Atoms per group (log.lammps)"]
        lines += table(["group", "atoms"], [[g, str(n)] for g, n in report.groups.items()], "    ")
    if report.molality:
        solvent = report.groups[report.solvent_group or ""]
        lines += ["", f"  Ion molality per kg of solvent ({solvent} molecules, "
                      f"one atom each in group {report.solvent_group})"]
        lines += table(["ion group", "mol/kg"],
                       [[g, f"{m:.4f}"] for g, m in report.molality.items()], "    ")
        if report.salt and report.salt_molality is not None:
            lines.append(f"    salt {report.salt} (from {report.salt_source}): "
                         f"{report.salt_molality:.4f} mol/kg")

    for peak in report.angle_peaks:
        if peak.blocks > 1 and peak.step is not None:
            continue
        where = f" ({peak.blocks} blocks; the time-averaged histogram)" if peak.blocks > 1 else ""
        lines += ["", f"  Bond-angle histogram {peak.file}{where}: {_peak_text(peak)}"]
        if peak.blocks > 1:
            lines += table(["step", "peak degrees"],
                           [[f"{p.step:g}", f"{p.coordinate:.6g}" if p.found else "no peak"]
                            for p in report.angle_peaks if p.file == peak.file and p.step],
                           "    ")
    return lines


def trajectory_text(section: TrajectorySection, fits: Sequence[MsdFit],
                    corrected: bool = False) -> list[str]:
    """The trajectory's D per group beside the single-origin D of the same
    group, then the collective conductivity and the Haven ratio."""
    groups = ", ".join(f"{g} = type {' '.join(map(str, t))}" for g, t in section.groups.items())
    lines = ["", f"  Trajectory {section.file} (found by {section.found_by}): "
                 f"{section.frames} frames every {section.frame_interval * 1e12:.4g} ps, "
                 f"{section.atoms} atoms; groups from {section.groups_from}: {groups}"]
    lines += [f"    note: {n}" for n in section.notes]
    multi = [f for f in fits if f.multi_origin and f.table == section.file]
    single = {f.group: f for f in reversed(fits) if not f.multi_origin and f.group and f.ok}
    if section.blocks > 1:
        how = (f"the mean over the atoms and {section.blocks} time blocks of "
               f"{section.block_frames} frames; ± is 68 %, Student-t, from the spread of the "
               "blocks' D, which holds what atoms share; ± atoms: the spread over the atoms, "
               "as if they moved apart")
    else:
        how = (f"the mean over the atoms in one block of {section.block_frames} frames; ± is "
               "68 %, Student-t, from the spread over the atoms, blind to what they share")
    lines += ["", f"  Self-diffusion over every time origin (D = slope / 6, {how})"]
    header = ["group", "atoms", "D m^2/s", "± atoms", "window ps", "log-log slope"]
    header += ["single-origin D m^2/s"] if single else []
    rows = []
    for fit in multi:
        one = single.get(fit.group or "")
        row = [fit.column, _count(fit), pm(fit.diffusion, fit.error), _part(fit.particle_error),
               (f"{fit.window_start * 1e12:.4g} .. {fit.window_end * 1e12:.4g}" if fit.ok
                else "no fit"), f"{fit.loglog_slope:.4f}" if fit.ok else "—"]
        row += ["—" if one is None else pm(one.diffusion, one.error)] if single else []
        rows.append(row + ([sci(fit.finite_size)] if corrected else []))
    lines += table(header + (["D∞ m^2/s"] if corrected else []), rows, "    ")
    g = section.conductivity
    if g is None:
        return lines
    charges = ", ".join(f"{name} {charge_text(z)}" for name, z in section.charges.items())
    lines += ["", f"  Collective conductivity at T = {g.temperature:.2f} K "
                  f"({section.temperature_source}), V = {g.volume:.4e} m^3, charges {charges} e"
                  + (f" ({_charges_from(section.charges_from)})" if section.charges_from else "")]
    lines.append(f"    Einstein-Helfand sigma_EH = d/dt <|sum q dr|^2> / (6 V k_B T) over "
                 f"{g.window[0] * 1e12:.4g} .. {g.window[1] * 1e12:.4g} ps: "
                 f"{g.einstein_helfand:.4g} ± {g.einstein_helfand_error:.2g} S/m (± over "
                 f"{g.pieces} pieces: {_blocks(section.blocks)} x 3 components)")
    lines.append(f"    Nernst-Einstein sigma_NE from the D above: {g.nernst_einstein:.4g} ± "
                 f"{g.nernst_einstein_error:.2g} S/m (their ± taken as independent)")
    lines.append(f"    Haven ratio sigma_NE / sigma_EH = {g.haven_ratio:.3g} ± "
                 f"{g.haven_ratio_error:.2g} (1 for ions that move independently; the two "
                 "relative errors in quadrature)")
    return lines


def _charges_from(sources: dict[str, str]) -> str:
    """Where charges neither given nor known by name come from: "Na, Cl from
    the data file system.data"."""
    by_source: dict[str, list[str]] = {}
    for group, source in sources.items():
        by_source.setdefault(source, []).append(group)
    return "; ".join(f"{', '.join(groups)} from {source}" for source, groups in by_source.items())


def _blocks(count: int) -> str:
    return "one time block" if count == 1 else f"{count} time blocks"


def trajectory_json(section: TrajectorySection) -> Json:
    g = section.conductivity
    return {
        "file": section.file, "found_by": section.found_by, "atoms": section.atoms,
        "frames": section.frames, "frame_interval": section.frame_interval,
        "blocks": section.blocks, "block_frames": section.block_frames,
        "groups": {name: list(types) for name, types in section.groups.items()},
        "groups_from": section.groups_from, "charges": section.charges,
        "charges_from": section.charges_from,
        "temperature": section.temperature, "temperature_source": section.temperature_source,
        "notes": list(section.notes),
        "conductivity": None if g is None else {
            "einstein_helfand": g.einstein_helfand,
            "einstein_helfand_error": g.einstein_helfand_error,
            "error_from": f"{_blocks(section.blocks)} x 3 components", "pieces": g.pieces,
            "nernst_einstein": g.nernst_einstein,
            "nernst_einstein_error": g.nernst_einstein_error,
            "haven_ratio": g.haven_ratio, "haven_ratio_error": g.haven_ratio_error,
            "window": list(g.window), "volume": g.volume, "temperature": g.temperature,
            "units": {"einstein_helfand": "S/m", "nernst_einstein": "S/m", "window": "s",
                      "volume": "m^3", "temperature": "K"}},
        "units": {"frame_interval": "s", "temperature": "K"},
    }


def _peak_text(peak: AnglePeak) -> str:
    if not peak.found:
        return "no strict local maximum"
    return (f"peak at {peak.coordinate:.6g} degrees "
            f"(row {peak.index} counted from 0, {peak.column} {peak.value:.6g})")


def _fit_row(fit: MsdFit, corrected: bool) -> list[str]:
    if not fit.ok:
        row = [fit.column, "no fit", _count(fit), "—", "—", "—", "",
               fit.failure or "no window with a log-log slope near 1", "", "", ""]
        return row + (["—"] if corrected else [])
    row = [fit.column, pm(fit.diffusion, fit.error), _count(fit), _part(fit.sampling_error),
           _part(fit.fit_error), _part(fit.window_spread),
           {"windows": str(fit.windows), "halves": "halves"}.get(fit.spread_from, "—"),
           f"{fit.window_start * 1e12:.4g} .. {fit.window_end * 1e12:.4g}",
           str(fit.window_points), f"{100 * fit.share:.2g} %", f"{fit.loglog_slope:.4f}"]
    return row + ([sci(fit.finite_size)] if corrected else [])


def _count(fit: MsdFit) -> str:
    return "?" if fit.particles is None else str(fit.particles)


def _part(error: float) -> str:
    if not math.isfinite(error):
        return "—"
    return f"{error:.1e}" if error else "0"


def _corrections_text(report: RunReport) -> list[str]:
    c = report.corrections
    assert c is not None
    lines = ["", f"  Corrections at T = {c.temperature:.2f} K ({c.temperature_source}), "
                 f"V = {c.volume:.4e} m^3, L = V^(1/3) = {c.box_length * 1e10:.4g} Å"]
    if c.shift is not None and c.viscosity is not None:
        lines.append(f"    finite size (Yeh-Hummer): D∞ = D + xi k_B T / (6 pi eta L) = D + "
                     f"{c.shift:.3e} m^2/s; xi = {physics.YEH_HUMMER_XI}, "
                     f"eta = {c.viscosity * 1e3:.4g} mPa s ({c.viscosity_source})")
    return lines


def _conductivity_text(report: RunReport) -> list[str]:
    g = report.conductivity
    assert g is not None
    origins = (", D over every time origin where the trajectory gives it"
               if report.trajectory is not None else "")
    lines = ["", "  Nernst-Einstein conductivity sigma = e^2 / (V k_B T) sum N z^2 D "
                 f"(ions moving independently{origins})"]
    corrected = report.corrections is not None and report.corrections.shift is not None
    rows = [[c.group, str(c.count), charge_text(c.charge), pm(c.diffusion, c.error)]
            for c in g.carriers]
    lines += table(["ion group", "N", "z", "D m^2/s"], rows, "    ")
    sources = {c.group: report.charges_from[c.group] for c in g.carriers
               if c.group in report.charges_from}
    if sources:
        lines.append(f"    z of {_charges_from(sources)}")
    text = f"    sigma = {g.value:.4g} ± {g.error:.2g} S/m from D"
    if corrected and g.corrected is not None and g.corrected_error is not None:
        text += f"; {g.corrected:.4g} ± {g.corrected_error:.2g} S/m from D∞"
    lines.append(text)
    if g.experimental is not None:
        best = g.corrected if g.corrected is not None else g.value
        lines.append(f"    experimental {g.experimental:.4g} S/m ({g.experimental_source}); "
                     f"simulated / experimental = {best / g.experimental:.3f}")
    if report.hopping is not None:
        h = report.hopping
        lines.append(f"    proton hopping over {h.hop_distance * 1e10:g} Å by {h.carriers} "
                     f"{h.group}, from the gap to {h.md_conductivity:.4g} S/m: "
                     f"tau = {h.tau:.4e} s ({h.tau * 1e12:.4g} ps), D_hop = {h.d_hop:.4e} m^2/s")
    return lines


def analysis_text(reports: list[RunReport], summary: list[CoefficientSummary],
                  settings: FitSettings) -> list[str]:
    """Every run's tables, then the summary over the runs when there are several."""
    lines: list[str] = []
    for count, run in enumerate(reports):
        lines += ([""] if count else []) + run_text(run, settings)
    if len(reports) > 1:
        lines += summary_text(summary)
    return lines


def summary_text(summary: list[CoefficientSummary]) -> list[str]:
    if not summary:
        return []
    runs = summary[0].runs
    lines = ["", f"Diffusion coefficients and conductivities over {runs} runs (failed fits and "
                 "missing values left out; sample std, n - 1; standard error std / sqrt(n))"]
    rows = []
    for s in summary:
        label, unit = SUMMARY_QUANTITIES[s.quantity]
        rows.append([label, s.table or "", s.column or "", sci(s.mean),
                     "—" if s.std is None else sci(s.std),
                     "—" if s.error is None else sci(s.error), unit, f"{s.count}/{s.runs}"])
    lines += table(["quantity", "table", "column", "mean", "std", "± error", "unit", "runs"],
                   rows)
    return lines


def fit_json(fit: MsdFit, settings: FitSettings) -> Json:
    return {
        "table": fit.table,
        "column": fit.column,
        "group": fit.group,
        "slope": number(fit.slope),
        "diffusion_coefficient": number(fit.diffusion),
        "standard_error": number(fit.error),
        "error_parts": fit.error_parts,
        "particles": fit.particles,
        "sampling_error": number(fit.sampling_error),
        "sampling_from": fit.sampling_from or None,
        "sampling_fixed_window": number(fit.sampling_fixed_window),
        "fit_error": number(fit.fit_error),
        "window_spread": number(fit.window_spread),
        "spread_from": fit.spread_from or None,
        "windows": fit.windows,
        "qualifying_windows": fit.qualifying_windows,
        "search_step": fit.search_step,
        "finite_size_corrected": number(fit.finite_size),
        "failure": fit.failure or None,
        "origins": "all" if fit.multi_origin else "first",
        "error_from": fit.error_from or None if fit.multi_origin else None,
        "pieces": fit.pieces if fit.multi_origin else None,
        "particle_error": number(fit.particle_error),
        "dimensions": settings.dimensions,
        "units": {"slope": "m^2/s", "diffusion_coefficient": "m^2/s", "time": "s"},
        "window": None if not fit.ok else {
            "start_time": fit.window_start,
            "end_time": fit.window_end,
            "points": fit.window_points,
            "share_of_rows": fit.share,
            "first_row": fit.first_row,
            "loglog_slope": number(fit.loglog_slope),
        },
    }


def _series_json(series: SeriesValue | None, unit: str) -> Json | None:
    if series is None:
        return None
    return {"value": number(series.first), "mean": number(series.mean),
            "standard_error": number(series.error), "converged": series.converged,
            "rows": series.rows, "unit": unit}


def run_json(report: RunReport, settings: FitSettings) -> Json:
    if report.error:
        return {"run": shown(report.path), "error": report.error}
    volume_unit, density_unit = report.units
    return {
        "run": shown(report.path),
        "files": report.files,
        "missing": report.missing,
        "problems": report.problems,
        "warnings": report.warnings,
        "notes": report.notes,
        "lammps_units": report.unit_style,
        "timestep": report.timestep,
        "box": report.box,
        "msd_fits": [fit_json(f, settings) for f in report.msd],
        "thermo": {name: {c: {"mean": number(s.mean), "standard_error": number(s.error),
                              "converged": s.converged, "std": s.std, "count": s.count}
                          for c, s in stats.items()}
                   for name, stats in report.thermo.items()},
        "volume": _series_json(report.volume, volume_unit),
        "density": _series_json(report.density, density_unit),
        "groups": report.groups,
        "molality": None if not report.molality else {
            "solvent_group": report.solvent_group,
            "unit": "mol/kg",
            "ions": {g: number(m) for g, m in report.molality.items()},
            "salt": report.salt,
            "salt_source": report.salt_source,
            "salt_molality": report.salt_molality,
        },
        "corrections": None if report.corrections is None else {
            **asdict(report.corrections), "xi": physics.YEH_HUMMER_XI,
            "units": {"temperature": "K", "volume": "m^3", "box_length": "m",
                      "viscosity": "Pa s", "shift": "m^2/s"}},
        "conductivity": None if report.conductivity is None else {
            **asdict(report.conductivity), "unit": "S/m"},
        "charges_from": report.charges_from,
        "proton_hopping": None if report.hopping is None else {
            **asdict(report.hopping),
            "units": {"hop_distance": "m", "md_conductivity": "S/m", "tau": "s",
                      "d_hop": "m^2/s"}},
        "density_check": None if report.density_check is None else {
            **asdict(report.density_check), "percent": report.density_check.percent,
            "units": {"molality": "mol/kg", "temperature": "K", "run": "kg/m^3",
                      "model": "kg/m^3"}},
        "trajectory": None if report.trajectory is None else trajectory_json(report.trajectory),
        "angle_peaks": [{"file": p.file, "column": p.column, "blocks": p.blocks,
                         "step": p.step, "found": p.found, "index": p.index,
                         "angle": number(p.coordinate) if p.found else None,
                         "value": number(p.value) if p.found else None}
                        for p in report.angle_peaks],
    }


def analysis_json(reports: list[RunReport], summary: list[CoefficientSummary],
                  settings: FitSettings) -> Json:
    return {
        "fit_settings": {
            "margin": settings.margin,
            "min_window": settings.min_window,  # null: from each MSD's rows
            "max_window": settings.max_window,  # null: no bound
            "tolerance": settings.max_error,
            "min_displacement": settings.min_displacement,
            "dimensions": settings.dimensions,
        },
        "runs": [run_json(r, settings) for r in reports],
        "summary": [{"quantity": s.quantity, "table": s.table, "column": s.column,
                     "mean": number(s.mean), "std": s.std, "standard_error": s.error,
                     "count": s.count, "runs": s.runs,
                     "unit": SUMMARY_QUANTITIES[s.quantity][1]} for s in summary],
    }
