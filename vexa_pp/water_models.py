"""Shear viscosities of water models as simulated, from the bundled table
``data/water_models.toml`` (every value names its source).

The finite-size correction of a diffusion coefficient needs the viscosity of
the liquid the force field makes, which for common water models lies well
below real water's.
"""

from __future__ import annotations

import re
import tomllib
from dataclasses import dataclass
from functools import cache
from importlib import resources
from typing import Any

MPA_S = 1e-3  # Pa s


@dataclass(frozen=True)
class WaterModel:
    name: str
    viscosity: float  # Pa s
    temperature: float  # K
    source: str
    approximate: bool  # the source gives only how far below experiment it lies


class UnknownWaterModel(LookupError):
    pass


@cache
def _table() -> dict[str, Any]:
    text = resources.files(__package__).joinpath("data", "water_models.toml").read_text("utf-8")
    return tomllib.loads(text)


@cache
def experiment() -> WaterModel:
    entry = _table()["experiment"]
    return WaterModel(entry["name"], entry["viscosity_mPa_s"] * MPA_S, entry["temperature_K"],
                      entry["source"], False)


@cache
def water_models() -> dict[str, WaterModel]:
    models = {}
    for name, entry in _table()["models"].items():
        below = entry.get("below_experiment")
        viscosity = (experiment().viscosity * (1.0 - below) if below is not None
                     else entry["viscosity_mPa_s"] * MPA_S)
        models[name] = WaterModel(name, viscosity, entry["temperature_K"], entry["source"],
                                  below is not None)
    return models


def _key(name: str) -> str:
    return re.sub(r"[^0-9a-z]", "", name.lower())


def find_water_model(name: str) -> WaterModel:
    """The model of that name, letter case and punctuation aside (spce is SPC/E)."""
    for model in water_models().values():
        if _key(model.name) == _key(name):
            return model
    raise UnknownWaterModel(f"no viscosity bundled for water model {name!r} (known: "
                            f"{', '.join(water_models())}); give --viscosity instead")


def how_models_differ() -> str:
    """How far the bundled models lie from real water, for a warning."""
    real = experiment()
    gaps = "; ".join(f"{m.name} {m.viscosity / MPA_S:.3g} mPa s, "
                     f"{100 * (1 - m.viscosity / real.viscosity):.0f} % below"
                     for m in water_models().values() if not m.approximate)
    return f"{gaps} real water's {real.viscosity / MPA_S:.4g} mPa s at {real.temperature:g} K"
