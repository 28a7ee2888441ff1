"""Reference and memory-block leak hunt over every registered function.

Each function is called many times with valid arguments and with every kind of
invalid argument; on a debug interpreter the total reference count and the
number of allocated memory blocks must come back to where they were. A leak
fails the test of that function and case.
"""

import gc
import inspect
import sys

import pytest

from vexa_pp import _vexa_pp as module

pytestmark = pytest.mark.skipif(
    not hasattr(sys, "gettotalrefcount"), reason="reference counts need a debug interpreter"
)

# Parameter kinds, for generating a bad value of each kind.
TEXT, FLOAT, COUNT, ARRAY = "text", "float", "count", "array"

# Laliberte-style parameters of NaCl, only to give the models plausible input.
DENSITY = [-0.00433, 0.06471, 1.0166, 0.014624, 3315.6]
VISCOSITY = [16.22, 1.3229, 1.4849, 0.0074691, 30.78, 2.0583]
TIMES = [0.1 * (i + 1) for i in range(60)]
MSD = [6.0e-3 * t * (1.0 + 0.01 * ((i * 7) % 5 - 2)) for i, t in enumerate(TIMES)]
DEWANE_COEFFS = [10.0] + [0.0] * 9


def files(tmp):
    table = tmp / "diffself.dat"
    table.write_text("# title\n#Time MSD\n0 0.0\n1 2.5\n")
    thermo = tmp / "thermo.dat"
    thermo.write_text("# title\n# Step Temp\n0 300.0\n10 301.5\n")
    angle = tmp / "angle.dat"
    angle.write_text("# t\n# s\n# Bin Coord Count Count/Total\n0 10 2\n1 104.5 3 0.5\n")
    volume = tmp / "volume.dat"
    volume.write_text("# t\n# TimeStep v_vol\n0 27000.5\n")
    log = tmp / "log.lammps"
    log.write_text("group water type 1\n600 atoms in group water\n")
    bad_utf8 = tmp / "bad.dat"
    bad_utf8.write_bytes(b"#Time a\n\xff\n")
    short = tmp / "short.dat"
    short.write_text("")
    return {
        "table": str(table),
        "thermo": str(thermo),
        "angle": str(angle),
        "volume": str(volume),
        "log": str(log),
        "bad_utf8": str(bad_utf8),
        "empty": str(short),
        "missing": str(tmp / "missing.dat"),
        "directory": str(tmp),
    }


def declarations(paths):
    """name -> (parameter kinds, valid arguments, body-error argument lists)."""
    file_errors = [[paths["missing"]], [paths["directory"]], [paths["bad_utf8"]], ["a\0b"]]
    reader = lambda key: ([TEXT], [paths[key]], file_errors + [[paths["empty"]]])
    models = [ARRAY, ARRAY] + [FLOAT] * 6
    return {
        "parse_vexa_file": reader("table"),
        "parse_thermoprop": reader("thermo"),
        "parse_volume_density": reader("volume"),
        "parse_bond_angle": reader("angle"),
        "read_group_count": (
            [TEXT, TEXT],
            [paths["log"], "water"],
            [[paths["log"], "ions"], [paths["missing"], "water"]],
        ),
        "local_maximum_finder": ([ARRAY, COUNT, COUNT], [[0.0, 1.0, 0.0, 2.0, 0.0], 0, 1], []),
        "repacking_results": ([ARRAY], [[1.0, 2.0, float("nan")]], []),
        "diff_calculator": (
            [ARRAY, ARRAY, FLOAT, COUNT, COUNT, FLOAT, FLOAT],
            [TIMES, MSD, 0.1, 3, 20, 0.5, 0.0],
            [],
        ),
        "laliberte_density": (
            models,
            [[298.15, 310.0], [0.5, 1.0], 58.44, *DENSITY],
            [[[298.15], [0.5, 1.0], 58.44, *DENSITY]],
        ),
        "laliberte_viscosity": (
            [ARRAY, ARRAY] + [FLOAT] * 7,
            [[298.15], [1.0], 58.44, *VISCOSITY],
            [[[298.15], [], 58.44, *VISCOSITY]],
        ),
        "mass_fraction_to_molality": ([ARRAY, FLOAT], [[0.1, 0.2], 58.44], []),
        "molality_to_mass_fraction": ([ARRAY, FLOAT], [[1.0], 58.44], []),
        "mole_fraction_to_molality": ([ARRAY, FLOAT], [[0.01], 58.44], []),
        "molality_to_mole_fraction": ([ARRAY, FLOAT], [[1.0], 58.44], []),
        "dewane_eval": (
            [ARRAY, ARRAY, ARRAY],
            [[0.5, 1.5], [0.0, 2.0], DEWANE_COEFFS],
            [[[0.5], [0.0], DEWANE_COEFFS], [[0.5], [0.0, 2.0], [1.0]], [[3.0], [0.0, 2.0], DEWANE_COEFFS]],
        ),
        "koh_gilliam_eval": (models, [[298.15], [1.0], 56.1056, *DENSITY], [[[298.15], [], 56.1056, *DENSITY]]),
        "molarity_to_molality": (
            [ARRAY] + [FLOAT] * 8 + [COUNT],
            [[1.0, 2.0], 298.15, 58.44, *DENSITY, 1e-12, 100],
            [[[1e6], 298.15, 58.44, *DENSITY, 1e-12, 100]],
        ),
        "tau_calculator": ([FLOAT] * 6, [2.0, 1.0, 300.0, 1e-9, 1.0, 1e-10], []),
        "diffusion_adjustment": ([FLOAT, FLOAT], [1.0, 1e-10], []),
    }


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class RaisingFloat:
    def __float__(self):
        raise ArithmeticError("no float")


