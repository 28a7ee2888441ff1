"""A run's trajectory in `vexa-pp analyze` and `vexa-pp msd`: the dump found
from the log or by its name, atom types gathered into the deck's groups, and
the multi-origin D taken by the corrections. Random walks written as dumps
(test_dumps) are the input; `analyze_trajectory` on the same arrays is the
model, so these tests judge the wiring, not the statistics."""

import gzip
import io
import json
from pathlib import Path

import numpy as np
import pytest

from test_dumps import dump_text, walks
from vexa_pp import analysis, lammps, results, run_trajectory
from vexa_pp.cli import main
from vexa_pp.dumps import read_dump
from vexa_pp.trajectory import analyze_trajectory

SAMPLE = Path(__file__).resolve().parents[1] / "vexa_pp" / "samples" / "lammps-run"
DECK = """units real
Created orthogonal box = (-1 0.5 2) to (9 12.5 11)
timestep 2.0
40 atoms in group water
20 atoms in group Na
20 atoms in group Cl
group water type 1 2
group Na type 1
group Cl type 2
group NaCl type 1 2
group ends type <> 1 2
group wall region slab
dump {dump_id} all custom 50 {name} id type xu yu zu
run 10000
Total wall time: 0:00:01
"""
# dump_text writes a frame every 100 steps, 2 fs each; types alternate 1, 2.
TIMESTEP, LENGTH = 2e-15, 1e-10


def make_run(folder, written="traj.lammpstrj", stored=None, log=True):
    folder.mkdir()
    if log:
        (folder / "log.lammps").write_text(DECK.format(dump_id="tr", name=written))
    text = dump_text(walks(40, 400, seed=3)).encode()
    stored = stored or written
    (folder / stored).write_bytes(gzip.compress(text) if stored.endswith(".gz") else text)
    return folder


def test_the_log_gives_dumps_and_groups_of_types():
    log = lammps.read_log(DECK.format(dump_id="a", name="x.dump") + "undump a\n"
                          "group Na type 5\ngroup odd type 1*3 7\ngroup water delete\n")
    (dump,) = log.dumps
    assert (dump.group, dump.style, dump.every, dump.file, dump.columns) == (
        "all", "custom", 50, "x.dump", ("id", "type", "xu", "yu", "zu"))
    assert dump.end == len(DECK.splitlines())  # the undump's line
    assert log.type_groups == {"water": None, "Na": (1, 5), "Cl": (2,), "NaCl": (1, 2),
                               "ends": (1, 2), "wall": None, "odd": (1, 2, 3, 7)}


@pytest.mark.parametrize("present, given, expected", [
    # Groups that only join others (NaCl, ends) and those whose types the
    # dump lacks or no types name (water, wall) are left out.
    ({1, 2}, [], {"Na": (1,), "Cl": (2,)}),
    ({1, 2}, [("Na", (2,)), ("all", (1, 2))], {"Na": (2,), "Cl": (2,), "all": (1, 2)}),
    ({3}, [], {"type 3": (3,)}),
])
def test_types_gathered_into_groups(present, given, expected):
    log = lammps.read_log(DECK.format(dump_id="a", name="x"))
    assert run_trajectory.dump_groups(log, present, given)[0] == expected


@pytest.mark.parametrize("written, stored, found_by", [
    ("traj.lammpstrj", None, "dump tr in log.lammps"),
    ("traj.lammpstrj", "traj.lammpstrj.gz", "dump tr in log.lammps"),  # gzipped afterwards
    ("elsewhere/gone.lammpstrj", "run.dump", "its name"),
])
def test_analyze_takes_the_multi_origin_d_for_the_corrections(tmp_path, written, stored,
                                                               found_by):
    run = make_run(tmp_path / "run", written, stored)
    options = results.Options(temperature=298.0, solvent_group="water", viscosity=1e-3)
    report = analysis.analyze_run(run, options)
    section = report.trajectory
    assert (section.found_by, section.groups) == (found_by, {"Na": (1,), "Cl": (2,)})
    dump = read_dump(run / (stored or written))
    # 400 frames: 8 blocks would end before the rule's window does.
    assert section.blocks == 4
    model = analyze_trajectory(dump, {"Na": [1], "Cl": [2]}, {"Na": 1, "Cl": -1}, 298.0,
                               TIMESTEP, LENGTH, blocks=4)
    multi = {f.group: f for f in report.msd if f.multi_origin}
    for d in model.diffusion:
        assert multi[d.group].diffusion == d.diffusion
        assert multi[d.group].error == d.error
        assert multi[d.group].finite_size == d.diffusion + report.corrections.shift
    assert [c.diffusion for c in report.conductivity.carriers] == [
        model.group(c.group).diffusion for c in report.conductivity.carriers]
    assert section.conductivity.haven_ratio == model.conductivity.haven_ratio
    assert report.trajectory is not None and not report.problems


