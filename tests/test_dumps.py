"""The dump reader and the multi-origin MSD against one model: random walks
written as dump text in every coordinate style, and the MSD averaged over all
origins directly."""

import gzip
import os
import re
import threading
from pathlib import Path

import numpy as np
import pytest
from helpers import writes_while_interrupted

import vexa_pp
from vexa_pp import _arrays
from vexa_pp.dumps import read_dump
from vexa_pp.multi_origin_msd import mean_msd, per_atom_msd

LOW, EDGE = np.array([-1.0, 0.5, 2.0]), np.array([10.0, 12.0, 9.0])
STYLES = {"unwrapped": "xu yu zu", "images": "x y z ix iy iz", "scaled_unwrapped": "xsu ysu zsu",
          "scaled_images": "xs ys zs ix iy iz", "scaled": "xs ys zs", "wrapped": "x y z"}


def walks(atoms, frames, step=0.5, seed=0):
    """Positions (atoms, 3, frames) starting inside the box."""
    rng = np.random.default_rng(seed)
    steps = rng.normal(scale=step, size=(atoms, 3, frames))
    steps[:, :, 0] = LOW + rng.uniform(size=(atoms, 3)) * EDGE
    return np.cumsum(steps, axis=2)


def dump_text(positions, style="unwrapped", shuffle=True, tilts=None, digits=12):
    """The dump LAMMPS would write: extra columns around the ones read, atoms
    in a new order every frame (ids 3, 6, 9, ...; types alternate 1, 2)."""
    atoms, _, frames = positions.shape
    rng = np.random.default_rng(1)
    bounds = "ITEM: BOX BOUNDS pp pp pp\n" + "".join(f"{lo} {lo + e}\n" for lo, e in zip(LOW, EDGE))
    if tilts is not None:
        xy, xz, yz = tilts
        shift = [(min(0, xy, xz, xy + xz), max(0, xy, xz, xy + xz)), (min(0, yz), max(0, yz)), (0, 0)]
        bounds = "ITEM: BOX BOUNDS xy xz yz pp pp pp\n" + "".join(
            f"{lo + a} {lo + e + b} {t}\n" for lo, e, (a, b), t in zip(LOW, EDGE, shift, tilts))
    text = []
    for f in range(frames):
        r = positions[:, :, f]
        image = np.floor((r - LOW) / EDGE).astype(int)
        wrapped = r - image * EDGE
        values = {"xu yu zu": r, "x y z": wrapped, "xsu ysu zsu": (r - LOW) / EDGE,
                  "xs ys zs": (wrapped - LOW) / EDGE}[STYLES[style].removesuffix(" ix iy iz")]
        text.append(f"ITEM: TIMESTEP\n{100 * f}\nITEM: NUMBER OF ATOMS\n{atoms}\n{bounds}"
                    f"ITEM: ATOMS id mol type {STYLES[style]} q\n")
        for i in rng.permutation(atoms) if shuffle else range(atoms):
            images = " ".join(map(str, image[i])) + " " if "ix" in STYLES[style] else ""
            text.append(f"{3 * i + 3} 7 {1 + i % 2} {' '.join(f'{v:.{digits}f}' for v in values[i])} "
                        f"{images}-0.8\n")
    return "".join(text)


def write(tmp_path, text, name="run.lammpstrj"):
    path = tmp_path / name
    (path.write_bytes if isinstance(text, bytes) else path.write_text)(text)
    return str(path)


def direct_msd(positions):
    """The average over every origin, one lag at a time."""
    frames = positions.shape[2]
    out = np.zeros(positions.shape[::2])
    for m in range(1, frames):
        out[:, m] = ((positions[:, :, m:] - positions[:, :, :-m]) ** 2).sum(axis=1).mean(axis=1)
    return out


# ---- reading ------------------------------------------------------------------


@pytest.mark.parametrize("style", STYLES)
def test_every_style_reads_back_the_walks(tmp_path, style):
    truth = walks(5, 40)
    dump = read_dump(write(tmp_path, dump_text(truth, style)))
    np.testing.assert_array_equal(dump.timesteps, 100 * np.arange(40))
    np.testing.assert_array_equal(dump.ids, 3 * np.arange(1, 6))
    np.testing.assert_array_equal(dump.types, [1, 2, 1, 2, 1])
    np.testing.assert_allclose(dump.positions, truth, rtol=0, atol=1e-9)
    assert dump.positions.flags.c_contiguous and dump.positions.dtype == np.float64
    np.testing.assert_allclose(dump.edges, np.tile(EDGE, (40, 1)))
    np.testing.assert_allclose(dump.volumes, np.prod(EDGE))
    jumps = [n for n in dump.notes if "smallest jump" in n]
    assert len(jumps) == (style in ("scaled", "wrapped"))


