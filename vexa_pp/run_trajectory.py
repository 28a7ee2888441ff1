"""The trajectory of a run: the dump its deck wrote (or one lying in the run
directory), its atom types gathered into the deck's groups, and the
transport coefficients over every time origin that `vexa_pp.trajectory`
draws from it, in the shape the rest of the report takes them.

The multi-origin D of each group becomes an `MsdFit` placed before the
single-origin ones, so the finite-size correction, the Nernst-Einstein
conductivity and the summary over runs take it where it exists.
"""

from __future__ import annotations

import math
import re
from collections.abc import Sequence
from dataclasses import dataclass
from fnmatch import fnmatchcase
from pathlib import Path

import numpy as np

from . import electrolyte, lammps
from .dumps import Dump, read_dump
from .results import MsdFit, Options, RunReport, TrajectorySection
from .trajectory import Diffusion, TrajectoryResult, analyze_trajectory

DUMP_PATTERNS = ("*.lammpstrj", "*.lammpstrj.gz", "*.dump", "*.dump.gz")
# Text dump styles the reader takes; LAMMPS names its compressed ones so.
READABLE_STYLES = ("atom", "atom/gz", "custom", "custom/gz")
_THERMOSTAT = re.compile(
    r"^\s*fix\s+\S+\s+\S+\s+(?:nvt|npt|nvt/\S+|npt/\S+|langevin|temp/\S+)\s.*?"
    r"\btemp\s+(\S+)\s+(\S+)", re.MULTILINE)


@dataclass(frozen=True)
class Timing:
    """How the dump's steps and lengths turn into SI units."""

    timestep: float  # s per MD step
    length: float  # m per length unit of the dump
    source: str


def find_dump(directory: Path, entries: Sequence[Path],
              log: lammps.RunLog) -> tuple[Path, Path, str] | None:
    """The dump to read, the path the deck writes it to (its timestep is
    looked up by that path) and how it was found; None without one.

    The deck's last readable dump comes first, compressed after the run or
    not; else the one file named like a dump in the directory (a file and
    its gzipped copy count as one). Raises ValueError when several are: a
    dump of a few frames or of other atoms may lie beside the one meant,
    and a dump written one file per frame leaves many."""
    for dump in reversed(log.dumps):
        if dump.style not in READABLE_STYLES or "*" in dump.file or "%" in dump.file:
            continue
        written = directory / dump.file
        for candidate in (written, written.with_name(written.name + ".gz")):
            if candidate.is_file():
                return candidate, written, f"dump {dump.dump} in {lammps.LOG_NAME}"
    named = sorted(p for p in entries if any(fnmatchcase(p.name, g) for g in DUMP_PATTERNS))
    distinct = [p for p in named if not (p.suffix == ".gz" and p.with_suffix("") in named)]
    if len(distinct) == 1:
        return distinct[0], distinct[0], "its name"
    if distinct:
        shown = ", ".join(p.name for p in distinct[:4]) + (", ..." if len(distinct) > 4 else "")
        raise ValueError(f"no trajectory: {len(distinct)} files are named like dumps ({shown}) "
                         f"and no dump command in {lammps.LOG_NAME} names one of them; "
                         "vexa-pp msd DUMP --log LOG reads the one meant")
    return None


def parse_groups(pairs: Sequence[str]) -> tuple[tuple[str, tuple[int, ...]], ...]:
    """--group NAME=TYPES arguments (types as 3, 1,3 or 1*3). Raises ValueError."""
    result = []
    for pair in pairs:
        name, sep, text = pair.partition("=")
        types = _types(text.replace(",", " ").split()) if sep and name else None
        if not types:
            raise ValueError(f"{pair!r}: give NAME=TYPES, as Na=3 or water=1,2")
        result.append((name, types))
    return tuple(result)


def _types(values: list[str]) -> tuple[int, ...] | None:
    try:
        found: list[int] = []
        for value in values:
            low, star, high = value.partition("*")
            found += range(int(low), int(high) + 1) if star else [int(value)]
        return tuple(found)
    except ValueError:
        return None


def dump_groups(log: lammps.RunLog, present: set[int],
                given: Sequence[tuple[str, tuple[int, ...]]]) -> tuple[dict[str, tuple[int, ...]],
                                                                      str]:
    """Group -> atom types for the groups the dump holds, and where they
    come from.

    The log's groups made of types come first, those whose every type the
    dump holds; a group that only joins smaller ones (NaCl of Na and Cl) is
    left out, and of groups with the same types the first is kept. --group
    replaces a group of that name or adds one. With neither, each type is
    its own group."""
    candidates = {name: set(types) for name, types in log.type_groups.items()
                  if types and set(types) <= present}
    groups: dict[str, tuple[int, ...]] = {}
    for name, members in candidates.items():
        parts = [t for t in candidates.values() if t < members]
        joins = bool(parts) and set().union(*parts) == members
        if not joins and members not in [set(t) for t in groups.values()]:
            groups[name] = tuple(sorted(members))
    source = f"{lammps.LOG_NAME} group commands" if groups else ""
    for name, kinds in given:
        groups[name] = kinds
    if given:
        source = "--group" + (f" and {source}" if source else "")
    if not groups:
        groups = {f"type {t}": (t,) for t in sorted(present)}
        source = "one group per atom type (no group of types in the log; --group names them)"
    return groups, source