@pytest.mark.parametrize("names, found", [
    (["traj.lammpstrj", "traj.lammpstrj.gz"], "traj.lammpstrj"),
    (["ions.lammpstrj", "all.dump.gz"], None),  # neither is named by the log
])
def test_a_dump_found_by_its_name_only_when_it_is_the_only_one(tmp_path, names, found):
    run = make_run(tmp_path / "run", "elsewhere/gone.lammpstrj", names[0])
    (run / names[1]).write_bytes((run / names[0]).read_bytes())
    report = analysis.analyze_run(run, results.Options(temperature=298.0))
    assert (report.trajectory and report.trajectory.file) == found
    assert any("2 files are named like dumps" in w for w in report.warnings) == (found is None)


def test_msd_command_text_and_json(tmp_path):
    run = make_run(tmp_path / "run")
    arguments = ["msd", str(run / "traj.lammpstrj"), "--log", str(run / "log.lammps"),
                 "--group", "Cl=2", "Na=1", "--temperature", "300"]
    out = io.StringIO()
    assert main(arguments + ["--json"], out, io.StringIO()) == 0
    document = json.loads(out.getvalue())
    model = analyze_trajectory(read_dump(run / "traj.lammpstrj"), {"Na": [1], "Cl": [2]},
                               {"Na": 1, "Cl": -1}, 300.0, TIMESTEP, LENGTH, blocks=4)
    assert [(f["group"], f["diffusion_coefficient"], f["origins"])
            for f in document["msd_fits"]] == [(d.group, d.diffusion, "all")
                                               for d in model.diffusion]
    haven = document["trajectory"]["conductivity"]["haven_ratio"]
    assert haven == model.conductivity.haven_ratio
    assert document["trajectory"]["groups_from"] == "--group and log.lammps group commands"
    text = io.StringIO()
    assert main(arguments, text, io.StringIO()) == 0
    assert "Haven ratio sigma_NE / sigma_EH" in text.getvalue()
    assert f"{model.group('Cl').diffusion:.4e} ± " in text.getvalue()


@pytest.mark.parametrize("arguments, message", [
    (["--group", "Na"], "give NAME=TYPES"),
    (["dir"], "run is a directory; give the dump file (vexa-pp analyze reads a run directory)"),
    ([], "no log (--log) or --units"),
    (["--units", "real"], "no log (--log) or --timestep"),
    # Two runs' dumps joined, the second from the first's start again.
    (["--units", "real", "--timestep", "2", "rerun"],
     "error: traj.lammpstrj: frames must be evenly spaced in time for a multi-origin MSD: the "
     "frame of timestep 0 (frame 400 counted from 0) follows timestep 39900 and goes back in "
     "time"),
])
def test_msd_command_refuses(tmp_path, arguments, message):
    run = make_run(tmp_path / "run", log=False)
    if arguments[-1:] == ["rerun"]:
        arguments = arguments[:-1]
        text = (run / "traj.lammpstrj").read_text()
        (run / "traj.lammpstrj").write_text(text + text[:text.index("ITEM: TIMESTEP", 1)])
    dump = run / "traj.lammpstrj"
    if arguments == ["dir"]:
        dump, arguments = run, []
    err = io.StringIO()
    assert main(["msd", str(dump), *arguments], io.StringIO(), err) != 0
    assert message in err.getvalue()


def test_the_sample_reports_its_trajectory():
    out = io.StringIO()
    assert main(["analyze", str(SAMPLE), "--json"], out, io.StringIO()) == 0
    (run,) = json.loads(out.getvalue())["runs"]
    section = run["trajectory"]
    assert (section["file"], section["groups"]) == (
        "nacl_spce.lammpstrj.gz", {"OW": [1], "Na": [3], "Cl": [4]})
    multi = [f for f in run["msd_fits"] if f["origins"] == "all"]
    assert [f["group"] for f in multi] == ["OW", "Na", "Cl"]
    assert all(f["diffusion_coefficient"] for f in multi)
    carriers = {c["group"]: c["diffusion"] for c in run["conductivity"]["carriers"]}
    assert carriers == {f["group"]: f["diffusion_coefficient"] for f in multi[1:]}
