"""The array reader (vexa_pp.read_table) against pyarrow's CSV reader on one
thread and numpy.loadtxt, and the list reader (parse_vexa_file) against its
floor: reading the file plus tolist() of the same columns, the Python floats
it must make in any case.

The tables are bench_transport_table's (SI magnitudes, six columns) in the
two formats the targets name.  pyarrow is a peer only: the package never
imports it.  Its time is read_csv alone (a Table of chunked columns); turning
those into one contiguous array per column would add a copy.
"""

import os
import sys

import harness
from bench_transport_table import HEAD_LINES, NAMES, si_table

ARRAYS, LISTS = "vexa_pp.read_table", "vexa_pp.parse_vexa_file"
ARROW, NUMPY = "pyarrow.csv 1 thread", "numpy.loadtxt"
FLOOR = "floor: read + tolist()"
FORMATS = ["%.6e", "%.18e"]
# (label, numerator, denominator, target), judged on the warm figures. The
# list reader's targets are set on %.6e fields; on longer ones its ratios are
# shown without a verdict.
RATIOS = [
    ("pyarrow/read_table", ARROW, ARRAYS, 1.5),
    ("loadtxt/read_table", NUMPY, ARRAYS, 6),
    ("floor/parse_vexa_file", FLOOR, LISTS, 1 / 1.5),
    ("loadtxt/parse_vexa_file", NUMPY, LISTS, 3),
]
LIST_TARGETS_ON = "%.6e"


def ratios(fmt):
    if fmt == LIST_TARGETS_ON:
        return RATIOS
    return [(label, num, den, None if den == LISTS else target)
            for label, num, den, target in RATIOS]


def readers(path):
    import numpy as np
    import pyarrow.csv as pv

    import vexa_pp

    arrow_options = dict(
        read_options=pv.ReadOptions(use_threads=False, skip_rows=HEAD_LINES,
                                    autogenerate_column_names=True),
        parse_options=pv.ParseOptions(delimiter=" "),
        convert_options=pv.ConvertOptions(
            column_types={f"f{k}": "float64" for k in range(len(NAMES))}))
    return {
        ARRAYS: lambda: vexa_pp.read_table(path),
        LISTS: lambda: vexa_pp.parse_vexa_file(path),
        ARROW: lambda: pv.read_csv(path, **arrow_options),
        NUMPY: lambda: np.loadtxt(path, skiprows=HEAD_LINES),
    }


def timings(path, reps, warmup, ballast):
    import vexa_pp
    contenders = readers(path)
    columns = list(vexa_pp.read_table(path).values())

    def floor():
        with open(path, "rb") as f:
            f.read()
        return [column.tolist() for column in columns]

    contenders[FLOOR] = floor
    harness.warm(ballast)
    return harness.compare(contenders, reps, warmup)


def check(path):
    """{reader: whether every value equals Python's float() of its text, bit
    for bit}."""
    from bench_transport_table import check as check_values
    return check_values(path, source=__name__)


def main(quick):
    reps, warmup = (1, 0) if quick else (7, 1)
    for fmt in FORMATS:
        path = str(si_table(fmt, 200_000 if quick else 100_000_000))
        nbytes = os.path.getsize(path)
        mb = nbytes / 1e6
        exact = harness.child(__name__, "check", "default", path=path)
        results = harness.in_modes(__name__, "timings", path=path, reps=reps, warmup=warmup,
                                   ballast=max(16 << 20, min(12 * nbytes, 1536 << 20)))
        rows = sum(1 for _ in open(path)) - HEAD_LINES
        harness.report(f"== array tables: fields written as {fmt}, {mb:.1f} MB "
                       f"({rows:,} rows x {len(NAMES)} columns, {path})",
                       results, "MB/s", lambda s: mb / s["median"], ratios(fmt))
        print("values equal to float() of the text, bit for bit: " + ", ".join(
            f"{name} {'yes' if same else 'NO'}" for name, same in exact.items()))
        sys.stdout.flush()
