"""parse_thermoprop and parse_bond_angle on hand-written and generated tables."""

import math
import os
import re

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

# Every character with the Unicode White_Space property.
WHITE_SPACE = ("\t\n\x0b\x0c\r \x85\xa0\u1680"
               + "".join(map(chr, range(0x2000, 0x200B)))
               + "\u2028\u2029\u202f\u205f\u3000")
WS_RUN = re.compile("[" + re.escape(WHITE_SPACE) + "]+")
# The number rule as a regular expression; Python's float gives the value.
NUMBER = re.compile(
    r"[+-]?(?:(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)(?:[eE][+-]?[0-9]+)?|inf|infinity|nan)",
    re.IGNORECASE | re.ASCII)
nan, inf = math.nan, math.inf


def lines_of(text):
    parts = text.split("\n")
    last = parts.pop()
    return [p[:-1] if p.endswith("\r") else p for p in parts] + ([last] if last else [])


def table_model(text, path, names_at, first_row, min_lines):
    """Reference reader: names from one cleaned line, the row rule after it."""
    lines = lines_of(text)
    if len(lines) < min_lines:
        raise ValueError(f"{path}: file too short")
    cleaned = lines[names_at].replace("#", "").replace("\t", " ")
    names = [n for n in WS_RUN.split(cleaned) if n]
    columns = [[] for _ in names]
    for line in lines[first_row:]:
        fields = [f for f in WS_RUN.split(line) if f][:len(names)]
        if names and len(fields) == len(names) and all(NUMBER.fullmatch(f) for f in fields):
            for column, field in zip(columns, fields):
                column.append(float(field))
    return dict(zip(names, columns))


def thermo_model(text, path):
    return table_model(text, path, 1, 2, 2)


def angle_model(text, path):
    return table_model(text, path, 2, 4, 5)


def canon(table):
    return [(name, ["nan" if v != v else (v, math.copysign(1.0, v)) for v in values])
            for name, values in table.items()]


def outcome(fn, *args):
    try:
        return "ok", canon(fn(*args))
    except ValueError as exc:
        return "err", exc.args


@pytest.mark.parametrize("content, expected", [
    ("title\n# Step Temp\n0 300.0\n10 301.5\n", {"Step": [0.0, 10.0], "Temp": [300.0, 301.5]}),
    ("title\n#Step\tTemp #x\n1 2 3\n", {"Step": [1.0], "Temp": [2.0], "x": [3.0]}),
    ("title\n# a b", {"a": [], "b": []}),
    ("title\n\n", {}),
    ("title\n   \n1 2\n", {}),
    ("title\n# a b\n1 2 3 4\n1\n1 n/a\n1 #\n5 6\n", {"a": [1.0, 5.0], "b": [2.0, 6.0]}),
    # Data lines keep their '#' characters.
    ("title\n# a b\n#5 6\n# 5 6\n5# 6\n7 8\n", {"a": [7.0], "b": [8.0]}),
    ("title\n# a b\n1e400 nan\nNaN -inf\n1,5 2\n0x10 2\n",
     {"a": [inf, nan], "b": [nan, -inf]}),
    # Zeros after the point scale the digits that follow them.
    ("title\n# a b c\n0.05 -0.06461 0.00123e2\n.007 -0.0 00.010\n",
     {"a": [0.05, 0.007], "b": [-0.06461, -0.0], "c": [0.123, 0.01]}),
    ("title\r\n# a b\r\n1 2\r\n3 4", {"a": [1.0, 3.0], "b": [2.0, 4.0]}),
    ("title\n# Temp Temp\n1 2\n", {"Temp": [2.0]}),
    ("title\n# t a t\n1 2 3\n", {"t": [3.0], "a": [2.0]}),
    # The title line is never data, whatever it holds.
    ("1 2\n# a b\n3 4\n", {"a": [3.0], "b": [4.0]}),
    ("title\n# a b\n\n\t1\t2\t\n", {"a": [1.0], "b": [2.0]}),
])
def test_thermoprop(module, write_file, content, expected):
    table = module.parse_thermoprop(write_file(content))
    assert type(table) is dict
    assert all(type(v) is list and all(type(x) is float for x in v) for v in table.values())
    assert canon(table) == canon(expected)


