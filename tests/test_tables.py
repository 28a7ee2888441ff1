"""What the array readers add to the list readers (whose rows and errors they
share, see test_readers): arrays that own their memory, the kind argument,
and a read that lets other threads run and ends on Ctrl-C."""

import gc
import os

import pytest
from helpers import writes_while_interrupted

import vexa_pp
from vexa_pp.tables import KINDS, read_table

TABLE = "title\n#Time a b\n# stats\n0 1.5 -2\n1 2.5 -3\n2 3.5 -4\n"


def test_columns_outlive_the_dict_and_the_file(write_file):
    path = write_file(TABLE)
    columns = {kind: read_table(path, kind) for kind in KINDS}
    os.remove(path)
    first = columns["transport"]["a"]
    del columns
    gc.collect()
    first += 1.0  # writable memory of its own
    assert first.tolist() == [2.5, 3.5, 4.5]
    assert vexa_pp.read_table is read_table


@pytest.mark.parametrize("kind", ["list", "Transport", None, 3])
def test_unknown_kind(write_file, kind):
    with pytest.raises(ValueError, match="kind must be one of 'transport', 'thermo'"):
        read_table(write_file(TABLE), kind)


def test_ctrl_c_ends_an_endless_read_while_other_threads_run(tmp_path):
    # the writer, a Python thread, went on meanwhile
    assert writes_while_interrupted(tmp_path / "endless.dat", "#Time a\n", "1 2\n" * 1000,
                                    read_table) > 20
