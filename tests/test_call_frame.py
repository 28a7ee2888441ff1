import array
import collections.abc
import ctypes
import math
import operator
import pathlib
import signal
from decimal import Decimal
from fractions import Fraction

import numpy as np
import pytest
from helpers import outcome
from test_statistics import summary_model as stats

# The interpreter's own conversions, called directly: the oracle for what an
# argument of kind float or count becomes, and what error it raises.
_as_double = ctypes.pythonapi.PyFloat_AsDouble
_as_double.argtypes = [ctypes.py_object]
_as_double.restype = ctypes.c_double
_as_ull = ctypes.pythonapi.PyLong_AsUnsignedLongLong
_as_ull.argtypes = [ctypes.py_object]
_as_ull.restype = ctypes.c_ulonglong
_seq_check = ctypes.pythonapi.PySequence_Check
_seq_check.argtypes = [ctypes.py_object]
_seq_check.restype = ctypes.c_int


def as_count(obj):
    return _as_ull(obj if isinstance(obj, int) else operator.index(obj))


def wrong_type(obj, target):
    if obj is None:
        return f"'None' is not an instance of '{target}'"
    return f"'{type(obj).__qualname__}' object is not an instance of '{target}'"


def generic_float_array(obj):
    """Sequence check, then plain iteration with one float conversion per item."""
    if isinstance(obj, str):
        raise TypeError("Can't extract `str` to `Vec`")
    if not _seq_check(obj):
        raise TypeError(wrong_type(obj, "Sequence"))
    return [_as_double(item) for item in obj]


def note(name):
    return [f"while processing '{name}'"]


# ---- Binding ---------------------------------------------------------------

MISSING = "missing {} required {} argument{}: "
TAKES = "takes {} positional arguments but {} {} given"
# bind_probe(a, /, b, c=None, *, k, m=None) and exhaust() come from the probe
BINDING_ERRORS = [  # (function, positional, keywords, message after "{function}() ")
    ("diffusion_adjustment", (1.0,), {}, MISSING.format(1, "positional", "") + "'hop_distance'"),
    ("diffusion_adjustment", (), {},
     MISSING.format(2, "positional", "s") + "'time_between_hops' and 'hop_distance'"),
    ("diffusion_adjustment", (), {"hop_distance": 1.0},
     MISSING.format(1, "positional", "") + "'time_between_hops'"),
    ("local_maximum_finder", (), {},
     MISSING.format(3, "positional", "s") + "'data', 'search_start', and 'neighbor_count'"),
    ("tau_calculator", (1.0,), {"temperature": 1.0}, MISSING.format(4, "positional", "s")
     + "'md_conductivity', 'box_length', 'particle_count', and 'hop_distance'"),
    ("parse_vexa_file", ("a", "b"), {}, TAKES.format(1, 2, "were")),
    ("diffusion_adjustment", (1.0, 2.0, 3.0), {"hop_distance": 1.0}, TAKES.format(2, 3, "were")),
    ("repacking_results", ([1.0], [2.0]), {"data": 1}, TAKES.format(1, 2, "were")),
    ("exhaust", (1,), {}, TAKES.format(0, 1, "was")),
    ("repacking_results", ([1.0],), {"d_array": [2.0]},
     "got multiple values for argument 'd_array'"),
    *[("repacking_results", (), {k: [1.0]}, f"got an unexpected keyword argument '{k}'")
      for k in ("data", "D_array", "d_array\udc80")],
    # keywords are examined in the caller's order, before missing arguments
    ("diffusion_adjustment", (1.0,), {"bogus": 1, "time_between_hops": 2.0},
     "got an unexpected keyword argument 'bogus'"),
    ("diffusion_adjustment", (1.0,), {"time_between_hops": 2.0, "bogus": 1},
     "got multiple values for argument 'time_between_hops'"),
    # binding completes before any argument is converted
    ("diffusion_adjustment", ("x",), {}, MISSING.format(1, "positional", "") + "'hop_distance'"),
    ("bind_probe", (1, 2, 3, 4), {"k": 1}, TAKES.format("from 2 to 3", 4, "were")),
    ("bind_probe", (), {"a": 1, "b": 2, "k": 3},
     "got some positional-only arguments passed as keyword arguments: 'a'"),
    ("bind_probe", (1, 2), {"a": 1, "k": 3},
     "got some positional-only arguments passed as keyword arguments: 'a'"),
    ("bind_probe", (1, 2), {}, MISSING.format(1, "keyword", "") + "'k'"),
    ("bind_probe", (1, 2, 3), {"m": 1}, MISSING.format(1, "keyword", "") + "'k'"),
    ("bind_probe", (1,), {"k": 3}, MISSING.format(1, "positional", "") + "'b'"),
    ("bind_probe", (), {"b": 2, "k": 3}, MISSING.format(1, "positional", "") + "'a'"),
    ("bind_probe", (), {}, MISSING.format(2, "positional", "s") + "'a' and 'b'"),
    ("bind_probe", (1, 2, 3), {"c": 4, "k": 1}, "got multiple values for argument 'c'"),
    ("bind_probe", (1, 2), {"k": 1, "n": 2}, "got an unexpected keyword argument 'n'"),
]


