"""What the readers take for a line, a field, a number and a row.

The compiled readers decide what a table holds. Where the package looks at
a table's text beside them (to say which rows they dropped, to tell a
'#Time' table by its header) it follows the rule written here, and the tests
hold the readers to this same rule, so the two cannot drift apart.
"""

from __future__ import annotations

import re

# Every character with the Unicode White_Space property: what separates
# fields and all a blank line holds.
WHITE_SPACE = ("\t\n\x0b\x0c\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B)))
               + "\u2028\u2029\u202f\u205f\u3000")
_RUN = re.compile("[" + re.escape(WHITE_SPACE) + "]+")
# Decimal literals with optional sign, point and exponent, infinities and NaN,
# in any case; no hexadecimal, no digit separators, no other digits than 0-9.
NUMBER = re.compile(
    r"[+-]?(?:(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)(?:[eE][+-]?[0-9]+)?|inf|infinity|nan)",
    re.IGNORECASE | re.ASCII)
TIME_HEADER = "#Time"


def lines(text: str) -> list[str]:
    """The lines of a text: split at line feeds alone, a carriage return
    before one dropped, nothing after a final line feed."""
    parts = text.split("\n")
    last = parts.pop()
    return [p.removesuffix("\r") for p in parts] + ([last] if last else [])


def fields(line: str) -> list[str]:
    """The pieces of a line between runs of White_Space."""
    return [f for f in _RUN.split(line) if f]


def number(field: str) -> float | None:
    """The field's value, or None when it is not a number. Python's float
    rounds correctly and saturates to infinity, as the readers do."""
    return float(field) if NUMBER.fullmatch(field) else None


def row(line: str, width: int) -> list[float] | None:
    """The values of a line whose first `width` fields are all numbers (any
    after them are ignored); None when the line is no row of a table of that
    many columns."""
    values = [value for f in fields(line)[:width] if (value := number(f)) is not None]
    return values if width and len(values) == width else None


def is_time_header(line: str) -> bool:
    """A line naming the columns of a '#Time' table."""
    return line.lstrip(WHITE_SPACE).startswith(TIME_HEADER)


def is_blank_or_comment(line: str) -> bool:
    """A line that holds no row by intent: White_Space alone, or a '#' first."""
    return line.lstrip(WHITE_SPACE)[:1] in ("", "#")
