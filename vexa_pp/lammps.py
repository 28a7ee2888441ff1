"""What a LAMMPS run says about itself, and its output files as LAMMPS writes them.

The log echoes every command of the deck, so the unit style, the timestep,
the group of every compute and the file every fix writes are all read from
it. Files written by `fix ave/time` of `compute msd` are turned into a table
in SI units here, so that no converter script stands between LAMMPS and the
analysis; `fix ave/histo` files holding several blocks are split here too.
"""

from __future__ import annotations

import math
import re
from dataclasses import dataclass, field, replace
from pathlib import Path

import numpy as np

from . import row_rule
from .tables import read_table

LOG_NAME = "log.lammps"


@dataclass(frozen=True)
class UnitStyle:
    """SI factors of a LAMMPS unit style, and how it writes volume and density."""

    length: float  # m per length unit
    time: float  # s per time unit
    density: float  # kg/m^3 per density unit
    volume_label: str
    density_label: str

    @property
    def volume(self) -> float:
        return self.length ** 3


UNIT_STYLES = {
    "real": UnitStyle(1e-10, 1e-15, 1e3, "Å^3", "g/cm^3"),
    "metal": UnitStyle(1e-10, 1e-12, 1e3, "Å^3", "g/cm^3"),
    "si": UnitStyle(1.0, 1.0, 1.0, "m^3", "kg/m^3"),
    "cgs": UnitStyle(1e-2, 1.0, 1e3, "cm^3", "g/cm^3"),
    "micro": UnitStyle(1e-6, 1e-6, 1e3, "µm^3", "pg/µm^3"),
    "nano": UnitStyle(1e-9, 1e-9, 1e6, "nm^3", "ag/nm^3"),
}

# The log echoes each line as the deck has it, indented ones (a loop's body) too.
_COMMAND = re.compile(
    r"^\s*(units|timestep|compute|fix|unfix|run|group|dump|undump|atom_style|read_data|set)"
    r"\s+(.*?)\s*$")
_BOX = re.compile(r"(orthogonal|triclinic) box = \(([^)]*)\) to \(([^)]*)\)")
_COLUMN = re.compile(r"^c_([^\[\]]+)\[(\d+)\]$")


@dataclass(frozen=True)
class FixFile:
    """A fix that writes a file, and the lines where it starts and stops."""

    fix: str
    file: str  # as the deck names it, relative to the run directory
    line: int
    end: float = math.inf  # its unfix, or the fix of the same ID that replaces it


@dataclass(frozen=True)
class DumpCommand:
    """A `dump ID group style N file columns...` command of the deck."""

    dump: str
    group: str
    style: str
    every: int | None  # steps between frames; None where not a number
    file: str  # as the deck names it, relative to the run directory
    columns: tuple[str, ...]
    line: int
    end: float = math.inf  # its undump, or the dump of the same ID that replaces it


