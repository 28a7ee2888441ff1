"""parse_vexa_file against numpy.loadtxt and pandas.read_csv on the number
formats files really use, plus its peak memory.

The tables hold SI-unit magnitudes (1e-20 .. 1e-8): their decimal exponents
lie beyond the range where one exact multiplication gives the value, which is
what a reader meets in practice.  Every table is laid out so that all three
table readers take the same rows from it (bench_lammps_readers reads them
too): a title, the names twice (line 1 for parse_thermoprop, line 2 for
parse_bond_angle and, as the last "#Time" line, for parse_vexa_file), a
statistics line that none of them takes as a row, then the rows.
"""

import os
import sys
from pathlib import Path

import harness

NAMES = ["Time", "MSD_x", "MSD_y", "MSD_z", "MSD", "D"]
HEAD_LINES = 4
CACHE = Path("/var/tmp/vexa_pp-bench")  # survives between ./dev runs
OURS, NUMPY, PANDAS = "vexa_pp.parse_vexa_file", "numpy.loadtxt", "pandas.read_csv"
# How the numbers are written: C formats of 7, 9 and 19 significant digits
# (the last is numpy.savetxt's default) and Python's repr, the shortest text
# that reads back to the same float.
FORMATS = ["%.6e", "%.8e", "%.18e", "repr"]
TARGETS = (3, 4)  # numpy/ours and pandas/ours, judged in warm mode


def si_table(fmt, size):
    """Path of a cached table of about `size` bytes written in `fmt`."""
    tag = fmt.strip("%.") if fmt != "repr" else "repr"
    path = CACHE / f"si-{tag}-{size}.dat"
    if path.exists():
        return path
    import numpy as np
    rng = np.random.default_rng(20240611)
    write = (lambda row: " ".join(map(repr, row)) + "\n") if fmt == "repr" else (
        lambda row, line=" ".join([fmt] * len(NAMES)) + "\n": line % tuple(row))
    CACHE.mkdir(parents=True, exist_ok=True)
    tmp = path.with_suffix(f".{os.getpid()}.tmp")
    names = " ".join(NAMES[1:])
    with open(tmp, "w") as f:
        written = f.write(f"# Transport properties (synthetic benchmark table, {fmt})\n"
                          f"#Time {names}\n#Time {names}\n# 1000 {len(NAMES)}\n")
        first = 1
        while written < size:
            block = min(20_000, size // 100)
            data = 10.0 ** rng.uniform(-20, -8, size=(block, len(NAMES)))
            data *= rng.choice([-1.0, 1.0], size=data.shape)
            data[:, 0] = np.arange(first, first + block) * 2e-15  # time steps of 2 fs
            first += block
            text = "".join(map(write, data.tolist()))
            written += f.write(text)
    os.replace(tmp, path)
    return path


def tables(quick):
    """{format: path} of the benchmark tables."""
    size = 200_000 if quick else 100_000_000
    return {fmt: str(si_table(fmt, size)) for fmt in FORMATS}


def references(path):
    import numpy as np
    import pandas as pd
    return {
        NUMPY: lambda: np.loadtxt(path, skiprows=HEAD_LINES),
        PANDAS: lambda: pd.read_csv(path, sep=r"\s+", header=None, skiprows=HEAD_LINES),
    }


def readers(path):
    import vexa_pp
    return {OURS: lambda: vexa_pp.parse_vexa_file(path), **references(path)}


def timings(path, reps, warmup, ballast, source=__name__):
    contenders = sys.modules[source].readers(path)
    harness.warm(ballast)
    return harness.compare(contenders, reps, warmup)


def check(path, source=__name__):
    """{reader: whether its values equal Python's float() of the text}."""
    import numpy as np
    with open(path) as f:
        for _ in range(HEAD_LINES):
            f.readline()
        fields = f.read().split()
    expected = np.fromiter(map(float, fields), float, len(fields)).reshape(-1, len(NAMES))
    out = {}
    for name, read in sys.modules[source].readers(path).items():
        table = read()
        if isinstance(table, dict):
            if list(table) != NAMES:
                raise AssertionError(f"{name}: unexpected columns {list(table)}")
            table = np.array(list(table.values())).T
        elif hasattr(table, "columns") and hasattr(table, "num_rows"):  # a pyarrow Table
            table = np.column_stack([column.to_numpy() for column in table.columns])
        table = np.asarray(table, dtype=float)
        out[name] = table.shape == expected.shape and bool(
            np.array_equal(table.view(np.uint64), expected.view(np.uint64)))
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


def run_formats(quick, module, title, ours):
    """Times every contender of `module`.readers on each format's table and
    prints one report per format with both ratios for each of `ours`."""
    reps, warmup = (1, 0) if quick else (5, 1)
    for fmt, path in tables(quick).items():
        nbytes = os.path.getsize(path)
        mb = nbytes / 1e6
        exact = harness.child(module, "check", "default", path=path)
        results = harness.in_modes(
            module, "timings", path=path, reps=reps, warmup=warmup,
            ballast=max(16 << 20, min(12 * nbytes, 1536 << 20)), source=module)
        rows = sum(1 for _ in open(path)) - HEAD_LINES
        ratios = []
        for name in ours:
            short = name.removeprefix("vexa_pp.parse_")
            ratios += [(f"numpy/{short}", NUMPY, name, TARGETS[0]),
                       (f"pandas/{short}", PANDAS, name, TARGETS[1])]
        harness.report(f"== {title}: fields written as {fmt}, {mb:.1f} MB "
                       f"({rows:,} rows x {len(NAMES)} columns, {path})",
                       results, "MB/s", lambda s: mb / s["median"], ratios)
        print("values equal to float() of the text, bit for bit: " + ", ".join(
            f"{name} {'yes' if same else 'NO'}" for name, same in exact.items()))


def main(quick):
    run_formats(quick, __name__, "transport_table: parse_vexa_file", [OURS])
    path = tables(quick)["%.8e"]
    nbytes = os.path.getsize(path)
    mb = nbytes / 1e6
    m = harness.child(__name__, "memory", "default", path=path)
    extra = m["peak"] - nbytes - m["returned"]
    ratio = extra / m["vectors"]
    print(f"\npeak memory of parse_vexa_file on the %.8e table (default mode, fresh process, "
          f"RSS high-water mark): +{m['peak'] / 1e6:.1f} MB\n  beyond the file ({mb:.1f} MB) "
          f"and the returned dict ({m['returned'] / 1e6:.1f} MB): {extra / 1e6:.1f} MB = "
          f"{ratio:.2f} x the column vectors ({m['rows']:,} x {len(NAMES)} x 8 B = "
          f"{m['vectors'] / 1e6:.1f} MB); target <= 1x: {'met' if ratio <= 1 else 'MISSED'}")
