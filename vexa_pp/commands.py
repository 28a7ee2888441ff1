"""What each ``vexa-pp`` command does once its options are parsed: analyze,
msd, props and hop, printing text or JSON and drawing plots."""

from __future__ import annotations

import argparse
import contextlib
import dataclasses
import functools
import json
import math
from collections.abc import Callable
from pathlib import Path
from typing import TextIO

from . import (
    analysis,
    cluster,
    data_charges,
    dumps,
    lammps,
    plots,
    report,
    report_props,
    results,
    run_trajectory,
    salts,
)
from ._vexa_pp import diffusion_adjustment, tau_calculator
from .cli import ANGSTROM, charges_from


def _print_json(document: object, out: TextIO) -> None:
    json.dump(report.finite(document), out, indent=2, ensure_ascii=False, allow_nan=False)
    out.write("\n")


def _plot_dir(parser: argparse.ArgumentParser, directory: Path | None) -> Path | None:
    if directory is None:
        return None
    try:
        plots.require_matplotlib()
        directory.mkdir(parents=True, exist_ok=True)
    except plots.PlotUnavailable as exc:
        parser.exit(1, f"{parser.prog}: error: {exc}\n")
    except OSError as exc:
        parser.exit(1, f"{parser.prog}: error: cannot create {directory}: {exc.strerror}\n")
    return directory


def run_analyze(args: argparse.Namespace, parser: argparse.ArgumentParser,
                out: TextIO, err: TextIO) -> int:
    if None not in (args.min_window, args.max_window) and args.min_window >= args.max_window:
        parser.error("--min-window must be smaller than --max-window")
    try:
        charges = charges_from(args.charge)
        salt = salts.find_salt(args.salt).symbol if args.salt else None
    except ValueError as exc:
        parser.error(f"--charge {exc}")
    except salts.UnknownSalt as exc:
        parser.error(str(exc.args[0]))
    try:
        trajectory_groups = run_trajectory.parse_groups(args.group)
    except ValueError as exc:
        parser.error(f"--group {exc}")
    plot_dir = _plot_dir(parser, args.plot)
    settings = results.FitSettings(
        margin=args.margin, min_window=args.min_window, max_window=args.max_window,
        max_error=args.tolerance, min_displacement=args.min_displacement,
        dimensions=args.dimensions)
    options = results.Options(
        fit=settings, peak_neighbors=args.peak_neighbors, solvent_group=args.solvent_group,
        solvent_molar_mass=args.solvent_molar_mass,
        ion_groups=tuple(args.ion_groups) if args.ion_groups else None, charges=charges,
        salt=salt, viscosity=args.viscosity, water_model=args.water_model,
        temperature=args.temperature,
        experimental_conductivity=args.experimental_conductivity,
        hop_distance=None if args.hop_distance is None else args.hop_distance * ANGSTROM,
        trajectory_groups=trajectory_groups)
    runs, repeated = analysis.distinct_runs(args.runs)
    for note in repeated:
        err.write(f"{parser.prog}: note: {note}\n")
    with contextlib.ExitStack() as stack:
        if args.scheduler is not None or args.scheduler_file is not None:
            try:
                client = stack.enter_context(cluster.connect(
                    args.scheduler, args.scheduler_file, args.scheduler_timeout))
            except cluster.ClusterUnavailable as exc:
                parser.exit(1, f"{parser.prog}: error: {exc}\n")
            analyze = functools.partial(cluster.analyze_runs, client=client)
        else:
            analyze = functools.partial(analysis.analyze_runs,
                                        jobs=analysis.workers(runs, args.jobs))
        reports = _with_progress(analyze, runs, options, args.progress, err)
    summary = analysis.summarize(reports)

    planned = plots.analysis_plots(reports, plot_dir) if plot_dir is not None else []
    if args.json:
        # The document names the plots written, so they are drawn first; a
        # plot that fails is named apart and cannot take the document down.
        failed = plots.draw_all(planned, parser.prog, err)
        document = report.analysis_json(reports, summary, settings)
        document["plots"] = [str(path) for path, _ in planned if path not in failed]
        document["failed_plots"] = [{"path": str(path), "error": why}
                                    for path, why in failed.items()]
        _print_json(document, out)
        for run in reports:  # the tables show them in the text report
            for problem in [run.error] if run.error else run.problems:
                err.write(f"{parser.prog}: error: {problem}\n")
        out.flush()
    else:
        # The report goes out before any plot is drawn, so that a plot that
        # fails cannot take it down.
        out.write("\n".join(report.analysis_text(reports, summary, settings)) + "\n")
        out.flush()
        failed = plots.draw_all(planned, parser.prog, err)
        written = [f"  {path.name}" for path, _ in planned if path not in failed]
        if written:
            out.write("\n".join(["", f"Plots written to {plot_dir}:", *written]) + "\n")
    return 1 if failed or any(run.failed for run in reports) else 0


def _with_progress(analyze: Callable[..., list[results.RunReport]], runs: list[Path],
                   options: results.Options, show: bool | None,
                   err: TextIO) -> list[results.RunReport]:
    """analyze(runs, options, progress=...), with a bar on err that counts the
    runs as they are done (by default when there are several and err is a
    terminal)."""
    if show is None:
        show = len(runs) > 1 and err.isatty()
    if not show:
        return analyze(runs, options)
    from tqdm import tqdm  # type: ignore[import-untyped]

    # No monitor thread: it would outlive the bar in a caller's process.
    tqdm.monitor_interval = 0
    with tqdm(total=len(runs), file=err, unit="run") as bar:
        return analyze(runs, options, progress=lambda path: bar.update())


