"""The vexa-pp command line, run as a user runs it (a subprocess of the
installed console script), its numbers checked against direct calls."""

import json
import math
import subprocess
import sys
from pathlib import Path

import pytest

import vexa_pp
from vexa_pp import salts

SCRIPT = Path(sys.executable).parent / "vexa-pp"
SAMPLE = Path(vexa_pp.__file__).parent / "samples" / "lammps-run"
DEFAULTS = dict(margin=0.1, min_window=10, max_window=100, max_error=0.1, min_displacement=1e-10)
NACL = (58.443, -0.00433, 0.06471, 1.0166, 0.014624, 3315.6)
NACL_VISCOSITY = (16.222, 1.3229, 1.4849, 0.0074691, 30.78, 2.0583)


def cli(*args, cwd=None, python_module=False):
    command = [sys.executable, "-m", "vexa_pp"] if python_module else [str(SCRIPT)]
    return subprocess.run(command + [str(a) for a in args], capture_output=True, text=True,
                          cwd=cwd, timeout=120)


def cli_json(*args, expect=0):
    done = cli(*args, "--json")
    assert done.returncode == expect, done.stderr
    return json.loads(done.stdout)


def fit_directly(time, msd, dimensions=3, **settings):
    params = {**DEFAULTS, **settings}
    slope, t_fit, _ = vexa_pp.diff_calculator(time, msd, params["margin"], params["min_window"],
                                              params["max_window"], params["max_error"],
                                              params["min_displacement"])
    return slope, slope / (2 * dimensions), t_fit


def write_run(directory, d_a=2.0e-9, d_b=1.0e-9, ions=("K", "OH"), waters=500):
    """A small run directory in the layouts LAMMPS and the transport tools write."""
    directory.mkdir(parents=True, exist_ok=True)
    rows = ["# Self-diffusion (m^2) against time (s)", "#Time MSD_A MSD_B"]
    rows += [f"{k * 1e-13:.8e} {6 * d_a * k * 1e-13:.8e} {6 * d_b * k * 1e-13:.8e}"
             for k in range(201)]
    (directory / "diffself.dat").write_text("\n".join(rows) + "\n")
    thermo = ["# Time-averaged data for fix thermo", "# TimeStep v_Temp v_Press"]
    thermo += [f"{100 * k} {300 + (-1) ** k} {k}" for k in range(1, 11)]
    (directory / "npt_prod.dat").write_text("\n".join(thermo) + "\n")
    for name, value in (("volume", 27000.5), ("density", 1.0321)):
        (directory / f"{name}.dat").write_text(
            f"# Time-averaged data for fix {name}\n# TimeStep v_{name}\n100 {value}\n200 1\n")
    angle = ["# Histogrammed data for fix angle", "# TimeStep Number-of-bins ...",
             "# Bin Coord Count Count/Total", "1000 6 10 0 100 110"]
    counts = [0, 1, 2, 6, 1, 0]
    angle += [f"{i + 1} {100 + 2 * i} {c} {c / 10}" for i, c in enumerate(counts)]
    (directory / "npt_prod_angle.dat").write_text("\n".join(angle) + "\n")
    log = ["units real", "group OW type 1", f"{waters} atoms in group OW"]
    for number, ion in enumerate(ions, 3):
        log += [f"group {ion} type {number}", f"{4 + number} atoms in group {ion}"]
    (directory / "log.lammps").write_text("\n".join(log) + "\n")
    return directory


# ---- entry points and help ---------------------------------------------------

@pytest.mark.parametrize("python_module", [False, True], ids=["vexa-pp", "python -m"])
def test_entry_points(python_module):
    done = cli("--version", python_module=python_module)
    assert done.returncode == 0 and done.stdout.strip() == f"vexa-pp {vexa_pp.__version__}"


@pytest.mark.parametrize("command, words", [
    ([], ["analyze", "props", "hop"]),
    (["analyze"], ["RUN_DIR", "--margin", "--tolerance", "--min-displacement", "slope / (2 x",
                   "m^2/s", "missing file is reported"]),
    (["props"], ["--salt", "--molality", "--molarity", "--temperature", "Laliberte",
                 "J. Chem. Eng. Data", "Gilliam"]),
    (["hop"], ["--experimental-conductivity", "--hop-distance", "D_hop"]),
])
def test_help_explains_each_command(command, words):
    done = cli(*command, "--help")
    assert done.returncode == 0
    for word in words:
        assert word in done.stdout


# ---- analyze -----------------------------------------------------------------

