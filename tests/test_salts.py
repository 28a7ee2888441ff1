"""The bundled salt parameters against handbook values (tests/handbook_points.csv)."""

import csv
from pathlib import Path

import pytest

import vexa_pp
from vexa_pp import salts

POINTS = list(csv.DictReader(
    line for line in (Path(__file__).parent / "handbook_points.csv").read_text().splitlines()
    if line[0] != "#"))
SI = {"g/cm3": 1000.0, "mPa s": 1e-3, "S/cm": 100.0}
# Density within 0.1 % (KOH 0.5 %), viscosity within 5 %; the correlation
# values carry four decimals.
TOLERANCE = {"density": 1e-3, "viscosity": 0.05, "conductivity": 2e-4}


def test_every_salt_has_points_and_published_rows():
    assert set(salts.salts()) == {"NaCl", "KCl", "KOH", "LiCl", "CaCl2", "Na2SO4"}
    assert {p["salt"] for p in POINTS} == set(salts.salts())
    for salt in salts.salts().values():
        assert salt.status == "published" and salt.density_range and salt.viscosity_range


@pytest.mark.parametrize("point", POINTS, ids=lambda p: f"{p['salt']}-{p['property']}")
def test_model_against_handbook(point):
    salt = salts.find_salt(point["salt"])
    temperature = float(point["T_K"])
    if point["molarity"]:
        (molality,) = vexa_pp.molarity_to_molality([float(point["molarity"])], temperature,
                                                   salt.molecular_weight, *salt.density,
                                                   1e-12, 200)
    else:
        # The handbook's own molality, and the one its mass fraction implies.
        fraction = float(point["mass_fraction"])
        molality = fraction / (1 - fraction) / salt.molecular_weight * 1000
        if point["molality"]:
            assert molality == pytest.approx(float(point["molality"]), rel=3e-3)
    (state,) = salts.solution_states(salt, [temperature], molalities=[molality])
    tolerance = TOLERANCE[point["property"]] * (5 if salt.symbol == "KOH" and
                                                 point["property"] == "density" else 1)
    expected = float(point["value"]) * SI[point["unit"]]
    assert getattr(state, point["property"]) == pytest.approx(expected, rel=tolerance)


@pytest.mark.parametrize("temperature, molality, outside", [
    (298.15, 1.0, []),
    (263.15, 1.0, ["density", "viscosity"]),  # -10 degC
    (298.15, 7.0, ["solubility", "density", "viscosity"]),  # w = 0.29 > 0.266
    (275.15, 1.0, ["viscosity"]),  # 2 degC: the viscosity fit starts at 5 degC
    (293.15, 6.145, ["solubility"]),  # saturated at 6.141 mol/kg
])
def test_range_warnings(temperature, molality, outside):
    found = salts.find_salt("NaCl").range_warnings(temperature, molality)
    assert ["solubility" if "solubility" in w else w.split()[2] for w in found] == outside


# Saturated molalities at 25 degC converted by hand from the handbook's mass
# percent (NaCl's is also the handbook's own molality table), and where the
# table ends: between its temperatures the mass percent is interpolated.
@pytest.mark.parametrize("salt, celsius, molality", [
    ("NaCl", 25, 6.153), ("KCl", 25, 4.767), ("KOH", 25, 21.522), ("LiCl", 25, 19.941),
    ("CaCl2", 25, 7.322), ("Na2SO4", 25, 1.979),
    ("Na2SO4", 27.5, 1000 * 25.58 / (142.04 * 74.42)),  # (21.94 + 29.22) / 2 percent
    ("Na2SO4", 10, None), ("NaCl", 101, None),
])
def test_solubility(salt, celsius, molality):
    found = salts.find_salt(salt).solubility(celsius + salts.CELSIUS)
    assert found == (None if molality is None else pytest.approx(molality, rel=1e-3))
