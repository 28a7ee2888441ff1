"""Which files a run directory holds, reading them, and what the readers
dropped without a word.

A file that cannot be read or parsed is a problem of the run, told with the
reader's message (which names the file and the reason); a run goes on with
the files it has.
"""

from __future__ import annotations

import re
from collections import Counter
from collections.abc import Callable
from dataclasses import dataclass
from fnmatch import fnmatchcase
from pathlib import Path

from . import lammps, row_rule
from .results import RunReport, shown

TRANSPORT_TABLES = ("diffself.dat", "diffonsag.dat", "viscosity.dat", "thermconductivity.dat")
THERMO_PATTERN = "*_prod.dat"
ANGLE_PATTERN = "*angle*.dat"
LOG_NAME = lammps.LOG_NAME
SERIES = ("volume", "density")  # volume.dat and density.dat


@dataclass(frozen=True)
class RunFiles:
    """The files of a run, by what they hold."""

    msd: list[Path]  # written by fix ave/time of compute msd
    transport: list[Path]  # '#Time' tables
    thermo: list[Path]
    angles: list[Path]


def sort_files(report: RunReport, path: Path, entries: list[Path],
               log: lammps.RunLog) -> RunFiles | None:
    """The run's files by kind (the log tells MSD files by their columns),
    listed in the report with the kinds missing; None (and the report's
    error) when the directory holds none of them."""
    others = {path / LOG_NAME} | {path / f"{name}.dat" for name in SERIES}
    msd_files = [p for p in entries if p not in others and lammps.is_msd_file(p, log)]
    transport = [p for p in _transport_tables(path, entries) if p not in msd_files]
    thermo = [p for p in entries if fnmatchcase(p.name, THERMO_PATTERN)
              and "angle" not in p.name and p not in msd_files]
    angles = [p for p in entries if fnmatchcase(p.name, ANGLE_PATTERN) and p not in msd_files]
    report.files = [p.name for p in msd_files + transport + thermo + angles]
    report.files += [p.name for p in sorted(others) if p.is_file()]
    if not report.files:
        report.error = f"{path}: no files of a simulation run (see vexa-pp analyze --help)"
        return None
    for found, what in ((msd_files + transport, "mean-squared displacements (fix ave/time of "
                         f"compute msd, or {', '.join(TRANSPORT_TABLES)})"),
                        (thermo, f"thermodynamic table ({THERMO_PATTERN})"),
                        (angles, f"bond-angle histogram ({ANGLE_PATTERN})")):
        if not found:
            report.missing.append(what)
    report.missing += [p.name for p in sorted(others) if not p.is_file()]
    return RunFiles(msd_files, transport, thermo, angles)


def read_or_report[T](report: RunReport, reader: Callable[[str], T], path: Path) -> T | None:
    """What the reader returns, or None with its message among the problems."""
    try:
        return reader(str(path))
    except (OSError, ValueError) as exc:
        report.problems.append(str(exc))
        return None


def read_log(report: RunReport, path: Path) -> lammps.RunLog:
    """The run's log (an empty one when there is none), its unit style and
    box in the report."""
    if not path.is_file():
        return lammps.RunLog()
    try:
        log = lammps.read_log(path.read_text(encoding="utf-8", errors="replace"))
    except OSError as exc:
        report.problems.append(f"{path}: {exc.strerror or exc}")
        return lammps.RunLog()
    report.unit_style = log.unit_style
    if log.runs and not log.finished:
        report.warnings.append(f"{LOG_NAME} ends without LAMMPS's closing 'Total wall time' "
                               "line: the run stopped early or is still going, so its files "
                               "may hold less than the deck asks for")
    if log.box_edges is not None:
        edges = " x ".join(f"{e:g}" for e in log.box_edges)
        report.box = f"{log.box_shape} {edges}"
    return log


def regular_files(report: RunReport, path: Path) -> list[Path] | None:
    """The directory's regular files, sorted. A name that is not UTF-8 is a
    problem, and a FIFO or device under a name the analysis reads is noted:
    reading it could wait for ever."""
    try:
        entries = sorted(path.iterdir())
    except OSError as exc:
        report.error = f"{path}: {exc.strerror or exc}"
        return None
    files = []
    for entry in entries:
        if shown(entry.name) != entry.name:
            report.problems.append(f"{shown(entry)}: the file name is not valid UTF-8; skipped "
                                   "(rename it)")
        elif entry.is_file():
            files.append(entry)
        elif not entry.is_dir() and (fnmatchcase(entry.name, "*.dat") or entry.name == LOG_NAME):
            report.notes.append(f"{entry.name}: not a regular file; skipped")
    return files


