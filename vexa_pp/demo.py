"""Read the bundled sample transport table and summarise its columns.

Run as ``python -m vexa_pp.demo [PATH]``; without PATH it reads the
self-diffusion table shipped with the package.
"""

import sys
from pathlib import Path

from . import parse_vexa_file, repacking_results

SAMPLE = Path(__file__).with_name("samples") / "diffself.dat"


def main(argv: list[str]) -> int:
    path = argv[0] if argv else str(SAMPLE)
    table = parse_vexa_file(path)
    rows = len(next(iter(table.values()), []))
    print(f"{path}: {len(table)} columns, {rows} rows")
    print(f"{'column':<12} {'first':>14} {'last':>14} {'mean':>14} {'std':>14}")
    for name, values in table.items():
        mean, std, _ = repacking_results(values)
        first = values[0] if values else float("nan")
        last = values[-1] if values else float("nan")
        print(f"{name:<12} {first:>14.6e} {last:>14.6e} {mean:>14.6e} {std:>14.6e}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