def test_analyze_sample_run_agrees_with_the_functions():
    document = cli_json("analyze", SAMPLE)
    (run,) = document["runs"]
    assert run["missing"] == [] and run["problems"] == []
    table = vexa_pp.parse_vexa_file(str(SAMPLE / "diffself.dat"))
    assert [f["column"] for f in run["msd_fits"]] == ["MSD_OW", "MSD_Na", "MSD_Cl"]
    for fit in run["msd_fits"]:
        slope, d, t_fit = fit_directly(table["Time"], table[fit["column"]])
        assert fit["slope"] == slope and fit["diffusion_coefficient"] == d
        window = fit["window"]
        assert (window["start_time"], window["end_time"]) == (t_fit[0], t_fit[-1])
        assert window["points"] == len(t_fit)
        assert table["Time"][window["first_row"]] == t_fit[0]
        assert abs(window["loglog_slope"] - 1) < DEFAULTS["max_error"]
    # SPC/E water self-diffuses at about 2.5e-9 m^2/s.
    assert 1.5e-9 < run["msd_fits"][0]["diffusion_coefficient"] < 4e-9

    thermo = vexa_pp.parse_thermoprop(str(SAMPLE / "nvt_prod.dat"))
    assert list(run["thermo"]["nvt_prod.dat"]) == ["v_Temp", "v_Press", "v_PotEng", "v_TotEng"]
    for column, stats in run["thermo"]["nvt_prod.dat"].items():
        assert (stats["mean"], stats["std"], stats["count"]) == vexa_pp.repacking_results(
            thermo[column])
    assert run["volume"] == {"value": vexa_pp.parse_volume_density(str(SAMPLE / "volume.dat")),
                             "unit": "Å^3"}
    assert run["density"]["value"] == vexa_pp.parse_volume_density(str(SAMPLE / "density.dat"))
    assert run["density"]["unit"] == "g/cm^3"

    log = str(SAMPLE / "log.lammps")
    assert run["groups"] == {name: vexa_pp.read_group_count(log, name) for name in
                             ("solvent", "salt", "water", "OW", "HW", "Na", "Cl", "NaCl")}
    waters = run["groups"]["OW"]
    assert run["molality"]["ions"] == {"Na": 4 / (waters * 18.015 / 1000),
                                       "Cl": 4 / (waters * 18.015 / 1000)}

    angles = vexa_pp.parse_bond_angle(str(SAMPLE / "nvt_prod_angle.dat"))
    index = vexa_pp.local_maximum_finder(angles["Count/Total"], 0, 2)
    (peak,) = run["angle_peaks"]
    assert peak["found"] and peak["index"] == index
    assert peak["angle"] == angles["Coord"][index] == pytest.approx(109.47, abs=0.01)


def test_analyze_text_tables():
    done = cli("analyze", SAMPLE)
    assert done.returncode == 0 and done.stderr == ""
    table = vexa_pp.parse_vexa_file(str(SAMPLE / "diffself.dat"))
    slope, d, _ = fit_directly(table["Time"], table["MSD_OW"])
    lines = done.stdout.splitlines()
    (row,) = [line for line in lines if line.split()[:1] == ["MSD_OW"]]
    assert row.split()[1:3] == [f"{slope:.4e}", f"{d:.4e}"]
    assert "D = slope / 6" in done.stdout and "m^2/s" in done.stdout
    for text in ("v_Temp", "volume 10218.3 Å^3", "density 1.01874 g/cm^3", "OW",
                 "peak at 109.469 degrees"):
        assert text in done.stdout
    (na,) = [line for line in lines if line.split()[:1] == ["Na"] and "." in line]
    assert na.split()[1] == f"{4 / (335 * 0.018015):.4f}"


@pytest.mark.parametrize("options, settings", [
    (["--margin", "0.2", "--min-window", "5", "--max-window", "40"],
     dict(margin=0.2, min_window=5, max_window=40)),
    (["--tolerance", "0.02", "--min-displacement", "0"], dict(max_error=0.02, min_displacement=0.0)),
    (["--dimensions", "2"], dict(dimensions=2)),
    (["--tolerance", "0"], dict(max_error=0.0)),  # nothing qualifies
    (["--margin", "nan"], dict(margin=math.nan)),  # nor here; JSON has no NaN
])
def test_analyze_fit_options(options, settings):
    document = cli_json("analyze", SAMPLE, *options)
    table = vexa_pp.parse_vexa_file(str(SAMPLE / "diffself.dat"))
    for fit in document["runs"][0]["msd_fits"]:
        slope, d, t_fit = fit_directly(table["Time"], table[fit["column"]], **settings)
        if math.isnan(slope):
            assert fit["slope"] is None and fit["window"] is None
        else:
            assert (fit["slope"], fit["diffusion_coefficient"]) == (slope, d)
            assert fit["window"]["points"] == len(t_fit)


