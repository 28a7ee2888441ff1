"""The physics that turns MSD slopes into results: the finite-size correction
of a diffusion coefficient, the Nernst-Einstein conductivity, and what the
common ions carry."""

from __future__ import annotations

import math
from collections.abc import Iterable
from dataclasses import dataclass

# Exact in the SI since 2019.
ELEMENTARY_CHARGE = 1.602176634e-19  # C
BOLTZMANN = 1.380649e-23  # J/K
# The Ewald sum's constant of a simple cubic lattice in the correction of
# Yeh and Hummer, J. Phys. Chem. B 108 (2004) 15873.
YEH_HUMMER_XI = 2.837297

# Charges of the ions that groups are commonly named after.
ION_CHARGES = {
    "Li": 1, "Na": 1, "K": 1, "Rb": 1, "Cs": 1, "H3O": 1, "NH4": 1,
    "Mg": 2, "Ca": 2, "Sr": 2, "Ba": 2, "Zn": 2,
    "F": -1, "Cl": -1, "Br": -1, "I": -1, "OH": -1, "NO3": -1, "ClO4": -1,
    "SO4": -2, "CO3": -2,
}


def whole(charge: float) -> float:
    """A whole charge as an int, so that it prints as +1 and not +1.0."""
    return int(charge) if charge.is_integer() else charge


def charge_text(charge: float) -> str:
    """+1 for a whole charge, +0.85 for a scaled one."""
    return f"{int(charge):+d}" if float(charge).is_integer() else f"{charge:+.6g}"


def finite_size_shift(temperature: float, viscosity: float, box_length: float) -> float:
    """D_inf - D_PBC = xi k_B T / (6 pi eta L), in m^2/s for SI inputs."""
    return YEH_HUMMER_XI * BOLTZMANN * temperature / (6 * math.pi * viscosity * box_length)


@dataclass(frozen=True)
class Carrier:
    group: str
    count: int
    charge: float  # e: a whole valence, or a scaled-charge model's
    diffusion: float  # m^2/s
    error: float  # m^2/s, NaN when unknown


def nernst_einstein(volume: float, temperature: float,
                    carriers: Iterable[Carrier]) -> tuple[float, float]:
    """sigma = e^2 / (V k_B T) sum N_i z_i^2 D_i in S/m, and its standard
    error from those of the D_i (taken as independent)."""
    scale = ELEMENTARY_CHARGE ** 2 / (volume * BOLTZMANN * temperature)
    terms = [(c.count * c.charge ** 2 * c.diffusion, c.count * c.charge ** 2 * c.error)
             for c in carriers]
    value = scale * sum(t for t, _ in terms)
    return value, scale * math.sqrt(sum(e * e for _, e in terms))


def salt_formula(cation: str, cation_charge: int, anion: str,
                 anion_charge: int) -> tuple[str, int, int]:
    """The neutral salt of two ions: its formula and how many of each ion it holds."""
    common = math.gcd(cation_charge, -anion_charge)
    cations, anions = -anion_charge // common, cation_charge // common

    def part(ion: str, count: int) -> str:
        if count == 1:
            return ion
        polyatomic = sum(ch.isupper() for ch in ion) > 1 or any(ch.isdigit() for ch in ion)
        return f"({ion}){count}" if polyatomic else f"{ion}{count}"

    return part(cation, cations) + part(anion, anions), cations, anions
