"""laliberte_density against the same formulas in numpy, end to end.

From Python lists to lists: numpy pays np.asarray on the inputs and
.tolist() on the outputs, as a caller holding lists would.  Also with numpy
arrays as inputs (vexa_pp still returns lists; numpy is timed with and
without the .tolist()).
"""

import harness

NACL = (58.443, -0.00433, 0.06471, 1.0166, 0.014624, 3315.6)

OURS_LIST, NUMPY_LIST = "vexa_pp (lists)", "numpy (lists -> lists)"
OURS_ARRAY, NUMPY_ARRAY = "vexa_pp (ndarrays -> lists)", "numpy (ndarrays -> lists)"
NUMPY_ONLY = "numpy (ndarrays -> ndarrays)"


def kell_water_density(t):
    """Pure-water density (kg/m^3) at t degrees Celsius; t a float or an array."""
    p = -2.8054253e-10 * t + 1.0556302e-7
    p = p * t + (-4.6170461e-5)
    p = p * t + (-0.0079870401)
    p = p * t + 16.945176
    p = p * t + 999.83952
    return p / (0.01687985 * t + 1.0)


def numpy_density(temperature, molality, mw, c0, c1, c2, c3, c4):
    import numpy as np
    T = np.asarray(temperature, dtype=np.float64)
    m = np.asarray(molality, dtype=np.float64)
    t = T + (-273.15)
    x = mw * m
    w = x / (x + 1000.0)
    rho_w = kell_water_density(t)
    e = np.exp(((c4 + t) * (c4 + t)) * 1e-6)
    v_app = ((c2 + w) + c3 * t) / (e * (c1 + c0 * w))
    rho = 1.0 / (w * v_app + (1.0 - w) / rho_w)
    return rho, (w * rho) / mw


def inputs(n):
    import numpy as np
    rng = np.random.default_rng(11)
    return rng.uniform(273.15, 373.15, n), rng.uniform(0.0, 6.0, n)


def contenders(n):
    import vexa_pp
    T, m = inputs(n)
    Tl, ml = T.tolist(), m.tolist()

    def numpy_lists(a, b):
        rho, c = numpy_density(a, b, *NACL)
        return rho.tolist(), c.tolist()

    return {
        OURS_LIST: lambda: vexa_pp.laliberte_density(Tl, ml, *NACL),
        NUMPY_LIST: lambda: numpy_lists(Tl, ml),
        OURS_ARRAY: lambda: vexa_pp.laliberte_density(T, m, *NACL),
        NUMPY_ARRAY: lambda: numpy_lists(T, m),
        NUMPY_ONLY: lambda: numpy_density(T, m, *NACL),
    }


def timings(n, reps, warmup, ballast):
    import math
    runs = contenders(n)
    ours, theirs = runs[OURS_LIST](), runs[NUMPY_LIST]()
    # numpy's exp may differ from the C library's in the last place
    for a, b in zip(ours, theirs):
        assert all(math.isclose(x, y, rel_tol=1e-13) for x, y in zip(a, b))
    assert runs[OURS_ARRAY]() == ours
    harness.warm(ballast)
    return harness.compare(runs, reps, warmup)


def main(quick):
    n = 10_000 if quick else 1_000_000
    results = harness.in_modes(
        __name__, "timings", n=n, reps=1 if quick else 9, warmup=0 if quick else 1,
        ballast=max(16 << 20, 30 * 8 * n))
    harness.report(
        f"== property_models: laliberte_density on {n:,} elements",
        results, "ns/elem", lambda s: s["median"] / n * 1e9,
        [(f"{NUMPY_LIST} / {OURS_LIST}", NUMPY_LIST, OURS_LIST, 2.0),
         (f"{NUMPY_ARRAY} / {OURS_ARRAY}", NUMPY_ARRAY, OURS_ARRAY, None)])
