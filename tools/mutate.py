"""Mutation runner: does the test suite notice a small fault in the code?

Applies each mutant of a fixed list (tools/mutants.py: a comparison flipped,
an operand order changed, a boundary moved, a branch dropped, a reference
leaked or given away) in turn, rebuilds one lane, runs that lane's tests with
fixed seeds and prints which mutants the tests kill. Not part of CI: a full
run rebuilds and tests once per mutant, most of an hour. Runs inside the
environment, from a checkout with nothing uncommitted:

    ./dev run python3 tools/mutate.py [--lane plain|asan|debug] [--only TEXT ...]
                                      [--json FILE] [-- PYTEST ARGS]
    ./dev run python3 tools/mutate.py --compare BEFORE.json AFTER.json

The unmodified suite runs first: a red or flaky suite would kill every
mutant, so the runner stops there. A test run that outlives --timeout is a
timeout, reported apart from the kills: an endless loop is a fault the
tests met, but not one they told apart. Mutants are written into a git
worktree of HEAD with its own virtual environment and build tree (under
$VEXA_DEV_STATE/mutation/); the checkout itself is never written to, so a
runner stopped at any moment leaves no mutant behind, and it refuses to
start with uncommitted changes, which it would not be testing. The plain
lane runs the mutants of logic; the asan and debug lanes run the reference
and memory mutants, which only the sanitizers and the debug interpreter's
leak hunt can see.
"""

from __future__ import annotations

import argparse
import json
import os
import shlex
import signal
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

from mutants import MUTANTS, Mutant

REPO = Path(__file__).resolve().parents[1]
HYPOTHESIS_SEEDS = (0, 1, 2)
PROBE = "cmake.define.VEXA_FRAME_PROBE=ON"
WITH_SYMBOLS = "cmake.build-type=RelWithDebInfo"
# name: (interpreter, build options, test environment, pytest options), as
# tools/dev-inside.sh builds and tests the same lanes.
LANES = {
    "plain": ("python3", [PROBE], {}, []),
    "asan": ("python3", [PROBE, "cmake.define.VEXA_SANITIZE=ON", WITH_SYMBOLS],
             {"ASAN_OPTIONS": "detect_leaks=0:abort_on_error=1",
              "UBSAN_OPTIONS": "halt_on_error=1:print_stacktrace=1"}, ["--capture=sys"]),
    "debug": ("python3.14d", [PROBE, WITH_SYMBOLS], {}, []),
}


@dataclass
class Outcome:
    mutant: str
    verdict: str  # killed, survived, timeout, no build
    by: str  # the first failing test, or the reason
    seconds: float


@dataclass
class Commands:
    """How the worktree is built and tested: argument lists, run in the
    worktree (the tests in its test_folder); "{seed}" in a test argument
    takes each Hypothesis seed."""
    build: list[str]
    test: list[str]
    test_folder: str = "."
    env: dict[str, str] = field(default_factory=dict)
    seeds: tuple[int, ...] = HYPOTHESIS_SEEDS


def lane_commands(lane: str, state: Path, pytest_args: list[str]) -> Commands:
    interpreter, options, env, lane_args = LANES[lane]
    venv = state / f"venv-{lane}"
    if not (venv / "bin" / "python").exists():
        subprocess.run([interpreter, "-m", "venv", "--system-site-packages", str(venv)],
                       check=True)
    python = str(venv / "bin" / "python")
    env = dict(env)
    if lane == "asan":
        env["LD_PRELOAD"] = " ".join(
            subprocess.run(["g++", f"-print-file-name={name}"], capture_output=True, text=True,
                           check=True).stdout.strip() for name in ("libasan.so", "libubsan.so"))
    build = [python, "-m", "pip", "install", "--quiet", "--no-index", "--no-build-isolation",
             "--no-deps", "--disable-pip-version-check", "--root-user-action=ignore",
             "-C", f"build-dir={state / f'build-{lane}'}"]
    for option in options:
        build += ["-C", option]
    # From inside tests/, so that the installed package is the one imported.
    test = [python, "-m", "pytest", "-q", "-x", "-p", "no:cacheprovider",
            "--hypothesis-seed={seed}", *lane_args, *pytest_args]
    return Commands(build + ["."], test, "tests", env)


def run(argv: list[str], cwd: Path, env: dict[str, str],
        timeout: float | None = None) -> tuple[int | None, str]:
    """(exit status, or None when it timed out; output). The command runs in
    a session of its own, so that a timeout or a Ctrl-C ends everything it
    started, not only its first process."""
    process = subprocess.Popen(argv, cwd=cwd, env={**os.environ, **env}, text=True,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               start_new_session=True)
    try:
        output, _ = process.communicate(timeout=timeout)
        return process.returncode, output
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        return None, process.communicate()[0]
    except BaseException:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        raise


