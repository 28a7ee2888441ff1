"""The five readers against one model of their rules, built on the package's
own statement of the row rule (vexa_pp.row_rule): hand cases that pin the
model and the readers together, then generated files, on which the count
behind the note on dropped rows is held to what the reader drops."""

import os

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from helpers import (NUMBER, WHITE_SPACE, canon, fields_of, inf, lines_of, nan, number, outcome,
                     write)
from vexa_pp import row_rule, run_files

# ---- the model ------------------------------------------------------------------


def rows(names, lines):
    """The row rule: a line gives one value per column, or nothing."""
    found = [values for line in lines if (values := row_rule.row(line, len(names)))]
    return {name: [values[k] for values in found] for k, name in enumerate(names)}


def vexa_model(text, path):
    lines = lines_of(text)
    header = max([i for i, line in enumerate(lines)
                  if row_rule.is_time_header(line)], default=0)
    cleaned = [line.replace("#", "") for line in lines]
    names = fields_of(cleaned[header]) if lines else []
    if not names:
        raise ValueError(f"No header found in {path}")
    return rows(names, cleaned[header + 1:])


def table_model(names_at, first_row, min_lines):
    def read(text, path):
        lines = lines_of(text)
        if len(lines) < min_lines:
            raise ValueError(f"{path}: file too short")
        return rows(fields_of(lines[names_at].replace("#", "")), lines[first_row:])
    return read


def volume_model(text, path):
    for line in lines_of(text)[2:]:
        fields = fields_of(line)
        if len(fields) >= 2 and number(fields[1]) is not None:
            return number(fields[1])
    raise ValueError(f"No numeric data found in {path}")


def group_model(text, path, name):
    lines = lines_of(text)
    for line, follower in zip(lines, lines[1:]):
        token = (fields_of(follower) or [""])[0].removeprefix("+")
        if "group " + name in line and token.isascii() and token.isdigit() and int(token) < 2**64:
            return int(token)
    raise ValueError(f"Group '{name}' count not found in '{path}'")


MODELS = {
    "parse_vexa_file": vexa_model,
    "parse_thermoprop": table_model(1, 2, 2),
    "parse_bond_angle": table_model(2, 4, 5),
    "parse_volume_density": volume_model,
}
SHORT = {"vexa": "parse_vexa_file", "thermo": "parse_thermoprop", "angle": "parse_bond_angle",
         "volume": "parse_volume_density"}


# The array reader of each table layout, read back as lists: it must agree with
# the list reader on every file, errors included.
ARRAY_KINDS = {"parse_vexa_file": "transport", "parse_thermoprop": "thermo",
               "parse_bond_angle": "bond_angle"}


def array_reader(kind):
    from vexa_pp.tables import read_table

    def read(path):
        table = read_table(path, kind)
        for column in table.values():
            assert column.dtype == np.float64 and column.ndim == 1 and column.flags.c_contiguous
        return {name: column.tolist() for name, column in table.items()}
    return read


def reader(module, key):
    """(function, model, extra arguments) of "vexa" ... "volume" or "group:NAME"."""
    if key.startswith("group:"):
        return module.read_group_count, group_model, (key[6:],)
    return getattr(module, SHORT[key]), MODELS[SHORT[key]], ()


# ---- hand cases -----------------------------------------------------------------

NO_HEADER, TOO_SHORT = "No header found in {path}", "{path}: file too short"
NO_DATA, NO_COUNT = "No numeric data found in {path}", "Group '{name}' count not found in '{path}'"
LOG = "LAMMPS\ngroup water type 1 2\n6000 atoms in group water\ngroup OW type 1\n2000 atoms\n"
BOUNDARIES = "\x7f \u0080 \u07ff \u0800 \ud7ff \ue000 \uffff \U00010000 \U0010ffff"