def test_fresh_run_directory(tmp_path):
    run = write_run(tmp_path / "run-1")
    document = cli_json("analyze", run)
    report = document["runs"][0]
    assert report["missing"] == [] and report["problems"] == []
    found = {f["column"]: f["diffusion_coefficient"] for f in report["msd_fits"]}
    assert found == pytest.approx({"MSD_A": 2.0e-9, "MSD_B": 1.0e-9}, rel=1e-6)
    assert report["thermo"]["npt_prod.dat"]["v_Temp"] == {"mean": 300.0, "std": 1.0, "count": 10}
    assert report["volume"]["value"] == 27000.5 and report["density"]["value"] == 1.0321
    assert report["groups"] == {"OW": 500, "K": 7, "OH": 8}
    kilograms = 500 * 18.015 / 1000
    assert report["molality"]["ions"] == {"K": 7 / kilograms, "OH": 8 / kilograms}
    assert report["angle_peaks"][0] == {"file": "npt_prod_angle.dat", "column": "Count/Total",
                                        "found": True, "index": 3, "angle": 106.0, "value": 0.6}


def test_groups_and_solvent_options(tmp_path):
    run = write_run(tmp_path / "run", ions=("Li", "Xx"), waters=250)
    report = cli_json("analyze", run, "--ion-group", "Xx", "--solvent-molar-mass", "20")["runs"][0]
    assert report["molality"]["ions"] == {"Xx": 8 / (250 * 20 / 1000)}
    report = cli_json("analyze", run, "--solvent-group", "Li")["runs"][0]
    assert report["molality"]["solvent_group"] == "Li"
    assert report["molality"]["ions"] == {"Li": 7 / (7 * 18.015 / 1000)}


def test_group_named_like_the_start_of_another(tmp_path):
    run = write_run(tmp_path / "run")
    with (run / "log.lammps").open("a") as log:
        log.write("group O type 1 2\n1500 atoms in group O\n")
    assert vexa_pp.read_group_count(str(run / "log.lammps"), "O") == 500  # "group OW" comes first
    report = cli_json("analyze", run)["runs"][0]
    assert report["groups"]["O"] == 1500
    assert any("'O' has 1500 atoms" in note for note in report["notes"])


def test_several_runs_summary(tmp_path):
    runs = [write_run(tmp_path / "a", d_a=2.0e-9), write_run(tmp_path / "b", d_a=3.0e-9)]
    # A run whose MSD grows as t^2 never looks diffusive: its fit fails.
    ballistic = write_run(tmp_path / "c")
    rows = ["#Time MSD_A"] + [f"{k * 1e-13:.8e} {(k * 1e-13) ** 2 * 1e6:.8e}" for k in range(201)]
    (ballistic / "diffself.dat").write_text("\n".join(rows) + "\n")
    document = cli_json("analyze", *runs, ballistic, SAMPLE)
    per_run = [{f["column"]: f["diffusion_coefficient"] for f in r["msd_fits"]}
               for r in document["runs"]]
    assert per_run[2] == {"MSD_A": None}
    summary = {s["column"]: s for s in document["summary"]}
    assert list(summary) == ["MSD_A", "MSD_B", "MSD_OW", "MSD_Na", "MSD_Cl"]
    values = [r.get("MSD_A") for r in per_run]
    mean, std, count = vexa_pp.repacking_results([math.nan if v is None else v for v in values])
    assert (summary["MSD_A"]["mean"], summary["MSD_A"]["std"]) == (mean, std)
    assert summary["MSD_A"]["count"] == count == 2 and summary["MSD_A"]["runs"] == 4
    assert summary["MSD_OW"]["count"] == 1 and summary["MSD_OW"]["std"] == 0.0

    done = cli("analyze", *runs, "--progress")
    assert done.returncode == 0
    assert "2/2 runs" in done.stderr and "over 2 runs" in done.stdout


