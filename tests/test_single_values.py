"""parse_volume_density and read_group_count on hand-written and generated files."""

import math
import os

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from test_property_tables import NUMBER, WHITE_SPACE, WS_RUN, lines_of


@pytest.mark.parametrize("content, expected", [
    ("# Time-averaged data\n# TimeStep v_vol\n0 27000.5\n100 27010.0\n", 27000.5),
    ("title\nnames\n\n0 1.02\n", 1.02),
    ("title\nnames\n0 nan\n", math.nan),
    ("title\nnames\n0 1e400\n", math.inf),
    ("title\nnames\n0 -1e-400\n", -0.0),
    ("title\nnames\nabc 5.5\n", 5.5),
    ("title\nnames\n0\n0 x\n0 1,5\n1 2 junk\n", 2.0),
    ("title\nnames\n# 7\n0 8\n", 7.0),
    # The header lines are skipped whatever they hold.
    ("0 1\n0 2\n0 3\n", 3.0),
    ("t\r\nn\r\n0\u30002.5\r\n", 2.5),
])
def test_volume_density(module, write_file, content, expected):
    value = module.parse_volume_density(write_file(content))
    assert type(value) is float
    assert (value != value) if expected != expected else (
        value == expected and math.copysign(1, value) == math.copysign(1, expected))


@pytest.mark.parametrize("content", ["", "0 1\n0 2\n", "0 1\n0 2", "t\nn\n7\n", "t\nn\n\n \n",
                                     "t\nn\n0 x\n"])
def test_volume_density_no_data(module, raised, write_file, content):
    path = write_file(content)
    assert raised(module.parse_volume_density, path) == (
        ValueError, (f"No numeric data found in {path}",), None)


LOG = ("LAMMPS (test)\n"
       "group water type 1 2\n"
       "6000 atoms in group water\n"
       "group OW type 1\n"
       "2000 atoms in group OW\n")


@pytest.mark.parametrize("content, name, expected", [
    (LOG, "water", 6000),
    (LOG, "OW", 2000),
    (LOG, "O", 2000),                        # a plain substring, no word boundary
    ("subgroup waters here\n5 x\n", "water", 5),
    ("group water\nSetting\ngroup water\n7\n", "water", 7),
    ("group water\n+12 atoms\n", "water", 12),
    ("group water\n  \t0012\n", "water", 12),
    ("group water\n18446744073709551615\n", "water", 18446744073709551615),
    ("group water\n-12\ngroup water\n3\n", "water", 3),
    ("group water\n12abc\ngroup water\n3\n", "water", 3),
    ("group water\n18446744073709551616\ngroup water\n3\n", "water", 3),
    # The line after a failed match is itself examined as a match.
    ("group a\ngroup a x\n9\n", "a", 9),
    ("group \n4\n", "", 4),
    ("x group a y\r\n5 atoms\r\n", "a", 5),
    ("group a\r\n\u30008\u3000atoms\n", "a", 8),
    ("group a\rb\n6\n", "a\rb", 6),
    ("group a\n\n7\n", "a", None),
])
def test_group_count(module, raised, write_file, content, name, expected):
    path = write_file(content, name="log.lammps")
    if expected is None:
        assert raised(module.read_group_count, path, name) == (
            ValueError, (f"Group '{name}' count not found in '{path}'",), None)
    else:
        count = module.read_group_count(path, name)
        assert type(count) is int and count == expected


@pytest.mark.parametrize("content, name", [
    (LOG, "ow"),                             # case-sensitive
    (LOG, "waters"),
    ("group water\nSetting up\n", "water"),
    ("1\ngroup water", "water"),             # a match on the last line
    ("group water\r\n", "water"),
    ("group water\r\n1\n", "water\r"),       # the line end is not part of the line
    ("group water\n1\n", "water\n1"),
    ("", "water"),
])
def test_group_count_not_found(module, raised, write_file, content, name):
    path = write_file(content, name="log.lammps")
    assert raised(module.read_group_count, path, name) == (
        ValueError, (f"Group '{name}' count not found in '{path}'",), None)


