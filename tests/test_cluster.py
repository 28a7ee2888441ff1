"""vexa-pp analyze on a Dask cluster: one LocalCluster of two worker
processes, shared by the tests, against the serial analysis of the same runs."""

import json
import os
import signal
import sys
import time
from pathlib import Path

import pytest

distributed = pytest.importorskip("distributed", reason="Dask's distributed is not installed")
import dask  # noqa: E402

from test_cli import SAMPLE, cli, cli_json, write_run  # noqa: E402
from vexa_pp import analysis, cluster, report  # noqa: E402


@pytest.fixture(scope="module")
def client():
    # A worker's death fails the run it held at once, and a worker holds no
    # run beside the one it analyses, so that the death is the doomed run's
    # alone and costs one worker's restart.
    with dask.config.set({"distributed.scheduler.allowed-failures": 0,
                          "distributed.scheduler.worker-saturation": 1.0}):
        local = distributed.LocalCluster(n_workers=2, threads_per_worker=1,
                                         dashboard_address=None)
    with local, distributed.Client(local, set_as_default=False) as client:
        yield client


def documents(reports):
    return report.analysis_json(reports, analysis.summarize(reports), analysis.FitSettings())


@pytest.mark.parametrize("options", [analysis.Options(),
                                     analysis.Options(solvent_molar_mass=0.0)],
                         ids=["runs", "one raises"])
def test_reports_are_those_of_a_serial_run(client, tmp_path, monkeypatch, options):
    # Paths relative to a directory that is not the workers' own, as a user
    # types them; some runs fail in the analysis, some on their files.
    monkeypatch.chdir(tmp_path)
    for name, d in (("a", 2e-9), ("b", 3e-9), ("c", 7e-9)):
        write_run(tmp_path / name, d=(d, 5e-9))
    (tmp_path / "b" / "npt_prod_angle.dat").write_text("# not a histogram\n")
    (tmp_path / "table").mkdir()
    (tmp_path / "table" / "diffself.dat").write_text("#Time MSD_OW\n")
    runs = [Path(name) for name in ("a", "b", "c", "missing", "table")] + [SAMPLE]
    finished = []
    on_cluster = cluster.analyze_runs(runs, options, client, finished.append)
    assert documents(on_cluster) == documents(analysis.analyze_runs(runs, options))
    assert sorted(finished, key=str) == sorted(runs, key=str)
    assert on_cluster[3].error == "missing: no such directory"


@pytest.mark.parametrize("where", ["--scheduler", "--scheduler-file"])
def test_command_line(client, tmp_path, where):
    address = client.scheduler.address
    if where == "--scheduler-file":
        address = tmp_path / "scheduler.json"
        address.write_text(json.dumps({"address": client.scheduler.address}))
    run = write_run(tmp_path / "run")
    serial = cli_json("analyze", SAMPLE, run, "--jobs", "1")
    assert cli_json("analyze", SAMPLE, run, where, address) == serial
    code, out, err = cli("analyze", SAMPLE, run, where, address, "--progress")
    assert code == 0 and "2/2" in err and "over 2 runs" in out


def _die_analysing(name):
    """In a worker: a run named name kills the worker, as a crash or the
    kernel's out-of-memory killer would."""
    analyze = analysis.analyze_run

    def dying(path, options):
        if path.name == name:
            os.kill(os.getpid(), signal.SIGKILL)
        return analyze(path, options)

    analysis.analyze_run = dying


def test_a_worker_that_dies_fails_its_run_alone(client, tmp_path):
    client.run(_die_analysing, "doomed")
    runs = [write_run(tmp_path / name) for name in ("a", "doomed", "b", "c", "d", "e")]
    reports = cluster.analyze_runs(runs, analysis.Options(), client)
    assert reports[1].error.startswith(f"{runs[1]}: the Dask workers analysing it died")
    assert [r.error for r in reports if r is not reports[1]] == [None] * 5
    assert all(r.msd for r in reports if r is not reports[1])


def test_interrupt_cancels_the_runs_left(client, tmp_path):
    runs = [write_run(tmp_path / str(k)) for k in range(6)]

    def interrupt(path):
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt) as raised:
        cluster.analyze_runs(runs, analysis.Options(), client, interrupt)

    def ours(dask_scheduler):
        return [key for key in dask_scheduler.tasks if str(key).startswith("vexa-pp")]

    # The traceback holds the futures: without a cancel, the tasks stay.
    deadline = time.monotonic() + 30
    while client.run_on_scheduler(ours) and time.monotonic() < deadline:
        time.sleep(0.05)
    assert raised.traceback and client.run_on_scheduler(ours) == []


@pytest.mark.parametrize("where, text", [
    (["--scheduler", "tcp://127.0.0.1:1"], "no Dask scheduler answers at tcp://127.0.0.1:1 "
                                           "within 0.5 s"),
    (["--scheduler-file", "missing.json"], "cannot read the scheduler file missing.json"),
    (["--scheduler-file", __file__], "is not a Dask scheduler file"),
    (["--scheduler", "tcp://127.0.0.1:1", "--jobs", "2"], "not allowed with argument"),
    (["--scheduler", "no dask"], "needs Dask's distributed scheduler: pip install "
                                 "'vexa_pp[cluster]'"),
])
def test_no_cluster_to_send_the_runs_to(monkeypatch, where, text):
    if "no dask" in where:
        monkeypatch.setitem(sys.modules, "distributed", None)
    start = time.monotonic()
    code, out, err = cli("analyze", SAMPLE, *where, "--scheduler-timeout", "0.5")
    assert code != 0 and out == "" and text in err
    assert time.monotonic() - start < 20  # the timeout, not Dask's 30 s
