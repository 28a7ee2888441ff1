import math
import os
import re

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

# Characters with the Unicode White_Space property.
WHITE_SPACE = ("\t\n\x0b\x0c\r \x85\xa0\u1680"
               + "".join(map(chr, range(0x2000, 0x200B)))
               + "\u2028\u2029\u202f\u205f\u3000")
_WS_RUN = re.compile("[" + re.escape(WHITE_SPACE) + "]+")
NUMBER = re.compile(
    r"[+-]?(?:(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)(?:[eE][+-]?[0-9]+)?|inf|infinity|nan)",
    re.IGNORECASE | re.ASCII)


def split_ws(text):
    return [piece for piece in _WS_RUN.split(text) if piece]


def read_model(text, path):
    """Reference reader: the header heuristic, line cleaning and number rule."""
    parts = text.split("\n")
    last = parts.pop()
    lines = [p[:-1] if p.endswith("\r") else p for p in parts]
    if last:
        lines.append(last)
    header = 0
    for i, line in enumerate(lines):
        if line.lstrip(WHITE_SPACE).startswith("#Time"):
            header = i
    cleaned = [line.replace("#", "").replace("\t", " ").lstrip(WHITE_SPACE) for line in lines]
    names = split_ws(cleaned[header]) if lines else []
    if not names:
        raise ValueError(f"No header found in {path}")
    columns = [[] for _ in names]
    for line in cleaned[header + 1:]:
        fields = split_ws(line)[:len(names)]
        if len(fields) == len(names) and all(NUMBER.fullmatch(f) for f in fields):
            for column, field in zip(columns, fields):
                column.append(float(field))
    table = {}
    for name, column in zip(names, columns):
        table[name] = column
    return table


def canon(table):
    return [(name, ["nan" if v != v else (v, math.copysign(1.0, v)) for v in values])
            for name, values in table.items()]


nan, inf = math.nan, math.inf


@pytest.mark.parametrize("content, expected", [
    ("# title\n#Time MSD_x MSD_y\n0 0.0 0.0\n1 2.5 3.0\n",
     {"Time": [0.0, 1.0], "MSD_x": [0.0, 2.5], "MSD_y": [0.0, 3.0]}),
    ("#Time a\n1 2\n#Time b\n3 4\n", {"Time": [3.0], "b": [4.0]}),
    ("title x\n \t#Time a\n1 2\n", {"Time": [1.0], "a": [2.0]}),
    ("title x\n# Time a\n1 2\n", {"title": [1.0], "x": [2.0]}),
    ("title x\n#time a\n1 2\n", {"title": [1.0], "x": [2.0]}),
    ("title x\n##Time a\n1 2\n", {"title": [1.0], "x": [2.0]}),
    ("title x\nx#Time a\n1 2\n", {"title": [1.0], "x": [2.0]}),
    ("x y\n#Timestep a\n1 2\n", {"Timestep": [1.0], "a": [2.0]}),
    ("r g(r)\n0.1 0.0\n0.2 1.5\n", {"r": [0.1, 0.2], "g(r)": [0.0, 1.5]}),
    ("#Time #A\tB\n1 2 3\n", {"Time": [1.0], "A": [2.0], "B": [3.0]}),
    ("#Time a b\n1 2\n1 2 3 4\n5 x 6\n1 nan inf\n1,5 2 3\n# 7 8 9\n",
     {"Time": [1.0, 1.0, 7.0], "a": [2.0, nan, 8.0], "b": [3.0, inf, 9.0]}),
    ("t a a\n1 2 3\n", {"t": [1.0], "a": [3.0]}),
    ("#Time a b", {"Time": [], "a": [], "b": []}),
    ("1 2\n#Time a\n", {"Time": [], "a": []}),
    ("1 2\n#Time a\n3 4\n", {"Time": [3.0], "a": [4.0]}),
    ("#Time a\r\n1 2\r\n3 4\r\n", {"Time": [1.0, 3.0], "a": [2.0, 4.0]}),
    ("#Time a\r\r\n1 2\r\r\n3 4", {"Time": [1.0, 3.0], "a": [2.0, 4.0]}),
    ("#Time a\n1\r2\n", {"Time": [1.0], "a": [2.0]}),
    ("#Time a b\n#5 5# 1#2\n", {"Time": [5.0], "a": [5.0], "b": [12.0]}),
    ("#Time a\n# 1 2\n\n   3 4\n\t5\t6 junk\n", {"Time": [1.0, 3.0, 5.0], "a": [2.0, 4.0, 6.0]}),
    ("1 2\n3 4\n", {"1": [3.0], "2": [4.0]}),
    ("\ufeff#Time a\n1 2\n", {"\ufeffTime": [1.0], "a": [2.0]}),
    ("\n#Time a\n1 2\n", {"Time": [1.0], "a": [2.0]}),
])
def test_tables(module, write_file, content, expected):
    table = module.parse_vexa_file(write_file(content))
    assert type(table) is dict
    assert all(type(v) is list and all(type(x) is float for x in v) for v in table.values())
    assert canon(table) == canon(expected)