@pytest.mark.parametrize("name, args, kwargs, message", BINDING_ERRORS)
def test_binding_errors(module, probe, raised, name, args, kwargs, message):
    fn = getattr(module, name, None) or getattr(probe, name)
    assert raised(fn, *args, **kwargs) == (TypeError, (f"{name}() {message}",), None)


@pytest.mark.parametrize("args, kwargs, expected", [
    ((1, 2), {"k": 3}, (1, 2, None, 3, None)),
    ((1, 2, 3), {"m": 5, "k": 4}, (1, 2, 3, 4, 5)),
    ((1,), {"b": 2, "c": 3, "k": 4}, (1, 2, 3, 4, None)),
])
def test_bind_probe_slots(probe, args, kwargs, expected):
    assert probe.bind_probe(*args, **kwargs) == expected


# ---- Text conversion -------------------------------------------------------

class Outer:
    class Inner:
        pass


Text = type("Text", (str,), {})


@pytest.mark.parametrize("value", [1, None, b"table.dat", pathlib.Path("table.dat"),
                                   Outer.Inner(), ["table.dat"]])
def test_text_wrong_type(module, raised, value):
    assert raised(module.parse_vexa_file, value) == (
        TypeError, (wrong_type(value, "str"),), note("path"))


def test_text_subclass_accepted(module, write_file):
    path = write_file("#Time a\n1 2\n")
    assert module.parse_vexa_file(Text(path)) == {"Time": [1.0], "a": [2.0]}
    assert module.parse_vexa_file(path=path) == {"Time": [1.0], "a": [2.0]}


def test_text_unencodable(module, raised):
    assert raised(module.parse_vexa_file, "table\udc80.dat")[::2] == (
        UnicodeEncodeError, note("path"))


# ---- Float conversion ------------------------------------------------------

class WithFloat:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


def failing(self):
    raise ZeroDivisionError("no value")


WithIndex = type("WithIndex", (), {"__index__": lambda self: 3})
IntOwnFloat = type("IntOwnFloat", (int,), {"__float__": lambda self: 7.5})
FloatOwnFloat = type("FloatOwnFloat", (float,), {"__float__": lambda self: 99.0})
Failing = type("Failing", (), {"__float__": failing})


FLOAT_VALUES = [
    2.5, -1.0, -0.0, math.inf, True, False, 3, -1, 2**80, 10**400, -(10**400),
    WithFloat(4.25), WithFloat(-1.0), WithFloat(3), WithIndex(), IntOwnFloat(3),
    FloatOwnFloat(2.0), Fraction(1, 3), Decimal("0.1"), np.float32(0.1),
    np.int64(-7), np.float64(1.5), "1.0", None, 1j, [1.0], Failing(),
]


@pytest.mark.parametrize("value", FLOAT_VALUES, ids=repr)
def test_float_conversion(module, raised, value):
    fn = module.diffusion_adjustment
    # a converted argument behaves exactly like the float the interpreter makes of it
    expected = outcome(lambda v: fn(_as_double(v), 1.0), value)
    got = outcome(fn, value, 1.0)
    assert got == expected
    assert outcome(fn, 1.0, value) == outcome(lambda v: fn(1.0, _as_double(v)), value)
    if got[0] == "err":
        assert raised(fn, value, 1.0)[2] == note("time_between_hops")
        assert raised(fn, 1.0, hop_distance=value)[2] == note("hop_distance")