CASES = [
    ("vexa", "# title\n#Time MSD_x MSD_y\n0 0.0 0.0\n1 2.5 3.0\n",
     {"Time": [0.0, 1.0], "MSD_x": [0.0, 2.5], "MSD_y": [0.0, 3.0]}),
    ("vexa", "#Time a\n1 2\n#Time b\n3 4\n", {"Time": [3.0], "b": [4.0]}),
    ("vexa", "title x\n \t#Time a\n1 2\n", {"Time": [1.0], "a": [2.0]}),
    # not header lines: the first line is the header
    ("vexa", "title x\n# Time a\n#time a\n##Time a\nx#Time a\n1 2\n", {"title": [1.0], "x": [2.0]}),
    ("vexa", "x y\n#Timestep a\n1 2\n", {"Timestep": [1.0], "a": [2.0]}),
    ("vexa", "r g(r)\n0.1 0.0\n0.2 1.5\n", {"r": [0.1, 0.2], "g(r)": [0.0, 1.5]}),
    ("vexa", "#Time #A\tB\n1 2 3\n", {"Time": [1.0], "A": [2.0], "B": [3.0]}),
    ("vexa", "#Time a b\n1 2\n1 2 3 4\n5 x 6\n1 nan inf\n1,5 2 3\n# 7 8 9\n",
     {"Time": [1.0, 1.0, 7.0], "a": [2.0, nan, 8.0], "b": [3.0, inf, 9.0]}),
    ("vexa", "t a a\n1 2 3\n", {"t": [1.0], "a": [3.0]}),
    ("vexa", "1 2\n#Time a b", {"Time": [], "a": [], "b": []}),
    ("vexa", "#Time a\r\r\n1 2\r\r\n3 4\r\n5\r6", {"Time": [1.0, 3.0, 5.0], "a": [2.0, 4.0, 6.0]}),
    ("vexa", "#Time a b\n#5 5# 1#2\n", {"Time": [5.0], "a": [5.0], "b": [12.0]}),
    ("vexa", "\ufeff#Time a\n1 2\n", {"\ufeffTime": [1.0], "a": [2.0]}),
    ("vexa", "\n#Time a\n1 2\n", {"Time": [1.0], "a": [2.0]}),
    ("vexa", f"#Time {BOUNDARIES}\n" + "0 " * 10,
     {n: [0.0] for n in ["Time", *BOUNDARIES.split()]}),
    *[("vexa", text, NO_HEADER) for text in ["", "\n", "\r\n", "   \n1 2\n", "# # \t#\n1 2\n",
                                              "\u3000\n1 2"]],
    ("thermo", "title\n# Step Temp\n0 300.0\n10 301.5\n",
     {"Step": [0.0, 10.0], "Temp": [300.0, 301.5]}),
    ("thermo", "title\n#Step\tTemp #x\n1 2 3\n", {"Step": [1.0], "Temp": [2.0], "x": [3.0]}),
    ("thermo", "title\n# a b", {"a": [], "b": []}),
    ("thermo", "title\n\n1 2\n", {}),
    # data lines keep their '#' characters; the title line is never data
    ("thermo", "1 2\n# a b\n1 2 3\n1\n1 n/a\n1 #\n#5 6\n# 5 6\n5# 6\n7 8\n",
     {"a": [1.0, 7.0], "b": [2.0, 8.0]}),
    ("thermo", "title\n# a b\n1e400 nan\nNaN -inf\n0x10 2\n", {"a": [inf, nan], "b": [nan, -inf]}),
    # zeros after the point scale the digits that follow them
    ("thermo", "t\n# a b c\n0.05 -0.06461 0.00123e2\n.007 -0.0 00.010\n",
     {"a": [0.05, 0.007], "b": [-0.06461, -0.0], "c": [0.123, 0.01]}),
    ("thermo", "title\r\n# a b\r\n1 2\r\n3 4", {"a": [1.0, 3.0], "b": [2.0, 4.0]}),
    ("thermo", "title\n# t a t\n1 2 3\n", {"t": [3.0], "a": [2.0]}),
    *[("thermo", text, TOO_SHORT) for text in ["", "title", "title\n", "title\r\n"]],
    ("angle", "# title\n# stats\n# Bin Coord Count Count/Total\n100 2 10 0 1 2\n1 100.5 4 0.4\n",
     {"Bin": [1.0], "Coord": [100.5], "Count": [4.0], "Count/Total": [0.4]}),
    ("angle", "1 2\n3 4\n# a b\n5 6\n7 8\n", {"a": [7.0], "b": [8.0]}),
    ("angle", "t\ns\n# a b\nx\n\n", {"a": [], "b": []}),
    ("angle", "t\r\ns\r\n# a b\r\nx\r\n1 2\r\n", {"a": [1.0], "b": [2.0]}),
    *[("angle", text, TOO_SHORT)
      for text in ["", "t\ns\n# a b\nx\n", "t\ns\n# a b\nx", "\n\n\n\n"]],
    ("volume", "# Time-averaged\n# TimeStep v_vol\n0 27000.5\n100 27010.0\n", 27000.5),
    ("volume", "t\nn\n\n0\n0 x\n0 1,5\nabc -1e-400 junk\n", -0.0),
    ("volume", "t\nn\n0 nan\n", nan), ("volume", "t\nn\n# 1e400\n0 8\n", inf),
    ("volume", "0 1\n0 2\n0 3\n", 3.0), ("volume", "t\r\nn\r\n0\u30002.5\r\n", 2.5),
    *[("volume", text, NO_DATA) for text in ["", "0 1\n0 2\n", "0 1\n0 2", "t\nn\n7\n\n \n0 x\n"]],
    ("group:water", LOG, 6000), ("group:OW", LOG, 2000), ("group:O", LOG, 2000),
    ("group:water", "subgroup waters here\n5 x\n", 5),
    ("group:water", "group water\n+12 atoms\n", 12), ("group:water", "group water\n  \t0012\n", 12),
    ("group:water", "group water\n18446744073709551615\n", 2**64 - 1),
    # a follower that is no count goes on with the search from itself
    ("group:water", "group water\nSetting\ngroup water\n-12\ngroup water\n12abc\ngroup water\n"
     "18446744073709551616\ngroup water\n++3\ngroup water\n3\n", 3),
    ("group:a", "group a\ngroup a x\n9\n", 9), ("group:", "group \n4\n", 4),
    ("group:a", "x group a y\r\n5 atoms\r\n", 5),
    ("group:a", "group a\r\n\u30008\u3000atoms\n", 8), ("group:a\rb", "group a\rb\n6\n", 6),
    *[("group:" + name, text, NO_COUNT) for name, text in [
        ("a", "group a\n\n7\n"), ("ow", LOG), ("waters", LOG), ("water", "1\ngroup water"),
        ("water", "group water\r\n"), ("water\r", "group water\r\n1\n"),
        ("water\n1", "group water\n1\n"), ("water", "")]],
]


