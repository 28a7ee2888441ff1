"""Properties of aqueous salt solutions from the bundled Laliberte parameters.

The parameter table is ``data/salts.toml`` inside the package; every entry
names its sources.
"""

from __future__ import annotations

import tomllib
from dataclasses import dataclass
from functools import cache
from importlib import resources
from typing import Any

from ._vexa_pp import (
    koh_gilliam_eval,
    laliberte_density,
    laliberte_viscosity,
    molality_to_mass_fraction,
    molarity_to_molality,
)

CELSIUS = 273.15  # K at 0 degC
# Brent-Dekker settings for turning molarities into molalities.
MOLALITY_TOLERANCE = 1e-10  # mol/kg
MOLALITY_ITERATIONS = 200
# Below this molality (mol/kg) the salt changes the density by parts in 1e10:
# molarity / density of water is the molality.
DILUTE = 1e-9


@dataclass(frozen=True)
class FittedRange:
    """Where a model's parameters were fitted."""

    low: float  # K
    high: float  # K
    mass_fraction: float  # largest mass fraction of salt

    def outside(self, temperature: float, mass_fraction: float) -> list[str]:
        found = []
        if not self.low <= temperature <= self.high:
            found.append(f"temperature {temperature:g} K is outside "
                         f"{self.low:g} .. {self.high:g} K")
        if mass_fraction > self.mass_fraction:
            found.append(f"mass fraction {mass_fraction:.4g} is above {self.mass_fraction:.4g}")
        return found


@dataclass(frozen=True)
class Salt:
    symbol: str
    name: str
    molecular_weight: float  # g/mol
    density: tuple[float, float, float, float, float]  # c0..c4
    viscosity: tuple[float, float, float, float, float, float]  # v1..v6
    conductivity: str | None  # "koh-gilliam" or None
    status: str  # "published" or "provisional"
    sources: tuple[str, ...]
    density_range: FittedRange | None = None
    viscosity_range: FittedRange | None = None

    def range_warnings(self, temperature: float, molality: float) -> list[str]:
        """Why the models extrapolate at this state, one text per model, and
        whether the state lies above saturation."""
        (fraction,) = molality_to_mass_fraction([molality], self.molecular_weight)
        found = []
        saturated = self.solubility(temperature)
        if saturated is not None and molality > saturated:
            found.append(f"{self.symbol} at {molality:g} mol/kg is above its solubility at "
                         f"{temperature:g} K, {saturated:.4g} mol/kg (CRC Handbook, see "
                         "data/solubility.toml): a real solution there is supersaturated")
        for model, fitted in (("density", self.density_range),
                              ("viscosity", self.viscosity_range)):
            reasons = fitted.outside(temperature, fraction) if fitted else []
            if reasons:
                found.append(f"the {self.symbol} {model} model is extrapolated at "
                             f"{temperature:g} K, {molality:g} mol/kg: {'; '.join(reasons)}")
        return found


    def solubility(self, temperature: float) -> float | None:
        """Molality of the saturated solution at this temperature, linear
        between the tabulated temperatures; None outside them."""
        table = _solubility().get(self.symbol)
        if table is None:
            return None
        celsius = temperature - CELSIUS
        points = [(float(t), float(w)) for t, w in zip(table["temperature_C"],
                                                       table["mass_percent"])]
        for (t0, w0), (t1, w1) in zip(points, points[1:]):
            if t0 <= celsius <= t1:
                w = w0 + (w1 - w0) * (celsius - t0) / (t1 - t0)
                return 1000.0 * w / (self.molecular_weight * (100.0 - w))
        return None


@cache
def _solubility() -> dict[str, Any]:
    text = resources.files(__package__).joinpath("data", "solubility.toml").read_text("utf-8")
    return tomllib.loads(text)


@dataclass(frozen=True)
class SolutionState:
    """One solution at one temperature. Units: K, mol/kg, mol/L, kg/m^3, Pa s, S/m."""

    temperature: float
    molality: float
    molarity: float
    mass_fraction: float
    density: float
    viscosity: float
    conductivity: float | None


class UnknownSalt(LookupError):
    pass


