"""The vexa-pp command line, run in-process through main(argv, out, err) (the
console script and `python -m` once each as subprocesses), its numbers
checked against direct calls of the functions and hand-evaluated formulas."""

import dataclasses
import io
import json
import math
import os
import signal
import statistics
import subprocess
import sys
from pathlib import Path

import pytest

from helpers import approx
import vexa_pp
from vexa_pp import analysis, salts
from vexa_pp.cli import main

SAMPLE = Path(vexa_pp.__file__).parent / "samples" / "lammps-run"
E, K = 1.602176634e-19, 1.380649e-23  # C, J/K


def cli(*args):
    out, err = io.StringIO(), io.StringIO()
    code = main([str(a) for a in args], out, err)
    return code, out.getvalue(), err.getvalue()


def cli_json(*args, expect=0):
    code, out, err = cli(*args, "--json")
    assert code == expect, err
    return json.loads(out)


def sample_msd():
    """msd.lammps in SI: steps of the deck's 2 fs, Å^2 as 1e-20 m^2."""
    raw = vexa_pp.parse_thermoprop(str(SAMPLE / "msd.lammps"))
    time = [(s - raw["TimeStep"][0]) * 2e-15 for s in raw["TimeStep"]]
    return time, {g: [v * 1e-20 for v in raw[f"c_msd{g}[4]"]] for g in ("OW", "Na", "Cl")}


def write_run(directory, d=(2e-9, 5e-9), ions=("K", "OH"), counts=(7, 8), waters=500):
    """A run in metal units (0.002 ps steps) as LAMMPS leaves it, with MSDs
    growing as 6 D t."""
    directory.mkdir(parents=True, exist_ok=True)
    log = ["units metal", "Created orthogonal box = (0 0 0) to (30 30 30)",
           "group OW type 1", f"{waters} atoms in group OW", "timestep 0.002"]
    for number, (ion, count) in enumerate(zip(ions, counts), 3):
        log += [f"group {ion} type {number}", f"{count} atoms in group {ion}",
                f"compute msd{ion} {ion} msd"]
    names = " ".join(f"c_msd{ion}[4]" for ion in ions)
    log += [f"fix msd all ave/time 10 1 10 {names} file msd.lammps", "run 2000",
            "Total wall time: 0:00:01"]
    (directory / "log.lammps").write_text("\n".join(log) + "\n")
    rows = ["# Time-averaged data for fix msd", f"# TimeStep {names}"]
    rows += [f"{10 * k} " + " ".join(f"{6 * dk * 10 * k * 2e-15 * 1e20:.10e}" for dk in d)
             for k in range(201)]
    (directory / "msd.lammps").write_text("\n".join(rows) + "\n")
    thermo = ["# Time-averaged data for fix thermo", "# TimeStep v_Temp v_Press"]
    thermo += [f"{100 * k} {300 + (-1) ** k} {k}" for k in range(1, 11)]
    (directory / "npt_prod.dat").write_text("\n".join(thermo) + "\n")
    for name, value in (("volume", 27000.0), ("density", 1.032)):
        (directory / f"{name}.dat").write_text(f"# fix {name}\n# TimeStep v_{name}\n"
                                               f"100 {value * 1.0001}\n200 {value * 0.9999}\n")
    angle = ["# Histogrammed data for fix angle", "# TimeStep Number-of-bins ...",
             "# Bin Coord Count Count/Total", "1000 6 10 0 100 110"]
    angle += [f"{i + 1} {100 + 2 * i} {c} {c / 10}" for i, c in enumerate([0, 1, 2, 6, 1, 0])]
    (directory / "npt_prod_angle.dat").write_text("\n".join(angle) + "\n")
    return directory


# ---- entry points and help ---------------------------------------------------

@pytest.mark.parametrize("command", [[str(Path(sys.executable).parent / "vexa-pp")],
                                     [sys.executable, "-m", "vexa_pp"]], ids=["script", "-m"])
