"""The ``vexa-pp`` command line (also ``python -m vexa_pp``)."""

from __future__ import annotations

import argparse
import math
import os
import re
import sys
import contextlib
from collections.abc import Callable, Iterable, Sequence
from pathlib import Path
from typing import TextIO

from . import (
    __version__,
    cluster,
    lammps,
    physics,
    results,
    salts,
    water_models,
)
from .cli_help import ANALYZE_HELP, DESCRIPTION, HOP_HELP, MSD_HELP, props_help

ANGSTROM = 1e-10  # m
# Below this a temperature in kelvin is almost surely degrees Celsius.
MIN_TEMPERATURE = 250.0  # K


def _number(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"must be a finite number, not {text}")
    return value


# Units a physical option may be written in, as factors to the unit it asks
# for; blanks, '.', '*' and '·' inside a unit are left out before the lookup.
VISCOSITY_UNITS = {"Pas": 1.0, "mPas": 1e-3, "cP": 1e-3}  # to Pa s
LENGTH_UNITS = {"Å": 1.0, "A": 1.0, "nm": 10.0, "pm": 0.01, "m": 1e10}  # to Å
METRE_UNITS = {unit: factor * ANGSTROM for unit, factor in LENGTH_UNITS.items()}
CONDUCTIVITY_UNITS = {"S/m": 1.0, "mS/cm": 0.1, "mS/m": 1e-3, "uS/cm": 1e-4, "µS/cm": 1e-4}
_QUANTITY = re.compile(r"\s*([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)\s*(\S.*)?")


def _quantity(units: dict[str, float]) -> Callable[[str], float]:
    """A number in the option's own unit, or followed by one of units."""

    def convert(text: str) -> float:
        match = _QUANTITY.fullmatch(text)
        if match is None or match.group(2) is None:
            return _number(text)
        unit = re.sub(r"[\s.*·]", "", match.group(2))
        if unit not in units:
            raise argparse.ArgumentTypeError(
                f"unknown unit {match.group(2)!r} (known: {', '.join(units)})")
        return _number(match.group(1)) * units[unit]

    return convert


def _bounded[T: (int, float)](name: str, convert: Callable[[str], T],
                              accept: Callable[[T], bool], rule: str,
                              hint: str = "") -> Callable[[str], T]:
    """An argparse type: the text converted, and refused with "must RULE"
    (and the hint, which says how a slip of unit is written right) unless
    accept(value). argparse names a type that cannot convert by its
    __name__, so each keeps its own."""

    def parse(text: str) -> T:
        value = convert(text)
        if not accept(value):
            # A float as typed; an integer as read ('007' is 7).
            shown = text if isinstance(value, float) else value
            raise argparse.ArgumentTypeError(f"must {rule}, not {shown}{hint}")
        return value

    parse.__name__ = name
    return parse


_positive_float = _bounded("_positive_float", _number, lambda v: v > 0, "be positive")
_margin = _bounded("_margin", _number, lambda v: 0 <= v < 0.5, "be at least 0 and below 0.5")
_positive_int = _bounded("_positive_int", int, lambda v: v >= 1, "be at least 1")
_count = _bounded("_count", int, lambda v: v >= 0, "not be negative")
# Physical inputs: bounds wide enough for any aqueous run, narrow enough that
# a value typed in another unit than the one asked for falls outside.
_viscosity = _bounded("_viscosity", _quantity(VISCOSITY_UNITS), lambda v: 1e-5 <= v <= 1,
                      "lie within 1e-5 .. 1 Pa s, where liquids are",
                      "; a bare number is Pa s: write the unit, as 0.73mPa.s or 7.3e-4Pa.s")
_box_length = _bounded("_box_length", _quantity(LENGTH_UNITS), lambda v: v >= 10,
                       "be at least 10 Å for a box that holds a liquid",
                       "; a bare number is Å: write the unit, as 2.17nm or 21.7A")
