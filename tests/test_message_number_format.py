"""The two forms in which the module's messages write numbers (scientific with
four decimals, fixed with two), against Python's own formatting."""

import math
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from helpers import fixed, sci

TINY = 5e-324
LARGEST = sys.float_info.max


@pytest.mark.parametrize("value, scientific, two_digits", [
    (0.5, "5.0000e-1", "0.50"),
    (12.0, "1.2000e1", "12.00"),
    (1e-13, "1.0000e-13", "0.00"),
    (-12345.678, "-1.2346e4", "-12345.68"),
    (0.0, "0.0000e0", "0.00"),
    (-0.0, "-0.0000e0", "-0.00"),
    (-0.004, "-4.0000e-3", "-0.00"),
    (TINY, "4.9407e-324", "0.00"),
    (LARGEST, "1.7977e308", None),
    # rounding carries into the exponent or the integer part
    (9.99995, "1.0000e1", "10.00"),       # stored just above 9.99995
    (99.995, "9.9995e1", "100.00"),       # stored just above 99.995
    (99.9949, "9.9995e1", "99.99"),
    # exact binary ties round to even
    (1.03125, "1.0312e0", "1.03"),
    (1.03375, "1.0337e0", "1.03"),        # stored just below the tie
    (0.125, "1.2500e-1", "0.12"),
    (math.nan, "NaN", "NaN"),
    (math.inf, "inf", "inf"),
    (-math.inf, "-inf", "-inf"),
])
def test_number_forms(probe, value, scientific, two_digits):
    assert probe.format_scientific(value) == scientific == sci(value)
    if two_digits is not None:
        assert probe.format_fixed(value) == two_digits == fixed(value)


def test_fixed_form_of_huge_numbers(probe):
    text = probe.format_fixed(LARGEST)
    assert text == f"{LARGEST:.2f}" and len(text) == 312 and text.endswith(".00")
    assert probe.format_fixed(-1e300) == f"{-1e300:.2f}"


@settings(max_examples=2000, deadline=None)
@given(st.one_of(st.floats(), st.floats(-1e6, 1e6), st.floats(-1e-300, 1e-300)))
def test_number_forms_match_model(probe, value):
    assert probe.format_scientific(value) == sci(value)
    assert probe.format_fixed(value) == fixed(value)
