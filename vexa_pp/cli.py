"""The ``vexa-pp`` command line (also ``python -m vexa_pp``)."""

from __future__ import annotations

import argparse
import json
import math
import os
import sys
import textwrap
import contextlib
import functools
from collections.abc import Callable, Sequence
from pathlib import Path
from typing import TextIO

from . import __version__, analysis, physics, plots, report, salts
from ._vexa_pp import diffusion_adjustment, tau_calculator

ANGSTROM = 1e-10  # m
# Below this a temperature in kelvin is almost surely degrees Celsius.
MIN_TEMPERATURE = 250.0  # K

DESCRIPTION = """\
Post-processing of molecular-dynamics simulations of aqueous electrolytes:
transport coefficients and thermodynamics of LAMMPS runs, properties of salt
solutions, and the proton-hopping correction of a conductivity."""

ANALYZE_HELP = """\
Analyse the files that one or more simulation runs left in their directories:

  log.lammps         atoms per group, unit style, timestep, box, and which
                     group every msd compute follows; the molality of every
                     ion group per kg of solvent (the solvent group has one
                     atom per molecule, OW by default; an ion group, one atom
                     per ion)
  MSD files          LAMMPS fix ave/time of compute msd (any file name), read
                     as written: steps and lengths turned into SI with the
                     log's unit style and the timestep of the runs the fix
                     writing the file took part in (refused when it changes
                     between them or is not a number), columns named after
                     the computes' groups
  transport tables   diffself.dat, diffonsag.dat, viscosity.dat,
                     thermconductivity.dat or any .dat file with a '#Time'
                     header line; time in s, MSD in m^2
  *_prod.dat         thermodynamic table (LAMMPS fix ave/time): column means
                     with block-averaged standard errors
  volume.dat,        volume and density: mean ± standard error over all rows,
  density.dat        and the first row, in the units of the run's unit style
  *angle*.dat        bond-angle histogram (LAMMPS fix ave/histo): the peak of
                     every block and of their average

Every MSD column is fitted over the window of rows whose log-log slope is
closest to 1 (diffusive motion), with a straight line through the MSD there;
the slope divided by 2 x DIMENSIONS is the self-diffusion coefficient D in
m^2/s. Its ± joins the regression's standard error and the sample standard
deviation of D over every window the search accepts (or over the two halves
of the chosen one, when it accepts fewer than three).

The window is chosen by its log-log slope, so the slope shown is near 1 by
construction and says nothing of the fit. On a long noisy run some short
window always comes close to 1 by chance, and on exact data the shortest,
earliest window wins a tie: the table gives the window's share of the rows,
and a share under 1 % is flagged. A larger --min-window (and --max-window)
fits over more of the run; the ± over windows shows how much the choice
matters.

With the run's temperature (thermodynamic table) and mean volume, and a
viscosity (--viscosity, or the experimental one of the salt the ion groups
make, or of --salt), D is corrected for the periodic box (Yeh-Hummer,
D_inf = D + 2.837297 k_B T / (6 pi eta L)); the ion groups' D, counts and
charges give the Nernst-Einstein conductivity, compared with the experimental
one where the bundled models have it (KOH); with --hop-distance the gap gives
the proton-hopping time. The run's density is checked against the salt's
Laliberte density.

A missing file is reported and skipped, and so is a FIFO or device, or a file
whose name is not UTF-8. Over several runs the mean, sample standard
deviation, standard error and count of each D, D_inf and Nernst-Einstein
conductivity are reported as well; failed fits drop out.

Exit status: 0 when everything found could be read, 1 when a run directory is
missing or empty, a file could not be read or parsed, a run failed, or a plot
failed (the rest is still reported), 2 for wrong arguments, 130 when
interrupted."""

PROPS_HELP = """\
Density, molarity or molality, viscosity and, for KOH, electrical conductivity
of an aqueous salt solution, from the Laliberte density and viscosity models
(and the Gilliam conductivity model of KOH) with the bundled parameter table.
Every temperature is combined with every concentration. Molarities are turned
into molalities by inverting the density model; one below {dilute:g} mol/kg is taken
at infinite dilution (molality = molarity / density of water), with a note.

Salts and the sources of their parameters:
{sources}"""

HOP_HELP = """\
Proton-hopping correction: the mean time tau between proton transfers that
would account for the gap between the experimental and the simulated
conductivity of a box of N charge carriers,
    tau = delta^2 e^2 N / (6 k T L^3 (sigma_exp - sigma_md)),
and the diffusion coefficient of that hopping, D_hop = delta^2 / (6 tau)."""


def _number(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"must be a finite number, not {text}")
    return value