@pytest.mark.parametrize("content, expected", [
    ("# title\n# stats\n# Bin Coord Count Count/Total\n100 2 10 0 1 2\n1 100.5 4 0.4\n"
     "2 101.5 6 0.6\n",
     {"Bin": [1.0, 2.0], "Coord": [100.5, 101.5], "Count": [4.0, 6.0],
      "Count/Total": [0.4, 0.6]}),
    # Lines 0, 1 and 3 are skipped whatever they hold.
    ("1 2\n3 4\n# a b\n5 6\n7 8\n", {"a": [7.0], "b": [8.0]}),
    ("t\ns\n# a b\nx\n\n", {"a": [], "b": []}),
    ("t\ns\n\nx\n1 2\n", {}),
    ("t\r\ns\r\n# a b\r\nx\r\n1 2\r\n", {"a": [1.0], "b": [2.0]}),
])
def test_bond_angle(module, write_file, content, expected):
    assert canon(module.parse_bond_angle(write_file(content))) == canon(expected)


@pytest.mark.parametrize("reader, content", [
    ("parse_thermoprop", ""),
    ("parse_thermoprop", "title"),
    ("parse_thermoprop", "title\n"),
    ("parse_thermoprop", "title\r\n"),
    ("parse_bond_angle", ""),
    ("parse_bond_angle", "t\ns\n# a b\nx\n"),
    ("parse_bond_angle", "t\ns\n# a b\nx"),
    ("parse_bond_angle", "\n\n\n\n"),
])
def test_file_too_short(module, raised, write_file, reader, content):
    path = write_file(content)
    assert raised(getattr(module, reader), path) == (ValueError, (f"{path}: file too short",), None)


@pytest.mark.parametrize("reader", ["parse_thermoprop", "parse_bond_angle"])
def test_read_errors(module, raised, write_file, tmp_path, reader):
    fn = getattr(module, reader)
    missing = str(tmp_path / "missing.dat")
    assert raised(fn, missing) == (OSError, (f"{missing}: {os.strerror(2)} (os error 2)",), None)
    path = write_file(b"t\ns\n# a b\nx\n1 \xff\n")
    assert raised(fn, path) == (OSError, (f"{path}: stream did not contain valid UTF-8",), None)
    kind, _, notes = raised(fn, path=b"x.dat")
    assert kind is TypeError and notes == ["while processing 'path'"]


@pytest.mark.parametrize("ch", [c for c in WHITE_SPACE if c != "\n"], ids=ascii)
def test_every_white_space_character_separates(module, write_file, ch):
    content = f"t\n{ch}#{ch}a{ch}{ch}b{ch}\n{ch}1{ch}{ch}2{ch}\n"
    assert module.parse_thermoprop(write_file(content)) == {"a": [1.0], "b": [2.0]}
    content = f"t\ns\n{ch}#{ch}a{ch}{ch}b{ch}\nx\n{ch}1{ch}{ch}2{ch}\n"
    assert module.parse_bond_angle(write_file(content)) == {"a": [1.0], "b": [2.0]}


@pytest.mark.parametrize("ch", ["\x1c", "\x1f", "\u180e", "\u200b", "\u2060", "\ufeff"],
                         ids=ascii)
def test_other_characters_are_part_of_a_field(module, write_file, ch):
    assert module.parse_thermoprop(write_file(f"t\n# a{ch}b c\n1{ch} 2\n3 4\n")) == {
        f"a{ch}b": [3.0], "c": [4.0]}


# --------------------------------------------------------------------------
# Generated fields and files against the reference readers
# --------------------------------------------------------------------------