def first_failure(output: str) -> str:
    for line in output.splitlines():
        if line.startswith(("FAILED ", "ERROR ")):
            return line.split(" ", 2)[1]
    return output.strip().splitlines()[-1] if output.strip() else "?"


def run_tests(tree: Path, commands: Commands, timeout: float | None) -> tuple[str, str, float]:
    """(verdict, by, the slowest seed's seconds): the tests under each seed,
    stopping at the first that fails or times out."""
    env = {"PYTHONHASHSEED": "0", **commands.env}
    slowest = 0.0
    for seed in commands.seeds:
        argv = [a.replace("{seed}", str(seed)) for a in commands.test]
        started = time.monotonic()
        status, output = run(argv, tree / commands.test_folder, env, timeout)
        slowest = max(slowest, time.monotonic() - started)
        if status is None:
            return "timeout", f"over {timeout:.0f} s (seed {seed})", slowest
        if status < 0:  # the interpreter itself died: a crash is a kill too
            return "killed", f"crashed, {signal.Signals(-status).name} (seed {seed})", slowest
        if status != 0:
            return "killed", f"{first_failure(output)} (seed {seed})", slowest
    return "survived", "", slowest


def git(folder: Path, *args: str) -> str:
    return subprocess.run(["git", "-C", str(folder), *args], check=True, capture_output=True,
                          text=True).stdout.strip()


def committed_head(repo: Path) -> str:
    """HEAD, once the checkout is known to hold nothing uncommitted."""
    changes = git(repo, "status", "--porcelain")
    if changes:
        raise SystemExit("mutate: the checkout has uncommitted changes, which the mutants would "
                         "not see; commit or stash them first:\n" + changes)
    return git(repo, "rev-parse", "HEAD")


def prepare_tree(repo: Path, tree: Path, commit: str) -> None:
    """A worktree at `commit` with nothing else in it. It is kept between runs,
    so that files no mutant touched keep their times and rebuilds stay
    incremental."""
    git(repo, "worktree", "prune")  # one whose folder was deleted
    if (tree / ".git").exists():
        git(tree, "checkout", "--quiet", "--force", "--detach", commit)
        git(tree, "clean", "--quiet", "-d", "--force", "-x")
    else:
        tree.parent.mkdir(parents=True, exist_ok=True)
        git(repo, "worktree", "add", "--quiet", "--force", "--detach", str(tree), commit)


def occurrences(mutant: Mutant, tree: Path) -> int:
    """How often the mutant's text occurs in its file: once, or it is broken
    (text that moved, or a file that is gone)."""
    path = tree / mutant.path
    return path.read_text().count(mutant.before) if path.is_file() else 0


def check(mutant: Mutant, tree: Path) -> str:
    """The text of the mutant's file, in which the mutated text occurs once."""
    text = (tree / mutant.path).read_text()
    count = text.count(mutant.before)
    if count != 1:
        raise SystemExit(f"{mutant.name}: the text to mutate occurs {count} times in "
                         f"{mutant.path}")
    return text


def try_mutant(mutant: Mutant, tree: Path, commands: Commands, timeout: float) -> Outcome:
    started = time.monotonic()
    text = check(mutant, tree)
    (tree / mutant.path).write_text(text.replace(mutant.before, mutant.after))
    try:
        status, _ = run(commands.build, tree, commands.env)
        if status != 0:
            return Outcome(mutant.name, "no build", "compiler", time.monotonic() - started)
        verdict, by, _ = run_tests(tree, commands, timeout)
        return Outcome(mutant.name, verdict, by, time.monotonic() - started)
    finally:
        git(tree, "checkout", "--quiet", "--", mutant.path)


def print_table(outcomes: list[Outcome]) -> None:
    width = max(len(o.mutant) for o in outcomes)
    for o in outcomes:
        print(f"{o.mutant:{width}}  {o.verdict:9}  {o.seconds:5.0f} s  {o.by}")
    count = {v: sum(o.verdict == v for o in outcomes)
             for v in ("killed", "timeout", "survived", "no build")}
    print(f"{count['killed']} of {len(outcomes)} mutants killed, {count['timeout']} timed out, "
          f"{count['survived']} survived, {count['no build']} did not build")