_hop_distance = _bounded("_hop_distance", _quantity(LENGTH_UNITS), lambda v: 1 <= v <= 10,
                         "lie within 1 .. 10 Å", "; a bare number is Å: write the unit, as "
                         "0.25nm or 2.5A")
_metres = _bounded("_metres", _quantity(METRE_UNITS), lambda v: 0 <= v <= 1e-8,
                   "lie within 0 .. 1e-8 m", "; a bare number is metres: write the unit, as 1A")
_conductivity = _bounded("_conductivity", _quantity(CONDUCTIVITY_UNITS),
                         lambda v: 0 <= v <= 200, "lie within 0 .. 200 S/m",
                         "; a bare number is S/m: write the unit, as 600mS/cm")
_positive_conductivity = _bounded("_positive_conductivity", _conductivity, lambda v: v > 0,
                                  "be positive")
_molar_mass = _bounded("_molar_mass", _number, lambda v: 1 <= v <= 1000,
                       "lie within 1 .. 1000 g/mol", " (g/mol, not kg/mol)")
_carriers = _bounded("_carriers", _number, lambda v: v >= 1,
                     "be at least 1: it counts the carriers in the box")


def _water_model(text: str) -> str:
    try:
        return water_models.find_water_model(text).name
    except water_models.UnknownWaterModel as exc:
        raise argparse.ArgumentTypeError(str(exc.args[0])) from None


def _kelvin(text: str) -> float:
    value = _number(text)
    if value < MIN_TEMPERATURE:
        raise argparse.ArgumentTypeError(
            f"temperature {value:g} K is below {MIN_TEMPERATURE:g} K: it looks like degrees "
            f"Celsius; give kelvin ({value:g} degC = {value + salts.CELSIUS:g} K)")
    return value


def charges_from(pairs: Iterable[str]) -> tuple[tuple[str, float], ...]:
    """--charge NAME=Z arguments, as (name, charge) pairs: a whole charge as
    an int, a scaled one (Na=+0.85) as a float. Raises ValueError."""
    result = []
    for pair in pairs:
        name, sep, value = pair.partition("=")
        try:
            charge = float(value)
        except ValueError:
            charge = math.nan
        if not sep or not name or not math.isfinite(charge):
            raise ValueError(f"{pair!r}: give NAME=CHARGE, as Na=+1 or Na=+0.85")
        result.append((name, physics.whole(charge)))
    return tuple(result)


def _group_option(parser: argparse._ActionsContainer) -> None:
    parser.add_argument("--group", action="extend", nargs="+", default=[],
                        metavar="NAME=TYPES",
                        help="atom types of a trajectory group, as Na=3 or water=1,2; replaces "
                             "the log's group of that name (default: the log's groups made "
                             "of types, save those that only join others)")


