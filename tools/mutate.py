"""Mutation runner: does the test suite notice a small fault in the code?

Applies each mutant of a fixed list (a comparison flipped, an operand order
changed, a boundary moved, a branch dropped) to the source, rebuilds the
plain lane, runs the plain test lane with fixed seeds, and prints which
mutants the tests kill. Not part of CI: a full run rebuilds and tests once per
mutant, most of an hour. Runs inside the environment, from the checkout:

    ./dev run python3 tools/mutate.py [--only TEXT ...] [--json FILE]
    ./dev run python3 tools/mutate.py --compare BEFORE.json AFTER.json

The working tree must not be edited while it runs: every mutant is written
into the source and taken out again (also on Ctrl-C).
"""

from __future__ import annotations

import argparse
import json
import os
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

from mutants import MUTANTS, Mutant

REPO = Path(__file__).resolve().parents[1]
STATE = REPO / os.environ.get("VEXA_DEV_STATE", ".dev")
VENV = STATE / "venv-plain"
HYPOTHESIS_SEEDS = (0, 1, 2)
TEST_TIMEOUT = 900  # s; a mutant that makes a loop endless is killed by it


@dataclass
class Outcome:
    mutant: str
    verdict: str  # killed, survived, timeout, no build
    by: str  # the first failing test, or the reason
    seconds: float


def install() -> subprocess.CompletedProcess[str]:
    if not (VENV / "bin" / "python").exists():
        subprocess.run(["python3", "-m", "venv", "--system-site-packages", str(VENV)], check=True)
    return subprocess.run(
        [str(VENV / "bin" / "python"), "-m", "pip", "install", "--quiet", "--no-index",
         "--no-build-isolation", "--no-deps", "--disable-pip-version-check",
         "--root-user-action=ignore", "-C", f"build-dir={STATE / 'build-plain'}",
         "-C", "cmake.define.VEXA_FRAME_PROBE=ON", "."],
        cwd=REPO, capture_output=True, text=True)


def first_failure(output: str) -> str:
    for line in output.splitlines():
        if line.startswith(("FAILED ", "ERROR ")):
            return line.split(" ", 2)[1]
    return output.strip().splitlines()[-1] if output.strip() else "?"


def run_tests() -> tuple[str, str]:
    """(verdict, by): the plain lane under each seed, stopping at a failure."""
    env = dict(os.environ, PYTHONHASHSEED="0")
    for seed in HYPOTHESIS_SEEDS:
        try:
            run = subprocess.run(
                [str(VENV / "bin" / "python"), "-m", "pytest", "-q", "-x", "-p",
                 "no:cacheprovider", f"--hypothesis-seed={seed}"],
                cwd=REPO / "tests", env=env, capture_output=True, text=True,
                timeout=TEST_TIMEOUT)
        except subprocess.TimeoutExpired:
            return "timeout", f"seed {seed}"
        if run.returncode < 0:  # the interpreter itself died: a crash is a kill too
            return "killed", f"crashed, {signal.Signals(-run.returncode).name} (seed {seed})"
        if run.returncode != 0:
            return "killed", f"{first_failure(run.stdout)} (seed {seed})"
    return "survived", ""


def check(mutant: Mutant) -> str:
    """The text of the mutant's file, in which the mutated text occurs once."""
    text = (REPO / mutant.path).read_text()
    count = text.count(mutant.before)
    if count != 1:
        raise SystemExit(f"{mutant.name}: the text to mutate occurs {count} times in "
                         f"{mutant.path}")
    return text


def apply(mutant: Mutant) -> str:
    """Writes the mutant into its file; returns the original text."""
    text = check(mutant)
    (REPO / mutant.path).write_text(text.replace(mutant.before, mutant.after))
    return text


def try_mutant(mutant: Mutant) -> Outcome:
    started = time.monotonic()
    original = apply(mutant)
    try:
        build = install()
        if build.returncode != 0:
            return Outcome(mutant.name, "no build", "compiler", time.monotonic() - started)
        verdict, by = run_tests()
        return Outcome(mutant.name, verdict, by, time.monotonic() - started)
    finally:
        (REPO / mutant.path).write_text(original)


def print_table(outcomes: list[Outcome]) -> None:
    width = max(len(o.mutant) for o in outcomes)
    for o in outcomes:
        print(f"{o.mutant:{width}}  {o.verdict:9}  {o.seconds:5.0f} s  {o.by}")
    killed = sum(o.verdict in ("killed", "timeout") for o in outcomes)
    print(f"{killed} of {len(outcomes)} mutants killed")


def compare(before_file: str, after_file: str) -> int:
    before = {o["mutant"]: o["verdict"] for o in json.loads(Path(before_file).read_text())}
    after = {o["mutant"]: o["verdict"] for o in json.loads(Path(after_file).read_text())}
    dead = ("killed", "timeout")
    lost = [m for m in before if before[m] in dead and after.get(m) not in dead]
    for name in sorted(set(before) | set(after)):
        print(f"{name:40} {before.get(name, '-'):9} -> {after.get(name, '-')}")
    print(f"killed before, not after: {', '.join(lost) or 'none'}")
    return 1 if lost else 0


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", action="append",
                        help="run the mutants whose name contains this text (repeatable)")
    parser.add_argument("--json", help="also write the outcomes to this file")
    parser.add_argument("--list", action="store_true", help="list the mutants and stop")
    parser.add_argument("--compare", nargs=2, metavar=("BEFORE", "AFTER"))
    args = parser.parse_args(argv)
    if args.compare:
        return compare(*args.compare)
    chosen = [m for m in MUTANTS if not args.only or any(text in m.name for text in args.only)]
    for m in chosen:  # every mutant must apply before any is run
        check(m)
    if args.list:
        for m in chosen:
            print(f"{m.name:40} {m.path}: {m.what}")
        return 0
    outcomes = []
    try:
        for m in chosen:
            outcomes.append(try_mutant(m))
            o = outcomes[-1]
            print(f"{o.mutant}: {o.verdict} {o.by} ({o.seconds:.0f} s)", file=sys.stderr,
                  flush=True)
    finally:
        install()  # the unmutated build again
        if outcomes:
            print_table(outcomes)
            if args.json:
                Path(args.json).write_text(json.dumps([o.__dict__ for o in outcomes], indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
