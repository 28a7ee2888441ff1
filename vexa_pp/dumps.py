"""LAMMPS text dumps read into numpy arrays along time.

The reading itself runs in the compiled module ``vexa_pp._arrays`` without
the interpreter lock (other threads go on; Ctrl-C still ends it), streaming
the file through a buffer of a few megabytes, plain or gzip-compressed.
"""

import operator
import os
import warnings
from collections.abc import Iterable
from dataclasses import dataclass

import numpy as np

from . import _arrays

__all__ = ["Dump", "read_dump"]


@dataclass(frozen=True)
class Dump:
    """The frames of a dump, as arrays.

    Attributes
    ----------
    path : str
        The file read.
    timesteps : numpy.ndarray
        int64, (frames,): the timestep of each frame.
    ids : numpy.ndarray
        int64, (atoms,): the atom ids kept, ascending.
    types : numpy.ndarray
        int64, (atoms,): their types (as in the first frame).
    positions : numpy.ndarray
        float64, (atoms, 3, frames): unwrapped Cartesian positions in the
        dump's length unit, contiguous along time.
    volumes : numpy.ndarray
        float64, (frames,): the box volume of each frame.
    edges : numpy.ndarray
        float64, (frames, 3): the box lengths lx, ly, lz.
    tilts : numpy.ndarray
        float64, (frames, 3): the tilt factors xy, xz, yz (zero for an
        orthogonal box).
    notes : tuple of str
        What the reader did that the caller should know (a dropped last
        frame, unwrapping by jumps); warnings are repeated here.
    """

    path: str
    timesteps: np.ndarray
    ids: np.ndarray
    types: np.ndarray
    positions: np.ndarray
    volumes: np.ndarray
    edges: np.ndarray
    tilts: np.ndarray
    notes: tuple[str, ...]

    @property
    def frames(self) -> int:
        """Number of frames read."""
        return len(self.timesteps)


def read_dump(path: str | bytes | os.PathLike[str] | os.PathLike[bytes],
              types: Iterable[int] | None = None) -> Dump:
    """Read a LAMMPS ``dump custom`` or ``dump atom`` text file.

    Parameters
    ----------
    path : str or os.PathLike
        The dump; gzip data (``.gz``) is recognised by its content.
    types : iterable of int, optional
        Atom types to keep; all atoms when omitted. Only the kept atoms'
        coordinates are held in memory.

    Returns
    -------
    Dump

    Raises
    ------
    OSError
        The file cannot be opened or read.
    ValueError
        The text is not a dump this reader takes: a missing column, a field
        that does not parse, a frame whose atoms differ from the first's, a
        triclinic box with coordinates other than ``xu yu zu``. The message
        names the file, the frame's timestep and the line.
    MemoryError
        The kept coordinates would not fit in memory (checked before
        reading, from the first frame's size).

    Warns
    -----
    RuntimeWarning
        Wrapped positions without image flags were unwrapped by the
        smallest jump between frames and some atom moved more than a third
        of the box between two frames.

    Notes
    -----
    Positions are unwrapped from whichever columns the dump has, best
    first: ``xu yu zu``; ``x y z`` with ``ix iy iz``; ``xsu ysu zsu``;
    ``xs ys zs`` with or without images; ``x y z`` alone. Rows may come in
    any order: they are placed by id. A last frame cut short by the end of
    the file is dropped with a note.
    """
    name = os.fspath(path)
    if not isinstance(name, str):
        name = os.fsdecode(name)
    # index(), not int(): a type of 1.5 or "3" is a mistake, not type 1 or 3.
    selection = None if types is None else [operator.index(t) for t in types]
    (timesteps, ids, kinds, positions, volumes, edges, tilts, notes,
     cautions) = _arrays.read_lammps_dump(name, selection)
    for caution in cautions:
        warnings.warn(caution, RuntimeWarning, stacklevel=2)
    return Dump(name, timesteps, ids, kinds, positions, volumes, edges, tilts,
                tuple(notes + cautions))
