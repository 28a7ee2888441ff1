"""FloatArray conversion: repacking_results on a list, a tuple and an ndarray, next to sum()."""

import harness

SUM = "sum(list)"
KINDS = ("list", "tuple", "ndarray")


def timings(n, reps, warmup, ballast):
    import numpy as np
    import vexa_pp
    array = np.random.default_rng(7).standard_normal(n)
    inputs = {"list": array.tolist(), "ndarray": array}
    inputs["tuple"] = tuple(inputs["list"])
    first = vexa_pp.repacking_results(inputs["list"])
    for kind in KINDS:  # the three inputs hold the same values
        assert vexa_pp.repacking_results(inputs[kind]) == first, kind
    contenders = {SUM: lambda: sum(inputs["list"])}
    for kind in KINDS:
        contenders[f"repacking_results({kind})"] = (
            lambda x=inputs[kind]: vexa_pp.repacking_results(x))
    harness.warm(ballast)
    return harness.compare(contenders, reps, warmup)


def main(quick):
    n = 100_000 if quick else 10_000_000
    results = harness.in_modes(
        __name__, "timings", n=n, reps=1 if quick else 7, warmup=0 if quick else 1,
        ballast=max(16 << 20, 4 * 8 * n))
    harness.report(
        f"== float_array: FloatArray conversion of {n:,} floats (repacking_results)",
        results, "ns/elem", lambda s: s["median"] / n * 1e9,
        [(f"{kind} / {SUM}", f"repacking_results({kind})", SUM, None)
         for kind in KINDS])
