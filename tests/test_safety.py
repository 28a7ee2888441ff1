"""Long work and hostile files in real hands: Ctrl-C ends every long call,
reading is linear in the file whatever it holds, memory stays in proportion
to the file and the result, and no failure is reported as success.

The calls run in child processes: a signal, a memory limit or a deadlock
must not take the test session with it.
"""

import array
import os
import pty
import shutil
import signal
import subprocess
import sys
import textwrap
import time
from pathlib import Path

import pytest

from helpers import NACL_DENSITY, NACL_MW
from vexa_pp import _vexa_pp as module

NACL = (NACL_MW, *NACL_DENSITY)
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


def start(*pieces, **options):
    """A child Python running the pieces of code after importing the module as `m`.
    Ctrl-C raises KeyboardInterrupt there even when this process was started
    with SIGINT ignored (as a background job is)."""
    source = "\n".join(["import os, signal, sys", "from vexa_pp import _vexa_pp as m",
                        "signal.signal(signal.SIGINT, signal.default_int_handler)",
                        *map(textwrap.dedent, pieces)])
    return subprocess.Popen([sys.executable, "-c", source], stdout=subprocess.PIPE, text=True,
                            **options)


def outcome_of(call):
    return f"""
    try:
        {call}
        print("returned", flush=True)
    except BaseException as error:
        print(type(error).__name__, *error.args, flush=True)
    """


# (setup in the child, the call, seconds to let it run before Ctrl-C)
INTERRUPTIBLE = {
    "fifo whose writer stays": ("", "m.parse_vexa_file(FIFO)", 0.5),
    "fifo with no writer": ("", "m.parse_vexa_file(FIFO)", 0.5),
    "endless fifo": ("", "m.parse_vexa_file(FIFO)", 0.1),
    "/dev/zero": ("", "m.parse_vexa_file('/dev/zero')", 0.1),
    "terminal": ("", "m.parse_vexa_file('/dev/stdin')", 0.5),
    "range(10**12)": ("", "m.repacking_results(range(10**12))", 0.5),
    "root finding": ("y = [1.0] * 10**7", f"m.molarity_to_molality(y, 298.15, *{NACL}, 0.0, 2**63)",
                     0.5),
    "window search": ("t = [i * 1e-12 for i in range(1, 150001)]; y = [x * 1e-9 for x in t]",
                      "m.diff_calculator(t, y, 0.0, 2, 2**64 - 1, 0.1, 0.0)", 0.5),
    "model loop": ("T = [298.15] * 10**7",
                   "m.laliberte_viscosity(T, T, 58.4, 16.2, 1.3, 1.5, 0.0075, 30.8, 2.1)", 0.5),
}


@pytest.mark.parametrize("case", INTERRUPTIBLE)
def test_ctrl_c_ends_the_call(tmp_path, case):
    setup, call, run_for = INTERRUPTIBLE[case]
    fifo = str(tmp_path / "fifo")
    os.mkfifo(fifo)
    options, held, writer = {}, [], None
    if case == "fifo whose writer stays":
        held.append(os.open(fifo, os.O_RDWR))  # a writer that never closes
        os.write(held[0], b"#Time MSD\n1 2\n")
    elif case == "endless fifo":
        writer = subprocess.Popen(["sh", "-c", f"yes '1 2' > {fifo}"])
    elif case == "terminal":
        controller, terminal = pty.openpty()
        held += [controller, terminal]
        options["stdin"] = terminal
    child = start(f"FIFO = {fifo!r}\n{setup}\nprint('ready', flush=True)", outcome_of(call),
                  **options)
    try:
        assert child.stdout.readline() == "ready\n"
        time.sleep(run_for)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, _ = child.communicate(timeout=20)
        assert out == "KeyboardInterrupt\n"
        assert time.monotonic() - sent < 1.0
    finally:
        child.kill()
        if writer:
            writer.kill()
            writer.wait()
        for fd in held:
            os.close(fd)


@pytest.mark.parametrize("tolerance", ["0.0", "-1.0", "nan"])
def test_a_search_with_no_tolerance_to_meet_ends(tolerance):
    # each search ends at the state its step no longer changes, with the b
    # that any budget beyond that state gives
    targets = [0.5, 1.0, 3.0, 5.2, 1e-9]
    call = f"m.molarity_to_molality({targets}, 298.15, *{NACL}, float({tolerance!r}), 2**63)"
    child = start(f"print(repr({call}), flush=True)")
    try:
        out, _ = child.communicate(timeout=60)
    finally:
        child.kill()
    bounded = module.molarity_to_molality(targets, 298.15, *NACL, float(tolerance), 10**5)
    assert out == repr(bounded) + "\n"


