"""Run the benchmarks: run.py [--quick] [--mode default|warm] [NAME ...]

Each benchmark is a module bench_NAME.py in this directory; without names,
all of them run.  --quick uses small inputs and one round, as a smoke test
that finishes in seconds.  How the timings are taken: see harness.py.
"""

import argparse
import importlib
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))  # also when run with python -P
import harness  # noqa: E402

BENCHMARKS = sorted(p.stem.removeprefix("bench_") for p in HERE.glob("bench_*.py"))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("names", nargs="*", metavar="NAME",
                        help="benchmarks to run: " + ", ".join(BENCHMARKS))
    parser.add_argument("--quick", action="store_true",
                        help="small inputs, one round (smoke test)")
    parser.add_argument("--mode", choices=harness.MODES,
                        help="run one mode only (default: both)")
    args = parser.parse_args(argv)
    unknown = set(args.names) - set(BENCHMARKS)
    if unknown:
        parser.error(f"unknown benchmark(s) {', '.join(sorted(unknown))}; "
                     f"choose from {', '.join(BENCHMARKS)}")
    if args.mode:
        harness.MODES[:] = [args.mode]
    print(f"Python {sys.version.split()[0]}; modes: {', '.join(harness.MODES)}"
          f"{' (quick)' if args.quick else ''}")
    for name in args.names or BENCHMARKS:
        t0 = time.perf_counter()
        importlib.import_module(f"bench_{name}").main(args.quick)
        print(f"({name}: {time.perf_counter() - t0:.1f} s)", flush=True)


if __name__ == "__main__":
    main()
