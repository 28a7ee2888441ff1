import math
import random
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import electrolyte_reference as ref
from electrolyte_reference import all_bits, bits, div, inf, nan
from helpers import fixed, sci

# (molecular weight, c0..c4): NaCl's published Laliberte density parameters
# (Laliberte & Cooper, J. Chem. Eng. Data 49 (2004) 1141), and the same set
# with c1 changed to give densities like those of KCl(aq) and KOH(aq) (30 %
# KOH by mass, 7.64 mol/kg: 1.29 g/cm³ at 25 °C).
NACL = (58.443, -0.00433, 0.06471, 1.0166, 0.014624, 3315.6)
KCL_LIKE = (74.551, -0.00433, 0.055, 1.0166, 0.014624, 3315.6)
KOH_LIKE = (56.106, -0.00433, 0.1, 1.0166, 0.014624, 3315.6)
SALTS = {"NaCl": NACL, "KCl-like": KCL_LIKE, "KOH-like": KOH_LIKE}

LOW = 1e-12


# ---- a plain-Python molarity_to_molality, step by step -------------------------

class BracketError(Exception):
    pass


def model_molarity(T, x, salt):
    return ref.density_point(T, x, *salt)[1]


def solve(y, T, salt, tol, budget):
    if y != y:
        return nan
    if y <= 0.0:
        return 0.0
    h = max(y, 1.0)
    for _ in range(65):
        h = h + h
        mh = model_molarity(T, h, salt)
        if not mh < y:
            break
    a, fa = LOW, model_molarity(T, LOW, salt) - y
    b, fb = h, mh - y
    if fa != fa or fb != fb or fa * fb > 0.0:
        raise BracketError(
            f"molarity_to_molality: could not bracket root for molarity = {sci(y)} mol/L "
            f"at temperature = {fixed(T)} K")
    if abs(fa) < abs(fb):
        a, fa, b, fb = b, fb, a, fa
    if budget == 0:
        return b
    c, fc, d, bisected = a, fa, 0.0, True
    state = None
    for _ in range(budget):
        # a step that changes nothing would be repeated to the end of the budget
        if state == (state := struct.pack("<7d?", a, fa, b, fb, c, fc, d, bisected)):
            return b
        if abs(fb) <= tol or abs(b - a) <= tol:
            return b
        if fa != fc and fb != fc:
            s = div(fb * (fa * c), (fc - fb) * (fc - fa)) + (
                div(a * fb * fc, (fa - fb) * (fa - fc)) + div(b * fa * fc, (fb - fa) * (fb - fc)))
        else:
            s = b - div((b - a) * fb, fb - fa)
        q = (b + 3.0 * a) * 0.25
        first = not (q < s < b or b < s < q)
        if bisected:
            second = abs(s - b) >= 0.5 * abs(b - c) or abs(b - c) < tol
        else:
            second = abs(s - b) >= 0.5 * abs(c - d) or abs(c - d) < tol
        if first or second:
            s = (a + b) * 0.5
            bisected = True
        else:
            bisected = False
        fs = model_molarity(T, s, salt) - y
        d, c, fc = c, b, fb
        if fa * fs < 0.0:
            b, fb = s, fs
        else:
            a, fa = s, fs
        if abs(fa) < abs(fb):
            a, fa, b, fb = b, fb, a, fa
    return b


def reference(targets, T, salt, tol, budget):
    try:
        return [solve(y, T, salt, tol, budget) for y in targets]
    except BracketError as exc:
        return str(exc)


def outcome(function, targets, T, salt, tol, budget):
    try:
        return function(targets, T, *salt, tol, budget)
    except ValueError as exc:
        assert len(exc.args) == 1
        return exc.args[0]


# ---- molarity_to_molality ------------------------------------------------------

targets = st.one_of(st.floats(0.0, 8.0), st.floats(1e-14, 1e-9), st.floats(-1.0, 60.0),
                    st.sampled_from([0.0, -0.0, 1.0, 2.0, inf, -inf, 1e-13, 1e300, 5e-324,
                                     1e280, 4e288, 1.7e308]))