@pytest.mark.parametrize("key, content, expected", CASES)
def test_cases(module, write_file, key, content, expected):
    path = write_file(content)
    function, model, extra = reader(module, key)
    if isinstance(expected, str):
        expected = ("err", ValueError, (expected.format(path=path, name=key[6:]),))
    else:
        expected = ("ok", canon(expected))
    assert outcome(function, path, *extra) == expected
    assert outcome(model, content, path, *extra) == expected
    if function.__name__ in ARRAY_KINDS:
        assert outcome(array_reader(ARRAY_KINDS[function.__name__]), path) == expected


WITH_SEPARATOR = {  # reader: (content, with {c} for the character; result if it separates)
    "vexa": ("x y\n{c}#Time{c}a\n{c}1{c}{c}2{c}\n", {"Time": [1.0], "a": [2.0]}),
    "thermo": ("t\n{c}#{c}a{c}{c}b{c}\n{c}1{c}{c}2{c}\n", {"a": [1.0], "b": [2.0]}),
    "angle": ("t\ns\n{c}#{c}a{c}b\nx\n{c}1{c}2\n", {"a": [1.0], "b": [2.0]}),
    "volume": ("t\nn\n{c}1{c}{c}2{c}\n", 2.0),
    "group:a": ("group a\n{c}3{c}atoms\n", 3),
}


