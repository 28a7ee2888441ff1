import math

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from helpers import canon, inf, nan

BIG = 2**64 - 1


# ---- an independent model, for small inputs ---------------------------------

def log10(v):
    if v != v or v < 0:
        return nan
    return -inf if v == 0 else math.log10(v)


def to_index(v):
    if not v > 0:
        return 0
    return BIG if v >= 2.0**64 else int(v)


def sums(xs, ys):
    sx = sy = sxy = sxx = -0.0
    for x, y in zip(xs, ys):
        sx += x
        sy += y
        sxy += x * y
        sxx += x * x
    return sx, sy, sxy, sxx


def fit_model(time, msd, margin, min_window, max_window, max_error, min_displacement):
    if not time or len(msd) != len(time):
        return nan, [], []
    thr = min_displacement * min_displacement
    kept = [(a, b) for a, b in zip(time, msd) if abs(b) >= thr]
    if not kept:
        return nan, [], []
    t = [a for a, _ in kept]
    m = [b for _, b in kept]
    n = len(t)
    x = [log10(v) for v in t]
    y = [log10(abs(v)) for v in m]
    start = to_index(margin * n)
    end = to_index((1.0 - margin) * n)
    stop = 0 if min_window > end else end - min_window
    low, high = 1.0 - max_error, 1.0 + max_error
    best = None
    i = start
    while i < stop and i + min_window <= n:
        if i + 1 < n and abs(t[i] - t[i + 1]) < 2.0**-52 * (
                max(abs(t[i]), 1.0) if t[i] == t[i] else 1.0):
            i += 1
            continue
        j = min_window
        while j < min(stop - i, max_window) and i + j <= n:
            sx, sy, sxy, sxx = sums(x[i:i + j], y[i:i + j])
            den = j * sxx - sx * sx
            if den != 0 and den == den:
                s = (j * sxy - sx * sy) / den
                if low < s < high and (best is None or abs(s - 1) < abs(best[2] - 1)):
                    best = (i, j, s)
            j += 1
        i += 1
    if best is None:
        return nan, [time[0]], [msd[0]]
    i, j, _ = best
    tw, mw = t[i:i + j], m[i:i + j]
    st_, sm, stm, stt = sums(tw, mw)
    den = j * stt - st_ * st_
    if den == 0:
        return nan, tw, [nan] * j
    d = (j * stm - st_ * sm) / den
    b = (sm - st_ * d) / j
    return d, tw, [b + d * v for v in tw]


def check_result(result):
    assert type(result) is tuple and len(result) == 3
    d, t_fit, fit = result
    assert type(d) is float and type(t_fit) is list and type(fit) is list
    assert len(t_fit) == len(fit)
    assert all(type(v) is float for v in t_fit + fit)
    return canon(result)


# ---- worked cases -------------------------------------------------------------

def test_linear_msd(module):
    a = 1.7e-9
    t = [float(k) for k in range(1, 101)]
    msd = [6.0 * a * v for v in t]
    d, t_fit, fit = module.diff_calculator(t, msd, 0.1, 5, 50, 0.05, 0.0)
    assert d == pytest.approx(6.0 * a, rel=1e-12)
    first = t.index(t_fit[0])
    assert t_fit == t[first:first + len(t_fit)]
    # starts 10 ... 84, lengths 5 ... min(85 - i, 50) - 1
    assert 10 <= first <= 84 and 5 <= len(t_fit) <= min(85 - first, 50) - 1
    assert fit == pytest.approx([6.0 * a * v for v in t_fit], rel=1e-12)


# t = 10**k and MSD = 10**(p*k): every log is an integer, the sums are exact, and
# every window has the slope p exactly.
def decades(count, power=1):
    return [10.0**k for k in range(count)], [10.0**(power * k) for k in range(count)]


LINE_T = [float(k) for k in range(1, 31)]
LINE_M = [2.0 * v for v in LINE_T]
TINY_T = [k * 1e-18 for k in range(1, 30)]   # steps below 2**-52 count as repeats
NONE, FIRST = (nan, [], []), (nan, [1.0], [2.0])
EXACT = decades(20)