SEPARATORS = ["\x0b", "\x0c", "\r", "\x85", "\xa0", "\u1680", "\u2000", "\u2007", "\u200a",
              "\u2028", "\u2029", "\u202f", "\u205f", "\u3000"]
NOT_SEPARATORS = ["\x1c", "\x1f", "\u180e", "\u200b", "\u2060", "\ufeff", "_"]


@pytest.mark.parametrize("ch", SEPARATORS, ids=ascii)
def test_white_space_separates(module, write_file, ch):
    expected = {"Time": [1.0], "a": [2.0]}
    assert module.parse_vexa_file(write_file(f"#Time{ch}a\n1{ch}{ch}2{ch}\n")) == expected
    assert module.parse_vexa_file(write_file(f"x y\n{ch}#Time a\n{ch}1 2\n")) == expected


@pytest.mark.parametrize("ch", NOT_SEPARATORS, ids=ascii)
def test_other_characters_do_not_separate(module, write_file, ch):
    assert module.parse_vexa_file(write_file(f"#Time a{ch}b\n1{ch}2 3\n4 5\n")) == {
        "Time": [4.0], f"a{ch}b": [5.0]}
    assert module.parse_vexa_file(write_file(f"x y\n{ch}#Time a\n1 2\n")) == {
        "x": [1.0], "y": [2.0]}


NUMBERS = [
    "1", "+1", "-1", "1.", ".5", "-.5", "007", "1e5", "1E+05", "2.5e-3", "+.5e-0",
    "inf", "-Infinity", "+INF", "iNfInItY", "nan", "NaN", "-nan", "+NAN",
    "1e400", "-1e400", "1e-400", "-1e-400", "-0", "-0.0e10", "0.1", "9007199254740993",
    "1.7976931348623157e308", "1.7976931348623158e308", "1.7976931348623159e308",
    "4.9e-324", "2.4703282292062328e-324", "2.4703282292062327e-324",
    "1e99999999999999999999", "0e99999999999999999999", "1e-99999999999999999999",
    "1" * 400, "0." + "0" * 400 + "1", "123456789012345678901234567890e-10",
    "#5", "5#", "1#2", "-#1",
]
NOT_NUMBERS = [
    ".", "+", "-", "e5", ".e5", "1e", "1e+", "1.e", "+-1", "--1", "0x10", "0x1p3",
    "1_000", "1d5", "1D5", "1,5", "1.2.3", "1e5.0", "1e5e5", "in", "infin", "infinite",
    "infinityy", "nana", "nan(1)", "inf5", "+inf+", "x", "\u0661\u0662", "\uff11", "\u00bd",
]


@pytest.mark.parametrize("field", NUMBERS)
def test_number_rule_accepts(module, write_file, field):
    value = float(field.replace("#", ""))
    table = module.parse_vexa_file(write_file(f"#Time a\n0 {field}\n"))
    assert canon(table) == canon({"Time": [0.0], "a": [value]})


@pytest.mark.parametrize("field", NOT_NUMBERS)
def test_number_rule_refuses(module, write_file, field):
    table = module.parse_vexa_file(write_file(f"#Time a\n0 {field}\n{field} 0\n1 1\n"))
    assert table == {"Time": [1.0], "a": [1.0]}


@pytest.mark.parametrize("content", ["", "\n", "\r\n", "\n1 2\n", "   \n1 2\n",
                                     "# # \t#\n1 2\n", "\u3000\n1 2"])
def test_no_header(module, raised, write_file, content):
    path = write_file(content)
    assert raised(module.parse_vexa_file, path) == (
        ValueError, (f"No header found in {path}",), None)


@pytest.mark.parametrize("data", [b"\xff", b"\xc0\x80", b"\xed\xa0\x80", b"\xf4\x90\x80\x80",
                                  b"\xe2\x82", b"\x80"])
