"""The readers on the LAMMPS sample run shipped with the package: rigid SPC/E
water with four Na+ and four Cl-, 20 ps of NVT at 298 K (the deck is
in.nacl_spce next to the files; `./dev fixtures` reruns it)."""

import math
from pathlib import Path

import pytest

import vexa_pp
from helpers import canon
from test_readers import MODELS

RUN = Path(vexa_pp.__file__).parent / "samples" / "lammps-run"
AVOGADRO = 6.02214076e23
MASS = {"OW": 15.9994, "HW": 1.008, "Na": 22.98977, "Cl": 35.453}  # g/mol, as in the deck


def path(name):
    return str(RUN / name)


def text(name):
    return (RUN / name).read_text()


@pytest.fixture(scope="module")
def counts(module):
    return {name: module.read_group_count(path("log.lammps"), name)
            for name in ("solvent", "salt", "water", "OW", "HW", "Na", "Cl", "NaCl")}


def test_group_counts(counts):
    # The deck fills a 7 x 7 x 7 lattice with water, then replaces eight
    # molecules with four Na+ and four Cl-.
    assert counts["solvent"] == 3 * 7**3
    assert counts["salt"] == counts["NaCl"] == 8
    assert counts["Na"] == counts["Cl"] == 4
    assert counts["OW"] == 7**3 - 8
    assert counts["HW"] == 2 * counts["OW"]
    assert counts["water"] == counts["OW"] + counts["HW"]


@pytest.mark.parametrize("name, same_as", [
    ("O", "OW"),          # "group O" first occurs in "group OW type 1"
    ("NaC", "NaCl"),
    ("", "solvent"),      # "group " first occurs in a comment line, then in "group solvent"
])
def test_group_names_match_as_substrings(module, counts, name, same_as):
    assert module.read_group_count(path("log.lammps"), name) == counts[same_as]


def test_thermodynamic_table(module):
    table = module.parse_thermoprop(path("nvt_prod.dat"))
    model = MODELS["parse_thermoprop"]
    assert canon(table) == canon(model(text("nvt_prod.dat"), path("nvt_prod.dat")))
    assert list(table) == ["TimeStep", "v_Temp", "v_Press", "v_PotEng", "v_TotEng"]
    assert table["TimeStep"] == [100.0 * k for k in range(1, 101)]
    mean, std, n = module.repacking_results(table["v_Temp"])
    assert n == 100 and abs(mean - 298.0) < 10.0 and 0 < std < 30.0
    assert all(pe < total < 0 for pe, total in zip(table["v_PotEng"], table["v_TotEng"]))


def test_volume_and_density_agree_with_the_log(module, counts):
    volume = module.parse_volume_density(path("volume.dat"))
    density = module.parse_volume_density(path("density.dat"))
    assert volume == pytest.approx(21.7**3, rel=1e-5)     # 7 lattice spacings of 3.1 A
    grams = sum(counts[name] * MASS[name] for name in MASS) / AVOGADRO
    assert density == pytest.approx(grams / (volume * 1e-24), rel=1e-5)


def test_bond_angle_histogram(module, counts):
    table = module.parse_bond_angle(path("nvt_prod_angle.dat"))
    text_ = text("nvt_prod_angle.dat")
    assert canon(table) == canon(MODELS["parse_bond_angle"](text_, path("nvt_prod_angle.dat")))
    assert list(table) == ["Bin", "Coord", "Count", "Count/Total"]
    stats = text_.splitlines()[3].split()   # step, bins, total, missing, min, max
    bins = int(stats[1])
    # Five blocks; the later blocks' statistics lines are read as rows.
    assert len(table["Bin"]) == bins + 4 * (bins + 1)
    assert table["Bin"][:bins] == [float(k) for k in range(1, bins + 1)]
    # One H-O-H angle per molecule, 20 samples a block; SHAKE holds it at 109.47.
    assert sum(table["Count"][:bins]) == float(stats[2]) == 20 * counts["OW"]
    assert sum(table["Count/Total"][:bins]) == pytest.approx(1.0, abs=1e-4)
    mean = sum(c * w for c, w in zip(table["Coord"][:bins], table["Count/Total"][:bins]))
    assert mean == pytest.approx(109.47, abs=0.01)


def test_msd_file(module):
    raw = module.parse_thermoprop(path("msd.lammps"))
    assert list(raw) == ["TimeStep", "c_msdOW[4]", "c_msdNa[4]", "c_msdCl[4]"]
    assert raw["TimeStep"] == [50.0 * k for k in range(201)]
    # SPC/E water self-diffuses at about 2.5e-9 m^2/s near room temperature
    # (MSD in Å^2, steps of 2 fs).
    d_water = raw["c_msdOW[4]"][-1] * 1e-20 / (6 * raw["TimeStep"][-1] * 2e-15)
    assert 1.5e-9 < d_water < 4e-9
    assert all(math.isfinite(v) and v >= 0 for col in raw.values() for v in col)