@pytest.mark.parametrize("c", [c for c in WHITE_SPACE if c != "\n"]
                         + ["\x1c", "\x1f", "\u180e", "\u200b", "\u2060", "\ufeff", "_"], ids=ascii)
def test_white_space(module, write_file, c):
    for key, (content, separated) in WITH_SEPARATOR.items():
        content = content.format(c=c)
        path = write_file(content)
        function, model, extra = reader(module, key)
        assert outcome(function, path, *extra) == outcome(model, content, path, *extra), key
        if c in WHITE_SPACE:
            assert outcome(function, path, *extra) == ("ok", canon(separated)), key


NUMBERS = [
    "1", "+1", "-1", "1.", ".5", "-.5", "007", "1e5", "1E+05", "2.5e-3", "+.5e-0",
    "inf", "-Infinity", "+INF", "iNfInItY", "nan", "NaN", "-nan", "+NAN",
    "1e400", "-1e400", "1e-400", "-1e-400", "-0", "-0.0e10", "0.1", "9007199254740993",
    "1.7976931348623157e308", "1.7976931348623158e308", "1.7976931348623159e308",
    "4.9e-324", "2.4703282292062328e-324", "2.4703282292062327e-324",
    "1e99999999999999999999", "0e99999999999999999999", "1e-99999999999999999999",
    "1" * 400, "0." + "0" * 400 + "1", "123456789012345678901234567890e-10",
    # more than 53 bits of digits: one rounding only, not of the digits and again
    "9173021677453855e2", "157096415316.92283",
    # exact in binary, but not their digits, above 2^53: no rounding of the digits first
    "900719925474099.5", "-9007199.255859375",
    "-" + "0" * 400, "-0." + "0" * 400, "-" + "0" * 300 + ".0e-5", "+" + "0" * 40,
    "#5", "5#", "1#2", "-#1",
]
NOT_NUMBERS = [
    ".", "+", "-", "e5", ".e5", "1e", "1e+", "1.e", "+-1", "--1", "0x10", "0x1p3",
    "1_000", "1d5", "1D5", "1,5", "1.2.3", "1e5.0", "1e5e5", "in", "infin", "infinite",
    "infinityy", "nana", "nan(1)", "inf5", "+inf+", "x", "\u0661\u0662", "\uff11", "\u00bd",
]


def test_number_rule(module, write_file):
    # one field a row; parse_vexa_file reads "#5" as "5"
    fields = NUMBERS + NOT_NUMBERS
    table = module.parse_vexa_file(write_file(
        "#Time a\n" + "".join(f"{i} {f}\n" for i, f in enumerate(fields))))
    assert canon(table) == canon({"Time": [float(i) for i in range(len(NUMBERS))],
                                  "a": [float(f.replace("#", "")) for f in NUMBERS]})


BAD_UTF8 = [b"\xff", b"\x80", b"\xc0\x80", b"\xc1\xbf", b"\xe0\x80\x80", b"\xe0\x9f\xbf",
            b"\xed\xa0\x80", b"\xf0\x80\x80\x80", b"\xf0\x8f\xbf\xbf", b"\xf4\x90\x80\x80",
            b"\xf5\x80\x80\x80", b"\xe2\x82", b"\xe2\x82 ", b"\xf0\x9f\x98"]


