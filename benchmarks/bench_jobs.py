"""`vexa-pp analyze` of four runs one after another against the same runs in
two worker processes, for runs of several sizes: where a worker pays for its
start, which is what analysis.BYTES_PER_WORKER is set from. Beside them, the
runs sent to a Dask cluster of two single-thread workers that is already up
(as a cluster is when a user sends runs to it): what a run costs in tasks,
pickled options and reports, and the scheduler's round trips.

A run is the bundled LAMMPS sample with its MSD file stretched to the rows
asked for (the same diffusion with a little noise), so every run is
analysed as a user's would be: log, MSD fit, thermodynamics, histograms.
"""

import shutil
import sys
from pathlib import Path

import harness

CACHE = Path("/var/tmp/vexa_pp-bench/jobs")
ROWS = (200, 5_000, 20_000, 60_000)  # MSD rows per run; 200 is the sample's size
RUNS = 4
DASK = "2 Dask workers"


def make_run(rows, copy):
    """A copy of the sample whose msd.lammps holds `rows` rows."""
    import vexa_pp
    import numpy as np
    sample = Path(vexa_pp.__file__).parent / "samples" / "lammps-run"
    run = CACHE / f"rows{rows}-{copy}"
    if (run / "msd.lammps").exists():
        return run
    shutil.copytree(sample, run, dirs_exist_ok=True)
    if rows > 200:
        rng = np.random.default_rng(rows + copy)
        steps = 50 * np.arange(rows)
        t = steps * 2e-3  # ps
        # Å^2: 6 D t for D of about 2.5e-9, 1.3e-9 and 2e-9 m^2/s, 1 % noise.
        msd = [6 * d * t * (1 + 0.01 * rng.standard_normal(rows)) for d in (0.25, 0.13, 0.2)]
        lines = ["# Time-averaged data for fix msd",
                 "# TimeStep c_msdOW[4] c_msdNa[4] c_msdCl[4]"]
        lines += [f"{s} {a:.6g} {b:.6g} {c:.6g}" for s, a, b, c in zip(steps, *msd)]
        (run / "msd.lammps").write_text("\n".join(lines) + "\n")
    return run


def timings(paths, reps, warmup):
    from vexa_pp import analysis, cluster
    runs = [Path(p) for p in paths]
    options = analysis.Options()
    contenders = {f"{jobs} job{'s' * (jobs > 1)}": (
        lambda jobs=jobs: analysis.analyze_runs(runs, options, jobs)) for jobs in (1, 2)}
    try:
        import distributed
    except ImportError:
        return harness.compare(contenders, reps, warmup)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1,
                                  dashboard_address=None) as local, \
            distributed.Client(local, set_as_default=False) as client:
        contenders[DASK] = lambda: cluster.analyze_runs(runs, options, client)
        return harness.compare(contenders, reps, warmup)


def main(quick):
    reps, warmup = (1, 0) if quick else (7, 1)
    CACHE.mkdir(parents=True, exist_ok=True)
    for rows in ROWS[:2] if quick else ROWS:
        runs = [make_run(rows, k) for k in range(RUNS)]
        size = sum(f.stat().st_size for run in runs for f in run.iterdir())
        results = {"default": harness.child(__name__.split(".")[-1], "timings", "default",
                                            paths=[str(r) for r in runs], reps=reps,
                                            warmup=warmup)}
        harness.report(f"== {RUNS} runs of {rows:,} MSD rows, {size / 1e6:.2f} MB in all",
                       results, "MB/s", lambda s: size / 1e6 / s["median"],
                       [("serial / 2 jobs", "1 job", "2 jobs", None)] +
                       [("serial / Dask", "1 job", DASK, None)] * (DASK in results["default"]))
    sys.stdout.flush()