@pytest.mark.parametrize("args, expected", [
    *[((t, m, 0.1, 2, 10, 0.5, 0.0), NONE) for t, m in [([], []), ([], [1.0]), ([1.0], []),
                                                        ([1.0, 2.0], [1.0])]],
    *[((LINE_T, LINE_M, 0.1, 2, 10, 0.5, d), NONE) for d in (nan, 1e10, -1e10)],
    *[((LINE_T, LINE_M, *rest), FIRST) for rest in [
        (0.1, 5, 5, 0.5, 0.0), (0.1, 6, 5, 0.5, 0.0), (0.5, 2, 10, 0.5, 0.0),
        (1.5, 2, 10, 0.5, 0.0),
        (nan, 2, 10, 0.5, 0.0), (inf, 2, 10, 0.5, 0.0), (0.1, BIG, BIG, 0.5, 0.0),
        (0.1, 2, 10, 0.0, 0.0), (0.1, 2, 10, nan, 0.0),
        (0.1, 2, 10, 0.0, 1.5)]],   # the first sample filtered out: still reported
    ((TINY_T, [2.0 * v for v in TINY_T], 0.0, 2, 10, 0.5, 0.0), (nan, [1e-18], [2e-18])),
    # slopes exactly on the band's edges do not qualify; the first of equal windows wins
    *[((*decades(6, p), 0.0, 2, 6, e, 0.0), FIRST[:1] + ([1.0], [1.0]))
      for p, e in [(2, 1.0), (0, 1.0), (1, 0.0), (1, -0.5), (1, nan)]],
    *[((*decades(6, p), 0.0, 2, 6, e, 0.0), ((10.0**p - 1.0) / 9.0, [1.0, 10.0], [1.0, 10.0**p]))
      for p, e in [(2, 1.0000000000000004), (0, 1.0000000000000004), (1, inf)]],
    *[((*EXACT, margin, w, 10, 0.5, 0.0), (1.0, EXACT[0][first:first + max(w, 2)],
                                           EXACT[0][first:first + max(w, 2)]))
      for margin, w, first in [(0.0, 0, 0), (0.0, 1, 0), (0.0, 4, 0), (0.1, 3, 2),
                               (-1000.0, 2, 0)]],
    # a time of 0 is never in a window
    (([0.0] + EXACT[0][1:12], EXACT[1][:12], 0.0, 2, 6, 0.5, 0.0),
     (1.0, [10.0, 100.0], [10.0, 100.0])),
    # slope 2 up to the last two samples, whose window alone has slope 1
    (([*decades(10, 2)[0]], [*decades(10, 2)[1][:9], 1e17], -1000.0, 2, BIG, 0.5, 0.0),
     (1e8, [1e8, 1e9], [1e16, 1e17])),
])
def test_worked_cases(module, probe, args, expected):
    assert check_result(module.diff_calculator(*args)) == canon(expected)
    assert canon(fit_model(*args)) == canon(expected)
    assert canon(probe.diff_calculator_reference(*args)) == canon(expected)


def test_filter_keeps_pairs_and_margins_count_kept_samples(module):
    thr = 1e-10
    t = [float(k) for k in range(1, 61)]
    msd = [v * 1e-18 for v in t]
    for k in range(0, 60, 3):
        msd[k] = 0.99e-20        # below the threshold's square: dropped
    msd[1] = -(thr * thr)        # exactly the square, negative: kept
    msd[4] = nan                 # dropped
    args = (t, msd, 0.2, 3, 15, 0.3, thr)
    result = module.diff_calculator(*args)
    kept = [v for v, m in zip(t, msd) if abs(m) >= thr * thr]   # 39, 2.0 among them
    first = kept.index(result[1][0])
    assert kept[first:first + len(result[1])] == result[1] and first >= 7   # trunc(0.2 * 39)
    assert check_result(result) == canon(fit_model(*args))


