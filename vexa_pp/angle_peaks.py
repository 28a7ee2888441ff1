"""The peak of a bond-angle histogram, block by block and of their average."""

from __future__ import annotations

import math
from pathlib import Path

from . import lammps
from ._vexa_pp import local_maximum_finder
from .results import AnglePeak, RunReport


def angle_peaks(report: RunReport, path: Path, neighbors: int) -> None:
    """The peak of the time-averaged histogram (with several blocks) and of
    every block, in report.angle_peaks."""
    try:
        column, blocks = lammps.histogram_blocks(path)
    except (OSError, ValueError) as exc:
        report.problems.append(str(exc))
        return
    if not blocks[0].value:
        report.notes.append(f"{path.name}: no histogram rows")
        return
    if len(blocks) > 1:
        report.angle_peaks.append(_peak(path.name, column, lammps.average_block(blocks),
                                        neighbors, len(blocks)))
    report.angle_peaks += [_peak(path.name, column, block, neighbors, len(blocks))
                           for block in blocks]


def _peak(file: str, column: str, block: lammps.HistogramBlock, neighbors: int,
          blocks: int) -> AnglePeak:
    values = block.value
    index = local_maximum_finder(values, 0, neighbors)
    inside = index < len(values)
    return AnglePeak(
        file=file,
        column=column,
        index=index,
        coordinate=block.coordinate[index] if inside else math.nan,
        value=values[index] if inside else math.nan,
        found=_is_peak(values, index, neighbors),
        step=block.step if blocks > 1 else None,
        blocks=blocks,
    )


def _is_peak(values: list[float], index: int, neighbors: int) -> bool:
    if neighbors == 0 or index < neighbors or index + neighbors >= len(values):
        return False
    peak = values[index]
    return all(peak > values[index - m] and peak > values[index + m]
               for m in range(1, neighbors + 1))
