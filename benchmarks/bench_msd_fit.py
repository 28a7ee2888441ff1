"""diff_calculator's window search against the literal one (every window's sums recomputed)."""

import math

import harness

FAST, NARROW, LITERAL = "diff_calculator", "two-lane search", "literal search"
MARGIN, MIN_WINDOW, MAX_WINDOW, MAX_ERROR = 0.1, 5, 500, 0.1
SIZES = (200, 1000, 5000)
JUDGED = 1000  # the size the speed-up target applies to


def curve(n):
    """A noisy MSD (m^2) of a particle with velocity memory: ~t^2 for t << tau, then a
    line of slope 6D."""
    import random
    rng = random.Random(n)
    big_d, tau, dt = 2.3e-9, 0.5e-12, 0.02e-12
    t = [dt * (k + 1) for k in range(n)]
    msd = [6.0 * big_d * (v + tau * math.expm1(-v / tau)) * (1.0 + 0.01 * rng.gauss(0.0, 1.0))
           for v in t]
    return t, msd


def window_count(n):
    start, end = int(MARGIN * n), int((1.0 - MARGIN) * n)
    stop = end - MIN_WINDOW
    return sum(max(0, min(stop - i, MAX_WINDOW) - MIN_WINDOW) for i in range(start, stop))


def timings(n, reps, warmup):
    import vexa_pp
    from vexa_pp import _frame_probe as probe
    t, msd = curve(n)
    args = (t, msd, MARGIN, MIN_WINDOW, MAX_WINDOW, MAX_ERROR, 0.0)
    contenders = {
        FAST: lambda: vexa_pp.diff_calculator(*args),
        NARROW: lambda: probe.diff_calculator_narrow(*args),
        LITERAL: lambda: probe.diff_calculator_reference(*args),
    }
    exact = [repr([x.hex() for x in [r[0], *r[1], *r[2]]]) for r in
             (f() for f in contenders.values())]
    if len(set(exact)) != 1:
        raise AssertionError(f"n={n}: the searches disagree")
    harness.warm(16 << 20)
    return harness.compare(contenders, reps, warmup)


def main(quick):
    for n in (SIZES[:2] if quick else SIZES):
        results = harness.in_modes(__name__, "timings", n=n, reps=1 if quick else 7,
                                   warmup=0 if quick else 1)
        windows = window_count(n)
        target = 50 if n == JUDGED and not quick else None
        harness.report(
            f"== msd_fit: diff_calculator on n = {n:,} samples (margin {MARGIN}, windows "
            f"{MIN_WINDOW}..{MAX_WINDOW - 1}, max_error {MAX_ERROR}: {windows:,} windows)",
            results, "ns/window", lambda s: s["median"] / windows * 1e9,
            [("literal/fast", LITERAL, FAST, target), ("literal/two-lane", LITERAL, NARROW, None),
             ("two-lane/fast", NARROW, FAST, None)])