def test_negative_msd_fits_signed_values(module):
    t = [float(k) for k in range(1, 41)]
    up = module.diff_calculator(t, [3.0 * v for v in t], 0.1, 4, 20, 0.1, 0.0)
    down = module.diff_calculator(t, [-3.0 * v for v in t], 0.1, 4, 20, 0.1, 0.0)
    assert down[1] == up[1]
    assert down[0] == -up[0] and down[2] == [-v for v in up[2]]


@pytest.mark.parametrize("t, msd, max_error", [
    # times two units in the last place apart: the raw regression's den rounds
    # to exactly 0 (its numerator not) while the log-log slope stays finite
    ([2.0**25 + k * 2.0**-26 for k in range(8)],
     [7.0, 1.5, 1000.0, 1.5, 12345.678, 1000.0, 12345.678, 1000.0], inf),
    # repeated-time skip: 1e-17 is below half an ulp of 0.25; 2**-54 is one ulp,
    # but under 2**-52 * 1.0; one ulp of 4.0 is 2**-52 * 4.0
    *[([a, a + gap] + [10.0**k for k in range(3, 10)], None, inf)
      for a, gap in [(0.25, 0.0), (0.25, 1e-17), (0.25, 2**-54), (0.25, 2**-52), (4.0, 2**-50),
                     (4.0, 0.0)]],
    *[([float(k) for k in range(1, 21)], [(k + 1.0) ** (1.0 + 0.01 * (k % 5)) for k in range(20)],
       0.2)],
])
def test_edges_match_the_model(module, probe, t, msd, max_error):
    for margin in (0.0, -1000.0, -inf):
        args = (t, msd or list(t), margin, 2, 6 if margin == 0.0 else BIG, max_error, 0.0)
        assert check_result(module.diff_calculator(*args)) == canon(fit_model(*args))
        assert canon(probe.diff_calculator_reference(*args)) == canon(fit_model(*args))


def test_ballistic_then_diffusive(module):
    # Langevin MSD: 6D(t - tau(1 - exp(-t/tau))), ~ t**2 for t << tau, a line of
    # slope 6D for t >> tau.
    big_d, tau = 2.5e-9, 1.0
    t = [0.01 * (k + 1) for k in range(8000)]
    msd = [6.0 * big_d * (v - tau * -math.expm1(-v / tau)) for v in t]
    d, t_fit, fit = module.diff_calculator(t, msd, 0.1, 10, 400, 0.05, 0.0)
    assert t_fit[0] > 20.0 * tau
    assert d == pytest.approx(6.0 * big_d, rel=1e-9)


# ---- the fast search against the literal one ---------------------------------

def same_everywhere(module, probe, args, model=False):
    fast = check_result(module.diff_calculator(*args))
    assert fast == check_result(probe.diff_calculator_reference(*args))
    assert fast == check_result(probe.diff_calculator_narrow(*args))
    if model:
        assert fast == canon(fit_model(*args))