def _positive_float(text: str) -> float:
    value = _number(text)
    if not value > 0:
        raise argparse.ArgumentTypeError(f"must be positive, not {text}")
    return value


def _non_negative_float(text: str) -> float:
    value = _number(text)
    if value < 0:
        raise argparse.ArgumentTypeError(f"must not be negative, not {text}")
    return value


def _margin(text: str) -> float:
    value = _number(text)
    if not 0 <= value < 0.5:
        raise argparse.ArgumentTypeError(f"must be at least 0 and below 0.5, not {text}")
    return value


def _kelvin(text: str) -> float:
    value = _number(text)
    if value < MIN_TEMPERATURE:
        raise argparse.ArgumentTypeError(
            f"temperature {value:g} K is below {MIN_TEMPERATURE:g} K: it looks like degrees "
            f"Celsius; give kelvin ({value:g} degC = {value + salts.CELSIUS:g} K)")
    return value


def _positive_int(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, not {value}")
    return value


def _count(text: str) -> int:
    value = int(text)
    if value < 0:
        raise argparse.ArgumentTypeError(f"must not be negative, not {value}")
    return value


def _salt_sources() -> str:
    lines = []
    for symbol, salt in salts.salts().items():
        status = "" if salt.status == "published" else f" [{salt.status}]"
        lines.append(f"  {symbol} ({salt.name}){status}")
        for source in salt.sources:
            lines += textwrap.wrap(source, 78, initial_indent="    - ", subsequent_indent="      ")
    return "\n".join(lines)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="vexa-pp", description=DESCRIPTION,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    analyze = commands.add_parser(
        "analyze", help="analyse simulation run directories", description=ANALYZE_HELP,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    analyze.add_argument("runs", nargs="+", type=Path, metavar="RUN_DIR",
                         help="a directory with the files of one simulation run")
    analyze.add_argument("--json", action="store_true",
                         help="print one JSON document instead of tables (NaN as null)")
    analyze.add_argument("--plot", type=Path, metavar="DIR",
                         help="write a PNG of every MSD table (log-log, fitted windows "
                              "highlighted) into DIR; needs matplotlib")
    analyze.add_argument("--progress", action=argparse.BooleanOptionalAction, default=None,
                         help="show a progress bar on stderr (default: when several runs "
                              "are analysed and stderr is a terminal)")
    analyze.add_argument("--jobs", type=_positive_int, default=os.process_cpu_count() or 1,
                         metavar="N", help="analyse the runs in N worker processes; the "
                                           "results do not depend on it [the cores: %(default)s]")
    fit = analyze.add_argument_group(
        "MSD fit", "how the diffusive window is searched (defaults in brackets)")
    defaults = analysis.FitSettings()
    fit.add_argument("--margin", type=_margin, default=defaults.margin, metavar="FRACTION",
                     help="fraction of the rows left out at each end before windows are "
                          "formed [%(default)s]")
    fit.add_argument("--min-window", type=_count, default=defaults.min_window, metavar="ROWS",
                     help="shortest window, in rows [%(default)s]")
    fit.add_argument("--max-window", type=_count, default=defaults.max_window, metavar="ROWS",
                     help="windows are shorter than this many rows [%(default)s]")
    fit.add_argument("--tolerance", type=_positive_float, default=defaults.max_error,
                     metavar="DEV",
                     help="accept windows whose log-log slope is within DEV of 1 "
                          "[%(default)s]")
    fit.add_argument("--min-displacement", type=_non_negative_float,
                     default=defaults.min_displacement,
                     metavar="METRES",
                     help="leave out rows whose MSD is below this displacement squared "
                          "(the ballistic start) [%(default)s m]")
    fit.add_argument("--dimensions", type=int, choices=(1, 2, 3), default=defaults.dimensions,
                     help="dimensions of the MSD: D = slope / (2 x DIMENSIONS) [%(default)s]")
    groups = analyze.add_argument_group("groups and molality")
    groups.add_argument("--solvent-group", default="OW", metavar="NAME",
                        help="LAMMPS group with one atom per solvent molecule [%(default)s]")
    groups.add_argument("--solvent-molar-mass", type=_positive_float,
                        default=analysis.WATER_MOLAR_MASS, metavar="G_PER_MOL",
                        help="molar mass of the solvent [%(default)s g/mol, water]")
    groups.add_argument("--ion-group", action="append", metavar="NAME", dest="ion_groups",
                        help="an ion group whose molality is wanted; repeat for several "
                             "(default: the groups named like ions, such as Na, K, Cl, OH)")
    groups.add_argument("--charge", action="extend", nargs="+", default=[], metavar="GROUP=Z",
                        help="charges of ion groups, as Na=+1 Cl=-1 (the common ions are "
                             f"known: {', '.join(physics.ION_CHARGES)})")
    physical = analyze.add_argument_group("corrections and conductivity")
    physical.add_argument("--salt", metavar="NAME",
                          help="the salt whose experimental models (Laliberte viscosity and "
                               "density, KOH conductivity) the run is compared with (default: "
                               "the one the ion groups make, when bundled)")
    physical.add_argument("--viscosity", type=_positive_float, metavar="PA_S",
                          help="the force field's own shear viscosity for the finite-size "
                               "correction, Pa s (default: the salt's experimental one)")
    physical.add_argument("--temperature", type=_kelvin, metavar="K",
                          help="temperature of the run (default: the mean of the "
                               "thermodynamic table's temperature column)")
    physical.add_argument("--experimental-conductivity", type=_positive_float, metavar="S_PER_M",
                          help="measured conductivity to compare with (default: the salt's "
                               "model, where there is one)")
    physical.add_argument("--hop-distance", type=_positive_float, metavar="ANGSTROM",
                          help="proton hop distance: the gap between experimental and "
                               "Nernst-Einstein conductivity gives the mean time between hops "
                               "of the OH or H3O group")
    analyze.add_argument("--peak-neighbors", type=_positive_int, default=2, metavar="N",
                         help="a histogram peak is higher than N bins on each side "
                              "[%(default)s]")
    analyze.set_defaults(handler=run_analyze, command_parser=analyze)

    props = commands.add_parser(
        "props", help="properties of salt solutions (Laliberte models)",
        description=PROPS_HELP.format(sources=_salt_sources(), dilute=salts.DILUTE),
        formatter_class=argparse.RawDescriptionHelpFormatter)
    props.add_argument("--salt", required=True, metavar="NAME",
                       help=f"salt formula: {', '.join(salts.salts())}")
    concentration = props.add_mutually_exclusive_group(required=True)
    concentration.add_argument("--molality", type=float, nargs="+", metavar="MOL_PER_KG",
                               help="molalities, mol of salt per kg of water")
    concentration.add_argument("--molarity", type=float, nargs="+", metavar="MOL_PER_L",
                               help="molarities, mol of salt per litre of solution")
    props.add_argument("--temperature", type=_kelvin, nargs="+", required=True, metavar="K",
                       help="temperatures in kelvin")
    props.add_argument("--json", action="store_true", help="print JSON instead of a table")
    props.add_argument("--plot", type=Path, metavar="DIR",
                       help="write property curves against molality as a PNG into DIR; "
                            "needs matplotlib")
    props.set_defaults(handler=run_props, command_parser=props)

    hop = commands.add_parser(
        "hop", help="proton-hopping time and diffusion coefficient", description=HOP_HELP,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    hop.add_argument("--experimental-conductivity", type=_non_negative_float, required=True,
                     metavar="S_PER_M",
                     help="measured conductivity sigma_exp, S/m")
    hop.add_argument("--md-conductivity", type=_non_negative_float, required=True,
                     metavar="S_PER_M",
                     help="conductivity of the simulation sigma_md, S/m")
    hop.add_argument("--temperature", type=_kelvin, required=True, metavar="K",
                     help="temperature, K")
    hop.add_argument("--box-length", type=_positive_float, required=True, metavar="ANGSTROM",
                     help="edge L of the cubic simulation box, Å")
    hop.add_argument("--particles", type=_positive_float, required=True, metavar="N",
                     help="number N of charge carriers in the box")
    hop.add_argument("--hop-distance", type=_positive_float, required=True, metavar="ANGSTROM",
                     help="distance delta of one proton hop, Å")
    hop.add_argument("--json", action="store_true", help="print JSON instead of text")
    hop.set_defaults(handler=run_hop, command_parser=hop)
    return parser


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
    if args.min_window >= args.max_window:
        parser.error("--min-window must be smaller than --max-window")
    try:
        charges = analysis.charges_from(args.charge)
        salt = salts.find_salt(args.salt).symbol if args.salt else None
    except ValueError as exc:
        parser.error(f"--charge {exc}")
    except salts.UnknownSalt as exc:
        parser.error(str(exc.args[0]))
    plot_dir = _plot_dir(parser, args.plot)
    settings = analysis.FitSettings(
        margin=args.margin, min_window=args.min_window, max_window=args.max_window,
        max_error=args.tolerance, min_displacement=args.min_displacement,
        dimensions=args.dimensions)
    options = analysis.Options(
        fit=settings, peak_neighbors=args.peak_neighbors, solvent_group=args.solvent_group,
        solvent_molar_mass=args.solvent_molar_mass,
        ion_groups=tuple(args.ion_groups) if args.ion_groups else None, charges=charges,
        salt=salt, viscosity=args.viscosity, temperature=args.temperature,
        experimental_conductivity=args.experimental_conductivity,
        hop_distance=None if args.hop_distance is None else args.hop_distance * ANGSTROM)
    show_progress = args.progress
    if show_progress is None:
        show_progress = len(args.runs) > 1 and err.isatty()
    if show_progress:
        from tqdm import tqdm  # type: ignore[import-untyped]

        # No monitor thread: it would outlive the bar in a caller's process.
        tqdm.monitor_interval = 0
        with tqdm(total=len(args.runs), file=err, unit="run") as bar:
            reports = analysis.analyze_runs(args.runs, options, args.jobs,
                                            lambda path: bar.update())
    else:
        reports = analysis.analyze_runs(args.runs, options, args.jobs)
    summary = analysis.summarize(reports)

    planned = _analysis_plots(reports, plot_dir) if plot_dir is not None else []
    if args.json:
        # The document names the plots written, so they are drawn first; a
        # plot that fails is named apart and cannot take the document down.
        failed = _draw_all(planned, parser.prog, err)
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
        lines: list[str] = []
        for number, run in enumerate(reports):
            lines += ([""] if number else []) + report.run_text(run, settings)
        if len(reports) > 1:
            lines += report.summary_text(summary)
        out.write("\n".join(lines) + "\n")
        out.flush()
        failed = _draw_all(planned, parser.prog, err)
        written = [f"  {path.name}" for path, _ in planned if path not in failed]
        if written:
            out.write("\n".join(["", f"Plots written to {plot_dir}:", *written]) + "\n")
    return 1 if failed or any(run.failed for run in reports) else 0


def _draw_all(planned: list[tuple[Path, Callable[[], object]]], prog: str,
              err: TextIO) -> dict[Path, str]:
    """Draw every plot; the ones that failed, with why."""
    failed = {}
    for path, draw in planned:
        why = _draw(draw, path, prog, err)
        if why is not None:
            failed[path] = why
    return failed


def _draw(draw: Callable[[], object], path: Path, prog: str, err: TextIO) -> str | None:
    """None when the plot was written, else why not (also told on err)."""
    try:
        draw()
        return None
    except Exception as exc:  # noqa: BLE001 - whatever matplotlib raises, the report stands
        why = f"{type(exc).__name__}: {exc}"
        err.write(f"{prog}: error: plot {path}: {why}\n")
        return why


def _analysis_plots(reports: list[analysis.RunReport],
                    directory: Path) -> list[tuple[Path, Callable[[], object]]]:
    """The plot files to write, each with the call that draws it."""
    planned: list[tuple[Path, Callable[[], object]]] = []
    labels: set[str] = set()
    for run in reports:
        label = base = plots.file_stem(run.path.resolve().name)
        suffix = 2
        while label in labels:
            label, suffix = f"{base}-{suffix}", suffix + 1
        labels.add(label)
        for table in dict.fromkeys(f.table for f in run.msd):
            fits = [f for f in run.msd if f.table == table]
            path = directory / f"{label}_{plots.file_stem(Path(table).stem)}_msd.png"
            title = f"{analysis.shown(run.path.resolve().name)}: {table}"
            planned.append((path, functools.partial(plots.msd_figure, fits, title, path)))
    return planned


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
        path = plot_dir / f"{plots.file_stem(salt.symbol)}_properties.png"
    if args.json:
        document = report.props_json(salt, states)
        document["plots"] = [] if path is None else [str(path)]
        _print_json(document, out)
    else:
        out.write("\n".join(report.props_text(salt, states)) + "\n")
    out.flush()
    if path is None:
        return 0
    if _draw(functools.partial(plots.props_figure, salt, states, path), path, parser.prog,
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


def main(argv: Sequence[str] | None = None, out: TextIO | None = None,
         err: TextIO | None = None) -> int:
    """The command line; returns the exit status. Everything it prints goes to
    out and err, argparse's usage and help included."""
    out = sys.stdout if out is None else out
    err = sys.stderr if err is None else err
    parser = build_parser()
    try:
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            args = parser.parse_args(argv)
            code: int = args.handler(args, args.command_parser, out, err)
        return code
    except SystemExit as exit:
        return exit.code if isinstance(exit.code, int) else 1
    except KeyboardInterrupt:
        err.write(f"{parser.prog}: interrupted\n")
        return 130
    except BrokenPipeError:
        # The reader went away (as with `| head`): say nothing more.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