@cache
def salts() -> dict[str, Salt]:
    text = resources.files(__package__).joinpath("data", "salts.toml").read_text("utf-8")
    table = tomllib.loads(text)
    result = {}
    for symbol, entry in table.items():
        density = tuple(float(x) for x in entry["density"])
        viscosity = tuple(float(x) for x in entry["viscosity"])
        if len(density) != 5 or len(viscosity) != 6:
            raise ValueError(f"salts.toml: [{symbol}] needs 5 density and 6 viscosity parameters")
        result[symbol] = Salt(
            symbol=symbol,
            name=entry["name"],
            molecular_weight=float(entry["molecular_weight"]),
            density=(density[0], density[1], density[2], density[3], density[4]),
            viscosity=(viscosity[0], viscosity[1], viscosity[2], viscosity[3], viscosity[4],
                       viscosity[5]),
            conductivity=entry.get("conductivity"),
            status=entry["status"],
            sources=tuple(entry["sources"]),
            density_range=_fitted_range(entry.get("density_range")),
            viscosity_range=_fitted_range(entry.get("viscosity_range")),
        )
    return result


def _fitted_range(entry: dict[str, Any] | None) -> FittedRange | None:
    if entry is None:
        return None
    low, high = entry["temperature_C"]
    return FittedRange(low + CELSIUS, high + CELSIUS, float(entry["mass_fraction_max"]))


def find_salt(name: str) -> Salt:
    """The salt of that formula, matched without regard to letter case."""
    for symbol, salt in salts().items():
        if symbol.lower() == name.lower():
            return salt
    known = ", ".join(sorted(salts()))
    raise UnknownSalt(f"unknown salt {name!r} (known: {known})")


def solution_states(salt: Salt, temperatures: list[float], *,
                    molalities: list[float] | None = None,
                    molarities: list[float] | None = None,
                    notes: list[str] | None = None) -> list[SolutionState]:
    """Every temperature with every concentration, temperature-major.

    Give exactly one of molalities (mol/kg water) and molarities (mol/L
    solution); a molarity is turned into the molality that the density model
    maps onto it, one value at a time. A molarity below what DILUTE mol/kg
    gives, too small for that search to bracket or resolve, is converted at
    infinite dilution, molality = molarity / density of water, exact there to
    far better than the search's tolerance; each such conversion is said in
    notes. Raises ValueError naming a molarity the model cannot reach at all.
    """
    if (molalities is None) == (molarities is None):
        raise ValueError("give either molalities or molarities")
    mw = salt.molecular_weight
    temperature_column: list[float] = []
    molality_column: list[float] = []
    for temperature in temperatures:
        if molarities is not None:
            molality_column += [_molality(salt, molarity, temperature, notes)
                                for molarity in molarities]
            temperature_column += [temperature] * len(molarities)
        elif molalities is not None:
            molality_column += molalities
            temperature_column += [temperature] * len(molalities)
    density, molarity = laliberte_density(temperature_column, molality_column, mw, *salt.density)
    viscosity = laliberte_viscosity(temperature_column, molality_column, mw, *salt.viscosity)
    mass_fraction = molality_to_mass_fraction(molality_column, mw)
    conductivity: list[float | None] = [None] * len(molality_column)
    if salt.conductivity == "koh-gilliam":
        conductivity = list(koh_gilliam_eval(temperature_column, molality_column, mw,
                                             *salt.density))
    return [
        SolutionState(*row)
        for row in zip(temperature_column, molality_column, molarity, mass_fraction, density,
                       viscosity, conductivity, strict=True)
    ]


def _molality(salt: Salt, molarity: float, temperature: float, notes: list[str] | None) -> float:
    (water,), _ = laliberte_density([temperature], [0.0], salt.molecular_weight, *salt.density)
    dilute = molarity / (water / 1000.0)
    if 0 < dilute < DILUTE:
        if notes is not None:
            notes.append(f"molarity {molarity:g} mol/L at {temperature:g} K is infinitely dilute "
                         "for the density model: molality = molarity / density of water = "
                         f"{dilute:.6g} mol/kg")
        return dilute
    try:
        (molality,) = molarity_to_molality([molarity], temperature, salt.molecular_weight,
                                           *salt.density, MOLALITY_TOLERANCE,
                                           MOLALITY_ITERATIONS)
    except ValueError:
        raise ValueError(f"molarity {molarity:g} mol/L at {temperature:g} K: the "
                         f"{salt.symbol} density model reaches it at no molality") from None
    return molality
