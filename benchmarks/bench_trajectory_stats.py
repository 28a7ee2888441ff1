"""analyze_trajectory (multi-origin D of three groups with block errors,
Einstein-Helfand and Nernst-Einstein conductivity) against its floor: one
FFT MSD pass over every atom, which any multi-origin analysis pays."""

import harness

ANALYZE, FLOOR = "analyze_trajectory", "one FFT MSD pass"
SIZES = ((500, 1000), (5000, 2000))  # atoms, frames


def timings(atoms, frames, reps, warmup):
    import numpy as np

    from vexa_pp import trajectory

    rng = np.random.default_rng(atoms)
    positions = np.cumsum(rng.normal(0.0, 0.6, (atoms, 3, frames)), axis=2)
    ions = atoms // 100
    types = np.r_[np.ones(atoms - 2 * ions, int), np.full(ions, 2), np.full(ions, 3)]
    dump = trajectory.Frames(positions, types, np.arange(frames) * 10, 40.0 ** 3)
    chunk = trajectory._ATOMS_PER_CHUNK
    contenders = {
        ANALYZE: lambda: trajectory.analyze_trajectory(
            dump, {"OW": [1], "Na": [2], "Cl": [3]}, {"Na": 1, "Cl": -1}, 300.0, 1e-13),
        FLOOR: lambda: [trajectory._per_atom_msd(positions[k:k + chunk]).sum(axis=0)
                        for k in range(0, atoms, chunk)],
    }
    harness.warm(64 << 20)
    return harness.compare(contenders, reps, warmup)


def main(quick):
    for atoms, frames in (SIZES[:1] if quick else SIZES):
        results = harness.in_modes(__name__, "timings", atoms=atoms, frames=frames,
                                   reps=1 if quick else 5, warmup=0 if quick else 1)
        harness.report(
            f"== trajectory_stats: {atoms:,} atoms x {frames:,} frames", results,
            "Mframe/s", lambda s: atoms * frames / s["median"] / 1e6,
            [("floor/analyze", FLOOR, ANALYZE, None)])
