"""Column tables read into numpy arrays.

The readers are the list-returning ones (`parse_vexa_file`,
`parse_thermoprop`, `parse_bond_angle`): the same rows, column names and
errors, but each column comes back as one contiguous float64 array that
owns the memory the parser wrote, with no Python float made on the way. The
reading runs in the compiled module ``vexa_pp._arrays`` without the
interpreter lock (other threads go on; Ctrl-C still ends it).
"""

import os

import numpy as np
import numpy.typing as npt

from . import _arrays

__all__ = ["KINDS", "read_table"]

_READERS = {
    "transport": _arrays.read_transport_table,  # as parse_vexa_file
    "thermo": _arrays.read_thermo_table,  # as parse_thermoprop
    "bond_angle": _arrays.read_bond_angle_table,  # as parse_bond_angle
}
KINDS = tuple(_READERS)


def read_table(path: str | os.PathLike[str], kind: str = "transport"
               ) -> dict[str, npt.NDArray[np.float64]]:
    """The columns of the table at `path`, name -> float64 array, in file order.

    `kind` picks the layout: "transport" (the last line starting '#Time' names
    the columns, as parse_vexa_file), "thermo" (a title line, then the names,
    as parse_thermoprop) or "bond_angle" (as parse_bond_angle). Raises what
    that reader raises: OSError or ValueError with its message.
    """
    try:
        read = _READERS[kind]
    except (KeyError, TypeError):
        raise ValueError(f"kind must be one of {', '.join(map(repr, KINDS))}, not {kind!r}"
                         ) from None
    return read(os.fspath(path))