@dataclass
class RunLog:
    """The deck's commands as the log echoes them, in order, with line numbers."""

    unit_style: str | None = None
    # (line, value in the unit style's time unit, as written) of every
    # timestep command; the value is None where it is not a number.
    timesteps: list[tuple[int, float | None, str]] = field(default_factory=list)
    # (line, steps) of every run command; None where the steps are not a number.
    runs: list[tuple[int, int | None]] = field(default_factory=list)
    compute_groups: dict[str, str] = field(default_factory=dict)  # msd compute -> group
    fix_files: list[FixFile] = field(default_factory=list)
    dumps: list[DumpCommand] = field(default_factory=list)
    # Group -> the atom types it holds, for groups made only of `group NAME
    # type ...` commands (LAMMPS adds to a group named again); None for a
    # group also made by other means (a region, ids, a delete), whose atoms
    # no list of types names.
    type_groups: dict[str, tuple[int, ...] | None] = field(default_factory=dict)
    # (line, arguments) of every atom_style, read_data and set command, as
    # expanded where the log shows a line with variables expanded.
    atom_styles: list[tuple[int, tuple[str, ...]]] = field(default_factory=list)
    data_reads: list[tuple[int, tuple[str, ...]]] = field(default_factory=list)
    sets: list[tuple[int, tuple[str, ...]]] = field(default_factory=list)
    box_shape: str | None = None  # "orthogonal" or "triclinic"
    box_edges: tuple[float, float, float] | None = None  # in length units
    present: bool = False  # there was a log to read
    # LAMMPS closes a log that ran to its end with its total wall time; a log
    # without it stopped mid-run (killed, out of time) or is still written.
    finished: bool = False

    @property
    def units(self) -> UnitStyle | None:
        return UNIT_STYLES.get(self.unit_style or "")

    def timestep_for(self, path: Path) -> float:
        """The timestep of every run that the fix writing that file (in the
        log's directory) took part in. Raises ValueError saying why it cannot
        be known rather than guess: the steps of the file would turn into
        times off by the ratio of two timesteps."""
        fix = self._writer(path)
        if fix is None:
            values = list({value for _, value, _ in self.timesteps})
            if len(values) == 1 and values[0] is not None:
                return values[0]  # one timestep for the whole deck
            if not values:
                raise ValueError(f"no timestep command in {LOG_NAME}, so the steps cannot be "
                                 "turned into time")
            raise ValueError(f"no fix in {LOG_NAME} writes {path.name}, and the deck sets "
                             "the timestep more than once: which one its steps are in is "
                             "unknown")
        runs = [line for line, steps in self.runs if fix.line < line < fix.end and steps != 0]
        if not runs:
            raise ValueError(f"no run in {LOG_NAME} after fix {fix.fix} (line {fix.line + 1}) "
                             "that writes it")
        used: dict[float, int] = {}  # timestep -> line of its command
        for run in runs:
            before = [step for step in self.timesteps if step[0] < run]
            if not before:
                raise ValueError(f"no timestep command before the run on line {run + 1} of "
                                 f"{LOG_NAME}, so the steps cannot be turned into time")
            line, value, text = before[-1]
            if value is None:
                raise ValueError(f"'timestep {text}' on line {line + 1} of {LOG_NAME} is not "
                                 "a number (a variable the log does not expand?), so the steps "
                                 "cannot be turned into time")
            used.setdefault(value, line)
        if len(used) > 1:
            changes = ", ".join(f"{value:g} (line {line + 1})" for value, line in used.items())
            raise ValueError(f"the timestep changes while fix {fix.fix} writes it: {changes}; "
                             "its steps have no single time unit")
        return next(iter(used))

    def _writer(self, path: Path) -> FixFile | None:
        """The last fix writing that file: by its path from the run directory,
        else by its name alone when that is unambiguous (the file was moved
        next to the log)."""
        here = path.resolve()
        writers = self.fix_files + [FixFile(d.dump, d.file, d.line, d.end) for d in self.dumps]
        exact = [f for f in writers if _resolved(path.parent / f.file) == here]
        if exact:
            return exact[-1]
        named = [f for f in writers if Path(f.file).name == path.name]
        return named[-1] if len({f.file for f in named}) == 1 else None

    def cubic_edge(self) -> float | None:
        """The box edge when the log shows a cube, else None."""
        if self.box_shape != "orthogonal" or self.box_edges is None:
            return None
        edges = self.box_edges
        return edges[0] if max(edges) - min(edges) <= 1e-9 * max(edges) else None


