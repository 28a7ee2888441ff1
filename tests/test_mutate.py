"""The mutation runner's own verdicts, with stand-in build and test commands
over a tiny repository: the baseline gate, timeouts apart from kills, and a
checkout that is never written to."""

import json
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools"))
import mutate  # noqa: E402
from mutants import Mutant  # noqa: E402

pytestmark = pytest.mark.skipif(shutil.which("git") is None, reason="the runner needs git")

MUTANTS = [Mutant("breaks", "f.txt", "ok", "bad", ""), Mutant("hangs", "f.txt", "ok", "slow", ""),
           Mutant("harmless", "f.txt", "x =", "y =", "")]
# Fails on "bad", hangs on "slow"; every run notes what the checkout holds.
TEST = "cat {repo}/f.txt >> {seen}; grep -q slow f.txt && sleep 60; grep -q ok f.txt"


@pytest.fixture
def repo(tmp_path):
    (tmp_path / "f.txt").write_text("x = ok\n")
    (tmp_path / ".gitignore").write_text("/.dev/\n/seen\n")
    for command in (["init", "-q"], ["add", "."], ["commit", "-qm", "start"]):
        subprocess.run(["git", "-c", "user.name=t", "-c", "user.email=t@t", *command],
                       cwd=tmp_path, check=True)
    return tmp_path


def runner(repo, test, *options):
    return mutate.main(["--repo", str(repo), "--seeds", "0", "--test-command",
                        test.format(repo=repo, seen=repo / "seen"), *options], MUTANTS)


def test_verdicts_come_from_a_worktree(repo, capsys):
    assert runner(repo, TEST, "--timeout", "3", "--json", str(repo / ".dev/out.json")) == 0
    outcomes = json.loads((repo / ".dev/out.json").read_text())
    assert {o["mutant"]: o["verdict"] for o in outcomes} == {
        "breaks": "killed", "hangs": "timeout", "harmless": "survived"}
    assert "1 of 3 mutants killed, 1 timed out, 1 survived" in capsys.readouterr().out
    # the checkout held its committed text throughout, and holds nothing new
    assert set((repo / "seen").read_text().splitlines()) == {"x = ok"}
    assert mutate.git(repo, "status", "--porcelain") == ""


def test_a_failing_baseline_stops_the_run(repo, capsys):
    assert runner(repo, "exit 1") == 2
    assert "no mutant was run" in capsys.readouterr().err


def test_uncommitted_changes_are_refused(repo):
    (repo / "f.txt").write_text("x = ok, edited\n")
    with pytest.raises(SystemExit, match="uncommitted"):
        runner(repo, TEST)


def test_list_flags_a_mutant_whose_text_moved(repo, capsys):
    moved = [*MUTANTS, Mutant("moved", "f.txt", "gone", "bad", "")]
    assert mutate.main(["--repo", str(repo), "--list"], moved) == 1
    out = capsys.readouterr().out
    assert out.count("BROKEN") == 1 and "moved" in out.split("BROKEN")[0].splitlines()[-2]
    assert mutate.main(["--repo", str(repo), "--list"], MUTANTS) == 0