def test_invalid_utf8(module, raised, write_file, data):
    for content in (b"#Time a\n1 2\n" + data, b"#Time a\n1 2 " + data + b"\n3 4\n"):
        path = write_file(content)
        assert raised(module.parse_vexa_file, path) == (
            OSError, (f"{path}: stream did not contain valid UTF-8",), None)


def test_os_errors(module, raised, tmp_path):
    missing = str(tmp_path / "missing \u00e9.dat")
    assert raised(module.parse_vexa_file, missing) == (
        OSError, (f"{missing}: {os.strerror(2)} (os error 2)",), None)
    assert raised(module.parse_vexa_file, str(tmp_path)) == (
        OSError, (f"{tmp_path}: {os.strerror(21)} (os error 21)",), None)
    assert raised(module.parse_vexa_file, "a\0b.dat") == (
        OSError, ("a\0b.dat: file name contained an unexpected NUL byte",), None)


def test_relative_and_non_ascii_paths(module, raised, write_file, tmp_path, monkeypatch):
    write_file("#Time a\n1 2\n", name="t\u00e9ble \u2603.dat")
    monkeypatch.chdir(tmp_path)
    assert module.parse_vexa_file("t\u00e9ble \u2603.dat") == {"Time": [1.0], "a": [2.0]}
    assert module.parse_vexa_file("./t\u00e9ble \u2603.dat") == {"Time": [1.0], "a": [2.0]}
    assert raised(module.parse_vexa_file, "nope.dat") == (
        OSError, (f"nope.dat: {os.strerror(2)} (os error 2)",), None)


# --------------------------------------------------------------------------
# Generated files against the reference reader
# --------------------------------------------------------------------------

GEN_SEPARATORS = [" ", "  ", "\t", "\r", "\x85", "\xa0", "\u2003", "\u2028", "\u3000",
                  "\x1c", "\u200b", "#"]
TOKENS = ["0", "1", "-1", "+2.5", ".5", "1.", ".", "1e3", "1E-3", "1e", "e1", "inf",
          "-Infinity", "nan", "NaN", "1,5", "0x1", "1_0", "1d3", "x", "#", "#5", "1#2",
          "#Time", "Time", "a", "\u0661", "nan(1)", "1e400", "-1e-400", "-0"]
field = st.one_of(
    st.sampled_from(TOKENS),
    st.floats().map(repr),
    st.integers(-10**25, 10**25).map(str),
    st.text(alphabet="0123456789.eE+-_#xinfatyNIFATY,d", min_size=1, max_size=8),
)
line = st.builds(
    lambda lead, head, cells: lead + head + "".join(f + s for f, s in cells),
    st.sampled_from(["", " ", "\t", "\xa0", "#", "\u3000"]),
    st.sampled_from(["", "", "", "#Time ", "#Time", "# Time ", "#Timestep ", "#time "]),
    st.lists(st.tuples(field, st.sampled_from(GEN_SEPARATORS)), max_size=5),
)
document = st.builds(
    lambda lines, ends, last: "".join(l + e for l, e in zip(lines, ends)) + last,
    st.lists(line, max_size=12),
    st.lists(st.sampled_from(["\n", "\r\n", "\r\r\n"]), min_size=12, max_size=12),
    st.one_of(st.just(""), line),
)


def _check(module, path, text):
    with open(path, "wb") as f:
        f.write(text.encode("utf-8"))
    try:
        expected = ("ok", canon(read_model(text, path)))
    except ValueError as exc:
        expected = ("err", exc.args)
    try:
        got = ("ok", canon(module.parse_vexa_file(path)))
    except ValueError as exc:
        got = ("err", exc.args)
    assert got == expected


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(text=document)
def test_generated_files(module, tmp_path_factory, text):
    _check(module, str(tmp_path_factory.getbasetemp() / "generated.dat"), text)


decimal_literal = st.one_of(
    st.from_regex(NUMBER, fullmatch=True),
    st.builds(lambda sign, digits, frac, exp: f"{sign}{digits}.{frac}e{exp}",
              st.sampled_from(["", "-", "+"]), st.text("0123456789", min_size=1, max_size=40),
              st.text("0123456789", max_size=40), st.integers(-400, 400)),
)


@settings(max_examples=300, deadline=None)
@given(fields=st.lists(decimal_literal, min_size=1, max_size=20))
def test_generated_numbers_round_correctly(module, tmp_path_factory, fields):
    text = "#Time a\n" + "".join(f"{i} {f}\n" for i, f in enumerate(fields))
    _check(module, str(tmp_path_factory.getbasetemp() / "numbers.dat"), text)