def test_conversion_stops_at_first_failure(module, raised):
    seen = []

    class Spy:
        def __float__(self):
            seen.append(1)
            return 1.0

    assert raised(module.diffusion_adjustment, "x", Spy())[2] == note("time_between_hops")
    assert seen == []


# ---- Count conversion ------------------------------------------------------

IntOwnIndex = type("IntOwnIndex", (int,), {"__index__": lambda self: 5})


COUNT_VALUES = [
    0, 3, True, 2**64 - 1, IntOwnIndex(2), WithIndex(), np.int64(4),
    np.uint64(2**64 - 1), -1, 2**64, -(2**70), np.int8(-1), 1.5, 2.0, None, "1",
    Fraction(2, 1),
]


@pytest.mark.parametrize("value", COUNT_VALUES, ids=repr)
def test_count_conversion(module, raised, value):
    fn = module.local_maximum_finder
    expected = outcome(as_count, value)
    # with no neighbours the result is the start index itself
    assert outcome(fn, [], value, 0) == expected
    if expected[0] == "err":
        assert raised(fn, [], value, 0)[2] == note("search_start")
        assert raised(fn, [], 0, neighbor_count=value)[2] == note("neighbor_count")
    else:
        assert type(fn([], value, 0)) is int


# ---- FloatArray conversion -------------------------------------------------

class OnlyGetitem:
    def __getitem__(self, i):
        if i < 3:
            return i * 1.5
        raise IndexError(i)


class LyingLen(collections.abc.Sequence):
    def __init__(self, n, length):
        self.n, self.length = n, length

    def __len__(self):
        return self.length

    def __getitem__(self, i):
        if i < self.n:
            return float(i) + 0.25
        raise IndexError(i)


def short_reversed(base):
    """A subclass whose iteration drops the first item and reverses the rest."""
    return type(base.__name__, (base,),
                {"__iter__": lambda self: iter(list(base.__iter__(self))[:0:-1])})


BrokenLen = type("BrokenLen", (LyingLen,), {"__len__": lambda self: int("no length")})
BrokenIter = type("BrokenIter", (OnlyGetitem,), {"__iter__": lambda self: iter(1)})
GetitemList = type("GetitemList", (list,), {"__getitem__": lambda self, i: 100.0})


ARRAYS = {
    # exact lists and tuples, item by item
    "list": [1.0, 2.5, -3.0], "tuple-mixed": (1, 2.5, True), "empty": [],
    "special": [math.nan, math.inf, -math.inf, -0.0, 1.0],
    "subclasses": [True, 3, IntOwnFloat(4), FloatOwnFloat(2.0), 2**70, np.float64(1.5)],
    "dunder-items": [WithFloat(0.5), WithIndex(), Fraction(1, 3), Decimal("2.5")],
    "bad-item": [1.0, "x"], "huge-item": [1.0, 10**400], "complex-item": (1j,),
    "raising-item": [1.0, Failing(), "not reached"],
    # buffers: copied whole only when one-dimensional, contiguous float64
    "ndarray-f8": np.array([1.0, 2.0, 4.0]), "ndarray-strided": np.arange(10.0)[::3],
    "ndarray-f4": np.array([0.1, 0.2], dtype=np.float32), "ndarray-0d": np.array(5.0),
    "ndarray-i4": np.array([1, -2, 3], dtype=np.int32), "ndarray-bool": np.array([True, False]),
    "ndarray-u8": np.array([2**64 - 1, 1], dtype=np.uint64), "ndarray-2d": np.ones((2, 2)),
    "ndarray-2d-column": np.ones((3, 1)), "memoryview-2d": memoryview(np.zeros((2, 2))),
    "array-d": array.array("d", [1.5, -2.0]), "array-i": array.array("i", [7, 8]),
    "memoryview-d": memoryview(array.array("d", [3.0, 4.0])),
    "memoryview-bytes": memoryview(b"xyz"),
    # other sequences, through their own iteration
    "bytes": b"AB", "bytearray": bytearray(b"\x00\x01\xff"), "range": range(5),
    "only-getitem": OnlyGetitem(), "lying-len-short": LyingLen(3, 1),
    "lying-len-huge": LyingLen(3, 2**40), "broken-len": BrokenLen(2, 0),
    "broken-iter": BrokenIter(),
    "own-iter-list": short_reversed(list)([1.0, 2.0, 4.0, 8.0]),
    "own-iter-tuple": short_reversed(tuple)((1.0, 2.0, 4.0, 8.0)),
    "getitem-list": GetitemList([1.0, 2.0]),
    # refused
    "str": "1 2 3", "str-subclass": Text("12"), "int": 5, "none": None, "dict": {1.0: 2.0},
    "set": {1.0}, "generator": (x for x in [1.0]), "float": 1.0,
}


