"""Charges of a run's ion groups as its force field has them: the charges of
the data file the deck reads (its last `read_data`), changed by the `set
... charge` commands after it, for each group whose atoms all carry one.

Scaled-charge ion models (+0.85 e for Na+) make these differ from the
valence the group's name suggests, and the conductivity takes them as they
are. Only ion groups take them: water's oxygen carries a partial charge but
moves as part of a neutral molecule. `--charge` still wins; a group the file
says nothing clear about keeps its valence, with a note that says why.
"""

from __future__ import annotations

from dataclasses import dataclass, field, replace
from pathlib import Path

import numpy as np

from . import lammps, physics
from .physics import charge_text, whole
from .data_file import DataAtoms, read_data_atoms
from .results import Options

# Keywords of `set` that give atoms another type: the data file's types
# would no longer be the run's.
_RETYPING = {"type", "type/fraction", "type/ratio", "type/subset"}


@dataclass
class DataCharges:
    """The options with the data file's charges in, and what to tell."""

    options: Options
    notes: list[str] = field(default_factory=list)
    warnings: list[str] = field(default_factory=list)


def with_data_charges(directory: Path, log: lammps.RunLog, options: Options) -> DataCharges:
    """The charges of the ion groups from the data file the log names,
    relative to the run directory. Without a read_data, or without an ion
    group that could take a charge from it, the file is not read."""
    found = DataCharges(options)
    groups = ion_group_types(log, options)
    if not log.data_reads or not groups:
        return found
    line, args = log.data_reads[-1]
    try:
        path = _data_path(directory, args)
        atoms = read_data_atoms(path, _atom_style(log, line))
        charges = _after_sets(atoms, log, line)
    except (OSError, ValueError) as exc:
        found.notes.append(f"no charges from a data file: {exc}")
        return found
    taken: dict[str, float] = {}
    for name, types in groups.items():
        rows = np.isin(atoms.types, types)
        values = np.unique(charges[rows])
        kinds = " ".join(map(str, types))
        if values.size != 1:
            why = ("holds no atom of type " + kinds if not values.size else
                   f"gives the atoms of type {kinds} {values.size} different charges "
                   f"({', '.join(f'{v:+g}' for v in values[:4])}"
                   f"{', ...' if values.size > 4 else ''})")
            found.notes.append(f"group {name}: {path.name} {why}, so it takes none from it")
            continue
        charge = taken[name] = whole(float(values[0]))
        valence = physics.ION_CHARGES.get(name)
        if valence is not None and not valence * charge > 0:
            found.warnings.append(f"group {name}: {path.name} gives its atoms charge "
                                  f"{charge_text(charge)}, but {name} ions carry "
                                  f"{charge_text(valence)}: is it named after another ion?")
    found.options = replace(options, data_charges=tuple(taken.items()), data_file=path.name)
    return found


def ion_group_types(log: lammps.RunLog, options: Options) -> dict[str, tuple[int, ...]]:
    """The atom types of the groups that may take a charge from the data file:
    the ion groups (named like a common ion or by --ion-group) that --charge
    leaves out, with --group's types before the log's."""
    ions = set(physics.ION_CHARGES) | set(options.ion_groups or ())
    types = {n: t for n, t in log.type_groups.items() if t} | dict(options.trajectory_groups)
    given = dict(options.charges)
    return {n: t for n, t in types.items() if n in ions and n not in given}


def _data_path(directory: Path, args: tuple[str, ...]) -> Path:
    """The file read_data names, in the run directory; a path that no longer
    exists (the run was moved) is looked for there by its name."""
    text = args[0]
    if "$" in text:
        raise ValueError(f"'read_data {text}' in {lammps.LOG_NAME} names its file by a "
                         "variable the log does not expand")
    if "add" in args[1:]:
        raise ValueError(f"'read_data {' '.join(args)}' adds to the atoms of an earlier "
                         "one, whose charges are not followed")
    for path in (directory / text, directory / Path(text).name):
        if path.is_file():
            return path
    raise ValueError(f"{text} (read_data in {lammps.LOG_NAME}): no such file in {directory}")


def _atom_style(log: lammps.RunLog, line: int) -> str | None:
    styles = [args[0] for at, args in log.atom_styles if at < line]
    return styles[-1] if styles else None


def _after_sets(atoms: DataAtoms, log: lammps.RunLog, line: int) -> np.ndarray:
    """The atoms' charges once the set commands after read_data have run.
    Raises ValueError for one whose atoms or charge cannot be known here."""
    charges = atoms.charges.copy()
    for at, args in log.sets:
        keywords = args[2:]
        if at < line or not keywords:
            continue
        command = f"'set {' '.join(args)}' in {lammps.LOG_NAME}"
        if _RETYPING & set(keywords):
            raise ValueError(f"{command} gives atoms another type")
        if "charge" not in keywords[:-1]:
            continue
        value = keywords[keywords.index("charge") + 1]
        try:
            charge = float(value)
        except ValueError:
            raise ValueError(f"{command}: the charge {value} is not a number") from None
        charges[_chosen(atoms, log, args[0], args[1], command)] = charge
    return charges


def _chosen(atoms: DataAtoms, log: lammps.RunLog, style: str, which: str,
            command: str) -> np.ndarray:
    """The atoms a set command changes, as a mask."""
    if style == "type":
        low, high = _bounds(which, atoms.atom_types, command)
        return (atoms.types >= low) & (atoms.types <= high)
    if style == "atom":
        low, high = _bounds(which, int(atoms.ids.max(initial=0)), command)
        return (atoms.ids >= low) & (atoms.ids <= high)
    if style == "group" and which == "all":
        return np.ones(atoms.types.size, bool)
    if style == "group":
        types = log.type_groups.get(which)
        if types is None:
            raise ValueError(f"{command}: group {which} is not made of atom types")
        return np.isin(atoms.types, types)
    raise ValueError(f"{command}: atoms chosen by {style} are not followed here")


def _bounds(text: str, last: int, command: str) -> tuple[int, int]:
    """A LAMMPS range: 3, 2*4, *4, 2* or *."""
    low, star, high = text.partition("*")
    try:
        if not star:
            return int(text), int(text)
        return int(low) if low else 1, int(high) if high else last
    except ValueError:
        raise ValueError(f"{command}: {text} is not a number or a range of them") from None
