"""Charges of ion groups from the data file the log's read_data names:
generated data files in both atom styles, atoms in a shuffled order, read
through the public functions, and one run analysed end to end."""

import io
import json

import numpy as np
import pytest

from test_run_trajectory import LENGTH, TIMESTEP, make_run
from vexa_pp import analysis, lammps, results
from vexa_pp.cli import main
from vexa_pp.data_charges import with_data_charges
from vexa_pp.dumps import read_dump
from vexa_pp.trajectory import analyze_trajectory

SCALED = {1: 0.85, 2: -0.85, 3: -0.8476}  # Na, Cl and water's oxygen


def data_text(types, charges, style="full", comment="full", images=False, atoms=None):
    """A data file LAMMPS would read, its atoms (ids 1..N) in a shuffled order."""
    order = np.random.default_rng(5).permutation(len(types))
    kinds = max(types)
    mol = "7 " if style == "full" else ""
    flags = " 0 1 -1" if images else ""
    rows = "".join(f"{i + 1} {mol}{types[i]} {charges[i]} 0.5 1.5 2.5{flags}  # atom\n"
                   for i in order)
    return (f"written by a test\n\n{atoms or len(types)} atoms\n{kinds} atom types\n"
            "-5 5 xlo xhi\n\nMasses\n\n" + "".join(f"{t} 1.0\n" for t in range(1, kinds + 1))
            + f"\nAtoms{' # ' + comment if comment else ''}\n\n{rows}\nVelocities\n\n1 0 0 0\n")


def write_data(folder, types, style="full", comment="full", images=False, atoms=None,
               charge=lambda i, t: SCALED[t]):
    charges = [charge(i, t) for i, t in enumerate(types)]
    (folder / "system.data").write_text(data_text(types, charges, style, comment, images, atoms))


TYPES = [1, 2, 3, 3] * 5
LOG = "{style}read_data {read}\ngroup Na type 1\ngroup Cl type 2\ngroup OW type 3\n"
NA_CL = {"Na": 0.85, "Cl": -0.85}
CHARGE, NONE = dict(style="atom_style charge\n"), dict(style="")


@pytest.mark.parametrize("data, deck, extra, expected, told", [
    ({}, {}, "", NA_CL, ""),  # water's oxygen is no ion: it takes no charge
    (dict(style="charge", comment=""), CHARGE, "", NA_CL, ""),  # the deck's style
    (dict(comment="", images=True), dict(style="atom_style hybrid full dipole\n"), "", {},
     "styles full and charge only"),
    (dict(style="charge", comment="charge", images=True), NONE, "", NA_CL, ""),
    (dict(comment="", images=True), NONE, "", NA_CL, ""),  # 10 columns: full
    (dict(style="charge", comment=""), NONE, "", {}, "may be charge, or bond/angle/molecular"),
    (dict(charge=lambda i, t: 1 if i == 8 else SCALED[t]), {}, "", {"Cl": -0.85},
     "group Na: system.data gives the atoms of type 1 2 different charges (+0.85, +1)"),
    ({}, {}, "set type 2 charge ${q}\nset type 2 charge -1\nset atom 1 charge 0.7\n",
     {"Cl": -1}, "type 1 2 different charges (+0.7, +0.85)"),
    ({}, {}, "set group Na charge -0.5\n", {"Na": -0.5, "Cl": -0.85}, "Na ions carry +1"),
    ({}, {}, "set type 1 type/fraction 2 0.5 1\n", {}, "gives atoms another type"),
    ({}, {}, "set region ball charge 0\n", {}, "atoms chosen by region are not followed"),
    ({}, dict(read="gone.data"), "", {}, "gone.data (read_data in log.lammps): no such file"),
    ({}, dict(read="${data}"), "", {}, "by a variable the log does not expand"),
    (dict(atoms=30), {}, "", {}, "holds 20 of the header's 30 atoms"),
])
def test_charges_of_ion_groups_from_the_data_file(tmp_path, data, deck, extra, expected, told):
    write_data(tmp_path, TYPES, **data)
    log = lammps.read_log(
        LOG.format(**{"style": "atom_style full\n", "read": "system.data", **deck}) + extra)
    found = with_data_charges(tmp_path, log, results.Options())
    assert dict(found.options.data_charges) == expected
    said = found.notes + found.warnings
    assert told in " ".join(said) if told else not said


def test_a_log_without_read_data_reads_no_file(tmp_path):
    found = with_data_charges(tmp_path, lammps.read_log("group Na type 1\n"), results.Options())
    assert (found.options.data_charges, found.notes) == ((), [])


def test_analyze_and_msd_take_the_data_files_charges(tmp_path):
    run = make_run(tmp_path / "run")
    with (run / "log.lammps").open("a") as log:
        log.write("atom_style full\nread_data system.data\n")
    write_data(run, [1 + i % 2 for i in range(40)])  # the dump's atoms: types 1, 2
    options = results.Options(temperature=298.0, solvent_group="water")
    report = analysis.analyze_run(run, options)
    section = report.trajectory
    assert section.charges == NA_CL
    assert section.charges_from == report.charges_from == dict.fromkeys(
        NA_CL, "the data file system.data")
    model = analyze_trajectory(read_dump(run / "traj.lammpstrj"), {"Na": [1], "Cl": [2]}, NA_CL,
                               298.0, TIMESTEP, LENGTH, blocks=4)
    assert section.conductivity.einstein_helfand == model.conductivity.einstein_helfand
    assert [c.charge for c in report.conductivity.carriers] == [0.85, -0.85]
    assert report.salt == "NaCl"  # scaled charges keep their ions' valences
    out = io.StringIO()
    assert main(["analyze", str(run), "--temperature", "298", "--solvent-group", "water",
                 "--charge", "Na=+1"], out, io.StringIO()) == 0
    assert "charges Na +1, Cl -0.85 e (Cl from the data file system.data)" in out.getvalue()
    assert "z of Cl from the data file system.data" in out.getvalue()
    out = io.StringIO()
    assert main(["msd", str(run / "traj.lammpstrj"), "--log", str(run / "log.lammps"),
                 "--json"], out, io.StringIO()) == 0
    assert json.loads(out.getvalue())["trajectory"]["charges"] == NA_CL
