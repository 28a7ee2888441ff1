"""parse_vexa_file against numpy.loadtxt and pandas.read_csv, plus its peak memory."""

import os
import sys
from pathlib import Path

import harness

NAMES = ["Time", "MSD_x", "MSD_y", "MSD_z", "MSD", "D"]
CACHE = Path("/var/tmp/vexa_pp-bench")  # survives between ./dev runs
OURS, NUMPY, PANDAS = "vexa_pp.parse_vexa_file", "numpy.loadtxt", "pandas.read_csv"


def table(rows):
    """Path of a cached table of `rows` rows of six numbers, written once."""
    path = CACHE / f"transport-{rows}.dat"
    if path.exists():
        return path
    import numpy as np
    rng = np.random.default_rng(20240611)
    data = rng.standard_normal((rows, len(NAMES)))
    data *= 10.0 ** rng.integers(-12, 4, size=data.shape)
    data[:, 0] = np.arange(rows) * 2e-3
    line = " ".join(["%.8e"] * len(NAMES)) + "\n"
    CACHE.mkdir(parents=True, exist_ok=True)
    tmp = path.with_suffix(f".{os.getpid()}.tmp")
    with open(tmp, "w") as f:
        f.write("# Transport properties (synthetic benchmark table)\n")
        f.write("#Time " + " ".join(NAMES[1:]) + "\n")
        for start in range(0, rows, 100_000):
            f.write("".join(line % tuple(r)
                            for r in data[start:start + 100_000].tolist()))
    os.replace(tmp, path)
    return path


def readers(path):
    import numpy as np
    import pandas as pd
    import vexa_pp
    return {
        OURS: lambda: vexa_pp.parse_vexa_file(path),
        NUMPY: lambda: np.loadtxt(path, skiprows=2),
        PANDAS: lambda: pd.read_csv(path, sep=r"\s+", header=None, skiprows=2),
    }


def timings(path, reps, warmup, ballast):
    contenders = readers(path)
    harness.warm(ballast)
    return harness.compare(contenders, reps, warmup)


def check(path):
    """Largest relative difference of numpy's and pandas' values from ours."""
    import numpy as np
    read = readers(path)
    table = read[OURS]()
    if list(table) != NAMES:
        raise AssertionError(f"unexpected columns {list(table)}")
    ours = np.array(list(table.values())).T
    out = {}
    for name in (NUMPY, PANDAS):
        theirs = np.asarray(read[name](), dtype=float)
        if theirs.shape != ours.shape:
            raise AssertionError(f"{name}: shape {theirs.shape} != {ours.shape}")
        out[name] = float(np.max(np.abs(theirs - ours) / np.maximum(np.abs(ours), 1e-300)))
    return out


def memory(path):
    """RSS growth of one call in a fresh process, in bytes."""
    import vexa_pp
    harness.reset_peak_rss()
    base = harness.rss_bytes()
    table = vexa_pp.parse_vexa_file(path)
    peak = harness.peak_rss_bytes()
    returned = sys.getsizeof(table) + sum(
        sys.getsizeof(col) + sum(map(sys.getsizeof, col)) for col in table.values())
    rows = len(table[NAMES[0]])
    return {"peak": peak - base,
            "returned": returned, "vectors": rows * len(table) * 8, "rows": rows}


def main(quick):
    size = 200_000 if quick else 100_000_000
    rows = int(size / 92.5)  # the mean length of a row
    path = str(table(rows))
    nbytes = os.path.getsize(path)
    mb = nbytes / 1e6
    errors = harness.child(__name__, "check", "default", path=path)
    results = harness.in_modes(
        __name__, "timings", path=path, reps=1 if quick else 5,
        warmup=0 if quick else 1, ballast=max(16 << 20, min(12 * nbytes, 1536 << 20)))
    harness.report(
        f"== transport_table: parse_vexa_file on {mb:.1f} MB "
        f"({rows:,} rows x {len(NAMES)} columns, {path})",
        results, "MB/s", lambda s: mb / s["median"],
        [("numpy/ours", NUMPY, OURS, 2), ("pandas/ours", PANDAS, OURS, 4)])
    verdict = "agree" if max(errors.values()) <= 1e-12 else "DISAGREE"
    print(f"values {verdict} (largest relative difference from ours: " + ", ".join(
        f"{name} {err:.1e}" for name, err in errors.items()) + ")")

    m = harness.child(__name__, "memory", "default", path=path)
    extra = m["peak"] - nbytes - m["returned"]
    ratio = extra / m["vectors"]
    print(f"peak memory of parse_vexa_file (default mode, fresh process, RSS high-water "
          f"mark): +{m['peak'] / 1e6:.1f} MB\n  beyond the file ({mb:.1f} MB) and the "
          f"returned dict ({m['returned'] / 1e6:.1f} MB): {extra / 1e6:.1f} MB = "
          f"{ratio:.2f} x the column vectors ({m['rows']:,} x {len(NAMES)} x 8 B = "
          f"{m['vectors'] / 1e6:.1f} MB); target <= 1x: {'met' if ratio <= 1 else 'MISSED'}")