def test_read_errors_and_argument_order(module, raised, write_file, tmp_path):
    missing = str(tmp_path / "missing.log")
    strerror = f"{os.strerror(2)} (os error 2)"
    assert raised(module.parse_volume_density, missing) == (
        OSError, (f"{missing}: {strerror}",), None)
    assert raised(module.read_group_count, missing, "water") == (
        OSError, (f"{missing}: {strerror}",), None)
    bad = write_file(b"group water\n\xc3\x28\n")
    assert raised(module.read_group_count, bad, "water") == (
        OSError, (f"{bad}: stream did not contain valid UTF-8",), None)
    # Arguments are converted in order: a bad log_path is reported first.
    assert raised(module.read_group_count, 1, 2)[::2] == (TypeError, ["while processing 'log_path'"])
    assert raised(module.read_group_count, missing, 2)[::2] == (
        TypeError, ["while processing 'group_name'"])
    assert module.read_group_count(group_name="water", log_path=write_file(LOG)) == 6000


# --------------------------------------------------------------------------
# Generated logs and volume files against reference readers
# --------------------------------------------------------------------------

def group_count_model(text, path, name):
    lines = lines_of(text)
    needle = "group " + name
    for i, line in enumerate(lines):
        if needle not in line:
            continue
        if i + 1 == len(lines):
            break
        tokens = [t for t in WS_RUN.split(lines[i + 1]) if t]
        if tokens:
            digits = tokens[0].removeprefix("+")
            if digits and all("0" <= c <= "9" for c in digits) and int(digits) < 2**64:
                return int(digits)
    raise ValueError(f"Group '{name}' count not found in '{path}'")


def volume_model(text, path):
    for line in lines_of(text)[2:]:
        fields = [f for f in WS_RUN.split(line) if f]
        if len(fields) >= 2 and NUMBER.fullmatch(fields[1]):
            return float(fields[1])
    raise ValueError(f"No numeric data found in {path}")


def outcome(fn, *args):
    try:
        value = fn(*args)
    except ValueError as exc:
        return "err", exc.args
    return "ok", ("nan" if value != value else (value, math.copysign(1, value)))


NAMES = ["water", "wat", "Na", "NaCl", "", " ", "a b"]
token = st.one_of(
    st.sampled_from(["group", "water", "wat", "Na", "NaCl", "atoms", "in", "type", "1", "+2",
                     "-3", "007", "18446744073709551615", "18446744073709551616", "12abc",
                     "\u0661", "1e3", "nan", "x"]),
    st.integers(0, 2**65).map(str),
)
log_line = st.builds(
    lambda lead, tokens, seps: lead + "".join(t + s for t, s in zip(tokens, seps)),
    st.sampled_from(["", " ", "\t", "\u3000", "sub"]),
    st.lists(token, max_size=5),
    st.lists(st.sampled_from([" ", "  ", "\t", "\r", "\x85", "\u2028", "\u3000", ""]),
             min_size=5, max_size=5))
log_text = st.builds(
    lambda lines, ends, last: "".join(l + e for l, e in zip(lines, ends)) + last,
    st.lists(log_line, max_size=10),
    st.lists(st.sampled_from(["\n", "\r\n"]), min_size=10, max_size=10),
    st.one_of(st.just(""), log_line))


@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(text=log_text, name=st.one_of(st.sampled_from(NAMES), st.text(max_size=3)))
def test_generated_logs(module, tmp_path_factory, text, name):
    path = str(tmp_path_factory.getbasetemp() / "generated.log")
    with open(path, "wb") as f:
        f.write(text.encode("utf-8"))
    assert outcome(module.read_group_count, path, name) == outcome(
        group_count_model, text, path, name)


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(text=log_text)
def test_generated_volume_files(module, tmp_path_factory, text):
    path = str(tmp_path_factory.getbasetemp() / "volume.dat")
    with open(path, "wb") as f:
        f.write(text.encode("utf-8"))
    assert outcome(module.parse_volume_density, path) == outcome(volume_model, text, path)