class BrokenIteration:
    def __len__(self):
        return 3

    def __getitem__(self, i):
        if i == 1:
            raise LookupError("midway")
        return 1.0


# Bad values of each kind, each with the exception the conversion raises.
BAD_VALUES = {
    TEXT: [(1, TypeError), ("\udc80", UnicodeEncodeError), (None, TypeError)],
    FLOAT: [("x", TypeError), (10**400, OverflowError), (RaisingFloat(), ArithmeticError)],
    COUNT: [(-1, OverflowError), (1.5, TypeError), (2**64, OverflowError), (Index("x"), TypeError)],
    ARRAY: [
        ("1 2", TypeError),
        (5, TypeError),
        ([1.0, "x"], TypeError),
        ((1.0, RaisingFloat()), ArithmeticError),
        (BrokenIteration(), LookupError),
    ],
}


def leak_cases(paths):
    """(function name, case label, call) for every function and failure kind."""
    cases = []
    for name, (kinds, valid, body_errors) in declarations(paths).items():
        if not hasattr(module, name):
            continue
        function = getattr(module, name)
        params = list(inspect.signature(function).parameters)
        cases.append((name, "valid", lambda f=function, a=valid: f(*a)))
        cases.append((name, "valid by keyword", lambda f=function, a=dict(zip(params, valid)): f(**a)))
        cases.append((name, "missing argument", lambda f=function, a=valid[:-1]: f(*a)))
        cases.append((name, "too many arguments", lambda f=function, a=valid + [0]: f(*a)))
        cases.append((name, "unexpected keyword", lambda f=function, a=valid: f(*a, nope=1)))
        cases.append((name, "twice", lambda f=function, a=valid, p=params[0]: f(*a, **{p: a[0]})))
        for i, kind in enumerate(kinds):
            for bad, _ in BAD_VALUES[kind]:
                args = valid[:i] + [bad] + valid[i + 1 :]
                cases.append((name, f"{params[i]}={bad!r}", lambda f=function, a=args: f(*a)))
        for args in body_errors:
            cases.append((name, f"body error {args!r}"[:80], lambda f=function, a=args: f(*a)))
    return cases


def count_allocations(call, rounds, calls_per_round):
    def run():
        for _ in range(calls_per_round):
            try:
                call()
            except Exception:
                pass

    run()  # warm-up: caches, interned names, first-use classes
    gc.collect()
    # No collection inside the rounds: nothing the module makes forms a
    # cycle, and a collection per round would cost more than the calls.
    gc.disable()
    try:
        refs, blocks = [], []
        for _ in range(rounds):
            refs_before, blocks_before = sys.gettotalrefcount(), sys.getallocatedblocks()
            run()
            refs.append(sys.gettotalrefcount() - refs_before)
            blocks.append(sys.getallocatedblocks() - blocks_before)
    finally:
        gc.enable()
    return refs, blocks


def leaks(deltas, calls_per_round):
    # The loop itself moves the totals by a few; a leak grows in every round
    # by at least one for every other call.
    return all(d >= calls_per_round // 2 for d in deltas)


@pytest.fixture(scope="module")
def paths(tmp_path_factory):
    return files(tmp_path_factory.mktemp("leaks"))


def test_every_registered_function_is_hunted(paths):
    assert set(module.__all__) <= set(declarations(paths))
    hunted = {name for name, _, _ in leak_cases(paths)}
    assert hunted == set(module.__all__)


def test_no_leaks(paths):
    found = []
    calls = 100
    for name, label, call in leak_cases(paths):
        refs, blocks = count_allocations(call, rounds=3, calls_per_round=calls)
        if leaks(refs, calls) or leaks(blocks, calls):
            found.append(f"{name} [{label}]: references {refs}, blocks {blocks}")
    assert not found, "\n".join(found)


def test_the_hunt_sees_a_leak():
    kept = []
    refs, blocks = count_allocations(lambda: kept.append(object()), rounds=3, calls_per_round=100)
    assert leaks(refs, 100) and leaks(blocks, 100)
