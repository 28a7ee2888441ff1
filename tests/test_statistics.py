import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from helpers import canon, inf, nan


def summary_model(values):
    kept = [v for v in values if math.isfinite(v)]
    if not kept:
        return (nan, nan, 0)
    total = 0.0
    for v in kept:
        total += v
    mean = total / len(kept)
    squares = 0.0
    for v in kept:
        squares += (v - mean) * (v - mean)
    return (mean, math.sqrt(squares / len(kept)), len(kept))


def peak_model(data, start, k):
    n = len(data)
    if k == 0 or n <= 2 * k or k + start >= n - k:
        return k + start
    for i in range(k + start, n - k):
        if all(data[i] > data[i - m] and data[i] > data[i + m] for m in range(1, k + 1)):
            return i
    return k + start


def summary(result):
    # the sign of a zero mean is left open (it depends on where the sum starts)
    mean, std, count = result
    return canon(mean + 0.0), canon(std), count


def check(module, values, expected):
    result = module.repacking_results(values)
    assert type(result) is tuple and [type(x) for x in result] == [float, float, int]
    assert summary(result) == summary(expected) == summary(summary_model(values))


@pytest.mark.parametrize("values, expected", [
    ([1.0, 2.0, 3.0], (2.0, 0.816496580927726, 3)),
    ([1.0, nan, inf, 3.0], (2.0, 1.0, 2)),
    ([-inf, inf, nan], (nan, nan, 0)),
    ([], (nan, nan, 0)),
    ([5.0], (5.0, 0.0, 1)),
    # summed one term at a time: the 1.0 is absorbed, then cancelled
    ([1e16, 1.0, -1e16], (0.0, math.sqrt(2 * (1e16 * 1e16) / 3), 3)),
    ([1e308, 1e308], (inf, inf, 2)),
    ([1e308, -1e308, 1e308], (1e308 / 3, inf, 3)),
])
def test_repacking_results(module, values, expected):
    check(module, values, expected)


@settings(max_examples=300, deadline=None)
@given(st.lists(st.one_of(st.floats(), st.floats(-10, 10)), max_size=60))
def test_repacking_results_matches_model(module, values):
    check(module, values, summary_model(values))


def test_repacking_results_long_input(module):
    values = [0.1 * (i % 7) + 1e-3 * i for i in range(100_001)]
    check(module, values, summary_model(values))


@pytest.mark.parametrize("data, start, k, expected", [
    ([0, 0, 1, 0], 0, 1, 2), ([0, 1, 1, 0], 0, 1, 1), ([3, 2, 1, 5, 0], 1, 1, 3),
    ([3, 2, 1, 0, 0], 1, 1, 2), ([0, 1, 5, 1, 0], 0, 2, 2), ([0, 1, 5, 1, 0], 1, 2, 3),
    ([0, 2, 1, 3, 0], 0, 1, 1), ([0, 2, 1, 3, 0], 1, 1, 3), ([0, 5, 0, 0, 9, 0], 0, 1, 1),
    ([0, 5, 0, 0, 9, 0], 1, 1, 4), ([0, 0, 1, nan, 0, 0, 7, 0], 0, 1, 6),
    ([0, nan, 1, 0, 0, 7, 0], 0, 1, 5), ([0, 1, 5, nan, 0, 0, 9, 0, 0], 0, 2, 6),
    ([0, 9, 5, 1, nan, 0, 9, 0], 1, 1, 6), ([nan, nan, nan], 0, 1, 1), ([1, 2, 3], 0, 0, 0),
    ([1, 2, 3], 7, 0, 7), ([], 0, 0, 0), ([], 5, 3, 8), ([0, 9, 0, 0], 0, 2, 2),
    ([0, 9, 0, 0, 0], 1, 2, 3), ([0, 1, 0], 2, 1, 3), ([-inf, -inf, 0, -inf], 0, 1, 2),
    ([], 2**64 - 2, 1, 2**64 - 1), ([0, 1, 0], 2**64 - 1, 0, 2**64 - 1),
])
def test_local_maximum_finder(module, data, start, k, expected):
    data = [float(x) for x in data]
    assert peak_model(data, start, k) == expected
    result = module.local_maximum_finder(data, start, k)
    assert type(result) is int and result == expected


@settings(max_examples=400, deadline=None)
@given(st.lists(st.one_of(st.integers(0, 4).map(float), st.just(nan), st.just(inf)), max_size=25),
       st.integers(0, 12), st.integers(0, 6))
def test_local_maximum_finder_matches_model(module, data, start, k):
    assert module.local_maximum_finder(data, start, k) == peak_model(data, start, k)
