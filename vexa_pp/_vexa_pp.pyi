"""Types of the compiled module: every function, its parameters and its result.

Arrays are taken as any sequence of numbers (not a ``str``) and copied;
results are new lists, tuples and dicts. Every parameter is required and may
be passed by position or by keyword.
"""

from collections.abc import Sequence

# A one-dimensional array argument: any sequence of real numbers.
_FloatArray = Sequence[float]
# A table read from a file: column name -> values, in the file's column order.
_ColumnTable = dict[str, list[float]]

__all__: list[str]

# Simulation output readers.
def parse_vexa_file(path: str) -> _ColumnTable: ...
def parse_thermoprop(path: str) -> _ColumnTable: ...
def parse_volume_density(path: str) -> float: ...
def parse_bond_angle(path: str) -> _ColumnTable: ...
def read_group_count(log_path: str, group_name: str) -> int: ...

# Transport-coefficient analysis.
def local_maximum_finder(data: _FloatArray, search_start: int, neighbor_count: int) -> int: ...
def repacking_results(d_array: _FloatArray) -> tuple[float, float, int]: ...
def diff_calculator(
    time: _FloatArray,
    msd_in: _FloatArray,
    margin: float,
    min_window: int,
    max_window: int,
    max_error: float,
    min_displacement: float,
) -> tuple[float, list[float], list[float]]: ...

# Electrolyte property models and concentration conversions.
def laliberte_density(
    temperature: _FloatArray,
    molality: _FloatArray,
    molecular_weight: float,
    c0: float,
    c1: float,
    c2: float,
    c3: float,
    c4: float,
) -> tuple[list[float], list[float]]: ...
def laliberte_viscosity(
    temperature: _FloatArray,
    molality: _FloatArray,
    molecular_weight: float,
    v1: float,
    v2: float,
    v3: float,
    v4: float,
    v5: float,
    v6: float,
) -> list[float]: ...
def mass_fraction_to_molality(mass_fraction: _FloatArray, molecular_weight: float) -> list[float]: ...
def molality_to_mass_fraction(molality: _FloatArray, molecular_weight: float) -> list[float]: ...
def mole_fraction_to_molality(mole_fraction: _FloatArray, molecular_weight: float) -> list[float]: ...
def molality_to_mole_fraction(molality: _FloatArray, molecular_weight: float) -> list[float]: ...
def dewane_eval(molarity: _FloatArray, limits: _FloatArray, coeffs: _FloatArray) -> list[float]: ...
def koh_gilliam_eval(
    temperature: _FloatArray,
    molality: _FloatArray,
    molecular_weight: float,
    c0: float,
    c1: float,
    c2: float,
    c3: float,
    c4: float,
) -> list[float]: ...
def molarity_to_molality(
    molarity: _FloatArray,
    temperature: float,
    molecular_weight: float,
    c0: float,
    c1: float,
    c2: float,
    c3: float,
    c4: float,
    tolerance: float,
    maximum_iterations: int,
) -> list[float]: ...

# Proton-hopping correction.
def tau_calculator(
    experimental_conductivity: float,
    md_conductivity: float,
    temperature: float,
    box_length: float,
    particle_count: float,
    hop_distance: float,
) -> float: ...
def diffusion_adjustment(time_between_hops: float, hop_distance: float) -> float: ...
