"""The mutants tools/mutate.py applies: small faults of the kinds a slip of
the hand makes, about two per source file. Each names the text it replaces,
which must occur exactly once in its file."""

from dataclasses import dataclass


@dataclass(frozen=True)
class Mutant:
    name: str
    path: str
    before: str
    after: str
    what: str


MUTANTS = [
    Mutant("statistics.finite", "src/analysis/statistics.cpp",
           "    if (!std::isfinite(x)) continue;\n    sum += x;",
           "    if (std::isnan(x)) continue;\n    sum += x;",
           "infinities counted in the mean"),
    Mutant("statistics.peak_end", "src/analysis/statistics.cpp",
           "const Wide end = k > n ? 0 : n - k;", "const Wide end = k > n ? 0 : n - k + 1;",
           "the last candidate one place too far"),
    Mutant("proton_hopping.order", "src/analysis/proton_hopping.cpp",
           "const double c = box_length * (box_length * box_length);",
           "const double c = (box_length * box_length) * box_length;",
           "rounding order of the box volume"),
    Mutant("physics.yeh_hummer", "vexa_pp/physics.py",
           "(6 * math.pi * viscosity * box_length)", "(6 * math.pi * viscosity)",
           "box length dropped from the finite-size shift"),
]
