"""The atoms of a LAMMPS data file (what `read_data` reads): the id, type
and charge of each, from the header's counts and the Atoms section.

A data file of a large box holds a million atoms, so the Atoms section is
handed to numpy's text reader in one go and reading stops where it ends:
the sections after it (velocities, bonds, angles) are never read.
"""

from __future__ import annotations

import gzip
import itertools
import re
from dataclasses import dataclass
from pathlib import Path
from typing import TextIO

import numpy as np

# Atom styles whose Atoms lines carry a charge: the columns of type and
# charge, and the columns of a line without the three image flags.
CHARGE_STYLES = {"full": (2, 3, 7), "charge": (1, 2, 6)}
# Without a style named, a line's columns tell it where no other style a
# deck of a liquid uses (atomic, bond, angle, molecular) has as many.
_BY_COLUMNS = {7: "full", 10: "full"}
_UNCHARGED_COLUMNS = {5: "atomic", 8: "atomic", 6: "charge, or bond/angle/molecular",
                      9: "charge, or bond/angle/molecular"}
_HEADER = re.compile(r"(\d+)\s+(atoms|atom\s+types)")


@dataclass(frozen=True, eq=False)
class DataAtoms:
    """The atoms of a data file, one row each, in the file's order."""

    ids: np.ndarray  # int64
    types: np.ndarray  # int64
    charges: np.ndarray  # float64, in e
    atom_types: int  # the header's count
    style: str
    style_from: str  # how the style was known


def read_data_atoms(path: Path, style: str | None = None) -> DataAtoms:
    """The atoms, their Atoms lines read as `style` (the deck's atom_style)
    or, without one, as the section's comment (`Atoms # full`) or its
    columns say. Raises OSError, or ValueError naming the file and what
    stands in the way (a style without charges among them)."""
    with _open(path) as file:
        lines = iter(file)
        next(lines, None)  # a title, whatever it says
        counts: dict[str, int] = {}
        comment, header = None, True
        for line in lines:
            text, _, remark = line.partition("#")
            text = text.strip()
            head = _HEADER.fullmatch(text) if header else None
            if head:
                counts["types" if head.group(2) != "atoms" else "atoms"] = int(head.group(1))
            elif text == "Atoms":
                comment = remark.strip()
                break
            # The first section's name ends the header; other sections are passed over.
            header = header and not text[:1].isalpha()
        if comment is None:
            raise ValueError(f"{path}: no Atoms section")
        atoms, types = counts.get("atoms"), counts.get("types")
        if atoms is None or types is None:
            raise ValueError(f"{path}: no '{'N atoms' if atoms is None else 'N atom types'}' "
                             "line in the header")
        first = next((line for line in lines if line.partition("#")[0].strip()), "")
        if not atoms or not first:  # a box filled after read_data
            empty = np.zeros(0, np.int64)
            if atoms:
                raise ValueError(f"{path}: the Atoms section holds none of the header's "
                                 f"{atoms} atoms")
            return DataAtoms(empty, empty, np.zeros(0), types, style or "", "no atoms")
        columns = len(first.partition("#")[0].split())
        style, style_from = _style(path, style, comment, columns)
        type_column, charge_column, plain = CHARGE_STYLES[style]
        if columns not in (plain, plain + 3):
            raise ValueError(f"{path}: Atoms lines of {columns} columns, where atom style "
                             f"{style} ({style_from}) has {plain}, or {plain + 3} with images")
        # The next section's name ends the section, should it come early.
        rows = itertools.takewhile(_not_a_section, itertools.islice(lines, atoms - 1))
        try:
            table = np.loadtxt(itertools.chain([first], rows),
                               usecols=(0, type_column, charge_column), comments="#", ndmin=2)
        except ValueError as exc:
            raise ValueError(f"{path}: Atoms section: {exc}") from None
    if len(table) < atoms:
        raise ValueError(f"{path}: the Atoms section holds {len(table)} of the header's "
                         f"{atoms} atoms")
    ids, kinds = table[:, 0].astype(np.int64), table[:, 1].astype(np.int64)
    if np.any(ids != table[:, 0]) or np.any(kinds != table[:, 1]):
        raise ValueError(f"{path}: an atom id or type in the Atoms section is not a whole number")
    if kinds.size and (kinds.min() < 1 or kinds.max() > types):
        raise ValueError(f"{path}: atom types {kinds.min()} .. {kinds.max()} in the Atoms "
                         f"section, but the header has {types} atom types")
    return DataAtoms(ids, kinds, table[:, 2].copy(), types, style, style_from)


def _style(path: Path, given: str | None, comment: str, columns: int) -> tuple[str, str]:
    """The atom style the Atoms lines are read in, and how it was known."""
    named = comment.split()[0] if comment.split() else None
    style, style_from = (given, "the deck's atom_style") if given else (
        named, f"the line 'Atoms # {comment}'") if named else (
        _BY_COLUMNS.get(columns), f"its {columns} columns")
    if style is None:
        may_be = _UNCHARGED_COLUMNS.get(columns, "no style known here")
        raise ValueError(f"{path}: the Atoms section names no atom style, and lines of "
                         f"{columns} columns may be {may_be}: write 'Atoms # full' or "
                         "'Atoms # charge' where they carry charges")
    if style not in CHARGE_STYLES:
        raise ValueError(f"{path}: atom style {style} ({style_from}): charges are read from "
                         f"styles {' and '.join(CHARGE_STYLES)} only")
    return style, style_from


def _not_a_section(line: str) -> bool:
    return not line.lstrip()[:1].isalpha()


def _open(path: Path) -> TextIO:
    if path.suffix == ".gz":
        return gzip.open(path, "rt", encoding="utf-8", errors="replace")
    return path.open(encoding="utf-8", errors="replace")
