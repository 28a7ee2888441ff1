import numpy as np
import numpy.typing as npt

def read_lammps_dump(
    path: str, types: list[int] | None
) -> tuple[
    npt.NDArray[np.int64],
    npt.NDArray[np.int64],
    npt.NDArray[np.int64],
    npt.NDArray[np.float64],
    npt.NDArray[np.float64],
    npt.NDArray[np.float64],
    npt.NDArray[np.float64],
    list[str],
    list[str],
]: ...
def per_atom_msd(positions: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]: ...
def mean_msd(
    positions: npt.NDArray[np.float64], atoms: npt.NDArray[np.int64]
) -> npt.NDArray[np.float64]: ...
