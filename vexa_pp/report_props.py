"""Tables and JSON documents of `vexa-pp props`: a salt solution's
properties at the states asked for, with the model's sources."""

from __future__ import annotations

from .report import Json, number, table
from .salts import Salt, SolutionState


def props_text(salt: Salt, states: list[SolutionState]) -> list[str]:
    lines = [f"{salt.symbol} ({salt.name}, {salt.molecular_weight} g/mol), Laliberte model"]
    if salt.status != "published":
        lines.append(f"  note: the {salt.symbol} parameters are {salt.status}, see the sources")
    header = ["T K", "molality mol/kg", "molarity mol/L", "mass fraction", "density kg/m^3",
              "viscosity mPa s"]
    conductivity = salt.conductivity is not None
    if conductivity:
        header.append("conductivity S/m")
    rows = []
    for s in states:
        row = [f"{s.temperature:.2f}", f"{s.molality:.5g}", f"{s.molarity:.5g}",
               f"{s.mass_fraction:.5f}", f"{s.density:.2f}", f"{s.viscosity * 1e3:.4f}"]
        if conductivity:
            row.append(f"{s.conductivity:.4g}" if s.conductivity is not None else "")
        rows.append(row)
    lines += table(header, rows)
    lines += ["Sources:"] + [f"  {source}" for source in salt.sources]
    return lines


def props_json(salt: Salt, states: list[SolutionState]) -> Json:
    return {
        "salt": salt.symbol,
        "name": salt.name,
        "molecular_weight": salt.molecular_weight,
        "status": salt.status,
        "sources": list(salt.sources),
        "units": {"temperature": "K", "molality": "mol/kg", "molarity": "mol/L",
                  "density": "kg/m^3", "viscosity": "Pa s", "conductivity": "S/m"},
        "states": [{"temperature": s.temperature, "molality": number(s.molality),
                    "molarity": number(s.molarity), "mass_fraction": number(s.mass_fraction),
                    "density": number(s.density), "viscosity": number(s.viscosity),
                    "conductivity": number(s.conductivity)} for s in states],
    }
