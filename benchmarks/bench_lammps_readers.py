"""parse_thermoprop and parse_bond_angle against numpy.loadtxt and
pandas.read_csv on the tables of bench_transport_table (laid out for all
three readers), and read_group_count next to a Python str.find loop over the
same log."""

import os
from pathlib import Path

import harness
from bench_transport_table import CACHE, references, run_formats, timings  # noqa: F401

THERMO, ANGLE = "vexa_pp.parse_thermoprop", "vexa_pp.parse_bond_angle"
GROUP = "vexa_pp.read_group_count"
FIND, READ_FIND = "str.find loop (text in memory)", "read + str.find loop"
SAMPLE_LOG = Path(__file__).resolve().parents[1] / "vexa_pp" / "samples" / "lammps-run" / "log.lammps"
TARGET = "late"  # the group the benchmark looks up: defined at the very end of the log


def log_file(size):
    """Path of a cached LAMMPS-style log of about `size` bytes: the sample run's
    set-up, then thermo output with the usual group lines of later runs, and
    the group looked up only at the end."""
    path = CACHE / f"log-{size}.lammps"
    if path.exists():
        return path
    head = SAMPLE_LOG.read_text()
    row = "{:>10d}   {:.8f}   {:.8f}  -{:.7f}  -{:.7f}   10218.313      1.0187431\n"
    block_rows = 5000
    CACHE.mkdir(parents=True, exist_ok=True)
    tmp = path.with_suffix(f".{os.getpid()}.tmp")
    with open(tmp, "w") as f:
        f.write(head)
        written, step = len(head), 0
        while written < size:
            chunk = ["run 10000\n", "  1005 atoms in group water\n",
                     "   Step          Temp          Press          PotEng         TotEng    "
                     "       Volume        Density    \n"]
            for k in range(block_rows):
                step += 10
                chunk.append(row.format(step, 290 + (k * 37 % 200) / 10, (k * 7919 % 2000) - 1000.0,
                                        4400 + (k * 31 % 1000) / 10, 3800 + (k * 17 % 1000) / 10))
            chunk.append("Loop time of 12.3 on 1 procs for 10000 steps with 1013 atoms\n\n")
            text = "".join(chunk)
            f.write(text)
            written += len(text)
        f.write("group late type 4\n4 atoms in group late\nTotal wall time: 1:23:45\n")
    os.replace(tmp, path)
    return path


def find_loop(text, name):
    """The group-count search written with str.find."""
    needle = "group " + name
    pos = text.find(needle)
    while pos >= 0:
        start = text.find("\n", pos) + 1
        if start == 0:
            break
        end = text.find("\n", start)
        tokens = text[start:end if end >= 0 else len(text)].split(None, 1)
        if tokens and tokens[0].isdigit():
            return int(tokens[0])
        pos = text.find(needle, start)
    raise ValueError(f"Group '{name}' count not found")


def readers(path):
    import vexa_pp
    return {THERMO: lambda: vexa_pp.parse_thermoprop(path),
            ANGLE: lambda: vexa_pp.parse_bond_angle(path), **references(path)}


def check(path):
    from bench_transport_table import check as check_values
    return check_values(path, source=__name__)


def group_timings(path, reps, warmup, ballast):
    import vexa_pp

    def read_find():
        with open(path) as f:
            return find_loop(f.read(), TARGET)

    with open(path) as f:
        text = f.read()
    if not vexa_pp.read_group_count(path, TARGET) == find_loop(text, TARGET) == 4:
        raise AssertionError("the group searches disagree")
    contenders = {GROUP: lambda: vexa_pp.read_group_count(path, TARGET),
                  FIND: lambda: find_loop(text, TARGET),
                  READ_FIND: read_find}
    harness.warm(ballast)
    return harness.compare(contenders, reps, warmup)


def main(quick):
    run_formats(quick, __name__, "lammps_readers: parse_thermoprop and parse_bond_angle",
                [THERMO, ANGLE])

    size = 200_000 if quick else 100_000_000
    reps, warmup = (1, 0) if quick else (7, 1)
    log = str(log_file(size))
    mb = os.path.getsize(log) / 1e6
    results = harness.in_modes(__name__, "group_timings", path=log, reps=reps, warmup=warmup,
                               ballast=max(16 << 20, 4 * int(mb * 1e6)))
    harness.report(
        f"== lammps_readers: read_group_count('{TARGET}') on a {mb:.1f} MB log, the group "
        f"defined at its end ({log})", results, "MB/s", lambda s: mb / s["median"],
        [("find loop / ours", FIND, GROUP, 1.0), ("read + find / ours", READ_FIND, GROUP, None)])
