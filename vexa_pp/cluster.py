"""Runs analysed on a Dask cluster: one task per run directory.

The workers read each run's files where they sit (a file system they share
with the machine the command runs on) and send back the run's RunReport, so
that the report, the JSON document and the summary are those of a serial
run. Dask's distributed scheduler is an optional dependency: this module
imports it only when a cluster is asked for.
"""

from __future__ import annotations

import asyncio
import dataclasses
import json
import os
import time
import uuid
from collections.abc import Callable, Sequence
from pathlib import Path
from typing import TYPE_CHECKING, Any

from .analysis import _analyze_alone
from .results import Options, RunReport, shown

if TYPE_CHECKING:
    from distributed import Client

INSTALL = "pip install 'vexa_pp[cluster]' (Debian: apt install python3-distributed)"
CONNECT_TIMEOUT = 5.0  # s: long enough for a scheduler across a network, short for a typo


class ClusterUnavailable(Exception):
    """No scheduler to send the runs to: Dask missing, the scheduler file
    unreadable, or the scheduler not answering. The message says which."""


def connect(address: str | None = None, scheduler_file: Path | None = None,
            timeout: float = CONNECT_TIMEOUT) -> Client:
    """A client of the scheduler at address, or at the one scheduler_file
    names (the JSON file `dask scheduler --scheduler-file` writes).

    Raises ClusterUnavailable within about timeout seconds when the scheduler
    does not answer.
    """
    try:
        import distributed
    except ImportError:
        raise ClusterUnavailable(f"a Dask cluster needs Dask's distributed scheduler: {INSTALL}")
    if scheduler_file is not None:
        address = _address_in(scheduler_file, time.monotonic() + timeout)
    # TLS and the like, as Dask's configuration says
    security = distributed.Security()  # type: ignore[no-untyped-call]
    try:
        # A Client that cannot connect leaves its event-loop thread running
        # in this process, so the scheduler is first asked who it is from a
        # loop that ends with the question.
        args = security.get_connection_args("client")  # type: ignore[no-untyped-call]
        asyncio.run(asyncio.wait_for(_ask_identity(address, timeout, args), timeout))
        return distributed.Client(  # type: ignore[no-untyped-call]
            address, timeout=timeout, set_as_default=False, security=security)
    except (OSError, ValueError, ImportError) as exc:
        detail = f": {type(exc).__name__}: {exc}" if str(exc) else ""
        raise ClusterUnavailable(f"no Dask scheduler answers at {address} within {timeout:g} s"
                                 f"{detail}") from None


async def _ask_identity(address: str | None, timeout: float,
                        connection_args: dict[str, Any]) -> None:
    from distributed import rpc

    async with rpc(  # type: ignore[no-untyped-call]
            address, timeout=timeout, connection_args=connection_args) as scheduler:
        await scheduler.identity()  # which something else listening there may never answer


def _address_in(scheduler_file: Path, deadline: float) -> str:
    """The address in a scheduler file, which a scheduler started a moment
    ago may not have written yet: it is waited for until deadline (Dask's
    own wait for the file has no end)."""
    while not scheduler_file.exists() and time.monotonic() < deadline:
        time.sleep(0.1)
    try:
        address = json.loads(scheduler_file.read_bytes())["address"]
    except OSError as exc:
        raise ClusterUnavailable(f"cannot read the scheduler file {shown(scheduler_file)}: "
                                 f"{exc.strerror or exc}") from None
    except (ValueError, KeyError, TypeError):
        raise ClusterUnavailable(f"{shown(scheduler_file)} is not a Dask scheduler file "
                                 "(a JSON object with the scheduler's address)") from None
    if not isinstance(address, str):
        raise ClusterUnavailable(f"{shown(scheduler_file)}: the address is not a string")
    return address


def analyze_runs(paths: Sequence[Path], options: Options, client: Client,
                 progress: Callable[[Path], None] | None = None) -> list[RunReport]:
    """Every run, analysed by the cluster's workers, in the order given.

    A run whose worker died (Dask gives up on a task after
    ``distributed.scheduler.allowed-failures`` workers died running it) or
    that could not be run there is reported with that reason as its error;
    the other runs still count. progress is called with a run's path as each
    run comes back, in the order they finish. An exception raised meanwhile
    (Ctrl-C) cancels the tasks still on the cluster.
    """
    from distributed import as_completed

    here = os.getcwd()
    batch = uuid.uuid4().hex[:8]
    # One graph for all: the scheduler sees the whole batch at once, queues
    # it and hands each worker a run as it frees a thread.
    futures = client.map(
        _analyze_from, paths, [here] * len(paths), [options] * len(paths), pure=False,
        key=[f"vexa-pp-analyze-{k}-{batch}" for k in range(len(paths))])
    index = {future.key: k for k, future in enumerate(futures)}
    done: dict[int, RunReport] = {}
    try:
        for future in as_completed(futures, loop=client.loop):  # type: ignore[no-untyped-call]
            k = index[future.key]
            done[k] = _outcome(paths[k], future)
            future.release()  # the report is here: the cluster need not keep it
            if progress is not None:
                progress(paths[k])
    except BaseException:
        client.cancel(futures)  # type: ignore[no-untyped-call]
        raise
    return [done[k] for k in range(len(paths))]


def _outcome(path: Path, future: Any) -> RunReport:
    """The run's report, or the reason the cluster gave none."""
    from distributed import KilledWorker

    try:
        report: RunReport = future.result()
        return report
    except KilledWorker as exc:
        last = getattr(exc.last_worker, "address", exc.last_worker)
        reason = (f"the Dask workers analysing it died, {exc.allowed_failures + 1} in turn, the "
                  f"last at {last} (a crash, or the memory ran out: the workers' logs say which)")
    except (Exception, asyncio.CancelledError) as exc:  # noqa: BLE001 - named with the run
        reason = f"analysis on the cluster failed with {type(exc).__name__}: {exc}"
    # Dask's messages run over several lines, which the report keeps in one.
    return RunReport(path, error=f"{shown(path)}: {' '.join(reason.split())}")


def _analyze_from(path: Path, cwd: str, options: Options) -> RunReport:
    """One run on a worker, whose working directory need not be the
    caller's: a relative path is read from the caller's directory, and the
    report names it as the caller gave it."""
    if path.is_absolute():
        return _analyze_alone(path, options)
    where = Path(cwd, path)
    return _as_given(_analyze_alone(where, options), str(where), path)


def _as_given[T](value: T, where: str, path: Path) -> T:
    """value with every mention of the run directory as where (the path it
    was read at) put back as path."""
    inside = "" if str(path) == "." else f"{path}{os.sep}"

    def given(item: Any) -> Any:
        if isinstance(item, str):
            return item.replace(where + os.sep, inside).replace(where, str(path))
        if isinstance(item, Path):
            return path if str(item) == where else item
        if isinstance(item, list):  # the data of an MSD fit: floats alone, left as they are
            return item if item and isinstance(item[0], float) else [given(x) for x in item]
        if isinstance(item, tuple):
            return tuple(given(x) for x in item)
        if isinstance(item, dict):
            return {given(k): given(v) for k, v in item.items()}
        if dataclasses.is_dataclass(item) and not isinstance(item, type):
            return dataclasses.replace(item, **{f.name: given(getattr(item, f.name))
                                                for f in dataclasses.fields(item) if f.init})
        return item

    result: T = given(value)
    return result
