"""Mean squared displacements averaged over every time origin, by FFT.

For F frames, MSD(m) = 1/(F-m) sum_k |r(k+m) - r(k)|^2 over all origins k,
summed over x, y and z, computed in O(F log F) per atom in the compiled
module ``vexa_pp._arrays`` (without the interpreter lock) with one
transform buffer reused from atom to atom.
"""

import numpy as np
import numpy.typing as npt

from . import _arrays

__all__ = ["mean_msd", "per_atom_msd"]


def _positions(positions: npt.ArrayLike) -> np.ndarray:
    array = np.ascontiguousarray(positions, dtype=np.float64)
    if array.ndim != 3 or array.shape[1] != 3:
        raise ValueError(f"positions must have the shape (atoms, 3, frames), not {array.shape}")
    return array


def per_atom_msd(positions: npt.ArrayLike) -> np.ndarray:
    """The multi-origin MSD of each atom.

    Parameters
    ----------
    positions : array_like
        float64, (atoms, 3, frames): unwrapped positions, as
        :attr:`vexa_pp.dumps.Dump.positions` holds them (no copy is made
        then).

    Returns
    -------
    numpy.ndarray
        (atoms, frames): element [i, m] is atom i's MSD at a lag of m
        frames, in the positions' unit squared; lag 0 is 0.
    """
    return _arrays.per_atom_msd(_positions(positions))


def mean_msd(positions: npt.ArrayLike, atoms: npt.ArrayLike | None = None) -> np.ndarray:
    """The multi-origin MSD averaged over a group of atoms.

    Parameters
    ----------
    positions : array_like
        float64, (atoms, 3, frames).
    atoms : array_like of int, optional
        Indices (along the first axis of ``positions``) of the atoms to
        average over; all of them when omitted.

    Returns
    -------
    numpy.ndarray
        (frames,): the group's mean MSD at each lag. Only one frame-long
        row per atom is ever held besides the positions.
    """
    array = _positions(positions)
    indices = (np.arange(array.shape[0], dtype=np.int64) if atoms is None
               else np.ascontiguousarray(atoms, dtype=np.int64).reshape(-1))
    return _arrays.mean_msd(array, indices)