def read_log(text: str) -> RunLog:
    log = RunLog(present=True)
    active: dict[str, int] = {}  # fix ID -> index in fix_files, while it is defined
    for number, line in enumerate(text.splitlines()):
        box = _BOX.search(line)
        if box and log.box_shape is None:
            try:
                low = [float(v) for v in box.group(2).split()]
                high = [float(v) for v in box.group(3).split()]
                log.box_shape = box.group(1)
                log.box_edges = (high[0] - low[0], high[1] - low[1], high[2] - low[2])
            except (ValueError, IndexError):
                pass
        command = _COMMAND.match(line)
        if not command:
            log.finished = log.finished or line.startswith("Total wall time")
            continue
        name, args = command.group(1), command.group(2).split()
        if name == "units" and args:
            log.unit_style = args[0]
        elif name == "timestep" and args:
            # LAMMPS echoes a line with variables twice, as written and then
            # expanded, so the expanded value comes last.
            log.timesteps.append((number, _number(args[0]), args[0]))
        elif name == "run":
            steps = _number(args[0]) if args else None
            log.runs.append((number, None if steps is None else int(steps)))
        elif name == "compute" and len(args) >= 3 and args[2] == "msd":
            log.compute_groups[args[0]] = args[1]
        elif name == "group" and len(args) >= 2:
            types = _group_types(args[1:])
            known = log.type_groups.get(args[0], ())
            log.type_groups[args[0]] = (None if types is None or known is None
                                        else tuple(sorted({*known, *types})))
        elif name in ("dump", "undump") and args:
            _dump_command(log, name, args, number)
        elif name in _STRUCTURE and args:
            _expanded(getattr(log, _STRUCTURE[name]), number, tuple(args))
        elif name in ("fix", "unfix") and args:
            if args[0] in active:
                index = active.pop(args[0])
                log.fix_files[index] = replace(log.fix_files[index], end=number)
            keyword = next((k for k, arg in enumerate(args[:-1]) if arg in ("file", "append")),
                           None)
            if name == "fix" and keyword is not None:
                active[args[0]] = len(log.fix_files)
                log.fix_files.append(FixFile(args[0], args[keyword + 1], number))
    return log


_STRUCTURE = {"atom_style": "atom_styles", "read_data": "data_reads", "set": "sets"}


def _expanded(commands: list[tuple[int, tuple[str, ...]]], number: int,
              args: tuple[str, ...]) -> None:
    """Add a command; one that expands the variables of the line just before
    it takes that line's place."""
    if commands and commands[-1][0] == number - 1 and "$" in " ".join(commands[-1][1]):
        commands.pop()
    commands.append((number, args))


def _dump_command(log: RunLog, name: str, args: list[str], number: int) -> None:
    for index, dump in enumerate(log.dumps):
        if dump.dump == args[0] and dump.end == math.inf:
            log.dumps[index] = replace(dump, end=number)
    if name == "dump" and len(args) >= 5:
        every = _number(args[3])
        log.dumps.append(DumpCommand(args[0], args[1], args[2],
                                     None if every is None else int(every), args[4],
                                     tuple(args[5:]), number))


def _group_types(args: list[str]) -> tuple[int, ...] | None:
    """The types of `group NAME type T...` (T a number, or a range as 2*4
    or <> 2 4); None for any other way of making a group."""
    if args[0] != "type" or len(args) < 2:
        return None
    values = args[1:]
    try:
        if values[0] == "<>" and len(values) == 3:
            return tuple(range(int(values[1]), int(values[2]) + 1))
        types: list[int] = []
        for value in values:
            low, star, high = value.partition("*")
            types += range(int(low), int(high) + 1) if star else [int(value)]
        return tuple(types)
    except ValueError:  # an open range (2*), a comparison, a variable
        return None


def _resolved(path: Path) -> Path | None:
    try:
        return path.resolve()
    except (OSError, ValueError, RuntimeError):  # a name no file can have
        return None


def _number(text: str) -> float | None:
    try:
        value = float(text)
    except ValueError:
        return None
    return value if math.isfinite(value) else None


def msd_columns(names: list[str], log: RunLog) -> dict[str, str]:
    """File column -> the name it is reported under, for the total MSD of every
    msd compute (element 4 of its vector): the compute's group when the deck
    says which it is, else the compute's name."""
    found: dict[str, tuple[str, str]] = {}  # column -> (compute, group or compute)
    for name in names:
        match = _COLUMN.match(name)
        if not match or match.group(2) != "4":
            continue
        compute = match.group(1)
        if compute in log.compute_groups or (not log.compute_groups and "msd" in compute.lower()):
            found[name] = (compute, log.compute_groups.get(compute, compute))
    labels = [label for _, label in found.values()]
    # Two computes on one group keep their own names.
    return {name: label if labels.count(label) == 1 else compute
            for name, (compute, label) in found.items()}


