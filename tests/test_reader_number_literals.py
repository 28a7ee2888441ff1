"""The number formats files really use, read by every table reader bit for
bit as Python's float() reads them."""

import random
import struct

import pytest

FORMATS = {"%.6e": "%.6e".__mod__, "%.8e": "%.8e".__mod__, "%.18e": "%.18e".__mod__,
           "repr": repr, "%.17g": "%.17g".__mod__, "%g": "%g".__mod__}
# One layout every reader takes the rows of: names on lines 1 and 2 (the
# last "#Time" line), a statistics line that is no row, then the rows.
HEAD = "# title\n#Time a b c d e\n#Time a b c d e\n# 10 6\n"
READERS = ["parse_vexa_file", "parse_thermoprop", "parse_bond_angle"]
# Decimals of at most 19 digits exactly halfway between two doubles, where
# only the tie rule decides, written as files may write them.
TIES = [f"{2**53 + k}{tail}" for k in (1, 3, 5) for tail in ("", ".0", "e0", "0e-1")] + [
    "4503599627370496.5", "4503599627370497.5", "1.8014398509481985e16", "-0.5e0"]


def read_all(module, write_file, fields):
    """Every reader's values of a table holding the fields, row by row."""
    path = write_file(HEAD + "".join(" ".join(fields[i:i + 6]) + "\n"
                                     for i in range(0, len(fields), 6)))
    return {reader: [x for row in zip(*getattr(module, reader)(path).values()) for x in row]
            for reader in READERS}


def values(seed, count):
    """SI magnitudes, any finite double, subnormals, and decimals exact in binary."""
    rng = random.Random(seed)
    kinds = [
        lambda: 10 ** rng.uniform(-20, -8),
        lambda: struct.unpack("<d", struct.pack("<Q", rng.getrandbits(63)))[0],
        lambda: rng.getrandbits(52) * 2.0 ** rng.randint(-1126, -1075),
        lambda: rng.randint(0, 10**6) / 2 ** rng.randint(0, 10),
    ]
    out = [rng.choice([-1, 1]) * rng.choice(kinds)() for _ in range(count)]
    return [x if abs(x) < float("inf") else 0.0 for x in out]


@pytest.mark.parametrize("fmt", [*FORMATS, "ties"])
def test_formats_read_bit_for_bit(module, write_file, fmt):
    fields = TIES * 6 if fmt == "ties" else [FORMATS[fmt](x) for x in values(fmt, 6 * 3000)]
    expected = struct.pack(f"<{len(fields)}d", *map(float, fields))
    for reader, got in read_all(module, write_file, fields).items():
        assert struct.pack(f"<{len(got)}d", *got) == expected, reader
