import array
import collections.abc
import ctypes
import gc
import math
import operator
import os
import pathlib
import sys
import warnings
from decimal import Decimal
from fractions import Fraction

import numpy as np
import pytest
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


def canon(value):
    if isinstance(value, tuple):
        return tuple(canon(v) for v in value)
    if isinstance(value, float):
        return "nan" if value != value else (value, math.copysign(1.0, value))
    return value


def outcome(fn, *args):
    """('ok', canonical value) or ('err', class, args) with warnings silenced."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            return ("ok", canon(fn(*args)))
        except Exception as exc:  # noqa: BLE001
            return ("err", type(exc), exc.args)


def note(name):
    return [f"while processing '{name}'"]


# --------------------------------------------------------------------------
# Binding
# --------------------------------------------------------------------------

TAU = ("experimental_conductivity", "md_conductivity", "temperature",
       "box_length", "particle_count", "hop_distance")


@pytest.mark.parametrize("name, args, kwargs, message", [
    ("diffusion_adjustment", (1.0,), {},
     "diffusion_adjustment() missing 1 required positional argument: 'hop_distance'"),
    ("diffusion_adjustment", (), {},
     "diffusion_adjustment() missing 2 required positional arguments: "
     "'time_between_hops' and 'hop_distance'"),
    ("diffusion_adjustment", (), {"hop_distance": 1.0},
     "diffusion_adjustment() missing 1 required positional argument: 'time_between_hops'"),
    ("local_maximum_finder", (), {},
     "local_maximum_finder() missing 3 required positional arguments: "
     "'data', 'search_start', and 'neighbor_count'"),
    ("tau_calculator", (1.0,), {"temperature": 1.0},
     "tau_calculator() missing 4 required positional arguments: "
     "'md_conductivity', 'box_length', 'particle_count', and 'hop_distance'"),
    ("parse_vexa_file", ("a", "b"), {},
     "parse_vexa_file() takes 1 positional arguments but 2 were given"),
    ("diffusion_adjustment", (1.0, 2.0, 3.0), {"hop_distance": 1.0},
     "diffusion_adjustment() takes 2 positional arguments but 3 were given"),
    ("repacking_results", ([1.0], [2.0]), {"data": 1},
     "repacking_results() takes 1 positional arguments but 2 were given"),
    ("repacking_results", ([1.0],), {"d_array": [2.0]},
     "repacking_results() got multiple values for argument 'd_array'"),
    ("repacking_results", (), {"data": [1.0]},
     "repacking_results() got an unexpected keyword argument 'data'"),
    ("repacking_results", (), {"D_array": [1.0]},
     "repacking_results() got an unexpected keyword argument 'D_array'"),
    ("repacking_results", (), {"d_array\udc80": [1.0]},
     "repacking_results() got an unexpected keyword argument 'd_array\udc80'"),
    # keywords are examined in the caller's order, before missing arguments
    ("diffusion_adjustment", (1.0,), {"bogus": 1, "time_between_hops": 2.0},
     "diffusion_adjustment() got an unexpected keyword argument 'bogus'"),
    ("diffusion_adjustment", (1.0,), {"time_between_hops": 2.0, "bogus": 1},
     "diffusion_adjustment() got multiple values for argument 'time_between_hops'"),
    ("diffusion_adjustment", (), {"bogus": 1},
     "diffusion_adjustment() got an unexpected keyword argument 'bogus'"),
    # binding completes before any argument is converted
    ("diffusion_adjustment", ("x",), {},
     "diffusion_adjustment() missing 1 required positional argument: 'hop_distance'"),
    ("parse_vexa_file", (1, 2), {},
     "parse_vexa_file() takes 1 positional arguments but 2 were given"),
])
def test_binding_errors(module, raised, name, args, kwargs, message):
    assert raised(getattr(module, name), *args, **kwargs) == (TypeError, (message,), None)


def test_binding_accepts_mixed_positional_and_keyword(module):
    expected = module.tau_calculator(2.0, 1.0, 300.0, 1e-9, 1.0, 1e-10)
    kwargs = dict(zip(TAU[2:], (300.0, 1e-9, 1.0, 1e-10)))
    assert module.tau_calculator(2.0, 1.0, **dict(reversed(kwargs.items()))) == expected


# --------------------------------------------------------------------------
# Internal failures and binding forms not used by the public functions
# --------------------------------------------------------------------------

@pytest.mark.parametrize("message", ["index out of range", "caf\u00e9 \u2192 \u03c4"])
def test_panic(probe, message):
    with pytest.raises(BaseException) as first:
        probe.panic(message)
    cls = type(first.value)
    assert cls.__name__ == "PanicException"
    assert cls.__bases__ == (BaseException,)
    assert not issubclass(cls, Exception)
    assert isinstance(cls.__doc__, str) and cls.__doc__.strip()
    assert first.value.args == (message,)
    with pytest.raises(BaseException) as second:
        probe.panic("again")
    assert type(second.value) is cls


def test_allocation_failure_is_memory_error(probe):
    with pytest.raises(MemoryError):
        probe.exhaust()


@pytest.mark.parametrize("args, kwargs, expected", [
    ((1, 2), {"k": 3}, (1, 2, None, 3, None)),
    ((1, 2, 3), {"m": 5, "k": 4}, (1, 2, 3, 4, 5)),
    ((1,), {"b": 2, "c": 3, "k": 4}, (1, 2, 3, 4, None)),
])
def test_bind_probe_slots(probe, args, kwargs, expected):
    assert probe.bind_probe(*args, **kwargs) == expected


@pytest.mark.parametrize("args, kwargs, message", [
    ((1, 2, 3, 4), {"k": 1},
     "bind_probe() takes from 2 to 3 positional arguments but 4 were given"),
    ((1, 2, 3, 4, 5), {},
     "bind_probe() takes from 2 to 3 positional arguments but 5 were given"),
    ((), {"a": 1, "b": 2, "k": 3},
     "bind_probe() got some positional-only arguments passed as keyword arguments: 'a'"),
    ((1, 2), {"a": 1, "k": 3},
     "bind_probe() got some positional-only arguments passed as keyword arguments: 'a'"),
    ((1, 2), {},
     "bind_probe() missing 1 required keyword argument: 'k'"),
    ((1, 2, 3), {"m": 1},
     "bind_probe() missing 1 required keyword argument: 'k'"),
    ((1,), {"k": 3},
     "bind_probe() missing 1 required positional argument: 'b'"),
    ((), {"b": 2, "k": 3},
     "bind_probe() missing 1 required positional argument: 'a'"),
    ((), {},
     "bind_probe() missing 2 required positional arguments: 'a' and 'b'"),
    ((1, 2, 3), {"c": 4, "k": 1},
     "bind_probe() got multiple values for argument 'c'"),
    ((1, 2), {"k": 1, "n": 2},
     "bind_probe() got an unexpected keyword argument 'n'"),
])
def test_bind_probe_errors(probe, raised, args, kwargs, message):
    assert raised(probe.bind_probe, *args, **kwargs) == (TypeError, (message,), None)


# --------------------------------------------------------------------------
# Text conversion
# --------------------------------------------------------------------------

class Outer:
    class Inner:
        pass


class Text(str):
    pass


@pytest.mark.parametrize("value", [1, None, b"table.dat", pathlib.Path("table.dat"),
                                   Outer.Inner(), ["table.dat"]])
def test_text_wrong_type(module, raised, value):
    assert raised(module.parse_vexa_file, value) == (
        TypeError, (wrong_type(value, "str"),), note("path"))


def test_text_subclass_accepted(module, write_file):
    path = write_file("#Time a\n1 2\n")
    assert module.parse_vexa_file(Text(path)) == {"Time": [1.0], "a": [2.0]}
    assert module.parse_vexa_file(path=path) == {"Time": [1.0], "a": [2.0]}


def test_text_unencodable(module):
    with pytest.raises(UnicodeEncodeError) as exc:
        module.parse_vexa_file("table\udc80.dat")
    assert exc.value.__notes__ == note("path")


# --------------------------------------------------------------------------
# Float conversion
# --------------------------------------------------------------------------

class WithFloat:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class WithIndex:
    def __index__(self):
        return 3


class IntOwnFloat(int):
    def __float__(self):
        return 7.5


class FloatOwnFloat(float):
    def __float__(self):
        return 99.0


class Failing:
    def __float__(self):
        raise ZeroDivisionError("no value")


FLOAT_VALUES = [
    2.5, -1.0, -0.0, math.inf, True, False, 3, -1, 2**80, 10**400, -(10**400),
    WithFloat(4.25), WithFloat(-1.0), WithFloat(3), WithIndex(), IntOwnFloat(3),
    FloatOwnFloat(2.0), Fraction(1, 3), Decimal("0.1"), np.float32(0.1),
    np.int64(-7), np.float64(1.5), "1.0", None, 1j, [1.0], Failing(),
]


@pytest.mark.parametrize("value", FLOAT_VALUES, ids=repr)
def test_float_conversion(module, value):
    fn = module.diffusion_adjustment
    # a converted argument behaves exactly like the float the interpreter makes of it
    expected = outcome(lambda v: fn(_as_double(v), 1.0), value)
    got = outcome(fn, value, 1.0)
    assert got == expected
    assert outcome(fn, 1.0, value) == outcome(lambda v: fn(1.0, _as_double(v)), value)
    if got[0] == "err":
        with pytest.raises(expected[1]) as exc:
            fn(value, 1.0)
        assert exc.value.__notes__ == note("time_between_hops")
        with pytest.raises(expected[1]) as exc:
            fn(1.0, hop_distance=value)
        assert exc.value.__notes__ == note("hop_distance")


def test_minus_one_is_a_value(module):
    assert module.diffusion_adjustment(-1.0, -1.0) == 1.0 / -6.0
    assert module.diffusion_adjustment(WithFloat(-1.0), -1) == 1.0 / -6.0


def test_conversion_stops_at_first_failure(module):
    seen = []

    class Spy:
        def __float__(self):
            seen.append(1)
            return 1.0

    with pytest.raises(TypeError) as exc:
        module.diffusion_adjustment("x", Spy())
    assert exc.value.__notes__ == note("time_between_hops")
    assert seen == []


# --------------------------------------------------------------------------
# Count conversion
# --------------------------------------------------------------------------

class IntOwnIndex(int):
    def __index__(self):
        return 5


COUNT_VALUES = [
    0, 3, True, 2**64 - 1, IntOwnIndex(2), WithIndex(), np.int64(4),
    np.uint64(2**64 - 1), -1, 2**64, -(2**70), np.int8(-1), 1.5, 2.0, None, "1",
    Fraction(2, 1),
]


@pytest.mark.parametrize("value", COUNT_VALUES, ids=repr)
def test_count_conversion(module, value):
    fn = module.local_maximum_finder
    expected = outcome(as_count, value)
    # with no neighbours the result is the start index itself
    assert outcome(fn, [], value, 0) == expected
    if expected[0] == "err":
        with pytest.raises(expected[1]) as exc:
            fn([], value, 0)
        assert exc.value.__notes__ == note("search_start")
        with pytest.raises(expected[1]) as exc:
            fn([], 0, neighbor_count=value)
        assert exc.value.__notes__ == note("neighbor_count")
    else:
        assert type(fn([], value, 0)) is int


# --------------------------------------------------------------------------
# FloatArray conversion
# --------------------------------------------------------------------------

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


class BrokenLen(LyingLen):
    def __len__(self):
        raise ValueError("no length")


class BrokenIter(OnlyGetitem):
    def __iter__(self):
        raise RuntimeError("no iterator")


class ShortReversedList(list):
    def __iter__(self):
        return iter(list(list.__iter__(self))[:0:-1])


class ShortReversedTuple(tuple):
    def __iter__(self):
        return iter(list(tuple.__iter__(self))[:0:-1])


class GetitemList(list):
    def __getitem__(self, i):
        return 100.0


def _gen():
    yield 1.0


ARRAYS = {
    "list": [1.0, 2.5, -3.0],
    "tuple-mixed": (1, 2.5, True),
    "empty": [],
    "bytes": b"AB",
    "bytearray": bytearray(b"\x00\x01\xff"),
    "range": range(5),
    "special": [math.nan, math.inf, -math.inf, -0.0, 1.0],
    "subclasses": [True, 3, IntOwnFloat(4), FloatOwnFloat(2.0), 2**70, np.float64(1.5)],
    "dunder-items": [WithFloat(0.5), WithIndex(), Fraction(1, 3), Decimal("2.5")],
    "ndarray-f8": np.array([1.0, 2.0, 4.0]),
    "ndarray-strided": np.arange(10.0)[::3],
    "ndarray-reversed": np.arange(5.0)[::-1],
    "ndarray-f4": np.array([0.1, 0.2], dtype=np.float32),
    "ndarray-i4": np.array([1, -2, 3], dtype=np.int32),
    "ndarray-u8": np.array([2**64 - 1, 1], dtype=np.uint64),
    "ndarray-bool": np.array([True, False]),
    "ndarray-2d": np.ones((2, 2)),
    "ndarray-2d-column": np.ones((3, 1)),
    "ndarray-0d": np.array(5.0),
    "ndarray-column": np.arange(6.0).reshape(2, 3)[:, 1],
    "array-d": array.array("d", [1.5, -2.0]),
    "array-i": array.array("i", [7, 8]),
    "memoryview-d": memoryview(array.array("d", [3.0, 4.0])),
    "memoryview-bytes": memoryview(b"xyz"),
    "memoryview-2d": memoryview(np.zeros((2, 2))),
    "only-getitem": OnlyGetitem(),
    "lying-len-short": LyingLen(3, 1),
    "lying-len-huge": LyingLen(3, 2**40),
    "broken-len": BrokenLen(2, 0),
    "broken-iter": BrokenIter(),
    "own-iter-list": ShortReversedList([1.0, 2.0, 4.0, 8.0]),
    "own-iter-tuple": ShortReversedTuple((1.0, 2.0, 4.0, 8.0)),
    "getitem-list": GetitemList([1.0, 2.0]),
    "str": "1 2 3",
    "str-subclass": Text("12"),
    "int": 5,
    "none": None,
    "dict": {1.0: 2.0},
    "set": {1.0},
    "generator": _gen(),
    "float": 1.0,
    "bad-item": [1.0, "x"],
    "none-item": [None],
    "huge-item": [1.0, 10**400],
    "raising-item": [1.0, Failing(), "not reached"],
    "complex-item": (1j,),
}


@pytest.mark.parametrize("value", ARRAYS.values(), ids=ARRAYS.keys())
def test_float_array_conversion(module, value):
    expected = outcome(lambda v: stats(generic_float_array(v)), value)
    assert outcome(module.repacking_results, value) == expected
    if expected[0] == "err":
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            with pytest.raises(expected[1]) as exc:
                module.repacking_results(d_array=value)
        assert exc.value.__notes__ == note("d_array")


@pytest.mark.parametrize("value, message", [
    ("1 2 3", "Can't extract `str` to `Vec`"),
    (5, "'int' object is not an instance of 'Sequence'"),
    (None, "'None' is not an instance of 'Sequence'"),
    (_gen(), "'generator' object is not an instance of 'Sequence'"),
])
def test_float_array_refusals(module, raised, value, message):
    assert raised(module.repacking_results, value) == (
        TypeError, (message,), note("d_array"))


@pytest.mark.parametrize("value, expected", [
    ((1, 2.5, True), (1.5, math.sqrt(((1 - 1.5) ** 2 * 2 + 1.0) / 3), 3)),
    (b"AB", (65.5, 0.5, 2)),
    ([], (math.nan, math.nan, 0)),
])
def test_float_array_examples(module, value, expected):
    assert canon(module.repacking_results(value)) == canon(expected)


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
    "replace-with-failing": lambda: _build([1.0, 2.0, 3.0],
                                           lambda d: d.__setitem__(2, "bad")),
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
    assert exc.value is error
    assert exc.value.args == ("original",)
    assert exc.value.__notes__ == ["earlier note", "while processing 'd_array'"]


def test_failing_add_note_is_ignored(module):
    calls = []

    class NoNotes(Exception):
        def add_note(self, text):
            calls.append(text)
            raise RuntimeError("cannot note")

    class Raiser:
        def __float__(self):
            raise NoNotes("kept")

    with pytest.raises(NoNotes) as exc:
        module.repacking_results([Raiser()])
    assert exc.value.args == ("kept",)
    assert calls == ["while processing 'd_array'"]
    assert not hasattr(exc.value, "__notes__")


def test_conversions_keep_no_references(module):
    item = float("12345.5")
    data = [item, 2.0]
    bad = [item, "x"]
    calls = [
        lambda: module.repacking_results(data),
        lambda: module.repacking_results(bad),
        lambda: module.repacking_results(data, data),
        lambda: module.local_maximum_finder(data, 0, -1),
    ]
    for call in calls:
        before = sys.getrefcount(data), sys.getrefcount(bad), sys.getrefcount(item)
        for _ in range(10):
            try:
                call()
            except (TypeError, OverflowError):
                pass
        gc.collect()
        assert (sys.getrefcount(data), sys.getrefcount(bad), sys.getrefcount(item)) == before
    assert data == [item, 2.0]


# --------------------------------------------------------------------------
# Raised errors
# --------------------------------------------------------------------------

def notes_free(exc):
    return not hasattr(exc, "__notes__")


def test_os_error_is_plain(module, tmp_path):
    path = str(tmp_path / "missing.dat")
    with pytest.raises(OSError) as exc:
        module.parse_vexa_file(path)
    err = exc.value
    assert type(err) is OSError
    assert err.args == (f"{path}: {os.strerror(2)} (os error 2)",)
    assert (err.errno, err.strerror, err.filename, err.filename2) == (None,) * 4
    assert notes_free(err)


def test_value_error_has_one_argument(module, write_file):
    path = write_file("")
    with pytest.raises(ValueError) as exc:
        module.parse_vexa_file(path)
    assert type(exc.value) is ValueError
    assert exc.value.args == (f"No header found in {path}",)
    assert notes_free(exc.value)