def compare(before_file: str, after_file: str) -> int:
    before = {o["mutant"]: o["verdict"] for o in json.loads(Path(before_file).read_text())}
    after = {o["mutant"]: o["verdict"] for o in json.loads(Path(after_file).read_text())}
    lost = [m for m in before if before[m] == "killed" and after.get(m) != "killed"]
    for name in sorted(set(before) | set(after)):
        print(f"{name:40} {before.get(name, '-'):9} -> {after.get(name, '-')}")
    print(f"killed before, not after: {', '.join(lost) or 'none'}")
    return 1 if lost else 0


def parse_arguments(argv: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lane", choices=LANES, default="plain",
                        help="the build and test lane; it also picks the default mutants")
    parser.add_argument("--only", action="append",
                        help="run the mutants (of any lane) whose name or file contains this "
                             "text, as vexa_pp/ (repeatable)")
    parser.add_argument("--timeout", type=float,
                        help="seconds one test run of a mutant may take (default: five "
                             "times the baseline's slowest, and at least a minute)")
    parser.add_argument("--seeds", default=",".join(map(str, HYPOTHESIS_SEEDS)),
                        help="the Hypothesis seeds, comma-separated")
    parser.add_argument("--json", help="also write the outcomes to this file")
    parser.add_argument("--list", action="store_true",
                        help="list the mutants, flag those whose text does not occur exactly "
                             "once in the checkout, and stop (status 1 if any)")
    parser.add_argument("--compare", nargs=2, metavar=("BEFORE", "AFTER"))
    parser.add_argument("--repo", type=Path, default=REPO, help=argparse.SUPPRESS)
    parser.add_argument("--state", type=Path, help=argparse.SUPPRESS)
    # Stand-ins for the lane's commands (shell text, run in the worktree),
    # for testing the runner itself without a build.
    parser.add_argument("--build-command", help=argparse.SUPPRESS)
    parser.add_argument("--test-command", help=argparse.SUPPRESS)
    parser.add_argument("pytest_args", nargs="*", help="after --: more arguments to pytest")
    return parser.parse_args(argv)


def main(argv: list[str] | None = None, mutants: list[Mutant] = MUTANTS) -> int:
    args = parse_arguments(argv)
    if args.compare:
        return compare(*args.compare)
    if args.only:
        chosen = [m for m in mutants if any(text in m.name or text in m.path
                                                  for text in args.only)]
    else:
        chosen = [m for m in mutants if (m.lane == "plain") == (args.lane == "plain")]
    if args.list:
        broken = 0
        for m in chosen:
            print(f"{m.name:40} {m.path}: {m.what}")
            count = occurrences(m, args.repo.resolve())
            if count != 1:
                broken += 1
                print(f"  BROKEN: its text occurs {count} times in {m.path}")
        return 1 if broken else 0

    repo = args.repo.resolve()
    state = (args.state or repo / os.environ.get("VEXA_DEV_STATE", ".dev")).resolve() / "mutation"
    commit = committed_head(repo)
    tree = state / "tree"
    prepare_tree(repo, tree, commit)
    for m in chosen:  # every mutant must apply before any is run
        check(m, tree)
    if args.build_command or args.test_command:
        commands = Commands(["sh", "-c", args.build_command or "true"],
                            ["sh", "-c", args.test_command or "true"])
    else:
        commands = lane_commands(args.lane, state, args.pytest_args)
    commands.seeds = tuple(int(s) for s in args.seeds.split(","))

    print(f"baseline: building {commit[:12]} on the {args.lane} lane", file=sys.stderr, flush=True)
    status, output = run(commands.build, tree, commands.env)
    if status != 0:
        print(output[-4000:], file=sys.stderr)
        print("baseline: the unmodified tree does not build; no mutant was run", file=sys.stderr)
        return 2
    # The baseline has no time limit: it is what sets the scale of one.
    verdict, by, slowest = run_tests(tree, commands, None)
    if verdict != "survived":
        print(f"baseline: the unmodified suite fails ({by}); no mutant was run, since every "
              "one would count as killed", file=sys.stderr)
        return 2
    timeout = args.timeout or max(60.0, 5 * slowest)
    print(f"baseline: passes, slowest seed {slowest:.0f} s; timeout {timeout:.0f} s",
          file=sys.stderr, flush=True)

    outcomes = []
    try:
        for m in chosen:
            outcomes.append(try_mutant(m, tree, commands, timeout))
            o = outcomes[-1]
            print(f"{o.mutant}: {o.verdict} {o.by} ({o.seconds:.0f} s)", file=sys.stderr,
                  flush=True)
    finally:
        if outcomes:
            print_table(outcomes)
            if args.json:
                Path(args.json).write_text(json.dumps([o.__dict__ for o in outcomes], indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