def test_missing_files_are_skipped(tmp_path):
    run = tmp_path / "only-msd"
    run.mkdir()
    (run / "diffself.dat").write_text((SAMPLE / "diffself.dat").read_text())
    done = cli("analyze", run)
    assert done.returncode == 0
    for name in ("volume.dat", "density.dat", "log.lammps", "*_prod.dat", "*angle*.dat"):
        assert any(line.startswith("  missing, skipped:") and name in line
                   for line in done.stdout.splitlines())
    assert "MSD_OW" in done.stdout


@pytest.mark.parametrize("name, content, reason", [
    ("diffself.dat", b"#Time MSD\n\xff\xfe 1\n", "stream did not contain valid UTF-8"),
    ("volume.dat", b"# title\n# names\n", "No numeric data found in"),
    ("npt_prod.dat", b"# only a title\n", "file too short"),
    ("npt_prod_angle.dat", b"# a\n# b\n# c\n", "file too short"),
])
def test_bad_file_is_named_with_its_reason(tmp_path, name, content, reason):
    run = write_run(tmp_path / "run")
    (run / name).write_bytes(content)
    document = cli_json("analyze", run, expect=1)
    (problem,) = document["runs"][0]["problems"]
    assert name in problem and reason in problem
    assert problem in cli("analyze", run, "--json").stderr
    assert document["runs"][0]["groups"]  # the rest is still analysed
    text = cli("analyze", run)
    assert text.returncode == 1 and f"error: {problem}" in text.stdout


def test_missing_run_directory(tmp_path):
    missing = tmp_path / "no-such-run"
    done = cli("analyze", missing, SAMPLE)
    assert done.returncode == 1
    assert f"error: {missing}: no such directory" in done.stdout
    assert "Run " + str(SAMPLE) in done.stdout and "MSD_OW" in done.stdout
    document = cli_json("analyze", missing, expect=1)
    assert document["runs"] == [{"run": str(missing), "error": f"{missing}: no such directory"}]


@pytest.mark.parametrize("args, message", [
    (["analyze"], "the following arguments are required: RUN_DIR"),
    (["analyze", ".", "--min-window", "50", "--max-window", "50"], "--min-window must be smaller"),
    (["analyze", ".", "--min-window", "-1"], "must not be negative"),
    (["analyze", ".", "--peak-neighbors", "0"], "must be at least 1"),
    (["props", "--salt", "NaCl", "--molality", "1"], "--temperature"),
    (["props", "--salt", "NaCl", "--molality", "1", "--molarity", "1", "--temperature", "300"],
     "not allowed with argument"),
    (["props", "--salt", "LiBr", "--molality", "1", "--temperature", "300"],
     "unknown salt 'LiBr' (known: KCl, KOH, NaCl)"),
    (["hop", "--temperature", "300"], "the following arguments are required"),
])
def test_usage_errors(args, message):
    done = cli(*args)
    assert done.returncode == 2 and message in done.stderr and done.stdout == ""


# ---- props -------------------------------------------------------------------

def model_states(salt, temperatures, concentrations, molarity):
    mw, c = salt["mw"], salt["density"]
    rows = []
    for t in temperatures:
        molalities = (vexa_pp.molarity_to_molality(concentrations, t, mw, *c, 1e-10, 200)
                      if molarity else concentrations)
        density, molarities = vexa_pp.laliberte_density([t] * len(molalities), molalities, mw, *c)
        viscosity = vexa_pp.laliberte_viscosity([t] * len(molalities), molalities, mw,
                                                *salt["viscosity"])
        conductivity = (vexa_pp.koh_gilliam_eval([t] * len(molalities), molalities, mw, *c)
                        if salt["symbol"] == "KOH" else [None] * len(molalities))
        fraction = vexa_pp.molality_to_mass_fraction(molalities, mw)
        rows += [dict(temperature=t, molality=b, molarity=m, mass_fraction=f, density=d,
                      viscosity=v, conductivity=k)
                 for b, m, f, d, v, k in zip(molalities, molarities, fraction, density,
                                             viscosity, conductivity)]
    return rows


@pytest.mark.parametrize("name", ["NaCl", "kcl", "KOH"])
@pytest.mark.parametrize("molarity", [False, True], ids=["molality", "molarity"])
def test_props_agrees_with_the_models(name, molarity):
    temperatures = [298.15, 360.0]
    values = [0.0, 0.5, 2.0, 5.0]
    option = "--molarity" if molarity else "--molality"
    document = cli_json("props", "--salt", name, option, *values, "--temperature", *temperatures)
    salt = {"symbol": document["salt"], "mw": document["molecular_weight"]}
    entry = salts.find_salt(name)  # the parameters come from the bundled table
    salt.update(density=entry.density, viscosity=entry.viscosity)
    assert document["states"] == model_states(salt, temperatures, values, molarity)
    assert document["sources"] and document["status"] in ("published", "provisional")