@st.composite
def curves(draw, max_size):
    n = draw(st.integers(1, max_size))
    kind = draw(st.sampled_from(["noisy", "ballistic", "decades", "raw"]))
    if kind == "raw":
        values = st.one_of(st.floats(-1e3, 1e3), st.sampled_from([0.0, -0.0, nan, inf]))
        t = draw(st.lists(values, min_size=n, max_size=n))
        msd = draw(st.lists(values, min_size=n, max_size=n))
        return t, msd
    seed = draw(st.randoms(use_true_random=False))
    if kind == "decades":   # integer logs: exact sums and many exact ties
        t = [10.0**k for k in range(-n // 2, n - n // 2)]
        msd = [10.0**(k + seed.choice([0, 0, 1, -1])) for k in range(n)]
    else:
        dt = draw(st.sampled_from([1.0, 0.01, 2e-15, 0.5e-3]))
        offset = draw(st.sampled_from([0, 1]))   # 0: the first time is 0
        t = [dt * (k + offset) for k in range(n)]
        noise = draw(st.sampled_from([0.0, 1e-3, 0.05, 0.3]))
        cross = dt * seed.uniform(1, n)
        base = [v * v / cross if v < cross else 2 * v - cross for v in t] \
            if kind == "ballistic" else t
        msd = [b * 1e-18 * (1.0 + noise * seed.gauss(0.0, 1.0)) for b in base]
    for _ in range(draw(st.integers(0, 3))):   # repeated times, signs and NaNs
        k = seed.randrange(n)
        what = seed.choice(["repeat", "negate", "nan", "zero-time"])
        if what == "repeat" and k + 1 < n:
            t[k + 1] = t[k]
        elif what == "negate":
            msd[k] = -msd[k]
        elif what == "nan":
            msd[k] = nan
        else:
            t[k] = 0.0
    return t, msd


margins = st.one_of(st.sampled_from([0.0, 0.1, 0.25, 0.49, 0.5, -0.3, -1000.0, nan]),
                    st.floats(-1.0, 1.0))
windows = st.one_of(st.integers(0, 12), st.sampled_from([BIG, 2**63]))
# Bands a few units in the last place wide let rounding alone decide which
# windows qualify: any change in a window's sums shows.
errors = st.one_of(st.sampled_from([0.0, 0.05, 0.1, 0.5, 2.0, inf, nan, -0.1]),
                   st.sampled_from([4e-16, 1e-15, 1e-14, 1e-13]), st.floats(0.0, 1.5))
displacements = st.sampled_from([0.0, 1e-10, 3e-9, nan])


@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(curves(24), margins, windows, windows, errors, displacements)
def test_small_curves_match_the_model(module, probe, curve, margin, min_window, max_window,
                                      max_error, min_displacement):
    args = (*curve, margin, min_window, max_window, max_error, min_displacement)
    same_everywhere(module, probe, args, model=True)


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(curves(300), margins, st.integers(0, 8), st.integers(0, 320), errors, displacements)
def test_fast_search_matches_literal(module, probe, curve, margin, min_window, max_window,
                                     max_error, min_displacement):
    args = (*curve, margin, min_window, max_window, max_error, min_displacement)
    same_everywhere(module, probe, args)


@settings(max_examples=300, deadline=None)
@given(st.integers(10, 200), st.sampled_from([1.0, 0.01, 0.002, 3.3, 1e-12]),
       st.floats(1e-3, 1e3), margins, st.integers(0, 9), st.integers(0, 200),
       st.sampled_from([3e-16, 1e-15, 1e-14]))
def test_near_ties_match_literal(module, probe, n, dt, scale, margin, min_window, max_window,
                                 max_error):
    # MSD proportional to time: every slope is 1 up to rounding, and a band a
    # few ulps wide lets rounding alone pick the winner.
    t = [dt * (k + 1) for k in range(n)]
    same_everywhere(module, probe, (t, [scale * v for v in t], margin, min_window, max_window,
                                    max_error, 0.0))


@pytest.mark.parametrize("noise, errors", [
    (0.02, (0.02, 0.1, 0.5)),
    (0.0, (3e-16, 1e-15, 1e-14)),   # slopes 1 up to rounding: near-ties everywhere
])
@pytest.mark.parametrize("n, margin, min_window, max_window", [
    (1000, 0.1, 5, 500), (701, 0.0, 0, 702), (333, 0.3, 1, 50), (257, -0.2, 7, BIG),
])
def test_long_curves_match_literal(module, probe, n, margin, min_window, max_window, noise,
                                   errors):
    import random
    rng = random.Random(n)
    t = [0.002 * (k + 1) for k in range(n)]
    if noise:
        msd = [v * (v / (v + 0.05)) * (1.0 + noise * rng.gauss(0.0, 1.0)) for v in t]
    else:
        msd = [3.7e-9 * v for v in t]
    for max_error in errors:
        same_everywhere(module, probe, (t, msd, margin, min_window, max_window, max_error, 0.0))