def test_entry_points(command, tmp_path):
    done = subprocess.run(command + ["--version"], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0 and done.stdout.strip() == f"vexa-pp {vexa_pp.__version__}"
    # Worker processes start from either entry point, here run as Python
    # runs it with small runs let into workers.
    start = (f"runpy.run_path({command[0]!r}, run_name='__main__')" if len(command) == 1 else
             "runpy.run_module('vexa_pp', run_name='__main__', alter_sys=True)")
    code = f"import runpy; from vexa_pp import analysis; analysis.BYTES_PER_WORKER = 1; {start}"
    done = subprocess.run([sys.executable, "-c", code, "analyze", SAMPLE,
                           write_run(tmp_path / "run"), "--jobs", "2", "--json"],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0 and len(json.loads(done.stdout)["runs"]) == 2


@pytest.mark.parametrize("command, words", [
    ([], ["analyze", "props", "hop"]),
    (["analyze"], ["RUN_DIR", "--margin", "--min-displacement", "slope / (2 x", "--jobs",
                   "--viscosity", "--charge", "Yeh-Hummer", "Nernst-Einstein", "compute msd"]),
    (["props"], ["--salt", "--molarity", "Laliberte", "J. Chem. Eng. Data", "Gilliam", "CaCl2"]),
    (["hop"], ["--experimental-conductivity", "--hop-distance", "D_hop"]),
])
def test_help_explains_each_command(command, words):
    code, out, _ = cli(*command, "--help")
    assert code == 0 and all(word in out for word in words)


# ---- analyze -----------------------------------------------------------------

def test_sample_run_agrees_with_the_functions():
    (run,) = cli_json("analyze", SAMPLE)["runs"]
    assert run["missing"] == run["problems"] == [] and run["timestep"] == 2e-15
    time, msd = sample_msd()
    fits = [f for f in run["msd_fits"] if f["origins"] == "first"]
    assert [(f["table"], f["column"]) for f in fits] == [
        ("msd.lammps", g) for g in ("OW", "Na", "Cl")]
    for fit in fits:
        window = fit["window"]
        rows = slice(window["first_row"], window["first_row"] + window["points"])
        t, m = time[rows], msd[fit["column"]][rows]
        assert window["start_time"] == t[0] and window["share_of_rows"] > 0.1
        assert fit["slope"] == approx(statistics.linear_regression(t, m).slope, rel=1e-9)
        assert abs(window["loglog_slope"] - 1) < 0.1
        # The sampling of the group's atoms, the regression and the windows.
        parts = fit["error_parts"]
        assert fit["particles"] == run["groups"][fit["column"]]
        assert fit["standard_error"] == approx(math.hypot(*parts.values()))
        assert (parts["sampling"], parts["regression"]) == (fit["sampling_error"],
                                                            fit["fit_error"])
        assert 0 < fit["fit_error"] < fit["sampling_error"] < fit["diffusion_coefficient"]
    # SPC/E water self-diffuses at about 2.5e-9 m^2/s.
    assert 1.5e-9 < fits[0]["diffusion_coefficient"] < 4e-9

    thermo = vexa_pp.parse_thermoprop(str(SAMPLE / "nvt_prod.dat"))
    for column, stats in run["thermo"]["nvt_prod.dat"].items():
        assert stats["mean"] == approx(statistics.fmean(thermo[column]), rel=1e-12)
        assert stats["std"] == approx(statistics.stdev(thermo[column]), rel=1e-12)
    for name, unit in (("volume", "Å^3"), ("density", "g/cm^3")):
        rows = vexa_pp.parse_thermoprop(str(SAMPLE / f"{name}.dat"))
        values = list(rows.values())[1]
        assert run[name]["value"] == vexa_pp.parse_volume_density(str(SAMPLE / f"{name}.dat"))
        assert (run[name]["mean"], run[name]["rows"], run[name]["unit"]) == (
            approx(statistics.fmean(values)), len(values), unit)

    log = str(SAMPLE / "log.lammps")
    assert run["groups"] == {name: vexa_pp.read_group_count(log, name) for name in
                             ("solvent", "salt", "water", "OW", "HW", "Na", "Cl", "NaCl")}
    molality = 4 / (run["groups"]["OW"] * 18.015 / 1000)
    assert run["molality"]["ions"] == {"Na": molality, "Cl": molality}
    assert (run["molality"]["salt"], run["molality"]["salt_molality"]) == ("NaCl", molality)

    # Five histograms of 20 bins; the statistics line of each later block is
    # read as a row, so block b starts at row 20 + 21 (b - 1) + 1.
    angles = vexa_pp.parse_bond_angle(str(SAMPLE / "nvt_prod_angle.dat"))
    blocks = [angles["Count/Total"][:20]] + [angles["Count/Total"][s + 1:s + 21]
                                              for s in range(20, 104, 21)]
    peaks = run["angle_peaks"]
    assert [p["step"] for p in peaks] == [None, 2000, 4000, 6000, 8000, 10000]
    average = [statistics.fmean(b) for b in zip(*blocks)]
    for peak, values in zip(peaks, [average] + blocks):
        assert peak["found"] and peak["index"] == vexa_pp.local_maximum_finder(values, 0, 2)
        assert peak["angle"] == approx(109.47, abs=0.01)


def test_sample_run_text_and_corrections():
    code, out, err = cli("analyze", SAMPLE)
    assert code == 0 and err == ""
    (run,) = cli_json("analyze", SAMPLE)["runs"]
    fit = next(f for f in run["msd_fits"] if f["origins"] == "first")
    assert ["OW", f"{fit['diffusion_coefficient']:.4e}", "±", f"{fit['standard_error']:.2e}"] \
        in [line.split()[:4] for line in out.splitlines()]
    corrections, conductivity = run["corrections"], run["conductivity"]
    # Yeh-Hummer with the NaCl model's viscosity at the run's molality and temperature.
    (eta,) = vexa_pp.laliberte_viscosity([corrections["temperature"]],
                                         [run["molality"]["salt_molality"]], 58.443,
                                         *salts.find_salt("NaCl").viscosity)
    length = (run["volume"]["mean"] * 1e-30) ** (1 / 3)
    shift = 2.837297 * K * corrections["temperature"] / (6 * math.pi * eta * length)
    assert corrections["shift"] == approx(shift, rel=1e-12)
    assert fit["finite_size_corrected"] == approx(fit["diffusion_coefficient"] + shift)
    # The trajectory's D over every time origin, where it has one.
    d = {f["column"]: f["diffusion_coefficient"] for f in run["msd_fits"]
         if f["origins"] == "all"}
    sigma = E * E / (length ** 3 * K * corrections["temperature"]) * 4 * (d["Na"] + d["Cl"])
    assert conductivity["value"] == approx(sigma, rel=1e-9)
    check = run["density_check"]
    assert check["percent"] == approx((run["density"]["mean"] * 1000 / check["model"] - 1)
                                             * 100)
    for text in ("D∞ m^2/s", "Yeh-Hummer", f"sigma = {sigma:.4g}", "Density check",
                 f"{check['percent']:+.2f} %", "D = slope / 6;", "± sampling",
                 "peak at 109.469"):
        assert text in out


def test_run_as_lammps_writes_it(tmp_path):
    """D from a metal-units msd file, its finite-size and Nernst-Einstein
    results, the KOH model's conductivity and the hopping time, by hand."""
    run = write_run(tmp_path / "run")
    document = cli_json("analyze", run, "--viscosity", "1 mPa.s", "--hop-distance", "0.25nm")
    (report,) = document["runs"]
    assert report["problems"] == report["missing"] == []
    fits = {f["column"]: f for f in report["msd_fits"]}
    assert {g: f["diffusion_coefficient"] for g, f in fits.items()} == approx(
        {"K": 2e-9, "OH": 5e-9}, rel=1e-6)
    for fit in fits.values():  # exact lines: only the sampling of 7 or 8 ions is left
        d, parts = fit["diffusion_coefficient"], fit["error_parts"]
        assert parts["regression"] < 1e-6 * d and parts["windows"] < 1e-6 * d
        assert 0.1 < parts["sampling"] / d < 0.6
    assert not any("windows disagree" in w for w in report["warnings"])  # round-off only
    temperature, volume, length = 300.0, 27000e-30, 30e-10
    shift = 2.837297 * K * temperature / (6 * math.pi * 1e-3 * length)
    corrections = report["corrections"]
    assert (corrections["temperature"], corrections["volume"], corrections["box_length"]) == (
        approx(temperature), approx(volume), approx(length))
    assert fits["K"]["finite_size_corrected"] == approx(2e-9 + shift, rel=1e-6)
    g = report["conductivity"]
    scale = E * E / (volume * K * temperature)
    assert g["value"] == approx(scale * (7 * 2e-9 + 8 * 5e-9), rel=1e-6)
    assert g["corrected"] == approx(scale * (7 * (2e-9 + shift) + 8 * (5e-9 + shift)),
                                           rel=1e-6)
    koh = salts.find_salt("KOH")
    (expected,) = vexa_pp.koh_gilliam_eval([corrections["temperature"]],
                                           [7 / (500 * 18.015e-3)], koh.molecular_weight,
                                           *koh.density)
    assert g["experimental"] == approx(expected, rel=1e-12)
    hop = report["proton_hopping"]
    tau = (2.5e-10 ** 2 * E * E * 8) / (6 * K * temperature * volume
                                         * (g["experimental"] - g["corrected"]))
    assert (hop["group"], hop["carriers"]) == ("OH", 8)
    assert hop["tau"] == approx(tau, rel=1e-6)
    assert hop["d_hop"] == approx(2.5e-10 ** 2 / (6 * tau), rel=1e-6)
    assert report["density_check"]["run"] == approx(1032.0)
    assert report["angle_peaks"] == [{"file": "npt_prod_angle.dat", "column": "Count/Total",
                                      "blocks": 1, "step": None, "found": True, "index": 3,
                                      "angle": 106.0, "value": 0.6}]


@pytest.mark.parametrize("old, new, args, expect", [
    ("(30 30 30)", "(30 30 40)", [], "box: the finite-size correction takes L = V^(1/3)"),
    ("units metal", "units si", [], "check the units"),  # Å^2 and ps read as m^2 and s
    ("", "", ["--ion-group", "Xx"], "charge of group 'Xx' unknown (--charge Xx=+1)"),
    ("", "", ["--min-window", "2", "--max-window", "19"],
     "window holds under 10 % of the rows for K (18 of 201 rows), Xx (18 of 201 rows)"),
    ("7 atoms in group K", "", [],
     "the atom count of K is unknown (no 'atoms in group' line for its group in log.lammps), "
     "so D's ± lacks the sampling of the particles"),
    ("", "", ["--viscosity", "0.73"], "if mPa s was meant, write 0.73mPa.s"),
    ("", "", ["--salt", "KOH", "--temperature", "350", "--water-model", "OPC"],
     "the OPC viscosity holds at 298 K, the run is at 350.00 K"),
])
def test_warnings_and_notes(tmp_path, old, new, args, expect):
    run = write_run(tmp_path / "run", ions=("K", "Xx"))
    (run / "log.lammps").write_text((run / "log.lammps").read_text().replace(old, new))
    report = cli_json("analyze", run, *args)["runs"][0]
    assert any(expect in text for text in report["warnings"] + report["notes"])


@pytest.mark.parametrize("counts, angle", [
    ([0, 1, 2, 6, 1, 0], 106.0),
    ([0, 1, 6, 6, 1, 0], None),  # a flat top is no strict maximum
    ([0, 6, 2, 1, 1, 0], None),  # too near the edge for two bins a side
])
def test_histogram_peak_is_a_strict_maximum(tmp_path, counts, angle):
    run = write_run(tmp_path / "run")
    angles = ["# Histogrammed data for fix angle", "# TimeStep Number-of-bins ...",
              "# Bin Coord Count Count/Total", "1000 6 10 0 100 110"]
    angles += [f"{i + 1} {100 + 2 * i} {c} {c / 10}" for i, c in enumerate(counts)]
    (run / "npt_prod_angle.dat").write_text("\n".join(angles) + "\n")
    (peak,) = cli_json("analyze", run)["runs"][0]["angle_peaks"]
    assert (peak["found"], peak["angle"]) == (angle is not None, angle)


def test_group_commands_aligned_with_spaces(tmp_path):
    run = write_run(tmp_path / "run")
    log = run / "log.lammps"
    log.write_text(log.read_text().replace("group OW type 1", "group           OW    type 1"))
    report = cli_json("analyze", run)["runs"][0]
    assert report["groups"]["OW"] == 500 and report["conductivity"] and report["density_check"]


HEADER = "# Time-averaged data for fix msd\n# TimeStep c_msdK[4] c_msdOH[4]\n"


@pytest.mark.parametrize("name, change, kind, text", [
    ("log.lammps", lambda log: None, "problems", "msd.lammps: no log.lammps beside it"),
    ("log.lammps", lambda log: log.replace("Total wall", "Loop"), "warnings",
     "log.lammps ends without LAMMPS's closing 'Total wall time' line"),
    ("msd.lammps", lambda msd: HEADER, "problems", "msd.lammps: no data rows after the header"),
    ("msd.lammps", lambda msd: HEADER + "".join(f"{10 * k} {k + 1} 1\n" for k in range(10)),
     "failure", "too short for the window search: needs at least 13 rows, has 10"),
])
def test_what_a_run_lacks_is_said(tmp_path, name, change, kind, text):
    file = write_run(tmp_path / "run") / name
    content = change(file.read_text())
    file.unlink() if content is None else file.write_text(content)
    document = cli_json("analyze", file.parent, expect=int(kind == "problems"))
    report = document["runs"][0]
    found = [f["failure"] for f in report["msd_fits"]] if kind == "failure" else report[kind]
    assert any(text in t for t in found if t), found


@pytest.mark.parametrize("args, kind, source, model", [
    ([], "experimental", "experimental, the real solution's: Laliberte model of KOH", None),
    (["--water-model", "tip4p2005"], "water model", "TIP4P/2005 water, 0.855 mPa s at 298 K",
     0.855e-3),
    # a model known only by how far it lies below real water's 0.8908 mPa s
    (["--water-model", "OPC"], "water model", "OPC water (about), 0.802 mPa s", 0.9 * 0.8908e-3),
    (["--viscosity", "0.855cP"], "given", "--viscosity", None),
])
def test_viscosity_of_the_simulated_liquid(tmp_path, args, kind, source, model):
    report = cli_json("analyze", write_run(tmp_path / "run"), *args)["runs"][0]
    corrections, molality = report["corrections"], report["molality"]["salt_molality"]
    koh = salts.find_salt("KOH")
    solution, water = vexa_pp.laliberte_viscosity([300.0] * 2, [molality, 0], koh.molecular_weight,
                                                  *koh.viscosity)
    expected = {"experimental": solution, "water model": (model or 0) * solution / water,
                "given": 0.855e-3}[kind]
    assert corrections["viscosity"] == approx(expected) and corrections["viscosity_kind"] == kind
    assert corrections["viscosity_source"].startswith(source)
    # Without a viscosity of the model, the gap to the common ones is told.
    assert any("SPC/E 0.729 mPa s, 18 % below" in w for w in report["warnings"]) == (kind ==
                                                                                "experimental")


def test_a_run_named_twice_is_analysed_once(tmp_path):
    run = write_run(tmp_path / "run")
    (tmp_path / "link").symlink_to(run)
    code, out, err = cli("analyze", run, tmp_path / "link", f"{tmp_path}/../{tmp_path.name}/run",
                         run, "--json")
    assert code == 0 and len(json.loads(out)["runs"]) == 1
    assert err.count(f"is {run} again: analysed once") == 2 and "is named twice" in err


@pytest.mark.parametrize("jobs, per_run, trajectories, workers", [
    (8, 0.5, False, 3),  # never more workers than runs
    (2, 0.5, False, 2),
    (8, 2, False, 1),  # too little to analyse for a second worker's start
    (8, 2, True, 1),  # trajectories beside the tables are not analysed
])
def test_workers_for_the_runs(tmp_path, monkeypatch, jobs, per_run, trajectories, workers):
    runs = [write_run(tmp_path / name) for name in "abc"]
    size = sum(f.stat().st_size for f in runs[0].iterdir())
    monkeypatch.setattr(analysis, "BYTES_PER_WORKER", int(per_run * size))
    for run in runs if trajectories else []:
        with open(run / "dump.lammpstrj", "wb") as dump:
            dump.truncate(1 << 30)  # sparse: no disk used
    assert analysis.workers(runs, jobs) == workers


def test_charges_from_the_command_line(tmp_path):
    run = write_run(tmp_path / "run", ions=("K", "Xx"))
    report = cli_json("analyze", run, "--ion-group", "K", "--ion-group", "Xx",
                      "--charge", "Xx=-1", "K=+2", "Foo=+1")["runs"][0]
    assert "--charge names no group of this run: Foo" in report["warnings"]
    scale = E * E / (27000e-30 * K * 300.0)
    assert report["conductivity"]["value"] == approx(
        scale * (7 * 2 ** 2 * 2e-9 + 8 * 5e-9), rel=1e-6)
    # K Xx2 holds one K: the salt's molality is K's, counted by the cation
    assert report["molality"]["salt_molality"] == report["molality"]["ions"]["K"]


@pytest.mark.parametrize("options, settings", [
    (["--margin", "0.2", "--min-window", "5", "--max-window", "40"],
     dict(margin=0.2, min_window=5, max_window=40)),
    (["--tolerance", "0.02", "--min-displacement", "0"], dict(max_error=0.02, min_displacement=0.0)),
    (["--dimensions", "2"], dict(dimensions=2)),
    (["--tolerance", "1e-9"], dict(max_error=1e-9)),
])
def test_fit_options(options, settings):
    document = cli_json("analyze", SAMPLE, *options)
    limits = {"min_window": 10, "max_window": math.inf, "max_error": 0.1, "dimensions": 3,
              **settings}
    for fit in document["runs"][0]["msd_fits"]:
        window = fit["window"]
        if fit["origins"] == "all":  # the trajectory's window ends at half a block
            continue
        if window is None:  # nothing qualifies; JSON has no NaN
            assert limits["max_error"] == 1e-9 and fit["slope"] is None
            continue
        assert limits["min_window"] <= window["points"] < limits["max_window"]
        assert abs(window["loglog_slope"] - 1) < limits["max_error"]
        assert fit["diffusion_coefficient"] == approx(fit["slope"] / (2 * limits["dimensions"]))


def test_groups_and_solvent_options(tmp_path):
    run = write_run(tmp_path / "run", ions=("Li", "Xx"), waters=250)
    report = cli_json("analyze", run, "--ion-group", "Xx", "--solvent-molar-mass", "20")["runs"][0]
    assert report["molality"]["ions"] == {"Xx": 8 / (250 * 20 / 1000)}
    report = cli_json("analyze", run, "--solvent-group", "Li")["runs"][0]
    assert report["molality"]["ions"] == {"Li": 7 / (7 * 18.015 / 1000)}
    with (run / "log.lammps").open("a") as log:
        log.write("group O type 1 2\n1500 atoms in group O\n")
    assert vexa_pp.read_group_count(str(run / "log.lammps"), "O") == 250  # "group OW" first
    report = cli_json("analyze", run)["runs"][0]
    assert report["groups"]["O"] == 1500
    assert any("'O' has 1500 atoms" in note for note in report["notes"])


def test_several_runs(tmp_path):
    runs = [write_run(tmp_path / "a", d=(2e-9, 5e-9)), write_run(tmp_path / "b", d=(3e-9, 5e-9)),
            write_run(tmp_path / "c", d=(7e-9, 5e-9))]
    # A run whose MSD grows as t^2 never looks diffusive: its fit fails.
    rows = (runs[2] / "msd.lammps").read_text().splitlines()
    rows[2:] = [f"{10 * k} {(k * 0.2) ** 2} 1e-3" for k in range(201)]
    (runs[2] / "msd.lammps").write_text("\n".join(rows) + "\n")
    serial = cli_json("analyze", *runs, SAMPLE, "--jobs", "1")
    assert cli_json("analyze", *runs, SAMPLE, "--jobs", "3") == serial
    summary = {s["column"]: s for s in serial["summary"]
               if s["quantity"] == "diffusion_coefficient"}
    assert list(summary) == ["K", "OH", "OW", "Na", "Cl"]
    # D∞ and the conductivity are averaged over the runs that have them.
    by_quantity = {(s["quantity"], s["column"]): s for s in serial["summary"]}
    for key, values in ((("finite_size_corrected", "K"),
                         [{f["column"]: f["finite_size_corrected"] for f in r["msd_fits"]}.get("K")
                          for r in serial["runs"]]),
                        (("conductivity_corrected", None),
                         [r["conductivity"] and r["conductivity"]["corrected"]
                          for r in serial["runs"]])):
        values = [v for v in values if v is not None]
        assert (by_quantity[key]["mean"], by_quantity[key]["count"]) == (
            approx(statistics.fmean(values)), len(values) > 1 and len(values))
    assert (summary["K"]["mean"], summary["K"]["std"], summary["K"]["standard_error"]) == (
        approx(2.5e-9), approx(statistics.stdev([2e-9, 3e-9]), rel=1e-6),
        approx(statistics.stdev([2e-9, 3e-9]) / math.sqrt(2), rel=1e-6))
    assert (summary["K"]["count"], summary["K"]["runs"]) == (2, 4)
    assert summary["OW"]["count"] == 1 and summary["OW"]["std"] is None  # never 0

    code, out, err = cli("analyze", *runs[:2], "--progress")
    assert code == 0 and "2/2" in err and "over 2 runs" in out and "sample std" in out


def test_a_run_that_raises_leaves_the_others(tmp_path):
    table = tmp_path / "table"
    table.mkdir()
    (table / "diffself.dat").write_text(DROPPED)
    options = analysis.Options(solvent_molar_mass=0.0)  # the command line refuses it
    for jobs in (1, 2):
        crashed, fine = analysis.analyze_runs([write_run(tmp_path / "run"), table], options, jobs)
        assert "ZeroDivisionError" in crashed.error and fine.error is None and fine.msd


def test_interrupted(monkeypatch):
    def interrupted(*args, **kwargs):
        raise KeyboardInterrupt

    monkeypatch.setattr(analysis, "analyze_runs", interrupted)
    assert cli("analyze", SAMPLE) == (130, "", "vexa-pp: interrupted\n")


def test_missing_files_are_skipped(tmp_path):
    run = tmp_path / "only-msd"
    run.mkdir()
    for name in ("msd.lammps", "log.lammps"):
        (run / name).write_text((SAMPLE / name).read_text())
    code, out, _ = cli("analyze", run)
    assert code == 0 and "OW  " in out
    for name in ("volume.dat", "density.dat", "*_prod.dat", "*angle*.dat"):
        assert any(line.startswith("  missing, skipped:") and name in line
                   for line in out.splitlines())


HEADER_7 = "#Time MSD_A MSD_B MSD_C MSD_D MSD_E MSD_F\n" + "1 2 3 4 5 6\n" * 30
DROPPED = "#Time MSD_A\n" + "".join(f"{k}e-12 {k}e-20\n" for k in range(1, 40)) + "1\nx 2\n"


@pytest.mark.parametrize("name, content, reason", [
    ("diffself.dat", b"#Time MSD\n\xff\xfe 1\n", "stream did not contain valid UTF-8"),
    ("diffself.dat", HEADER_7.encode(), "header has 7 names, rows have 6 fields"),
    ("diffself.dat", HEADER_7.replace(" ", "\u00a0").encode(), "header has 7 names, rows have 6"),
    ("diffself.dat", b"#Time MSD\n" + b"1 x\n" * 3, "no row is all numbers"),
    ("volume.dat", b"# title\n# names\n", "No numeric data found in"),
    ("npt_prod.dat", b"# only a title\n", "file too short"),
    ("npt_prod_angle.dat", b"# a\n# b\n# c\n", "file too short"),
    ("log.lammps", b"units lj\ncompute msdK K msd\n", "unit style 'lj' has no SI conversion"),
])
def test_bad_file_is_named_with_its_reason(tmp_path, name, content, reason):
    run = write_run(tmp_path / "run")
    (run / name).write_bytes(content)
    document = cli_json("analyze", run, expect=1)
    problems = document["runs"][0]["problems"]
    (problem,) = [p for p in problems if reason in p]
    assert name in problem or (name == "log.lammps" and "msd.lammps" in problem)
    code, out, err = cli("analyze", run)
    assert code == 1 and f"error: {problem}" in out


@pytest.mark.parametrize("name, make, kind, text", [
    (b"we\xffird_prod.dat", Path.touch, "problems",
     "we\\xffird_prod.dat: the file name is not valid UTF-8; skipped"),
    (b"fifo_prod.dat", os.mkfifo, "notes", "fifo_prod.dat: not a regular file; skipped"),
    (b"fifo_angle.dat", os.mkfifo, "notes", "fifo_angle.dat: not a regular file; skipped"),
])
def test_entries_that_cannot_be_read_are_skipped(tmp_path, name, make, kind, text):
    run = write_run(tmp_path / "run")
    make(run / os.fsdecode(name))
    signal.alarm(60)  # a FIFO without a writer would block the reader for ever
    try:
        code, out, err = cli("analyze", run, "--json")
    finally:
        signal.alarm(0)
    (report,) = json.loads(out.encode("utf-8"))["runs"]  # strict: no lone surrogate
    assert code == (kind == "problems") and any(text in p for p in report[kind])
    assert report["msd_fits"] and report["thermo"]


@pytest.mark.parametrize("content, note", [
    (DROPPED, "diffself.dat: 2 of 41 rows dropped"),
    # White_Space beyond ASCII, as the reader skips it: lines of U+3000 are
    # blank, U+00A0 separates fields
    (DROPPED.replace(" ", "\u00a0") + "\u3000\n\u3000\u2028 \n",
     "diffself.dat: 2 of 41 rows dropped"),
    (DROPPED.replace("1\nx 2\n", "\u3000\n"), None),
], ids=["ascii", "unicode", "unicode-none-dropped"])
def test_dropped_rows_are_counted(tmp_path, content, note):
    run = tmp_path / "run"
    run.mkdir()
    (run / "diffself.dat").write_text(content)
    report = cli_json("analyze", run)["runs"][0]
    assert [n.split(" (")[0] for n in report["notes"] if "rows" in n] == [note] * bool(note)


@pytest.mark.parametrize("make", [lambda p: None, lambda p: p.mkdir()], ids=["missing", "empty"])
def test_missing_or_empty_run_directory(tmp_path, make):
    run = tmp_path / "run"
    make(run)
    code, out, _ = cli("analyze", run, SAMPLE)
    assert code == 1 and f"error: {run}: no" in out and "Run " + str(SAMPLE) in out
    assert cli_json("analyze", run, expect=1)["runs"][0]["error"].startswith(f"{run}: no")


@pytest.mark.parametrize("args, message", [
    (["analyze"], "the following arguments are required: RUN_DIR"),
    (["analyze", ".", "--min-window", "50", "--max-window", "50"], "--min-window must be smaller"),
    (["analyze", ".", "--min-window", "-1"], "must not be negative"),
    (["analyze", ".", "--peak-neighbors", "0"], "must be at least 1"),
    (["analyze", ".", "--charge", "Na"], "give NAME=CHARGE"),
    (["analyze", ".", "--viscosity", "730"], "--viscosity: must lie within 1e-5 .. 1 Pa s, "
     "where liquids are, not 730; a bare number is Pa s: write the unit, as 0.73mPa.s"),
    (["analyze", ".", "--viscosity", "0.73 mPa/s"], "unknown unit 'mPa/s' (known: Pas, mPas, cP)"),
    (["analyze", ".", "--viscosity", "1cP", "--water-model", "SPC/E"], "not allowed with"),
    (["analyze", ".", "--water-model", "TIP3P"], "no viscosity bundled for water model 'TIP3P' "
     "(known: SPC/E, TIP4P/2005, TIP4P, OPC, OPC3); give --viscosity instead"),
    (["analyze", ".", "--experimental-conductivity", "600"], "write the unit, as 600mS/cm"),
    (["analyze", ".", "--min-displacement", "1"], "a bare number is metres: write the unit, as 1A"),
    (["analyze", ".", "--hop-distance", "2.5e-10"], "must lie within 1 .. 10 Å, not 2.5e-10"),
    (["analyze", ".", "--salt", "LiBr"], "unknown salt 'LiBr'"),
    (["props", "--salt", "NaCl", "--molality", "1"], "--temperature"),
    (["props", "--salt", "NaCl", "--molality", "1", "--molarity", "1", "--temperature", "300"],
     "not allowed with argument"),
    (["props", "--salt", "LiBr", "--molality", "1", "--temperature", "300"],
     "unknown salt 'LiBr' (known: CaCl2, KCl, KOH, LiCl, Na2SO4, NaCl)"),
    (["props", "--salt", "NaCl", "--molality", "1", "--temperature", "25"],
     "temperature 25 K is below 250 K: it looks like degrees Celsius; give kelvin (25 degC = "
     "298.15 K)"),
    (["props", "--salt", "NaCl", "--molality", "1", "-0.5", "--temperature", "300"],
     "a molality cannot be negative (or NaN): -0.5"),
    (["hop", "--temperature", "300"], "the following arguments are required"),
    (["analyze", ".", "--temperature", "25"], "--temperature: temperature 25 K is below 250 K"),
    (["props", "--salt", "NaCl", "--molality", "1", "--temperature", "nan"],
     "--temperature: must be a finite number, not nan"),
    (["analyze", ".", "--solvent-molar-mass", "0.018"],
     "--solvent-molar-mass: must lie within 1 .. 1000 g/mol, not 0.018 (g/mol, not kg/mol)"),
    (["analyze", ".", "--margin", "nan"], "--margin: must be a finite number"),
    (["analyze", ".", "--margin", "0.5"], "--margin: must be at least 0 and below 0.5"),
    (["analyze", ".", "--tolerance", "0"], "--tolerance: must be positive"),
    (["hop", "--experimental-conductivity", "20", "--md-conductivity", "12", "--temperature",
      "300", "--box-length", "21.7", "--particles", "0.5", "--hop-distance", "2.5"],
     "--particles: must be at least 1: it counts the carriers in the box"),
    (["hop", "--experimental-conductivity", "20", "--md-conductivity", "12", "--temperature",
      "300", "--box-length", "2.17e-9", "--particles", "8", "--hop-distance", "2.5"],
     "--box-length: must be at least 10 Å for a box that holds a liquid, not 2.17e-9; a bare "
     "number is Å: write the unit, as 2.17nm"),
])
def test_usage_errors(args, message):
    code, out, err = cli(*args)
    assert code == 2 and message in err and out == ""


# ---- props -------------------------------------------------------------------

@pytest.mark.parametrize("name", ["NaCl", "kcl", "KOH", "CaCl2"])
@pytest.mark.parametrize("option", ["--molality", "--molarity"])
def test_props_passes_its_arguments_to_the_models(name, option):
    temperatures, values = [298.15, 330.0], [0.0, 0.5, 2.0]
    document = cli_json("props", "--salt", name, option, *values, "--temperature", *temperatures)
    salt = salts.find_salt(name)
    key = "molalities" if option == "--molality" else "molarities"
    expected = salts.solution_states(salt, temperatures, **{key: values})
    assert document["states"] == [dataclasses.asdict(s) for s in expected]
    assert (document["salt"], document["status"]) == (salt.symbol, "published")


def test_props_text_and_range_warning():
    code, out, err = cli("props", "--salt", "KOH", "--molality", "1", "--temperature", "330")
    koh = salts.find_salt("KOH")
    (conductivity,) = vexa_pp.koh_gilliam_eval([330.0], [1.0], koh.molecular_weight, *koh.density)
    assert code == 0 and f"{conductivity:.4g}" in out and "Gilliam" in out
    # KOH viscosity was fitted up to 40 degC.
    assert err == ("vexa-pp props: warning: the KOH viscosity model is extrapolated at 330 K, "
                   "1 mol/kg: temperature 330 K is outside 259.05 .. 313.15 K\n")


@pytest.mark.parametrize("molarity, code, message", [
    # just under the 1e-9 mol/kg below which the search is not asked
    (9e-10, 0, "note: molarity 9e-10 mol/L at 298.15 K is infinitely dilute for the density "
               "model: molality = molarity / density of water = 9.02667e-10 mol/kg"),
    (50, 1, "error: molarity 50 mol/L at 298.15 K: the NaCl density model reaches it at no "
            "molality"),
])
def test_props_molarity_out_of_reach(molarity, code, message):
    found, out, err = cli("props", "--salt", "NaCl", "--molarity", 1, molarity,
                          "--temperature", 298.15, "--json")
    assert (found, err) == (code, f"vexa-pp props: {message}\n")
    if not code:  # the other molarity stands
        assert [s["molarity"] for s in json.loads(out)["states"]] == approx([1, molarity])


# ---- hop ---------------------------------------------------------------------

@pytest.mark.parametrize("sigma_exp, given, sigma_md", [
    (20.0, "200mS/cm", 12.0), (12.0, 12.0, 20.0), (5.0, 5.0, 5.0)])
def test_hop_agrees_with_the_functions(sigma_exp, given, sigma_md):
    args = ["hop", "--experimental-conductivity", given, "--md-conductivity", sigma_md,
            "--temperature", 298.15, "--box-length", "2.17nm", "--particles", 8,
            "--hop-distance", "2.5A"]
    document = cli_json(*args)
    tau = vexa_pp.tau_calculator(sigma_exp, sigma_md, 298.15, 21.7e-10, 8, 2.5e-10)
    d_hop = vexa_pp.diffusion_adjustment(tau, 2.5e-10)
    assert [document["tau"], document["d_hop"]] == [v if math.isfinite(v) else None
                                                    for v in (tau, d_hop)]
    code, out, err = cli(*args)
    assert code == 0 and f"{tau:.6e} s" in out and ("warning" in err) == (sigma_exp <= sigma_md)


# ---- plots -------------------------------------------------------------------

def png_size(path):
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    return int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")


def test_plots(tmp_path):
    pytest.importorskip("matplotlib.figure")
    plots = tmp_path / "plots"
    # A column with no positive value is named in the legend, not drawn.
    runs = [write_run(tmp_path / "a"), write_run(tmp_path / "b" / "a", d=(2e-9, 0.0))]
    document = cli_json("analyze", SAMPLE, *runs, "--plot", plots)
    assert [Path(p).name for p in document["plots"]] == [
        "lammps-run_nacl_spce.lammpstrj_msd.png", "lammps-run_msd_msd.png", "a_msd_msd.png",
        "a-2_msd_msd.png"]
    assert all(png_size(Path(p))[0] > 400 for p in document["plots"])
    document = cli_json("props", "--salt", "KOH", "--molality", "1", "2", "--temperature", "300",
                        "--plot", plots)
    assert document["plots"] == [str(plots / "KOH_properties.png")]
    assert png_size(plots / "KOH_properties.png")[0] > 400


def test_failed_plot_keeps_the_report(tmp_path):
    pytest.importorskip("matplotlib.figure")
    blocked = tmp_path / "plots" / "run_msd_msd.png"
    blocked.mkdir(parents=True)  # a directory where the PNG should go
    code, out, err = cli("analyze", write_run(tmp_path / "run"), "--plot", tmp_path / "plots")
    assert code == 1 and "Self-diffusion from msd.lammps" in out and "Plots written" not in out
    assert f"error: plot {blocked}: IsADirectoryError" in err
    document = cli_json("analyze", tmp_path / "run", "--plot", tmp_path / "plots", expect=1)
    assert document["plots"] == [] and [f["path"] for f in document["failed_plots"]] == [
        str(blocked)]


def test_plot_without_matplotlib(tmp_path):
    blocked = ("import sys; sys.modules['matplotlib'] = None; from vexa_pp.cli import main; "
               "sys.exit(main())")
    done = subprocess.run([sys.executable, "-c", blocked, "analyze", str(SAMPLE), "--plot",
                           str(tmp_path / "plots")], capture_output=True, text=True, cwd=tmp_path)
    assert done.returncode == 1 and done.stdout == ""
    assert "--plot needs matplotlib" in done.stderr and "vexa_pp[plot]" in done.stderr
    assert not (tmp_path / "plots").exists()