def is_msd_file(path: Path, log: RunLog) -> bool:
    """A `fix ave/time` file with at least one compute-msd column."""
    try:
        with path.open("rb") as file:
            head = row_rule.lines(file.read(4096).decode("utf-8", "replace"))
    except OSError:
        return False
    if len(head) < 2 or not head[0].startswith("# Time-averaged data"):
        return False
    names = row_rule.fields(head[1].replace("#", ""))  # as the reader names the columns
    return bool(names) and names[0] == "TimeStep" and bool(msd_columns(names, log))


@dataclass
class MsdTable:
    time: list[float]  # s, from the first row
    columns: dict[str, list[float]]  # reported name -> MSD in m^2
    timestep: float  # s


def read_msd_file(path: Path, log: RunLog) -> MsdTable:
    """The file in SI units. Raises OSError or ValueError with a message that
    names the file."""
    units = log.units
    if units is None:
        why = (f"unit style {log.unit_style!r} has no SI conversion" if log.unit_style
               else f"no units command in {LOG_NAME}" if log.present
               else f"no {LOG_NAME} beside it, whose units and timestep say what it holds")
        raise ValueError(f"{path}: {why}, so the MSD cannot be turned into m^2")
    try:
        dt = log.timestep_for(path)
    except ValueError as exc:
        raise ValueError(f"{path}: {exc}") from None
    table = read_table(path, "thermo")
    steps = table["TimeStep"] if "TimeStep" in table else np.zeros(0)
    first = steps[0] if len(steps) else 0.0
    seconds = dt * units.time
    area = units.length ** 2
    # Element by element the same two roundings as in Python floats.
    return MsdTable(
        time=((steps - first) * seconds).tolist(),
        columns={label: (table[name] * area).tolist()
                 for name, label in msd_columns(list(table), log).items()},
        timestep=seconds,
    )


@dataclass
class HistogramBlock:
    step: float | None  # the block's timestep; None for the time average
    coordinate: list[float]
    value: list[float]


def histogram_blocks(path: Path) -> tuple[str, list[HistogramBlock]]:
    """The blocks of a `fix ave/histo` file and the name of their value column.

    The bond-angle reader reads every row after the first statistics line as
    data, so from the second block on each block starts with its statistics
    line (step, bins, ...) read as a row. The bins per block come from the
    first statistics line."""
    table = {name: column.tolist() for name, column in read_table(path, "bond_angle").items()}
    names = list(table)
    value_name = next((n for n in ("Count/Total", "Count") if n in table),
                      names[-1] if names else "")
    coordinate_name = "Coord" if "Coord" in table else (names[1] if len(names) > 1 else value_name)
    coordinates, values = table.get(coordinate_name, []), table.get(value_name, [])
    # The first statistics line, split as the reader splits its lines.
    first = row_rule.fields(row_rule.lines(path.read_bytes().decode("utf-8", "replace"))[3])
    try:
        step, bins = float(first[0]), int(first[1])
    except (ValueError, IndexError):
        step, bins = math.nan, 0
    starts = range(bins, len(values), bins + 1)
    if (bins <= 0 or len(values) <= bins or (len(values) - bins) % (bins + 1)
            or any(coordinates[start] != bins for start in starts)):
        return value_name, [HistogramBlock(step, coordinates, values)]
    blocks = [HistogramBlock(step, coordinates[:bins], values[:bins])]
    first_column = table[names[0]]
    for start in starts:
        blocks.append(HistogramBlock(first_column[start], coordinates[start + 1:start + 1 + bins],
                                     values[start + 1:start + 1 + bins]))
    return value_name, blocks


def average_block(blocks: list[HistogramBlock]) -> HistogramBlock:
    count = len(blocks)
    return HistogramBlock(None, blocks[0].coordinate,
                          [sum(column) / count for column in zip(*(b.value for b in blocks))])
