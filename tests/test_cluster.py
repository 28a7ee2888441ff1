"""vexa-pp analyze on a LocalCluster of two worker processes against a serial run."""

import os
import signal
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

distributed = pytest.importorskip("distributed", reason="Dask's distributed is not installed")
from dask import config  # noqa: E402
from test_cli import SAMPLE, cli, cli_json, write_run  # noqa: E402
from vexa_pp import analysis, cluster, report  # noqa: E402


@pytest.fixture(scope="module")
def client():
    # A worker's death fails its one run at once: no other run's, no retry.
    with config.set({"distributed.scheduler.allowed-failures": 0,
                     "distributed.scheduler.worker-saturation": 1.0}):
        local = distributed.LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None)
    with local, distributed.Client(local, set_as_default=False) as client:
        yield client
    # The scheduler's thread for unpickling graphs would outlive the module
    # in this process, where later tests fork.
    distributed.utils._offload_executor.shutdown()
    distributed.utils._offload_executor = ThreadPoolExecutor(1, "Dask-Offload")


@pytest.mark.parametrize("options", [analysis.Options(), analysis.Options(solvent_molar_mass=0)],
                         ids=["runs", "one raises"])
def test_reports_are_those_of_a_serial_run(client, tmp_path, monkeypatch, options):
    # Paths relative to another directory than the workers'; runs that fail.
    monkeypatch.chdir(tmp_path)
    for name, d in (("a", 2e-9), ("b", 3e-9), ("c", 7e-9)):
        write_run(tmp_path / name, d=(d, 5e-9))
    (tmp_path / "b" / "npt_prod_angle.dat").write_text("# not a histogram\n")
    (tmp_path / "table").mkdir()
    (tmp_path / "table" / "diffself.dat").write_text("#Time MSD_OW\n")
    runs = [Path(name) for name in ("a", "b", "c", "missing", "table")] + [SAMPLE]
    finished = []
    on_cluster = cluster.analyze_runs(runs, options, client, finished.append)
    document = lambda r: report.analysis_json(r, analysis.summarize(r), options.fit)  # noqa
    assert document(on_cluster) == document(analysis.analyze_runs(runs, options))
    assert sorted(finished) == sorted(runs) and on_cluster[3].error == "missing: no such directory"


def test_command_line(client, tmp_path):
    (tmp_path / "scheduler.json").write_text(f'{{"address": "{client.scheduler.address}"}}')
    runs = [SAMPLE, write_run(tmp_path / "run")]
    serial = cli_json("analyze", *runs, "--jobs", "1")
    assert cli_json("analyze", *runs, "--scheduler", client.scheduler.address) == serial
    code, out, err = cli("analyze", *runs, "--scheduler-file", tmp_path / "scheduler.json",
                         "--progress")
    assert code == 0 and "2/2" in err and out == cli("analyze", *runs, "--jobs", "1")[1]


def _die_analysing(name):  # in the workers: as a crash or the out-of-memory killer would
    analyze = analysis.analyze_run
    analysis.analyze_run = lambda path, options: (
        os.kill(os.getpid(), signal.SIGKILL) if path.name == name else analyze(path, options))


def test_a_worker_that_dies_fails_its_run_alone(client, tmp_path):
    client.run(_die_analysing, "doomed")
    runs = [write_run(tmp_path / name) for name in ("doomed", "a", "b", "c", "d", "e")]
    doomed, *others = cluster.analyze_runs(runs, analysis.Options(), client)
    assert doomed.error.startswith(f"{runs[0]}: the Dask workers analysing it died")
    assert all(r.error is None and r.msd for r in others) and len(others) == 5


def test_interrupt_cancels_the_runs_left(client, tmp_path):
    runs = [write_run(tmp_path / str(k)) for k in range(6)]
    with pytest.raises(KeyboardInterrupt) as raised:  # whose traceback holds the futures
        cluster.analyze_runs(runs, analysis.Options(), client,
                             lambda path: signal.raise_signal(signal.SIGINT))  # Ctrl-C
    deadline = time.monotonic() + 30
    while (left := client.run_on_scheduler(lambda dask_scheduler: [
            key for key in dask_scheduler.tasks if str(key).startswith("vexa-pp")])):
        assert time.monotonic() < deadline and raised, f"{left} stay on the cluster"
        time.sleep(0.05)


@pytest.mark.parametrize("where, text", [
    (["--scheduler", "tcp://127.0.0.1:1"], "no Dask scheduler answers at tcp://127.0.0.1:1"),
    (["--scheduler-file", "missing.json"], "cannot read the scheduler file missing.json"),
    (["--scheduler-file", __file__], "is not a Dask scheduler file"),
    (["--scheduler", "no dask"], "distributed scheduler: pip install 'vexa_pp[cluster]'"),
])
def test_no_cluster_to_send_the_runs_to(monkeypatch, where, text):
    monkeypatch.setitem(sys.modules, "distributed", None if "no dask" in where else distributed)
    start = time.monotonic()
    code, out, err = cli("analyze", SAMPLE, *where, "--scheduler-timeout", "0.5")
    assert code != 0 and out == "" and text in err and time.monotonic() - start < 20
