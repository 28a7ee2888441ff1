"""Concentration conversions.

molarity_to_molality against a Python loop of scipy.optimize.brentq over the
same residual (the density model with its temperature terms computed once)
and the same bracket (the same outward doubling search from 1e-12 mol/kg).

The closed-form conversions from lists to lists against the same formulas in
numpy, end to end (np.asarray on the input, .tolist() on the output).
"""

import harness
from bench_property_models import kell_water_density

NACL = (58.443, -0.00433, 0.06471, 1.0166, 0.014624, 3315.6)
T = 298.15
TOLERANCE, ITERATIONS = 1e-10, 200

OURS_SOLVE, BRENTQ = "vexa_pp.molarity_to_molality", "scipy brentq loop"
MW = 58.44


def targets(n):
    import numpy as np
    import vexa_pp
    molality = np.random.default_rng(5).uniform(0.01, 6.0, n).tolist()
    return vexa_pp.laliberte_density([T] * n, molality, *NACL)[1]


def brentq_loop(ys, temperature, mw, c0, c1, c2, c3, c4, tolerance, iterations):
    import math
    from scipy.optimize import brentq
    t = temperature + (-273.15)
    rho_w = kell_water_density(t)
    c3t = c3 * t
    e = math.exp(((c4 + t) * (c4 + t)) * 1e-6)

    def molarity(x):
        w = (mw * x) / ((mw * x) + 1000.0)
        v = ((c2 + w) + c3t) / (e * (c1 + c0 * w))
        rho = 1.0 / (w * v + (1.0 - w) / rho_w)
        return (w * rho) / mw

    def residual(x, y):
        return molarity(x) - y

    low = molarity(1e-12)
    out = []
    for y in ys:
        if y <= 0.0:
            out.append(0.0)
            continue
        h = max(y, 1.0)
        for _ in range(65):
            h = h + h
            if not molarity(h) < y:
                break
        if (low - y) * (molarity(h) - y) > 0.0:
            raise ValueError(f"could not bracket {y}")
        out.append(brentq(residual, 1e-12, h, args=(y,), xtol=tolerance, maxiter=iterations))
    return out


def solve_timings(n, reps, warmup, ballast, only=None):
    import vexa_pp
    ys = targets(n)
    ours = vexa_pp.molarity_to_molality(ys, T, *NACL, TOLERANCE, ITERATIONS)
    theirs = brentq_loop(ys, T, *NACL, TOLERANCE, ITERATIONS)
    worst = max(abs(a - b) for a, b in zip(ours, theirs))
    assert worst <= 1e-9, worst
    runs = {
        OURS_SOLVE: lambda: vexa_pp.molarity_to_molality(ys, T, *NACL, TOLERANCE, ITERATIONS),
        BRENTQ: lambda: brentq_loop(ys, T, *NACL, TOLERANCE, ITERATIONS),
    }
    if only is not None:
        runs = {only: runs[only]}
    harness.warm(ballast)
    return harness.compare(runs, reps, warmup)


def numpy_to_molality(fractions, mw):
    import numpy as np
    f = np.asarray(fractions, dtype=np.float64)
    M = mw / 1000.0
    return (f / (M * (1.0 - f))).tolist()


def numpy_to_fraction(molality, mw):
    import numpy as np
    b = np.asarray(molality, dtype=np.float64)
    M = mw / 1000.0
    return (1.0 / (1.0 / (M * b) + 1.0)).tolist()


CLOSED = {
    "mass_fraction_to_molality": numpy_to_molality,
    "molality_to_mass_fraction": numpy_to_fraction,
}


def closed_timings(n, reps, warmup, ballast):
    import numpy as np
    import vexa_pp
    rng = np.random.default_rng(3)
    inputs = {"mass_fraction_to_molality": rng.uniform(0.0, 0.3, n).tolist(),
              "molality_to_mass_fraction": rng.uniform(0.0, 6.0, n).tolist()}
    runs = {}
    for name, numpy_form in CLOSED.items():
        xs = inputs[name]
        ours = getattr(vexa_pp, name)
        theirs = numpy_form(xs, MW)
        # numpy rounds each operation as the scalar steps do
        assert ours(xs, MW) == theirs, name
        runs[f"vexa_pp.{name}"] = lambda f=ours, x=xs: f(x, MW)
        runs[f"numpy {name}"] = lambda f=numpy_form, x=xs: f(x, MW)
    harness.warm(ballast)
    return harness.compare(runs, reps, warmup)


def main(quick):
    n = 1_000 if quick else 10_000
    args = dict(n=n, reps=1 if quick else 7, warmup=0 if quick else 1, ballast=64 << 20)
    title = (f"== conversions: molarity_to_molality on {n:,} targets "
             f"(NaCl, {T} K, tolerance {TOLERANCE:g})")
    ratio = [(f"{BRENTQ} / {OURS_SOLVE}", BRENTQ, OURS_SOLVE, 100.0)]
    results = harness.in_modes(__name__, "solve_timings", **args)
    harness.report(title, results, "µs/elem", lambda s: s["median"] / n * 1e6, ratio)
    # With PYTHONMALLOC=malloc (warm mode) the heap that a round of the
    # brentq loop leaves behind makes the first allocations of the call
    # after it slow, and the interleaved rounds charge that to
    # molarity_to_molality. Each contender alone in its own process:
    alone = {mode: {} for mode in harness.MODES}
    for name in (OURS_SOLVE, BRENTQ):
        for mode, stats in harness.in_modes(__name__, "solve_timings", only=name,
                                            **args).items():
            alone[mode].update(stats)
    harness.report(title + ", each contender alone in its own process", alone,
                   "µs/elem", lambda s: s["median"] / n * 1e6, ratio)

    n = 10_000 if quick else 1_000_000
    results = harness.in_modes(__name__, "closed_timings", n=n, reps=1 if quick else 9,
                               warmup=0 if quick else 1, ballast=max(16 << 20, 8 * 8 * n))
    harness.report(
        f"== conversions: closed forms on {n:,} elements, lists to lists",
        results, "ns/elem", lambda s: s["median"] / n * 1e9,
        [(f"numpy / vexa_pp {name}", f"numpy {name}", f"vexa_pp.{name}", 1.5)
         for name in CLOSED])
