"""LAMMPS files as a run leaves them: MSD tables turned into SI units, the
timestep of the fix that wrote a file, histogram blocks."""

import re

import pytest

from helpers import approx
from vexa_pp import lammps


LOG = """units {units}
timestep 5.0
group Na type 3
4 atoms in group Na
Created orthogonal box = (0 0 0) to (20 20 {z})
compute msdNa Na msd com yes
compute m2 all msd
fix msd all ave/time 10 1 10 c_msdNa[4] c_m2[4] c_msdNa[1] file msd.out
timestep 2.0
run 1000
"""


@pytest.mark.parametrize("units, seconds, area", [
    ("real", 2e-15, 1e-20), ("metal", 2e-12, 1e-20), ("nano", 2e-9, 1e-18)])
def test_msd_file_in_si(tmp_path, units, seconds, area):
    log = lammps.read_log(LOG.format(units=units, z=30))
    assert log.cubic_edge() is None and log.box_edges == (20.0, 20.0, 30.0)
    path = tmp_path / "msd.out"
    path.write_text("# Time-averaged data for fix msd\n"
                    "# TimeStep c_msdNa[4] c_m2[4] c_msdNa[1]\n100 0 0 0\n110 1.5 3 9\n")
    assert lammps.is_msd_file(path, log)
    table = lammps.read_msd_file(path, log)
    # The timestep of the run after the fix, steps counted from the first row;
    # columns after the group, the component [1] left out.
    assert table.time == approx([0.0, 10 * seconds])
    assert list(table.columns) == ["Na", "all"]
    assert table.columns["Na"] + table.columns["all"] == approx(
        [0.0, 1.5 * area, 0.0, 3 * area])


FIX = "fix m all ave/time 10 1 10 c_m[4] file {}"


@pytest.mark.parametrize("deck, expect", [
    (["timestep 5.0", "run 10", FIX.format("./msd.out"), "timestep 2.0", "run 90"], 2.0),
    # Moved next to the log; a run of no steps takes no time.
    (["timestep 5.0", FIX.format("out/msd.out"), "run 0", "timestep 2.0", "run 90"], 2.0),
    (["timestep 5.0", FIX.format("msd.out"), "  timestep 2.0", "run 90"], 2.0),
    (["timestep 5.0", FIX.format("msd.out"), "timestep ${dt}", "timestep 2.0", "run 90"], 2.0),
    (["timestep 2.0", FIX.format("other.out"), "run 90"], 2.0),  # the deck's only timestep
    (["timestep 5.0", FIX.format("msd.out"), "timestep ${dt}", "run 90"],
     "'timestep ${dt}' on line 3 of log.lammps is not a number"),
    (["timestep 5.0", FIX.format("msd.out"), "run 10", "timestep 2.0", "run 90"],
     "the timestep changes while fix m writes it: 5 (line 1), 2 (line 4)"),
    (["timestep 5.0", "run 10", FIX.format("other.out"), "timestep 2.0", "run 90"],
     "no fix in log.lammps writes msd.out"),
    ([FIX.format("msd.out"), "unfix m", "timestep 2.0", "run 90"], "no run in log.lammps after"),
])
def test_timestep_of_the_fix_writing_the_file(tmp_path, deck, expect):
    log = lammps.read_log("\n".join(deck))
    if isinstance(expect, float):
        assert log.timestep_for(tmp_path / "msd.out") == expect
    else:
        with pytest.raises(ValueError, match=re.escape(expect)):
            log.timestep_for(tmp_path / "msd.out")


# Line ends and separators as the reader takes them, beyond "\n" and " ".
@pytest.mark.parametrize("end, sep", [("\n", " "), ("\r\r\n", "\u00a0")])
def test_histogram_blocks(tmp_path, end, sep):
    peaks = [2, 4, 1]
    lines = ["# Histogrammed data for fix a", "# TimeStep Number-of-bins ...",
             "# Bin Coord Count Count/Total"]
    for block, peak in enumerate(peaks):
        lines.append(f"{1000 * (block + 1)} 6 100 0 90 120")
        lines += [f"{b + 1} {100 + b} {10 * (b == peak)} {0.1 * (b == peak) + 0.01}"
                  for b in range(6)]
    path = tmp_path / "angle.dat"
    path.write_text(end.join(lines).replace(" ", sep) + end)
    name, blocks = lammps.histogram_blocks(path)
    assert name == "Count/Total" and [b.step for b in blocks] == [1000, 2000, 3000]
    assert [b.coordinate.index(100 + p) for b, p in zip(blocks, peaks)] == peaks
    assert [max(range(6), key=b.value.__getitem__) for b in blocks] == peaks
    average = lammps.average_block(blocks)
    assert average.value == approx([0.01 + 0.1 * peaks.count(b) / 3 for b in range(6)])