digits = st.text("0123456789", min_size=1, max_size=30)
exponents = st.one_of(
    st.integers(-400, 400),
    st.sampled_from([307, 308, 309, -307, -308, -323, -324, -325, 10**20, -10**20]),
    st.integers(-10**30, 10**30),
)
decimal = st.builds(
    lambda sign, whole, frac, point, e_letter, exp_sign, exp: (
        sign + whole + (point + frac if point else "") + (
            e_letter + exp_sign + str(abs(exp)) if e_letter else "")),
    st.sampled_from(["", "+", "-"]), st.one_of(st.just(""), digits), digits,
    st.sampled_from(["", "."]), st.sampled_from(["", "e", "E"]),
    st.sampled_from(["", "+", "-"]), exponents,
).filter(lambda s: any(c.isdigit() for c in s.split("e")[0].split("E")[0]))
number_field = st.one_of(
    decimal,
    st.from_regex(NUMBER, fullmatch=True),
    st.floats().map(repr),
    st.sampled_from(["inf", "-Infinity", "+NaN", "nan", "1e400", "-1e-400",
                     "2.4703282292062328e-324", "2.4703282292062327e-324",
                     "1.7976931348623158e308", "1.7976931348623159e308", "9007199254740993"]),
)
other_field = st.one_of(
    st.sampled_from([".", "+", "e5", "1e", "1e+", "0x10", "1_000", "1d5", "1,5", "1.2.3",
                     "#", "#5", "5#", "n/a", "infinit", "nan(1)", "\u0661", "\uff11"]),
    st.text(alphabet="0123456789.eE+-_#xinfatyNIFATY,d", min_size=1, max_size=8),
)
separator = st.text(alphabet=WHITE_SPACE.replace("\n", ""), min_size=1, max_size=3)


def row(fields, separators, lead):
    return lead + "".join(f + s for f, s in zip(fields, separators))


line = st.builds(
    row, st.lists(st.one_of(number_field, number_field, other_field), max_size=5),
    st.lists(separator, min_size=5, max_size=5), st.one_of(st.just(""), separator))
names_line = st.builds(
    lambda lead, names, sep: lead + sep.join(names),
    st.sampled_from(["", "#", "# ", "\t#", "#\t"]),
    st.lists(st.text(alphabet="abcXY_/()#", min_size=1, max_size=4), max_size=4),
    st.sampled_from([" ", "\t", "  ", "\u3000"]))


def document(head):
    return st.builds(
        lambda head_lines, body, ends, last: "".join(
            l + e for l, e in zip(head_lines + body, ends)) + last,
        head, st.lists(line, max_size=8),
        st.lists(st.sampled_from(["\n", "\r\n"]), min_size=14, max_size=14),
        st.one_of(st.just(""), line))


thermo_head = st.builds(lambda t, n: [t, n], line, names_line)
angle_head = st.builds(lambda t, s, n, x: [t, s, n, x], line, line, names_line, line)
short = st.lists(line, max_size=5).map(lambda ls: "\n".join(ls))


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(text=st.one_of(document(thermo_head), short))
def test_generated_thermo_tables(module, tmp_path_factory, text):
    path = str(tmp_path_factory.getbasetemp() / "thermo.dat")
    with open(path, "wb") as f:
        f.write(text.encode("utf-8"))
    assert outcome(module.parse_thermoprop, path) == outcome(thermo_model, text, path)


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(text=st.one_of(document(angle_head), short))
def test_generated_angle_tables(module, tmp_path_factory, text):
    path = str(tmp_path_factory.getbasetemp() / "angle.dat")
    with open(path, "wb") as f:
        f.write(text.encode("utf-8"))
    assert outcome(module.parse_bond_angle, path) == outcome(angle_model, text, path)


@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(fields=st.lists(st.one_of(number_field, other_field), min_size=1, max_size=30),
       separators=st.lists(separator, min_size=30, max_size=30))
def test_number_rule_matches_regex_and_float(module, tmp_path_factory, fields, separators):
    """One field per row under one column: each row is kept exactly when the
    regular expression accepts its field, with the value Python's float gives."""
    path = str(tmp_path_factory.getbasetemp() / "numbers.dat")
    body = "".join(f"{s}{f}{s}\n" for f, s in zip(fields, separators))
    with open(path, "wb") as f:
        f.write(("title\n# v\n" + body).encode("utf-8"))
    expected = [float(f) for f in fields if NUMBER.fullmatch(f)]
    assert canon(module.parse_thermoprop(path)) == canon({"v": expected})