def thermostat_temperature(text: str) -> float | None:
    """The target temperature of the deck's last thermostat, in K."""
    found = _THERMOSTAT.findall(text)
    if not found:
        return None
    try:
        return float(found[-1][1])
    except ValueError:
        return None


def timing(log: lammps.RunLog, written: Path, units: str | None = None,
           timestep: float | None = None) -> Timing:
    """The dump's MD step in s and length unit in m: from the unit style and
    timestep given, else from the log. Raises ValueError saying what is
    missing."""
    style_name = units or log.unit_style
    style = lammps.UNIT_STYLES.get(style_name or "")
    if style is None:
        why = (f"unit style {style_name!r} has no SI conversion" if style_name else
               f"no units command in {lammps.LOG_NAME}" if log.present else
               "no log (--log) or --units")
        raise ValueError(f"{written.name}: {why}, so its lengths cannot be turned into m")
    if timestep is None:
        try:
            timestep = log.timestep_for(written)
        except ValueError as exc:
            raise ValueError(f"{written.name}: {exc}" if log.present else
                             f"{written.name}: no log (--log) or --timestep, so its steps "
                             "cannot be turned into time") from None
    return Timing(timestep * style.time, style.length,
                  f"units {style_name}, timestep {timestep:g}")


def analyze_dump(path: Path, found_by: str, dump: Dump, log: lammps.RunLog, timing: Timing,
                 options: Options, given: Sequence[tuple[str, tuple[int, ...]]],
                 temperature: tuple[float | None, str]) -> tuple[TrajectorySection, list[MsdFit]]:
    """The trajectory section and the multi-origin fits of a dump read."""
    groups, groups_from = dump_groups(log, {int(t) for t in np.unique(dump.types)}, given)
    kelvin, kelvin_source = temperature
    charges = {g: z for g in groups if (z := options.charge(g))}
    charges_from = {g: source for g in charges if (source := options.charge_from(g))}
    notes = list(dump.notes)
    if charges and kelvin is None:
        notes.append("no temperature (thermodynamic table, thermostat or --temperature): "
                     "no conductivity")
    try:
        result = analyze_trajectory(dump, groups, charges if kelvin is not None else {},
                                    kelvin if kelvin is not None else 1.0, timing.timestep,
                                    timing.length, settings=options.fit)
    except ValueError as exc:  # the run report lists it among other files' problems
        raise ValueError(f"{path.name}: {exc}") from None
    notes += result.notes
    section = TrajectorySection(
        path.name, found_by, len(dump.ids), result.frames, result.frame_interval,
        result.blocks, result.block_frames, groups, groups_from, charges, kelvin,
        kelvin_source, result.conductivity, tuple(notes), charges_from)
    return section, [_fit(path.name, d, result) for d in result.diffusion]


def _fit(table: str, d: Diffusion, result: TrajectoryResult) -> MsdFit:
    """A group's multi-origin D in the form of a fitted MSD column."""
    time, msd = d.time.tolist(), d.msd.tolist()
    if not d.ok:
        return MsdFit(table, d.group, math.nan, math.nan, math.nan, math.nan, 0, -1, math.nan,
                      time, msd, [], [], group=d.group, particles=d.atoms, multi_origin=True,
                      failure="no window with a log-log slope near 1 within half a block")
    first = round(d.window[0] / result.frame_interval)
    last = round(d.window[1] / result.frame_interval)
    fit_time = time[first:last + 1]
    slope = 6 * d.diffusion
    return MsdFit(
        table, d.group, slope, d.diffusion, d.window[0], d.window[1], last - first + 1, first,
        d.loglog_slope, time, msd, fit_time, [d.intercept + slope * t for t in fit_time],
        msd[first:last + 1], group=d.group, particles=d.atoms, multi_origin=True,
        piece_error=d.error, error_from=d.error_from, pieces=d.pieces,
        particle_error=d.particle_error)


def add_trajectory(report: RunReport, directory: Path, entries: Sequence[Path],
                   log: lammps.RunLog, options: Options) -> None:
    """The run's trajectory section, when it has a dump; a dump that cannot
    be read or analysed is a problem of the run. The temperature is the one
    the corrections take."""
    try:
        found = find_dump(directory, entries, log)
    except ValueError as exc:
        report.warnings.append(str(exc))
        return
    if found is None:
        return
    temperature = ((options.temperature, "--temperature") if options.temperature is not None
                   else electrolyte.thermo_temperature(report))
    path, written, found_by = found
    if path.name not in report.files:
        report.files.append(path.name)
    try:
        when = timing(log, written)
        dump = read_dump(path)
        section, fits = analyze_dump(path, found_by, dump, log, when, options,
                                     options.trajectory_groups, temperature)
    except (OSError, ValueError, MemoryError) as exc:
        report.problems.append(str(exc))
        return
    report.trajectory = section
    report.msd[:0] = fits
