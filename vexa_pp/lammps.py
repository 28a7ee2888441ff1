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
from dataclasses import dataclass, field
from pathlib import Path

from ._vexa_pp import parse_bond_angle, parse_thermoprop


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

_COMMAND = re.compile(r"^(units|timestep|compute|fix|run|group)\s+(.*?)\s*$")
_BOX = re.compile(r"(orthogonal|triclinic) box = \(([^)]*)\) to \(([^)]*)\)")
_COLUMN = re.compile(r"^c_([^\[\]]+)\[(\d+)\]$")


@dataclass
class RunLog:
    """The deck's commands as the log echoes them, in order, with line numbers."""

    unit_style: str | None = None
    # (line, value in the unit style's time unit) of every timestep command.
    timesteps: list[tuple[int, float]] = field(default_factory=list)
    runs: list[int] = field(default_factory=list)  # lines of the run commands
    compute_groups: dict[str, str] = field(default_factory=dict)  # msd compute -> group
    fix_files: dict[str, int] = field(default_factory=dict)  # file name -> line of its fix
    box_shape: str | None = None  # "orthogonal" or "triclinic"
    box_edges: tuple[float, float, float] | None = None  # in length units

    @property
    def units(self) -> UnitStyle | None:
        return UNIT_STYLES.get(self.unit_style or "")

    def timestep_for(self, file_name: str) -> float | None:
        """The timestep in force while the fix writing that file ran: the last
        timestep command before the first run after the fix was defined."""
        defined = self.fix_files.get(file_name, 0)
        run = next((line for line in self.runs if line > defined), math.inf)
        steps = [value for line, value in self.timesteps if line < run]
        return steps[-1] if steps else None

    def cubic_edge(self) -> float | None:
        """The box edge when the log shows a cube, else None."""
        if self.box_shape != "orthogonal" or self.box_edges is None:
            return None
        edges = self.box_edges
        return edges[0] if max(edges) - min(edges) <= 1e-9 * max(edges) else None


def read_log(text: str) -> RunLog:
    log = RunLog()
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
            continue
        name, args = command.group(1), command.group(2).split()
        if name == "units" and args:
            log.unit_style = args[0]
        elif name == "timestep" and args:
            try:
                log.timesteps.append((number, float(args[0])))
            except ValueError:
                pass  # an unexpanded variable: the timestep stays unknown
        elif name == "run":
            log.runs.append(number)
        elif name == "compute" and len(args) >= 3 and args[2] == "msd":
            log.compute_groups[args[0]] = args[1]
        elif name == "fix" and "file" in args[:-1]:
            log.fix_files[args[args.index("file") + 1]] = number
    return log


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
            head = file.read(4096).decode("utf-8", "replace").splitlines()
    except OSError:
        return False
    if len(head) < 2 or not head[0].startswith("# Time-averaged data"):
        return False
    names = head[1].replace("#", " ").split()
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
               else "no units command in log.lammps")
        raise ValueError(f"{path}: {why}, so the MSD cannot be turned into m^2")
    dt = log.timestep_for(path.name)
    if dt is None:
        raise ValueError(f"{path}: no timestep command in log.lammps, so the steps cannot be "
                         "turned into time")
    table = parse_thermoprop(str(path))
    steps = table.get("TimeStep", [])
    first = steps[0] if steps else 0.0
    seconds = dt * units.time
    area = units.length ** 2
    return MsdTable(
        time=[(step - first) * seconds for step in steps],
        columns={label: [value * area for value in table[name]]
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

    `parse_bond_angle` reads every row after the first statistics line as
    data, so from the second block on each block starts with its statistics
    line (step, bins, ...) read as a row. The bins per block come from the
    first statistics line."""
    table = parse_bond_angle(str(path))
    names = list(table)
    value_name = next((n for n in ("Count/Total", "Count") if n in table),
                      names[-1] if names else "")
    coordinate_name = "Coord" if "Coord" in table else (names[1] if len(names) > 1 else value_name)
    coordinates, values = table.get(coordinate_name, []), table.get(value_name, [])
    first = path.read_text("utf-8", "replace").splitlines()[3].split()
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