@pytest.mark.parametrize("key", [*SHORT, "group:water"])
def test_read_errors(module, raised, write_file, tmp_path, monkeypatch, key):
    function, _, extra = reader(module, key)

    arrays = array_reader(ARRAY_KINDS[function.__name__]) if function.__name__ in ARRAY_KINDS \
        else None

    def refused(path, reason):
        assert raised(function, path, *extra) == (OSError, (f"{path}: {reason}",), None)
        if arrays:
            assert raised(arrays, path) == (OSError, (f"{path}: {reason}",), None)

    refused(str(tmp_path / "missing \u00e9.dat"), f"{os.strerror(2)} (os error 2)")
    refused(str(tmp_path), f"{os.strerror(21)} (os error 21)")
    refused("a\0b.dat", "file name contained an unexpected NUL byte")
    for bad in BAD_UTF8:
        refused(write_file(b"#Time a\n1 2\n" + bad), "stream did not contain valid UTF-8")
        refused(write_file(b"#Time a\n1 2 " + bad + b"\n3 4\n"),
                "stream did not contain valid UTF-8")
    monkeypatch.chdir(tmp_path)
    refused("nope.dat", f"{os.strerror(2)} (os error 2)")
    write_file("group water\n1\n#Time a\n1 2\n3 4\n", name="t\u00e9ble \u2603.dat")
    assert function("./t\u00e9ble \u2603.dat", *extra) == function("t\u00e9ble \u2603.dat", *extra)
    # the error is a plain OSError, not a subclass that would carry errno
    with pytest.raises(OSError) as error:
        function("nope.dat", *extra)
    assert (error.value.errno, error.value.strerror, error.value.filename) == (None,) * 3


# ---- generated files ------------------------------------------------------------

digits = st.one_of(st.text("0123456789", min_size=1, max_size=30),
                   st.text("0", min_size=1, max_size=400), st.text("0123456789", max_size=800))
exponents = st.one_of(st.integers(-400, 400), st.integers(-10**30, 10**30),
                      st.sampled_from([307, 308, 309, -307, -308, -323, -324, -325, 10**20]))
decimal = st.builds(
    lambda sign, whole, point, frac, e, exp:
        sign + whole + point + frac + (f"{e}{exp:+d}" if e else ""),
    st.sampled_from(["", "+", "-"]), st.one_of(st.just(""), digits), st.sampled_from(["", "."]),
    st.one_of(st.just(""), digits), st.sampled_from(["", "e", "E"]), exponents,
).filter(lambda s: any(c.isdigit() for c in s.lower().split("e")[0]))
number_field = st.one_of(
    decimal, st.from_regex(NUMBER, fullmatch=True), st.floats().map(repr),
    st.sampled_from(["-Infinity", "+NaN", "2.4703282292062328e-324", "1.7976931348623159e308",
                     "9007199254740993", "-0", "-0e999"]))
other_field = st.one_of(
    st.sampled_from(["1e", "e5", "0x10", "1_000", "1d5", "1,5", "#", "#5", "1#2", "#Time",
                     "group", "water", "atoms", "\u0661", "nan(1)"]),
    st.text(alphabet="0123456789.eE+-_#xinfatyNIFATY,d", min_size=1, max_size=8))
count = st.one_of(st.sampled_from(["+2", "007", "-3", "12abc", "++1", "18446744073709551615",
                                   "18446744073709551616"]), st.integers(0, 2**65).map(str))
blank = st.text(alphabet=WHITE_SPACE.replace("\n", ""), min_size=1, max_size=3)
separator = st.one_of(blank, blank, st.sampled_from(["\x1c", "\u200b", "#"]))
row = st.builds(
    lambda lead, head, cells: lead + head + "".join(f + s for f, s in cells),
    st.sampled_from(["", "", " ", "\t", "\xa0", "#", "\u3000"]),
    st.sampled_from(["", "", "", "#Time ", "#Time", "# Time ", "#Timestep "]),
    st.lists(st.tuples(st.one_of(number_field, number_field, other_field, count), separator),
             max_size=4))
NAMES = ["water", "wat", "Na", "", " "]
log_lines = st.builds(  # a group line and the next
    lambda lead, name, tail, space, n: f"{lead}group {name}{tail}\n{space}{n}{space}atoms",
    st.sampled_from(["", " ", "sub"]), st.sampled_from(NAMES), st.sampled_from(["", "s", "\r"]),
    st.sampled_from(["", " ", "\u3000"]), st.one_of(count, other_field))
line = st.one_of(row, row, row, log_lines)
document = st.builds(
    lambda lines, ends, last: "".join(l + e for l, e in zip(lines, ends)) + last,
    st.lists(line, max_size=12), st.lists(st.sampled_from(["\n", "\r\n", "\r\r\n"]), min_size=12,
                                          max_size=12), st.one_of(st.just(""), line))