def run_msd(args: argparse.Namespace, parser: argparse.ArgumentParser,
            out: TextIO, err: TextIO) -> int:
    try:
        charges = charges_from(args.charge)
        given = run_trajectory.parse_groups(args.group)
    except ValueError as exc:
        parser.error(str(exc))
    log, text = lammps.RunLog(), ""
    if args.dump.is_dir():
        err.write(f"{parser.prog}: error: {args.dump} is a directory; give the dump file "
                  "(vexa-pp analyze reads a run directory)\n")
        return 1
    try:
        if args.log is not None:
            try:
                text = args.log.read_text(encoding="utf-8", errors="replace")
            except OSError as exc:
                raise OSError(f"{args.log}: {exc.strerror or exc}") from None
            log = lammps.read_log(text)
        # The deck names the dump before it was compressed; its timestep is
        # looked up by that name next to the log.
        written = args.dump.with_suffix("") if args.dump.suffix == ".gz" else args.dump
        if args.log is not None:
            written = args.log.parent / written.name
        timing = run_trajectory.timing(log, written, args.units, args.timestep)
        dump = dumps.read_dump(args.dump)
        kelvin, source = args.temperature, "--temperature"
        if kelvin is None:
            kelvin = run_trajectory.thermostat_temperature(text)
            source = f"the thermostat in {args.log}"
        options = results.Options(charges=charges, temperature=kelvin,
                                  ion_groups=tuple(args.ion_groups or ()) or None,
                                  trajectory_groups=given)
        charged = data_charges.with_data_charges(
            args.log.parent if args.log is not None else Path("."), log, options)
        section, fits = run_trajectory.analyze_dump(
            args.dump, "the command line", dump, log, timing, charged.options, given,
            (kelvin, source if kelvin is not None else ""))
        section = dataclasses.replace(section, notes=(*charged.notes, *section.notes))
    except (OSError, ValueError, MemoryError) as exc:
        err.write(f"{parser.prog}: error: {exc}\n")
        return 1
    unknown = [name for name, _ in charges if name not in section.groups]
    if unknown:
        err.write(f"{parser.prog}: warning: --charge names no group of this trajectory: "
                  f"{', '.join(unknown)} (its groups: {', '.join(section.groups) or 'none'})\n")
    for warning in charged.warnings:
        err.write(f"{parser.prog}: warning: {warning}\n")
    if args.json:
        _print_json({"dump": str(args.dump), "timing": timing.source,
                     "trajectory": report.trajectory_json(section),
                     "msd_fits": [report.fit_json(f, results.FitSettings()) for f in fits]}, out)
    else:
        lines = report.trajectory_text(section, fits)
        out.write("\n".join([f"Dump {args.dump} ({timing.source})", *lines[1:]]) + "\n")
    return 0


def run_props(args: argparse.Namespace, parser: argparse.ArgumentParser,
              out: TextIO, err: TextIO) -> int:
    try:
        salt = salts.find_salt(args.salt)
    except salts.UnknownSalt as exc:
        parser.error(str(exc.args[0]))
    for name in ("molality", "molarity"):
        negative = [v for v in getattr(args, name) or [] if not v >= 0]
        if negative:
            parser.error(f"a {name} cannot be negative (or NaN): {negative[0]:g}")
        if math.inf in (getattr(args, name) or []):
            parser.error(f"a {name} must be finite")
    plot_dir = _plot_dir(parser, args.plot)
    notes: list[str] = []
    try:
        states = salts.solution_states(salt, args.temperature, molalities=args.molality,
                                       molarities=args.molarity, notes=notes)
    except ValueError as exc:
        err.write(f"{parser.prog}: error: {exc}\n")
        return 1
    for note in notes:
        err.write(f"{parser.prog}: note: {note}\n")
    for state in states:
        for warning in salt.range_warnings(state.temperature, state.molality):
            err.write(f"{parser.prog}: warning: {warning}\n")
    path = None
    if plot_dir is not None:
        path = plots.props_path(plot_dir, salt)
    if args.json:
        document = report_props.props_json(salt, states)
        document["plots"] = [] if path is None else [str(path)]
        _print_json(document, out)
    else:
        out.write("\n".join(report_props.props_text(salt, states)) + "\n")
    out.flush()
    if path is None:
        return 0
    if plots.draw(functools.partial(plots.props_figure, salt, states, path), path, parser.prog,
             err) is not None:
        return 1
    if not args.json:
        out.write(f"Plot written to {path}\n")
    return 0


def run_hop(args: argparse.Namespace, parser: argparse.ArgumentParser,
            out: TextIO, err: TextIO) -> int:
    box_length = args.box_length * ANGSTROM
    hop_distance = args.hop_distance * ANGSTROM
    tau = tau_calculator(args.experimental_conductivity, args.md_conductivity,
                         args.temperature, box_length, args.particles, hop_distance)
    d_hop = diffusion_adjustment(tau, hop_distance)
    if args.json:
        _print_json({"tau": report.number(tau), "d_hop": report.number(d_hop),
                     "units": {"tau": "s", "d_hop": "m^2/s"}}, out)
    else:
        out.write(f"tau   = {tau:.6e} s ({tau * 1e12:.6g} ps) between proton hops\n"
                  f"D_hop = {d_hop:.6e} m^2/s\n")
    if not args.experimental_conductivity > args.md_conductivity:
        err.write(f"{parser.prog}: warning: the experimental conductivity is not above the "
                  "simulated one, so no positive hopping time explains the gap\n")
    return 0
