"""Reference and memory-block leak hunt over every registered function.

Each function is called many times with valid arguments and with every kind of
invalid argument; on a debug interpreter the total reference count and the
number of allocated memory blocks must come back to where they were. A leak
fails the test of that function and case.
"""

import gc
import math
import sys

import pytest

from vexa_pp import _vexa_pp as module

pytestmark = pytest.mark.skipif(
    not hasattr(sys, "gettotalrefcount"), reason="reference counts need a debug interpreter"
)


def broken_item(self, i):
    if i == 1:
        raise LookupError("midway")
    return 1.0


BadIndex = type("BadIndex", (), {"__index__": lambda self: "x"})
RaisingFloat = type("RaisingFloat", (), {"__float__": lambda self: math.exp(1e9)})
BrokenIteration = type("BrokenIteration", (), {"__len__": lambda self: 3,
                                               "__getitem__": broken_item})


# Bad values for a parameter, by the type of a valid argument.
BAD_VALUES = {
    str: [1, "\udc80", None],
    float: ["x", 10**400, RaisingFloat()],
    int: [-1, 1.5, 2**64, BadIndex()],
    # a list item that is not a float is held while it converts: a mortal
    # one, since the interpreter no longer counts references to "x"
    list: ["1 2", 5, [1.0, "x"], [1.0, RaisingFloat()], (1.0, RaisingFloat()),
           BrokenIteration()],
}


def leak_cases(functions):
    """(function name, case label, call) for every function and failure kind."""
    cases = []
    for name, (params, valid, refused) in functions.items():
        f = getattr(module, name)
        cases += [
            (name, "valid", lambda f=f, a=valid: f(*a)),
            (name, "valid by keyword", lambda f=f, a=dict(zip(params, valid)): f(**a)),
            (name, "missing argument", lambda f=f, a=valid[:-1]: f(*a)),
            (name, "too many arguments", lambda f=f, a=valid + [0]: f(*a)),
            (name, "unexpected keyword", lambda f=f, a=valid: f(*a, nope=1)),
            (name, "twice", lambda f=f, a=valid, p=params[0]: f(*a, **{p: a[0]})),
        ]
        for i, value in enumerate(valid):
            for bad in BAD_VALUES[type(value)]:
                args = valid[:i] + [bad] + valid[i + 1:]
                cases.append((name, f"{params[i]}={bad!r}", lambda f=f, a=args: f(*a)))
        for args in refused:
            cases.append((name, f"body error {args!r}"[:80], lambda f=f, a=args: f(*a)))
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


def test_no_leaks(functions):
    assert set(functions) == set(module.__all__)
    found = []
    calls = 100
    for name, label, call in leak_cases(functions):
        refs, blocks = count_allocations(call, rounds=3, calls_per_round=calls)
        if leaks(refs, calls) or leaks(blocks, calls):
            found.append(f"{name} [{label}]: references {refs}, blocks {blocks}")
    assert not found, "\n".join(found)


def test_the_hunt_sees_a_leak():
    kept = []
    refs, blocks = count_allocations(lambda: kept.append(object()), rounds=3, calls_per_round=100)
    assert leaks(refs, 100) and leaks(blocks, 100)