def test_interrupted_open_is_not_an_os_error(tmp_path):
    # A handler that does not raise lets the call go on (and retry the
    # system call), as Python's own calls do.
    fifo = str(tmp_path / "fifo")
    os.mkfifo(fifo)
    child = start(f"""
        signal.signal(signal.SIGUSR1, lambda *_: print("handled", flush=True))
        print("ready", flush=True)
    """, outcome_of(f"m.parse_vexa_file({fifo!r})"))
    try:
        assert child.stdout.readline() == "ready\n"
        time.sleep(0.3)
        child.send_signal(signal.SIGUSR1)
        assert child.stdout.readline() == "handled\n"
        # Never blocks: with no reader left, the test fails rather than hangs.
        for _ in range(100):
            try:
                writer = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
                break
            except OSError:  # between the reader's interrupted open and its retry
                time.sleep(0.05)
        else:
            pytest.fail("the reader gave up on the FIFO")
        os.write(writer, b"#Time MSD\n1 2\n")
        os.close(writer)
        assert child.communicate(timeout=20)[0] == "returned\n"
    finally:
        child.kill()


def timed_parse(path):
    started = time.perf_counter()
    module.parse_vexa_file(path)
    return time.perf_counter() - started


@pytest.mark.parametrize("hostile", [
    lambda: "#Time" * 800_000,                    # one line of header marks
    lambda: " " * 2_000_000 + "#Time" * 400_000,  # each behind a long indent
], ids=["marks", "indented marks"])
def test_header_search_is_linear(write_file, hostile):
    ordinary = write_file("#Time MSD\n" + "1.0 2.0\n" * 500_000, "ordinary.dat")
    crafted = write_file(hostile(), "hostile.dat")
    # medians of interleaved rounds: the two are the same size
    rounds = [(timed_parse(ordinary), timed_parse(crafted)) for _ in range(3)]
    usual, worst = (sorted(times)[1] for times in zip(*rounds))
    assert worst < 5 * usual + 0.05


READERS = {  # lines before the names, and the reader
    "parse_vexa_file": ("#Time", ""),
    "parse_thermoprop": ("", "# title\n"),
    "parse_bond_angle": ("", "# title\n# stats\n"),
}


def limited(code, megabytes):
    """Run code in a child whose memory is limited to `megabytes` beyond what
    it holds at the start; under AddressSanitizer, whose shadow memory an
    address-space limit would count, by the sanitizer's own limit instead."""
    env = dict(os.environ)
    if UNDER_ASAN:
        env["ASAN_OPTIONS"] = (env.get("ASAN_OPTIONS", "") +
                               ":allocator_may_return_null=1:max_allocation_size_mb=%d"
                               % megabytes)
        prefix = ""
    else:
        prefix = f"""
        import resource
        with open("/proc/self/statm") as statm:
            used = int(statm.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
        resource.setrlimit(resource.RLIMIT_AS, (used + ({megabytes} << 20),) * 2)
        """
    child = start(prefix, code, env=env)
    return child.communicate(timeout=300)[0].strip()


HOSTILE_LAYOUTS = {  # (names, the lines under them)
    "no row, many lines": lambda: (" ".join(f"c{k}" for k in range(10_000)), "x\n" * 1_000_000),
    "ten million names": lambda: ("a " * 10_000_000, "1\n" * 1_000),
    "blank lines": lambda: ("a b c d", "\n" * 100_000_000),
}


@pytest.mark.parametrize("reader", READERS)
@pytest.mark.parametrize("layout", HOSTILE_LAYOUTS)
def test_memory_follows_the_file(write_file, reader, layout):
    mark, before = READERS[reader]
    names, lines = HOSTILE_LAYOUTS[layout]()
    path = write_file(f"{before}{mark} {names}\n# step\n{lines}")
    result = limited(outcome_of(f"print(len(m.{reader}({path!r})))"), 400)
    assert result.split("\n")[-1] == "returned"