group_names = st.one_of(st.sampled_from(NAMES), st.text(max_size=3))


@settings(max_examples=500, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(text=document, name=group_names)
def test_generated_files(module, tmp_path_factory, text, name):
    path = write(tmp_path_factory.getbasetemp() / "generated.dat", text)
    for function, model in MODELS.items():
        expected = outcome(model, text, path)
        assert outcome(getattr(module, function), path) == expected, function
        if function in ARRAY_KINDS:
            assert outcome(array_reader(ARRAY_KINDS[function]), path) == expected, function
    assert outcome(module.read_group_count, path, name) == outcome(group_model, text, path, name)


# Large files are read a block (1 MiB) at a time. Fillers that put a
# generated document across the first block's end: rows, or a line longer
# than a block (the buffer grows to hold it).
BLOCK = 1 << 20
FILLERS = {
    "rows": lambda n: "#Time a b\n" + ("1 2" + " " * 96 + "\n") * (n // 100) + "x" * (n % 100),
    "long line": lambda n: "1.5 2.5" + " " * (n + BLOCK // 4 - 7),
}


@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(text=document, filler=st.sampled_from(sorted(FILLERS)), cut=st.integers(-300, 60),
       bad=st.sampled_from([None, None, None, b"\xe2\x82", b"\xff"]))
def test_files_read_a_block_at_a_time(module, tmp_path_factory, text, filler, cut, bad):
    head = FILLERS[filler](BLOCK + cut - 11)
    content = f"{head}\n{text}".encode()
    if bad:  # invalid UTF-8 past the first block, inside or after a line
        content = content[:BLOCK + 20] + bad + content[BLOCK + 20:]
    path = write(tmp_path_factory.getbasetemp() / "large.dat", content)
    for function in ARRAY_KINDS:
        expected = (outcome(MODELS[function], content.decode(), path) if not bad else
                    ("err", OSError, (f"{path}: stream did not contain valid UTF-8",)))
        got = outcome(getattr(module, function), path)
        assert got[0] == expected[0] and got == expected, function


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(text=document)
def test_dropped_rows_are_the_ones_the_reader_dropped(module, tmp_path_factory, text):
    # Each line after the header, alone under it, is a row or not as the
    # reader itself says; the count behind the note on dropped rows must
    # agree, blank and comment lines aside.
    folder = tmp_path_factory.getbasetemp()
    raw = text.split("\n")
    for key, time_header in (("vexa", True), ("thermo", False)):
        function = reader(module, key)[0]
        whole = outcome(function, write(folder / "whole.dat", text))
        if whole[0] == "err":
            continue
        rows = len(next(iter(whole[1]), ("", []))[1])
        header = max([i for i, line in enumerate(raw) if row_rule.is_time_header(line)],
                     default=0) if time_header else 1
        head = "\n".join(raw[:header + 1]) + "\n"
        is_row = {line: bool(len(next(iter(function(write(folder / "one.dat", head + line))
                                           .values()), [])))
                  for line in raw[header + 1:]}
        meant = [line for line in raw[header + 1:]
                 if is_row[line] or not row_rule.is_blank_or_comment(line)]
        count = run_files.count_rows(text.encode(), time_header)
        assert (count.lines if count else 0, rows) == (len(meant), sum(map(is_row.get, meant))), key


@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(fields=st.lists(st.one_of(number_field, other_field), min_size=1, max_size=30),
       separators=st.lists(blank, min_size=30, max_size=30))
def test_generated_numbers(module, tmp_path_factory, fields, separators):
    body = "".join(f"{s}{f}{s}\n" for f, s in zip(fields, separators))
    path = write(tmp_path_factory.getbasetemp() / "numbers.dat", "title\n# v\n" + body)
    expected = [number(f) for f in fields if number(f) is not None]
    assert canon(module.parse_thermoprop(path)) == canon({"v": expected})