@pytest.mark.parametrize("digits", [0, 1, 4, 6, 9])
def test_coordinates_are_the_nearest_doubles_of_their_text(tmp_path, digits):
    truth = walks(8, 6, step=40) - 100  # one to three integer digits, either sign
    dump = read_dump(write(tmp_path, dump_text(truth, digits=digits)))
    expected = np.vectorize(lambda v: float(f"{v:.{digits}f}"))(truth)
    assert dump.positions.tobytes() == expected.tobytes()


def test_selected_types_gzip_and_concatenated_members(tmp_path):
    truth = walks(6, 12)
    text = dump_text(truth).encode()
    half = text.index(b"ITEM: TIMESTEP", len(text) // 2)
    packed = gzip.compress(text[:half]) + gzip.compress(text[half:])
    dump = read_dump(write(tmp_path, packed, "run.lammpstrj.gz"), types=[2])
    np.testing.assert_array_equal(dump.ids, [6, 12, 18])
    np.testing.assert_allclose(dump.positions, truth[1::2], atol=1e-9)
    assert read_dump(write(tmp_path, gzip.compress(text)[:-9], "cut.gz")).frames in (11, 12)
    with pytest.raises(TypeError):
        read_dump(write(tmp_path, text), types=[1.5])  # not type 1


@pytest.mark.parametrize("style", ["unwrapped", "wrapped"])
def test_a_restarts_repeated_frames_are_left_out_with_a_note(tmp_path, style):
    truth = walks(4, 20)
    frames = dump_text(truth, style).split("ITEM: TIMESTEP")[1:]
    repeats = [0, 7, 8, 19]  # a restart appends the state it began from again
    text = "".join(("ITEM: TIMESTEP" + frame) * (2 if f in repeats else 1)
                   for f, frame in enumerate(frames))
    dump = vexa_pp.read_dump(write(tmp_path, text))
    np.testing.assert_array_equal(dump.timesteps, 100 * np.arange(20))
    np.testing.assert_allclose(dump.positions, truth, atol=1e-9)
    assert any("4 frames repeat the timestep of the frame before" in n for n in dump.notes)


def test_a_pipe_of_unknown_length_grows_the_rows(tmp_path):
    truth = walks(3, 150)
    fifo = tmp_path / "run.fifo"
    os.mkfifo(fifo)
    writer = threading.Thread(target=lambda: fifo.write_text(dump_text(truth, "images")))
    writer.start()
    dump = read_dump(fifo)
    writer.join()
    np.testing.assert_allclose(dump.positions, truth, atol=1e-9)


@pytest.mark.parametrize("cut", ["ITEM: NUMBER", "ITEM: ATOMS", "row", "mid-number", "mid-item",
                                 "mid-columns"])
def test_truncated_last_frame_is_dropped_with_a_note(tmp_path, cut):
    text = dump_text(walks(4, 5))
    last = text.rindex("ITEM: TIMESTEP")
    end = {"ITEM: NUMBER": text.index("ITEM: NUMBER", last), "ITEM: ATOMS": text.index("ITEM: ATOMS", last),
           "row": text.rindex("\n", 0, len(text) - 1) + 1, "mid-number": len(text) - 9,
           "mid-item": text.index("ITEM: NUMBER", last) + 8,
           "mid-columns": text.index("ITEM: ATOMS", last) + 20}[cut]
    dump = read_dump(write(tmp_path, text[:end]))
    assert dump.frames == 4 and any("timestep 400" in n and "dropped" in n for n in dump.notes)


def test_triclinic_box_unwrapped_only(tmp_path):
    truth = walks(3, 4)
    dump = read_dump(write(tmp_path, dump_text(truth, tilts=(1.5, -0.5, 2.0))))
    np.testing.assert_allclose(dump.positions, truth, atol=1e-9)
    np.testing.assert_allclose(dump.edges[0], EDGE)
    np.testing.assert_allclose(dump.tilts[0], [1.5, -0.5, 2.0])
    with pytest.raises(ValueError, match="triclinic and the positions are not unwrapped"):
        read_dump(write(tmp_path, dump_text(truth, "images", tilts=(1.5, 0, 0))))


def test_a_large_jump_between_frames_warns(tmp_path):
    truth = walks(2, 6)
    truth[1, 0, 3:] += 0.4 * EDGE[0]
    with pytest.warns(RuntimeWarning, match=r"1 moves of more than a third.*atom id 6 between "
                                            r"timesteps 200 and 300"):
        read_dump(write(tmp_path, dump_text(truth, "wrapped")))


def test_an_atom_changing_type_warns_and_keeps_its_group(tmp_path):
    truth = walks(2, 4)
    text = dump_text(truth, shuffle=False)
    at = text.rindex("\n3 7 1 ") + 1  # atom 3 in the last frame: type 1 -> 2
    text = text[:at] + "3 7 2 " + text[at + 6:]
    with pytest.warns(RuntimeWarning, match=r"1 rows give an atom another type.*atom id 3 at "
                                            r"timestep 300, type 1 -> 2"):
        dump = read_dump(write(tmp_path, text), types=[1])
    np.testing.assert_array_equal(dump.ids, [3])
    np.testing.assert_allclose(dump.positions, truth[:1], atol=1e-9)


# The text of walks(2, 2) unshuffled: frame 0 is lines 1-11 (its atom rows 10
# and 11), frame 1 lines 12-22 (ITEM: ATOMS at 20, rows 21 and 22).
ERRORS = [
    (lambda t: t.replace("id mol type", "mol type", 1), 0, 9, "the atoms have no 'id' column"),
    (lambda t: t.replace("xu yu zu", "vx vy vz", 1), 0, 9, "the atoms have no positions"),
    (lambda t: re.sub(r"(?m)^3 7 1 \S+", "3 7 1 1.2.3", t, count=1), 0, 10,
     "'1.2.3' in column 'xu' is not a number"),
    (lambda t: re.sub(r"(?m)^3 7 1", "3 7 x", t, count=1), 0, 10, "'x' in column 'type' is not an integer"),
    (lambda t: t[:t.rindex("\n3 7")] + "\n99 7" + t[t.rindex("\n3 7") + 4:], 100, 21,
     "atom id 99 is not in the first frame"),
    (lambda t: t[:t.rindex("\n3 7")] + "\n6 7" + t[t.rindex("\n3 7") + 4:], 100, 22,
     "atom id 6 appears twice in the frame"),
    (lambda t: t[:t.rindex("\n2\n")] + "\n3\n" + t[t.rindex("\n2\n") + 3:], 100, 20,
     "3 atoms where the first frame has 2"),
    (lambda t: t[:t.rindex("zu q")] + "zu" + t[t.rindex("zu q") + 4:], 100, 20,
     "the atom columns (id mol type xu yu zu) differ from the first frame's"),
    (lambda t: re.sub(r"(?m)^6 7 2 \S+ \S+ \S+ -0.8$", "6 7 2", t, count=1), 0, 11,
     "the row has 3 fields where the header names 7 columns"),
    (lambda t: t.replace("ITEM: TIMESTEP\n100", "ITEM: TIMESTEP\n1e2"), 0, 13,
     "'1e2' after ITEM: TIMESTEP is not a non-negative integer"),
    (lambda t: "hello\n" + t, None, 1, "an 'ITEM:' line was expected, found 'hello'"),
    (lambda t: t.replace("pp pp pp", "abc origin pp pp pp", 1), 0, 5, "a general triclinic box"),
    (lambda t: t.replace("-1.0 9.0", "-1.0 inf", 1), 0, 8, "the box has no finite positive extent along x"),
    (lambda t: re.sub(r"(?m)^3 7 1 \S+", "3 7 1 nan", t, count=1), 0, 10,
     "atom id 3 is at (NaN, "),
    (lambda t: re.sub(r"(?s)(.*\n6 7 2 )\S+", r"\1-inf", t), 100, 22, "atom id 6 is at (-inf, "),
    (lambda t: re.sub(r"(?m)^6 7 2 .*\n", "", t, count=1), 0, 11,
     "an item line after 1 of the frame's 2 atom rows"),
]


@pytest.mark.parametrize("edit, timestep, line, message", ERRORS)
def test_errors_name_the_file_the_timestep_and_the_line(tmp_path, edit, timestep, line, message):
    path = write(tmp_path, edit(dump_text(walks(2, 2), shuffle=False)))
    where = f"{path}{'' if timestep is None else f', timestep {timestep}'}, line {line}: "
    with pytest.raises(ValueError) as raised:
        read_dump(path)
    assert str(raised.value).startswith(where + message)


@pytest.mark.parametrize("text, error, message", [
    ("", ValueError, ": no frame"),
    (dump_text(walks(2, 1)), ValueError, ": no atom of the selected types in the first frame "
                                         "(types present: 1, 2)"),
    (None, OSError, ": No such file or directory (os error 2)"),
    (dump_text(walks(2, 1)).replace("ATOMS\n2\n", f"ATOMS\n{2 ** 63 - 1}\n"), ValueError,
     f": the text ends inside the first frame (timestep 0, after 2 of {2 ** 63 - 1} atoms)"),
])
def test_file_level_errors(tmp_path, text, error, message):
    path = write(tmp_path, text) if text is not None else str(tmp_path / "absent")
    with pytest.raises(error, match=re.escape(path + message)):
        read_dump(path, types=[5] if text else None)


@pytest.mark.parametrize("ids", [[-2 ** 63, 2 ** 63 - 1, -1], [2 ** 62 + 5, 2 ** 62, 7]])
def test_ids_and_timesteps_span_int64(tmp_path, ids):
    text = dump_text(walks(3, 2), shuffle=False).replace("TIMESTEP\n100\n", f"TIMESTEP\n{2 ** 62}\n")
    for i, new in enumerate(ids):  # the ids written are 3, 6, 9
        text = re.sub(rf"(?m)^{3 * i + 3} 7", f"{new} 7", text)
    dump = read_dump(write(tmp_path, text))
    np.testing.assert_array_equal(dump.ids, sorted(ids))
    np.testing.assert_array_equal(dump.timesteps, [0, 2 ** 62])
    with pytest.raises(ValueError, match=f"'{2 ** 63}' in column 'id' is not an integer"):
        read_dump(write(tmp_path, text.replace(str(max(ids)), str(2 ** 63))))


def test_memory_needed_is_refused_before_reading(tmp_path):
    # The first frame and a hole: the file's size promises billions of frames.
    path = write(tmp_path, dump_text(walks(2, 1)))
    os.truncate(path, 1 << 40)
    with pytest.raises(MemoryError, match=r"run\.lammpstrj: keeping 2 atoms over about \d+ frames "
                                          r"needs \d+ bytes of coordinates, more than the"):
        read_dump(path)


def test_ctrl_c_ends_an_endless_read_while_other_threads_run(tmp_path):
    frame = dump_text(walks(50, 1))
    # the writer, a Python thread, went on meanwhile
    assert writes_while_interrupted(tmp_path / "endless.lammpstrj", "", frame, read_dump) > 20


# ---- the multi-origin MSD ----------------------------------------------------------


@pytest.mark.parametrize("atoms, frames", [(1, 1), (1, 2), (3, 3), (4, 17), (5, 100), (2, 257)])
def test_fft_msd_equals_the_direct_average_over_origins(atoms, frames):
    positions = walks(atoms, frames, seed=frames) + 1e3  # far from the origin, as in a big box
    expected = direct_msd(positions)
    got = per_atom_msd(positions)
    assert got.shape == (atoms, frames) and (got[:, 0] == 0).all()
    np.testing.assert_allclose(got, expected, rtol=1e-11, atol=0)
    picked = [0, atoms - 1, 0]
    np.testing.assert_allclose(mean_msd(positions, picked), expected[picked].mean(axis=0), rtol=1e-11)
    np.testing.assert_allclose(mean_msd(positions), expected.mean(axis=0), rtol=1e-11)


@pytest.mark.parametrize("call, error, message", [
    (lambda: per_atom_msd(np.zeros((2, 2, 5))), ValueError, "shape"),
    (lambda: _arrays.per_atom_msd(np.zeros((2, 3, 0))), ValueError, "no frame"),
    (lambda: _arrays.per_atom_msd(np.zeros((2, 3, 4), dtype=np.float32)), TypeError, "float64"),
    (lambda: mean_msd(np.zeros((2, 3, 4)), [2]), ValueError, "atom index 2 is out of range"),
    (lambda: _arrays.per_atom_msd(np.zeros((2, 3, 4))[:, :, ::2]), TypeError, "C-contiguous"),
])
def test_msd_argument_errors(call, error, message):
    with pytest.raises(error, match=message):
        call()


SAMPLE_DUMP = Path(__file__).resolve().parents[1] / "vexa_pp/samples/lammps-run/nacl_spce.lammpstrj.gz"


@pytest.mark.parametrize("source, select", [("walks", "all"), ("sample", "all"),
                                            ("sample", "type 3 4")])
def test_agrees_with_mdanalysis_direct_average(tmp_path, source, select):
    # Where scipy cannot load (the debug interpreter), neither can the analysis.
    einstein = pytest.importorskip("MDAnalysis.analysis.msd", exc_type=ImportError).EinsteinMSD
    import MDAnalysis as mda
    path = (write(tmp_path, dump_text(walks(12, 60), shuffle=False)) if source == "walks"
            else str(SAMPLE_DUMP))
    universe = mda.Universe(path, format="LAMMPSDUMP", lammps_coordinate_convention="unwrapped")
    theirs = einstein(universe, select=select, msd_type="xyz", fft=False).run().results.timeseries
    dump = read_dump(path)
    kinds = [int(t) for t in select.split()[1:]] or np.unique(dump.types)
    ours = mean_msd(dump.positions, np.flatnonzero(np.isin(dump.types, kinds)))
    np.testing.assert_allclose(ours[1:], theirs[1:], rtol=1e-6)
