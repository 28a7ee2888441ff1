"""PNG figures of the command line's results, drawn with matplotlib, and the
names of their files.

matplotlib is an optional dependency (``pip install 'vexa_pp[plot]'``);
`require_matplotlib` says clearly when it is absent. A plot that fails is
told and named, never raised: the results it shows stand without it.
"""

from __future__ import annotations

import functools
import re
from collections.abc import Callable
from pathlib import Path
from typing import TYPE_CHECKING, TextIO

from .results import MsdFit, RunReport, shown
from .salts import Salt, SolutionState

if TYPE_CHECKING:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure

MISSING = ("--plot needs matplotlib, which is not installed: "
           "pip install 'vexa_pp[plot]' (or: pip install matplotlib)")


class PlotUnavailable(RuntimeError):
    pass


def require_matplotlib() -> None:
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.figure  # noqa: F401
    except ImportError as exc:
        raise PlotUnavailable(MISSING) from exc


def _figure(width: float, height: float) -> Figure:
    from matplotlib.figure import Figure

    return Figure(figsize=(width, height), layout="constrained")


def file_stem(text: str) -> str:
    return re.sub(r"[^A-Za-z0-9._-]+", "_", text).strip("_") or "run"


type Planned = list[tuple[Path, Callable[[], object]]]


def analysis_plots(reports: list[RunReport], directory: Path) -> Planned:
    """The plot files to write, one per MSD table of every run, each with the
    call that draws it. Runs whose directories share a name are numbered."""
    planned: Planned = []
    labels: set[str] = set()
    for run in reports:
        label = base = file_stem(run.path.resolve().name)
        suffix = 2
        while label in labels:
            label, suffix = f"{base}-{suffix}", suffix + 1
        labels.add(label)
        for table in dict.fromkeys(f.table for f in run.msd):
            fits = [f for f in run.msd if f.table == table]
            path = directory / f"{label}_{file_stem(Path(table).stem)}_msd.png"
            title = f"{shown(run.path.resolve().name)}: {table}"
            planned.append((path, functools.partial(msd_figure, fits, title, path)))
    return planned


def props_path(directory: Path, salt: Salt) -> Path:
    return directory / f"{file_stem(salt.symbol)}_properties.png"


def draw_all(planned: Planned, prog: str, err: TextIO) -> dict[Path, str]:
    """Draw every plot; the ones that failed, with why."""
    failed = {}
    for path, draw_one in planned:
        why = draw(draw_one, path, prog, err)
        if why is not None:
            failed[path] = why
    return failed


def draw(draw_one: Callable[[], object], path: Path, prog: str, err: TextIO) -> str | None:
    """None when the plot was written, else why not (also told on err)."""
    try:
        draw_one()
        return None
    except Exception as exc:  # noqa: BLE001 - whatever matplotlib raises, the report stands
        why = f"{type(exc).__name__}: {exc}"
        err.write(f"{prog}: error: plot {path}: {why}\n")
        return why


def msd_figure(fits: list[MsdFit], title: str, path: Path) -> Path:
    """MSD against time on log-log axes, each column's fitted window drawn bold
    over a shaded band, with the fitted line dashed; for an MSD over every
    time origin, a band about the line spans D's ±."""
    figure = _figure(7.0, 5.0)
    axes = figure.subplots()
    drawn = 0
    for number, fit in enumerate(fits):
        color = f"C{number % 10}"
        # Log axes show only positive values; a column without any is named
        # in the legend rather than drawn.
        points = [(t, m) for t, m in zip(fit.time, fit.msd) if t > 0 and m > 0]
        drawn += len(points)
        status = "" if fit.ok else " (no fit)"
        if not points:
            status = " (no positive value to draw)"
        axes.plot([t for t, _ in points], [m for _, m in points], color=color, lw=1.0,
                  alpha=0.6, label=f"{fit.column}{status}")
        if not fit.ok or not points:
            continue
        window = [(t, m) for t, m in points if fit.window_start <= t <= fit.window_end]
        axes.axvspan(fit.window_start, fit.window_end, color=color, alpha=0.08, lw=0)
        axes.plot([t for t, _ in window], [m for _, m in window], color=color, lw=3.0,
                  label=f"{fit.column} fitted window: D = ({fit.diffusion:.3e} ± "
                        f"{fit.error:.1e}) m²/s, log-log slope {fit.loglog_slope:.3f}")
        line = [(t, f) for t, f in zip(fit.fit_time, fit.fit) if t > 0 and f > 0]
        axes.plot([t for t, _ in line], [f for _, f in line], color="black", lw=1.0, ls="--")
        if fit.multi_origin and fit.error > 0:
            # The line's slope moved by D's ± (6 t times it): where the MSD
            # would run for a D at either end of its 68 % interval.
            edges = [(t, f - 6 * fit.error * t, f + 6 * fit.error * t) for t, f in line]
            axes.fill_between([t for t, _, _ in edges], [low for _, low, _ in edges],
                              [high for _, _, high in edges], color=color, alpha=0.25, lw=0)
    axes.plot([], [], color="black", lw=1.0, ls="--", label="fitted line")
    if drawn:
        axes.set_xscale("log")
        axes.set_yscale("log")
    axes.set_xlabel("time (s)")
    axes.set_ylabel("MSD (m²)")
    axes.set_title(title)
    axes.grid(True, which="both", alpha=0.3)
    axes.legend(fontsize="small", loc="upper left")
    figure.savefig(path, dpi=120)
    return path


def props_figure(salt: Salt, states: list[SolutionState], path: Path) -> Path:
    """Density, viscosity and (for KOH) conductivity against molality, one
    line per temperature."""
    panels: list[tuple[str, str]] = [("density", "density (kg/m³)"),
                                     ("viscosity", "viscosity (mPa·s)")]
    if salt.conductivity is not None:
        panels.append(("conductivity", "conductivity (S/m)"))
    figure = _figure(4.2 * len(panels), 4.0)
    axes_list: list[Axes] = list(figure.subplots(1, len(panels)))
    temperatures = list(dict.fromkeys(s.temperature for s in states))
    for axes, (name, label) in zip(axes_list, panels):
        for number, temperature in enumerate(temperatures):
            rows = sorted((s for s in states if s.temperature == temperature),
                          key=lambda s: s.molality)
            scale = 1e3 if name == "viscosity" else 1.0
            values = [getattr(s, name) for s in rows]
            axes.plot([s.molality for s in rows], [v * scale for v in values],
                      marker="o", ms=3, color=f"C{number % 10}", label=f"{temperature:g} K")
        axes.set_xlabel("molality (mol/kg)")
        axes.set_ylabel(label)
        axes.grid(True, alpha=0.3)
    axes_list[0].legend(fontsize="small")
    note = "" if salt.status == "published" else f" ({salt.status} parameters)"
    figure.suptitle(f"{salt.symbol}(aq), Laliberte model{note}")
    figure.savefig(path, dpi=120)
    return path