def test_props_nacl_uses_the_published_parameters():
    document = cli_json("props", "--salt", "NaCl", "--molality", "1", "--temperature", "298.15")
    (state,) = document["states"]
    density, molarity = vexa_pp.laliberte_density([298.15], [1.0], *NACL)
    viscosity = vexa_pp.laliberte_viscosity([298.15], [1.0], NACL[0], *NACL_VISCOSITY)
    assert (state["density"], state["molarity"], state["viscosity"]) == (
        density[0], molarity[0], viscosity[0])
    assert document["status"] == "published"
    # 1 mol/kg NaCl(aq) at 25 degC: 1.036 g/cm^3 and 0.97 mPa s.
    assert state["density"] == pytest.approx(1036.2, abs=0.5)
    assert state["viscosity"] == pytest.approx(0.972e-3, rel=0.01)


def test_props_text_table():
    done = cli("props", "--salt", "KOH", "--molality", "1", "--temperature", "298.15")
    assert done.returncode == 0
    (conductivity,) = vexa_pp.koh_gilliam_eval(
        [298.15], [1.0], 56.1056, *salts.find_salt("KOH").density)
    assert "conductivity S/m" in done.stdout and f"{conductivity:.4g}" in done.stdout
    assert "provisional" in done.stdout and "Gilliam" in done.stdout


def test_props_molarity_out_of_reach():
    done = cli("props", "--salt", "NaCl", "--molarity", "1e-13", "--temperature", "298.15")
    assert done.returncode == 1
    assert done.stderr == ("vexa-pp props: error: molarity_to_molality: could not bracket root "
                           "for molarity = 1.0000e-13 mol/L at temperature = 298.15 K\n")


# ---- hop ---------------------------------------------------------------------

@pytest.mark.parametrize("sigma_exp, sigma_md", [(20.0, 12.0), (12.0, 20.0), (5.0, 5.0)])
def test_hop_agrees_with_the_functions(sigma_exp, sigma_md):
    args = ["hop", "--experimental-conductivity", sigma_exp, "--md-conductivity", sigma_md,
            "--temperature", 298.15, "--box-length", 21.7, "--particles", 8,
            "--hop-distance", 2.5]
    document = cli_json(*args)
    tau = vexa_pp.tau_calculator(sigma_exp, sigma_md, 298.15, 21.7 * 1e-10, 8, 2.5 * 1e-10)
    d_hop = vexa_pp.diffusion_adjustment(tau, 2.5 * 1e-10)
    expected = [v if math.isfinite(v) else None for v in (tau, d_hop)]
    assert [document["tau"], document["d_hop"]] == expected
    text = cli(*args)
    assert text.returncode == 0 and f"{tau:.6e} s" in text.stdout
    assert ("warning" in text.stderr) == (sigma_exp <= sigma_md)


# ---- plots -------------------------------------------------------------------

def png_size(path):
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    return int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")


def test_plots(tmp_path):
    pytest.importorskip("matplotlib.figure")
    plots = tmp_path / "plots"
    runs = [write_run(tmp_path / "a"), write_run(tmp_path / "b" / "a")]
    document = cli_json("analyze", SAMPLE, *runs, "--plot", plots)
    assert [Path(p).name for p in document["plots"]] == [
        "lammps-run_diffself_msd.png", "a_diffself_msd.png", "a-2_diffself_msd.png"]
    for path in document["plots"]:
        width, height = png_size(Path(path))
        assert width > 400 and height > 300
    document = cli_json("props", "--salt", "KOH", "--molality", "1", "2", "--temperature", "300",
                        "--plot", plots)
    assert document["plots"] == [str(plots / "KOH_properties.png")]
    assert png_size(plots / "KOH_properties.png")[0] > 400


def test_plot_without_matplotlib(tmp_path):
    blocked = ("import sys; sys.modules['matplotlib'] = None; from vexa_pp.cli import main; "
               "sys.exit(main())")
    done = subprocess.run([sys.executable, "-c", blocked, "analyze", str(SAMPLE), "--plot",
                           str(tmp_path / "plots")], capture_output=True, text=True, cwd=tmp_path)
    assert done.returncode == 1 and done.stdout == ""
    assert "--plot needs matplotlib" in done.stderr and "vexa_pp[plot]" in done.stderr
    assert not (tmp_path / "plots").exists()