def build_parser() -> argparse.ArgumentParser:
    from . import commands as bodies  # they use this module's option parsing

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
    where = analyze.add_argument_group(
        "where the runs are analysed", "one of these; the results do not depend on it")
    workers = where.add_mutually_exclusive_group()
    workers.add_argument("--jobs", type=_positive_int, default=os.process_cpu_count() or 1,
                         metavar="N", help="analyse the runs in up to N worker processes on "
                                           "this machine, fewer when the runs are few or "
                                           "small [the cores: %(default)s]")
    workers.add_argument("--scheduler", metavar="ADDRESS",
                         help="send each run to the workers of the Dask scheduler at ADDRESS "
                              "(tcp://host:8786), which read its files where they are; "
                              f"needs {cluster.INSTALL}")
    workers.add_argument("--scheduler-file", type=Path, metavar="PATH",
                         help="the same, with the scheduler named by the file that "
                              "`dask scheduler --scheduler-file PATH` wrote")
    where.add_argument("--scheduler-timeout", type=_positive_float,
                       default=cluster.CONNECT_TIMEOUT, metavar="SECONDS",
                       help="give up when the scheduler does not answer within SECONDS "
                            "[%(default)s]")
    fit = analyze.add_argument_group(
        "MSD fit", "how the diffusive window is searched (defaults in brackets)")
    defaults = results.FitSettings()
    fit.add_argument("--margin", type=_margin, default=defaults.margin, metavar="FRACTION",
                     help="fraction of the rows left out at each end before windows are "
                          "formed [%(default)s]")
    fit.add_argument("--min-window", type=_count, default=defaults.min_window, metavar="ROWS",
                     help="shortest window, in rows [a twentieth of the MSD's rows, at "
                          "least 10]")
    fit.add_argument("--max-window", type=_count, default=defaults.max_window, metavar="ROWS",
                     help="windows are shorter than this many rows [no bound: among the "
                          "windows whose log-log slope qualifies, the one whose D is known "
                          "best, the earliest and longest, is fitted]")
    fit.add_argument("--tolerance", type=_positive_float, default=defaults.max_error,
                     metavar="DEV",
                     help="accept windows whose log-log slope is within DEV of 1 "
                          "[%(default)s]")
    fit.add_argument("--min-displacement", type=_metres,
                     default=defaults.min_displacement,
                     metavar="METRES",
                     help="leave out rows whose MSD is below this displacement squared "
                          "(the ballistic start), m or with its unit (1A) [%(default)s m]")
    fit.add_argument("--dimensions", type=int, choices=(1, 2, 3), default=defaults.dimensions,
                     help="dimensions of the MSD: D = slope / (2 x DIMENSIONS) [%(default)s]")
    groups = analyze.add_argument_group("groups and molality")
    groups.add_argument("--solvent-group", default="OW", metavar="NAME",
                        help="LAMMPS group with one atom per solvent molecule [%(default)s]")
    groups.add_argument("--solvent-molar-mass", type=_molar_mass,
                        default=results.WATER_MOLAR_MASS, metavar="G_PER_MOL",
                        help="molar mass of the solvent [%(default)s g/mol, water]")
    groups.add_argument("--ion-group", action="append", metavar="NAME", dest="ion_groups",
                        help="an ion group whose molality is wanted; repeat for several "
                             "(default: the groups named like ions, such as Na, K, Cl, OH)")
    groups.add_argument("--charge", action="extend", nargs="+", default=[], metavar="GROUP=Z",
                        help="charges of ion groups, as Na=+1 Cl=-1 or Na=+0.85 (default: "
                             "those of the data file the log's read_data names, else those "
                             f"of the common ions: {', '.join(physics.ION_CHARGES)})")
    _group_option(groups)
    physical = analyze.add_argument_group("corrections and conductivity")
    physical.add_argument("--salt", metavar="NAME",
                          help="the salt whose experimental models (Laliberte viscosity and "
                               "density, KOH conductivity) the run is compared with (default: "
                               "the one the ion groups make, when bundled)")
    liquid = physical.add_mutually_exclusive_group()
    liquid.add_argument("--viscosity", type=_viscosity, metavar="PA_S",
                        help="the force field's own shear viscosity for the finite-size "
                             "correction, Pa s or with its unit (0.73mPa.s, 0.73cP) "
                             "(default: the salt's experimental one, the real solution's)")
    liquid.add_argument("--water-model", type=_water_model, metavar="NAME",
                        help="take the simulated liquid's viscosity from the bundled "
                             "published value of this water model (known: "
                             f"{', '.join(water_models.water_models())}), times the salt's "
                             "experimental thickening of water")
    physical.add_argument("--temperature", type=_kelvin, metavar="K",
                          help="temperature of the run (default: the mean of the "
                               "thermodynamic table's temperature column)")
    physical.add_argument("--experimental-conductivity", type=_positive_conductivity,
                          metavar="S_PER_M",
                          help="measured conductivity to compare with, S/m or with its unit "
                               "(600mS/cm) (default: the salt's model, where there is one)")
    physical.add_argument("--hop-distance", type=_hop_distance, metavar="ANGSTROM",
                          help="proton hop distance, Å or with its unit (0.25nm): the gap "
                               "between experimental and "
                               "Nernst-Einstein conductivity gives the mean time between hops "
                               "of the OH or H3O group")
    analyze.add_argument("--peak-neighbors", type=_positive_int, default=2, metavar="N",
                         help="a histogram peak is higher than N bins on each side "
                              "[%(default)s]")
    analyze.set_defaults(handler=bodies.run_analyze, command_parser=analyze)

    msd = commands.add_parser(
        "msd", help="diffusion and conductivity from a LAMMPS dump over every time origin",
        description=MSD_HELP, formatter_class=argparse.RawDescriptionHelpFormatter)
    msd.add_argument("dump", type=Path, metavar="DUMP",
                     help="a LAMMPS text dump (dump custom or atom; .gz read as such)")
    msd.add_argument("--log", type=Path, metavar="LOG",
                     help="the run's log.lammps: unit style, timestep, groups of types, "
                          "thermostat temperature, the data file with the ions' charges")
    _group_option(msd)
    msd.add_argument("--charge", action="extend", nargs="+", default=[], metavar="GROUP=Z",
                     help="charges of ion groups, as Na=+1 Cl=-1 or Na=+0.85 (default: the "
                          "data file's, else those of the common ions)")
    msd.add_argument("--ion-group", action="append", metavar="NAME", dest="ion_groups",
                     help="a group that takes its charge from the data file though not named "
                          "like a common ion; repeat for several")
    msd.add_argument("--temperature", type=_kelvin, metavar="K",
                     help="temperature for the conductivity (default: the log's thermostat)")
    msd.add_argument("--units", choices=sorted(lammps.UNIT_STYLES), metavar="STYLE",
                     help="LAMMPS unit style of the dump (default: the log's)")
    msd.add_argument("--timestep", type=_positive_float, metavar="STEP",
                     help="MD timestep in the unit style's time unit (default: the log's)")
    msd.add_argument("--json", action="store_true", help="print JSON instead of text")
    msd.set_defaults(handler=bodies.run_msd, command_parser=msd)

    props = commands.add_parser(
        "props", help="properties of salt solutions (Laliberte models)",
        description=props_help(),
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
    props.set_defaults(handler=bodies.run_props, command_parser=props)

    hop = commands.add_parser(
        "hop", help="proton-hopping time and diffusion coefficient", description=HOP_HELP,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    hop.add_argument("--experimental-conductivity", type=_conductivity, required=True,
                     metavar="S_PER_M",
                     help="measured conductivity sigma_exp, S/m (or 600mS/cm)")
    hop.add_argument("--md-conductivity", type=_conductivity, required=True,
                     metavar="S_PER_M",
                     help="conductivity of the simulation sigma_md, S/m")
    hop.add_argument("--temperature", type=_kelvin, required=True, metavar="K",
                     help="temperature, K")
    hop.add_argument("--box-length", type=_box_length, required=True, metavar="ANGSTROM",
                     help="edge L of the cubic simulation box, Å (or 2.17nm)")
    hop.add_argument("--particles", type=_carriers, required=True, metavar="N",
                     help="number N of charge carriers in the box")
    hop.add_argument("--hop-distance", type=_hop_distance, required=True, metavar="ANGSTROM",
                     help="distance delta of one proton hop, Å (or 0.25nm)")
    hop.add_argument("--json", action="store_true", help="print JSON instead of text")
    hop.set_defaults(handler=bodies.run_hop, command_parser=hop)
    return parser


def main(argv: Sequence[str] | None = None, out: TextIO | None = None,
         err: TextIO | None = None) -> int:
    """The command line, run in this process.

    Parameters
    ----------
    argv : sequence of str, optional
        The arguments after the program's name (default: ``sys.argv[1:]``).
    out, err : text stream, optional
        Where everything is printed, argparse's usage and help included
        (default: ``sys.stdout`` and ``sys.stderr``).

    Returns
    -------
    int
        The exit status: 0 when all went well, 1 when something could not be
        read, computed or drawn, 2 for wrong arguments, 130 when interrupted.
    """
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