# Parameters under which a residual is NaN at a bracket end: nothing is bracketed.
BROKEN = [(0.0, *NACL[1:]), (nan, *NACL[1:]), (inf, *NACL[1:]), (1e308, *NACL[1:]),
          *[NACL[:k] + (nan,) + NACL[k + 1:] for k in range(1, 6)]]


@settings(max_examples=400, deadline=None)
@given(st.lists(targets, max_size=6),
       st.sampled_from([273.15, 298.15, 330.0, 373.15, 400.0, nan, inf, -inf]),
       st.sampled_from(list(SALTS.values()) * 3 + BROKEN),
       st.sampled_from([1e-10, 1e-6, 1e-3, 0.0, 1e-14, 10.0, -1.0, nan]),
       st.sampled_from([0, 1, 2, 3, 7, 200, 2**63]))
def test_matches_step_by_step_reference(module, ys, T, salt, tol, budget):
    result = outcome(module.molarity_to_molality, ys, T, salt, tol, budget)
    expected = reference(ys, T, salt, tol, budget)
    if isinstance(expected, str):
        assert result == expected
    else:
        assert type(result) is list and all_bits(result) == all_bits(expected)


@pytest.mark.parametrize("salt", SALTS.values(), ids=SALTS.keys())
@pytest.mark.parametrize("budget", [200, 4])
def test_long_inputs_match_reference(module, salt, budget):
    # many more targets than are searched side by side, with quick and slow
    # ones mixed, so that searches start while others are under way
    rng = random.Random(7)
    for T in (283.15, 343.15):
        molality = [rng.choice([rng.uniform(0.0, 12.0), rng.uniform(1e-12, 1e-3)])
                    for _ in range(400)]
        _, ys = module.laliberte_density([T] * 400, molality, *salt)
        for i in range(0, 400, 9):
            ys[i] = rng.choice([0.0, -2.0, nan, ys[i] * 1.0001])
        expected = reference(ys, T, salt, 1e-10, budget)
        result = outcome(module.molarity_to_molality, ys, T, salt, 1e-10, budget)
        assert isinstance(expected, list) and all_bits(result) == all_bits(expected)


# The one tolerance bounds the molarity residual (mol/L) as well as the
# bracket width; since dM/dm is below 1 the molality may end a little further
# than the tolerance from the root.
@pytest.mark.parametrize("tolerance, bound", [(1e-10, 2e-10), (1e-11, 1e-10)])
@pytest.mark.parametrize("salt", SALTS.values(), ids=SALTS.keys())
@pytest.mark.parametrize("T", [273.15, 288.15, 298.15, 323.15, 353.15, 373.15])
def test_round_trip_through_the_density_model(module, salt, T, tolerance, bound):
    molality = [0.001, 0.01, 0.1, 0.25, 0.5, 1.0, 1.5, 2.0, 3.0, 4.0, 5.0, 6.0]
    _, molarity = module.laliberte_density([T] * len(molality), molality, *salt)
    recovered = module.molarity_to_molality(molarity, T, *salt, tolerance, 200)
    for m, x in zip(molality, recovered):
        assert abs(x - m) <= bound, (m, x)


@pytest.mark.parametrize("ys, T, message", [
    ([1e-13], 298.15, "molarity_to_molality: could not bracket root for molarity = "
                      "1.0000e-13 mol/L at temperature = 298.15 K"),
    ([1.0, 2.0, 50.0], 300.0, "molarity_to_molality: could not bracket root for molarity = "
                              "5.0000e1 mol/L at temperature = 300.00 K"),
    # the first failing target by index is reported, although the later one
    # fails after a single doubling and the earlier one only after 65
    ([1e6, 1e-13], 273.15, "molarity_to_molality: could not bracket root for molarity = "
                           "1.0000e6 mol/L at temperature = 273.15 K"),
    ([0.5] * 30 + [2e6] + [0.5] * 30 + [1e-13] + [3e6], 310.0,
     "molarity_to_molality: could not bracket root for molarity = "
     "2.0000e6 mol/L at temperature = 310.00 K"),
])
def test_bracketing_failures(module, raised, ys, T, message):
    assert raised(module.molarity_to_molality, ys, T, *NACL, 1e-10, 200) == (
        ValueError, (message,), None)


