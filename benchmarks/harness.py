"""Shared benchmark harness.

Timings on these 2-core VMs are noisy, so contenders run side by side in one
process, in interleaved rounds (the first contender rotates from round to
round), and the figures are medians over the rounds.

The first touch of every fresh memory page costs about 10 µs on these VMs, so
a call that allocates a few hundred MB can spend most of its time in page
faults.  Every benchmark therefore runs in two modes, each in a fresh child
process (a child starts from a clean heap, and one mode cannot leave memory
behind that the other reuses):

default  the interpreter as users run it.
warm     the cost of fresh pages is taken out of the timings:
         * glibc's mallopt(M_MMAP_MAX, 0) stops malloc from serving large
           blocks with their own mmap (those are unmapped on free and come
           back as fresh pages); everything is carved from the brk heap.
           That covers more than raising M_MMAP_THRESHOLD, whose maximum
           (32 MiB) is smaller than the buffers these benchmarks allocate.
         * mallopt(M_TRIM_THRESHOLD, INT_MAX) keeps freed memory at the top
           of the heap mapped instead of giving it back to the kernel.
         * PYTHONMALLOC=malloc: pymalloc takes its arenas straight from mmap
           and unmaps empty ones, so Python objects (floats, lists) would
           keep landing on fresh pages; with this setting they come from the
           glibc heap as well.
         * warm(nbytes), called by the benchmark after its setup, mallocs a
           ballast block, touches every page and frees it, so later
           allocations of up to that size reuse touched memory.
         The "faults" column (minor page faults per call) shows whether a
         mode worked: in warm mode it should stay near zero.

Targets are judged on the warm figures.

A benchmark is a module bench_NAME.py with a main(quick) that runs in the
parent process: it prepares inputs, runs its measuring functions in children
with in_modes()/child(), and prints the results with report().
"""

import contextlib
import ctypes
import gc
import json
import os
import resource
import statistics
import subprocess
import sys
import time
from pathlib import Path

MODES = ["default", "warm"]  # run.py may narrow this down
HERE = Path(__file__).resolve().parent
_mode = "default"  # the mode of this process, set in a child

# glibc mallopt parameters (malloc.h)
M_TRIM_THRESHOLD, M_MMAP_MAX = -1, -4


# ---- parent side ----------------------------------------------------------

def child(module, func, mode, **kwargs):
    """Run module.func(**kwargs) in a fresh interpreter in `mode`; return its
    JSON-able result."""
    env = dict(os.environ, PYTHONMALLOC="malloc" if mode == "warm" else "pymalloc")
    cmd = [sys.executable, str(HERE / "harness.py"), module, func, mode,
           json.dumps(kwargs)]
    out = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, text=True,
                         check=True).stdout
    return json.loads(out)


def in_modes(module, func, **kwargs):
    """{mode: result} for every selected mode."""
    return {mode: child(module, func, mode, **kwargs) for mode in MODES}


def fmt_time(seconds):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            break
    return f"{seconds / scale:.3g} {unit}"


def report(title, by_mode, rate_name, rate, ratios=()):
    """Print a side-by-side table.

    by_mode: {mode: {contender: stats from compare()}}
    rate:    stats -> float, shown under rate_name (MB/s, ns/elem, ...)
    ratios:  (label, numerator, denominator, target or None) tuples; a ratio
             is median(numerator) / median(denominator) in each mode, and a
             target is checked on the warm figure (the judged mode).
    """
    modes = list(by_mode)
    names = list(by_mode[modes[0]])
    reps = by_mode[modes[0]][names[0]]["reps"]
    print(f"\n{title}\nmedian of {reps} interleaved rounds per mode; "
          "faults = minor page faults per call")
    w = max(map(len, names + [r[0] for r in ratios])) + 2
    print(" " * w + "".join(f"{m + ' mode':>32}" for m in modes))
    print(f"{'':{w}}" + f"{'median':>12}{rate_name:>11}{'faults':>9}" * len(modes))
    for name in names:
        cells = (by_mode[m][name] for m in modes)
        print(f"{name:{w}}" + "".join(
            f"{fmt_time(s['median']):>12}{rate(s):>11.4g}{s['faults']:>9,}"
            for s in cells))
    for label, num, den, target in ratios:
        values = {m: by_mode[m][num]["median"] / by_mode[m][den]["median"]
                  for m in modes}
        line = f"{label:{w}}" + "".join(f"{values[m]:>11.2f}x{'':20}"
                                        for m in modes)
        if target is not None:
            judged = "warm" if "warm" in values else modes[0]
            verdict = "met" if values[judged] >= target else "MISSED"
            line = line.rstrip() + f"   target >= {target:g}x: {verdict} ({judged})"
        print(line.rstrip())


# ---- child side -----------------------------------------------------------

def warm(nbytes):
    """In warm mode, pre-touch nbytes of glibc heap that stays mapped after
    it is freed, for the allocations of the timed calls to reuse."""
    if _mode != "warm":
        return
    libc = ctypes.CDLL(None)
    libc.malloc.restype = ctypes.c_void_p
    libc.free.argtypes = [ctypes.c_void_p]
    block = libc.malloc(nbytes)
    if not block:
        raise MemoryError(f"cannot allocate a {nbytes}-byte ballast")
    ctypes.memset(block, 1, nbytes)
    libc.free(block)


def minor_faults():
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt


def rss_bytes():
    """Current resident set size."""
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def reset_peak_rss():
    """Set the RSS high-water mark to the current RSS.  (ru_maxrss cannot be
    used: it carries over the parent's peak across fork and exec.)"""
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def peak_rss_bytes():
    """High-water mark of the resident set size since reset_peak_rss()."""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    raise OSError("no VmHWM in /proc/self/status")


def compare(contenders, reps, warmup=1):
    """Time each zero-argument callable in interleaved rounds.

    The result of a call is dropped right after its timing, so freeing it is
    not timed and memory does not pile up between contenders.  The first
    `warmup` rounds are not counted.  Returns {name: stats}.
    """
    names = list(contenders)
    times = {n: [] for n in names}
    faults = {n: [] for n in names}
    gc_was_enabled = gc.isenabled()
    gc.disable()
    try:
        for r in range(warmup + reps):
            k = r % len(names)
            for name in names[k:] + names[:k]:
                f0 = minor_faults()
                t0 = time.perf_counter()
                result = contenders[name]()
                t1 = time.perf_counter()
                f1 = minor_faults()
                del result
                if r >= warmup:
                    times[name].append(t1 - t0)
                    faults[name].append(f1 - f0)
    finally:
        if gc_was_enabled:
            gc.enable()
    return {n: {"median": statistics.median(times[n]), "best": min(times[n]),
                "faults": int(statistics.median(faults[n])), "reps": reps}
            for n in names}


def _child_main(module, func, mode, kwargs):
    global _mode
    _mode = mode
    if mode == "warm":
        libc = ctypes.CDLL(None)
        if not (libc.mallopt(M_MMAP_MAX, 0)
                and libc.mallopt(M_TRIM_THRESHOLD, 2**31 - 1)):
            raise OSError("mallopt failed")
    sys.modules["harness"] = sys.modules[__name__]  # one copy of _mode
    # Keep stray prints off the result channel.
    with contextlib.redirect_stdout(sys.stderr):
        result = getattr(__import__(module), func)(**json.loads(kwargs))
    print(json.dumps(result))


if __name__ == "__main__":
    _child_main(*sys.argv[1:])