@pytest.mark.parametrize("value", ARRAYS.values(), ids=ARRAYS.keys())
def test_float_array_conversion(module, raised, value):
    expected = outcome(lambda v: stats(generic_float_array(v)), value)
    assert outcome(module.repacking_results, value) == expected
    if expected[0] == "err":
        assert raised(module.repacking_results, d_array=value)[2] == note("d_array")


class Mutator:
    """An item whose conversion changes the list that holds it."""

    def __init__(self, action, value=1.0):
        self.action, self.value = action, value

    def __float__(self):
        action, self.action = self.action, lambda: None
        action()
        return self.value


def _appending():
    data = [2.0]

    def grow():
        if len(data) < 2000:
            data.append(Mutator(grow, float(len(data))))

    data.insert(0, Mutator(grow, 0.5))
    return data


def _build(items, action):
    data = list(items)
    data.insert(1, Mutator(lambda: action(data), 1.5))
    return data


MUTATIONS = {
    "append": lambda: _build([1.0, 2.0], lambda d: d.append(4.0)),
    "append-many": _appending,
    "truncate": lambda: _build([1.0, 2.0, 3.0, 4.0], lambda d: d.__delitem__(slice(2, None))),
    "clear": lambda: _build([1.0, 2.0, 3.0], lambda d: d.clear()),
    "drop-self": lambda: _build([1.0, 2.0, 3.0], lambda d: d.__delitem__(1)),
    "replace-next": lambda: _build([1.0, 2.0, 3.0], lambda d: d.__setitem__(2, 10.0)),
    "replace-self": lambda: _build([1.0, 2.0, 3.0], lambda d: d.__setitem__(1, 0.0)),
    "insert-front": lambda: _build([1.0, 2.0, 3.0], lambda d: d.insert(0, 50.0)),
    "replace-with-failing": lambda: _build([1.0, 2.0, 3.0], lambda d: d.__setitem__(2, "bad")),
}


@pytest.mark.parametrize("make", MUTATIONS.values(), ids=MUTATIONS.keys())
def test_list_mutated_during_conversion(module, make):
    expected_list = make()
    expected = outcome(lambda v: stats(generic_float_array(v)), expected_list)
    data = make()
    assert outcome(module.repacking_results, data) == expected
    assert len(data) == len(expected_list)


def test_item_error_passes_unchanged(module):
    error = LookupError("original")
    error.add_note("earlier note")

    class Raiser:
        def __float__(self):
            raise error

    with pytest.raises(LookupError) as exc:
        module.repacking_results([1.0, Raiser()])
    assert exc.value is error and exc.value.args == ("original",)
    assert exc.value.__notes__ == ["earlier note", "while processing 'd_array'"]


def test_failing_add_note_is_ignored(module, raised):
    calls = []

    class NoNotes(Exception):
        def add_note(self, text):
            calls.append(text)
            raise RuntimeError("cannot note")

    class Raiser:
        def __float__(self):
            raise NoNotes("kept")

    assert raised(module.repacking_results, [Raiser()]) == (NoNotes, ("kept",), None)
    assert calls == ["while processing 'd_array'"]


def test_ctrl_c_while_a_result_is_built(probe):
    # found between runs of items; nothing half built is returned
    handler = signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        with pytest.raises(KeyboardInterrupt):
            probe.interrupted_list(1 << 17)
    finally:
        signal.signal(signal.SIGINT, handler)