@pytest.mark.parametrize("doublings, found", [(65, True), (66, False)])
def test_the_65th_doubling_is_the_last(module, doublings, found):
    # made-up parameters whose molarity still rises at 2^66 mol/kg: a target
    # first reached at the 65th trial is found, one reached at the 66th is not
    salt, T = (1e-6, 1e-6, 0.0, 1.0, 0.0, 0.0), 298.15
    ys = [model_molarity(T, 2.0**doublings, salt)]
    expected = reference(ys, T, salt, 1e-10, 200)
    assert isinstance(expected, list) is found
    result = outcome(module.molarity_to_molality, ys, T, salt, 1e-10, 200)
    assert result == expected if not found else all_bits(result) == all_bits(expected)


def test_zero_negative_and_empty(module):
    never = (58.443, 0.0, 0.0, 0.0, 0.0, 0.0)
    assert module.molarity_to_molality([], 298.15, *never, 1e-10, 200) == []
    result = module.molarity_to_molality([0.0, -1.0, -0.0, -inf], 298.15, *NACL, 1e-10, 200)
    assert all_bits(result) == [(0.0, 1.0)] * 4


def test_nan_target_gives_nan_without_a_search(module):
    # even where nothing could be bracketed, and without stopping the others
    never = (58.443, 0.0, 0.0, 0.0, 0.0, 0.0)
    assert math.isnan(module.molarity_to_molality([nan], 298.15, *never, 1e-10, 200)[0])
    result = module.molarity_to_molality([1.0, nan, 0.5], 298.15, *NACL, 1e-10, 200)
    assert math.isnan(result[1])
    assert result[0::2] == module.molarity_to_molality([1.0, 0.5], 298.15, *NACL, 1e-10, 200)


def test_no_iterations_gives_the_better_bracket_end(module):
    T, molality = 298.15, [1e-9, 0.3, 1.0, 3.0, 6.0]
    _, ys = module.laliberte_density([T] * len(molality), molality, *NACL)
    result = module.molarity_to_molality(ys, T, *NACL, 1e-10, 0)
    lowest = model_molarity(T, LOW, NACL)
    for y, x in zip(ys, result):
        h = max(y, 1.0)
        while True:
            h = h + h
            if model_molarity(T, h, NACL) >= y:
                break
        upper = abs(model_molarity(T, h, NACL) - y)
        assert x == (LOW if abs(lowest - y) < upper else h)


def test_bracket_end_meeting_the_tolerance_is_returned(module):
    T = 298.15
    # the lower end hits the target exactly: no step, even with tolerance 0
    _, (at_low,) = module.laliberte_density([T], [LOW], *NACL)
    assert module.molarity_to_molality([at_low], T, *NACL, 0.0, 200) == [LOW]
    # the first doubling trial (2 mol/kg) hits the target exactly
    heavy = (3000.0,) + NACL[1:]
    _, (at_two,) = module.laliberte_density([T], [2.0], *heavy)
    assert at_two < 1.0
    assert module.molarity_to_molality([at_two], T, *heavy, 0.0, 200) == [2.0]
    # a tolerance wider than the bracket accepts the better end as it is
    assert module.molarity_to_molality([0.5, 0.99], T, *NACL, 10.0, 200) == [LOW, 2.0]


# ---- closed-form conversions -----------------------------------------------------

def to_molality(fractions, mw):
    M = mw / 1000.0
    out = []
    for f in fractions:
        d = 1.0 - f
        d = M * d
        out.append(div(f, d))
    return out