def _transport_tables(path: Path, entries: list[Path]) -> list[Path]:
    found = [path / name for name in TRANSPORT_TABLES if path / name in entries]
    others = [p for p in entries if fnmatchcase(p.name, "*.dat") and p not in found
              and not fnmatchcase(p.name, THERMO_PATTERN)
              and not fnmatchcase(p.name, ANGLE_PATTERN)
              and p.name not in ("volume.dat", "density.dat")]
    return found + [p for p in others if _has_time_header(p)]


def _has_time_header(path: Path) -> bool:
    try:
        with path.open("rb") as file:
            head = file.read(1 << 16).decode("utf-8", "replace")
    except OSError:
        return False
    return any(map(row_rule.is_time_header, row_rule.lines(head)))


# Any White_Space but the line feed, as UTF-8: tables are searched as the
# bytes they are, which spares decoding (and a copy of) a large file.
_BLANK = b"(?:" + b"|".join(re.escape(c.encode()) for c in row_rule.WHITE_SPACE
                           if c != "\n") + b")*"
# A line break followed by a blank or comment line, or by the end: the lines
# row_rule.is_blank_or_comment tells apart, found without splitting the text.
_NOT_DATA = re.compile(rb"\n(?=" + _BLANK + rb"(?:#|\n|\Z))")
_COMMENT = re.compile(rb"^" + _BLANK + rb"#.*$", re.MULTILINE)


@dataclass(frozen=True)
class RowCount:
    """What a table holds after its header line."""

    names: int  # fields of the header line, '#' left out
    lines: int  # lines meant as rows: all but blank and comment lines, and
    # the comment lines a '#Time' table reads as rows all the same
    body: int  # where the text after the header line starts (its line feed)


def count_rows(data: bytes, time_header: bool) -> RowCount | None:
    """The lines after the header that the reader should take as rows (the
    header is the last '#Time' line of a '#Time' table, else the second
    line); None when no line follows the header."""
    if time_header:
        header = _last_time_header(data)
    else:
        header = data.find(b"\n") + 1
        if not header:
            return None
    line_end = data.find(b"\n", header)
    if line_end < 0:
        return None
    names = len(row_rule.fields(_text(data[header:line_end]).replace("#", "")))
    # Each line of the rest starts after a line break, the last one included.
    lines = data.count(b"\n", line_end) - len(_NOT_DATA.findall(data, line_end))
    if time_header:  # such a table reads every line with its '#' left out
        lines += sum(row_rule.row(_text(c).replace("#", ""), names) is not None
                     for c in _COMMENT.findall(data, line_end))
    return RowCount(names, lines, line_end)


def _text(data: bytes) -> str:
    return data.decode("utf-8", "replace")


def _last_time_header(data: bytes) -> int:
    """Where the last '#Time' header line starts; 0 without one. A search
    from the end: no line is split."""
    marker = row_rule.TIME_HEADER.encode()
    end = len(data)
    while (at := data.rfind(marker, 0, end)) >= 0:
        start = data.rfind(b"\n", 0, at) + 1
        if row_rule.is_time_header(_text(data[start:at + len(marker)])):
            return start
        end = at
    return 0


def check_rows(report: RunReport, path: Path, rows: int, time_header: bool = False) -> None:
    """Say what the reader dropped without a word: all rows when they do not
    fit the header (a problem), some of them (a note). Lines are counted at
    the speed of a byte search, and only the first rows are split."""
    try:
        data = path.read_bytes()
    except OSError:
        return  # the reader has said why
    count = count_rows(data, time_header)
    if count is None or not count.lines:
        if rows == 0:  # a run that wrote its header and was stopped holds nothing
            report.problems.append(f"{path}: no data rows after the header")
        return
    if rows == 0:
        head = [row_rule.fields(line)
                for line in row_rule.lines(_text(data[count.body:count.body + (1 << 16)]))
                if not row_rule.is_blank_or_comment(line)]
        fields = Counter(map(len, head)).most_common(1)[0][0] if head else count.names
        report.problems.append(
            f"{path}: header has {count.names} names, rows have {fields} fields"
            if fields < count.names else f"{path}: no row is all numbers")
    elif count.lines > rows:
        report.notes.append(f"{path.name}: {count.lines - rows} of {count.lines} rows dropped "
                            "(too few fields, or fields that are not numbers)")