@pytest.mark.parametrize("doing", ["read", "parse"])
def test_out_of_memory_names_the_file_and_its_size(tmp_path, doing):
    path = tmp_path / "table.dat"
    if doing == "read":
        with open(path, "wb") as sparse:
            sparse.truncate(20 << 30)
    elif UNDER_ASAN:
        pytest.skip("the sanitizer limits single allocations, not their sum")
    else:  # read in full, but four million distinct names do not fit beside it
        path.write_text("#Time " + " ".join(f"c{k}" for k in range(4_000_000)))
    result = limited(outcome_of(f"m.parse_vexa_file({str(path)!r})"), 200)
    size = path.stat().st_size
    assert result == f"MemoryError {path}: not enough memory to {doing} {size} bytes"


def interrupt(*_):
    raise KeyboardInterrupt


def test_ctrl_c_from_a_length_ends_the_call():
    # any other error from __len__ only leaves the length unknown
    with pytest.raises(KeyboardInterrupt):
        module.repacking_results(type("Interrupting", (list,), {"__len__": interrupt})([1.0]))


def test_a_class_named_like_an_array_type_is_iterated():
    spoof = type("numpy.ndarray", (array.array,), {"__iter__": lambda self: iter([5.0])})
    assert module.repacking_results(spoof("d", [1.0, 2.0])) == (5.0, 0.0, 1)


def test_first_use_reentered_from_an_import_does_not_deadlock():
    # The first wrong-type error imports collections.abc; a finder that
    # calls the module during that import re-enters the one-time set-up.
    child = start(outcome_of("""
        class Finder:
            busy = False
            def find_spec(self, name, path=None, target=None):
                if not Finder.busy:
                    Finder.busy = True
                    try:
                        m.repacking_results(5)
                    except TypeError as inner:
                        print("inner", inner, flush=True)
        for name in ("collections", "collections.abc"):
            sys.modules.pop(name, None)
        sys.meta_path.insert(0, Finder())
        m.repacking_results(5)"""))
    try:
        out = child.communicate(timeout=30)[0]
    finally:
        child.kill()
    message = "'int' object is not an instance of 'Sequence'"
    assert out == f"inner {message}\nTypeError {message}\n"


def dev_in_a_stand_in_root(tmp_path, command):
    """./dev COMMAND run from a checkout under tmp_path. This environment,
    seen through bind mounts, stands in for both the host (whose / must be
    a mount point for ./dev's own unshare) and the root (VEXA_DEV_ROOT)."""
    checkout, host, root = (tmp_path / name for name in ("checkout", "host", "root"))
    for folder in (checkout / "tools", host, root):
        folder.mkdir(parents=True, exist_ok=True)
    shutil.copy(Path(__file__).parents[1] / "dev", checkout)
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    env["VEXA_DEV_ROOT"] = str(root)
    return checkout, subprocess.run(
        ["unshare", "-m", "--propagation", "unchanged", "sh", "-c",
         f"mount --rbind / {host} && exec chroot {host} sh -c "
         f"'mount --rbind / {root} && cd {tmp_path} && exec {checkout}/dev {command}'"],
        env=env, capture_output=True, text=True, timeout=60)


needs_mounts = pytest.mark.skipif(os.geteuid() != 0 or not shutil.which("unshare"),
                                  reason="needs root to mount")


@needs_mounts
def test_dev_works_from_a_checkout_under_tmp(tmp_path):
    # ./dev mounts a fresh /tmp in the root it enters; a checkout under the
    # host's /tmp must still be visible there.
    checkout, run = dev_in_a_stand_in_root(tmp_path, "run pwd")
    assert (run.returncode, run.stdout) == (0, f"{checkout}\n"), run.stderr


@needs_mounts
def test_dev_analyze_sees_runs_outside_the_checkout(tmp_path):
    (tmp_path / "data" / "run").mkdir(parents=True)
    (tmp_path / "data" / "run" / "log.lammps").touch()
    # In place of the analysis: list the run, write into the plot folder.
    stub = tmp_path / "checkout" / "tools" / "dev-inside.sh"
    stub.parent.mkdir(parents=True)  # ./dev runs it from there
    stub.write_text('#!/bin/sh\nshift\nls "$1"\ntouch "${2#--plot=}/msd.png"\n')
    stub.chmod(0o755)
    _, run = dev_in_a_stand_in_root(tmp_path, "analyze data/run --plot=data/plots")
    assert (run.returncode, run.stdout) == (0, "log.lammps\n"), run.stderr
    assert (tmp_path / "data" / "plots" / "msd.png").is_file()