def to_fraction(molality, mw):
    M = mw / 1000.0
    out = []
    for b in molality:
        p = M * b
        q = div(1.0, p)
        q = q + 1.0
        out.append(div(1.0, q))
    return out


TO_MOLALITY = ["mass_fraction_to_molality", "mole_fraction_to_molality"]
TO_FRACTION = ["molality_to_mass_fraction", "molality_to_mole_fraction"]

values = st.one_of(st.floats(), st.floats(-2.0, 2.0), st.floats(0.0, 1.0),
                   st.sampled_from([0.0, -0.0, 1.0, -1.0, nan, inf, -inf, 5e-324]))
weights = st.one_of(st.sampled_from([58.44, 18.015, 0.0, -0.0, -58.44, nan, inf, 1000.0]),
                    st.floats())


@settings(max_examples=300, deadline=None)
@given(st.lists(values, max_size=10), weights)
def test_closed_forms_bit_for_bit(module, xs, mw):
    for name in TO_MOLALITY:
        assert all_bits(getattr(module, name)(xs, mw)) == all_bits(to_molality(xs, mw)), name
    for name in TO_FRACTION:
        assert all_bits(getattr(module, name)(xs, mw)) == all_bits(to_fraction(xs, mw)), name


@pytest.mark.parametrize("name", TO_MOLALITY)
@pytest.mark.parametrize("f, mw, expected", [
    (0.0, 58.44, 0.0),
    (1.0, 58.44, inf),
    (1.5, 58.44, 1.5 / ((58.44 / 1000.0) * -0.5)),
    (inf, 58.44, nan),
    (-inf, 58.44, nan),
    (nan, 58.44, nan),
    (0.5, 0.0, inf),
    (0.0, 0.0, nan),
    (0.5, 58.44, 0.5 / ((58.44 / 1000.0) * 0.5)),
])
def test_fraction_to_molality_edges(module, name, f, mw, expected):
    assert all_bits(getattr(module, name)([f], mw)) == [bits(expected)]


@pytest.mark.parametrize("name", TO_FRACTION)
@pytest.mark.parametrize("b, mw, expected", [
    (0.0, 58.44, 0.0),
    (inf, 58.44, 1.0),
    (-0.0, 58.44, -0.0),
    (-2.0, 500.0, inf),  # M b = -1
    (3.0, 0.0, 0.0),
    (0.0, 0.0, 0.0),
    (-3.0, 0.0, -0.0),
])
def test_molality_to_fraction_edges(module, name, b, mw, expected):
    assert all_bits(getattr(module, name)([b], mw)) == [bits(expected)]


def test_closed_form_values(module):
    assert module.mass_fraction_to_molality([0.5], 58.44)[0] == pytest.approx(17.1116, abs=1e-4)
    assert module.molality_to_mass_fraction([1.0], 58.44)[0] == pytest.approx(0.055213, abs=1e-6)
    assert module.molality_to_mole_fraction([1.0], 18.015)[0] == pytest.approx(0.017696, abs=1e-6)
    for name in TO_MOLALITY + TO_FRACTION:
        assert getattr(module, name)([], 58.44) == []
    fractions = [i / 100.0 for i in range(100)]
    back = module.molality_to_mass_fraction(
        module.mass_fraction_to_molality(fractions, 58.44), 58.44)
    assert back == pytest.approx(fractions, abs=1e-15)


@pytest.mark.parametrize("name, array", [(n, "mass_fraction") for n in TO_MOLALITY[:1]]
                         + [(n, "mole_fraction") for n in TO_MOLALITY[1:]]
                         + [(n, "molality") for n in TO_FRACTION])
def test_closed_form_arguments(module, raised, name, array):
    fn = getattr(module, name)
    # the array is converted first: a bad weight is not looked at
    assert raised(fn, "0.5", "x") == (TypeError, ("Can't extract `str` to `Vec`",),
                                       [f"while processing '{array}'"])
    assert raised(fn, [0.5], "x")[2] == ["while processing 'molecular_weight'"]
