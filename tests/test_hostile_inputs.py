"""Arguments and files that try to trip the binding layer and the readers.

Each must end in a clear Python exception or the right result: never a crash,
a hang or a wrong value.
"""

import ctypes
import os

import pytest

from vexa_pp import _vexa_pp as module

TABLE = "# title\n#Time MSD\n" + "".join(f"{i} {i * 0.5}\n" for i in range(20000))


def vectorcall(function, positional, keywords):
    """Call through the vector-call protocol with a hand-made keyword-names tuple."""
    call = ctypes.pythonapi.PyObject_Vectorcall
    call.restype = ctypes.py_object
    call.argtypes = [ctypes.py_object, ctypes.c_void_p, ctypes.c_size_t, ctypes.py_object]
    items = list(positional) + [value for _, value in keywords]
    vector = (ctypes.py_object * len(items))(*items)
    return call(function, vector, len(positional), tuple(name for name, _ in keywords))


@pytest.mark.parametrize("keyword", [1, None, b"d_array", ("d_array",)])
def test_keyword_names_that_are_not_str(functions, keyword):
    for name, (_, valid, _) in functions.items():
        with pytest.raises(TypeError) as raised:
            vectorcall(getattr(module, name), valid, [(keyword, valid[0])])
        assert raised.value.args == (f"{name}() got an unexpected keyword argument '{keyword}'",)


@pytest.mark.parametrize("make", [
    lambda n: [1.0] * n,
    lambda n: (2.0,) * n,
    lambda n: __import__("numpy").full(n, 3.0),
    lambda n: __import__("array").array("d", [4.0]) * n,
], ids=["list", "tuple", "ndarray", "array"])
def test_ten_million_elements(make):
    values = make(10**7)
    mean, std, count = module.repacking_results(values)
    assert (mean, std, count) == (values[0], 0.0, 10**7)


def test_large_result_list_has_every_element():
    result = module.molality_to_mass_fraction([1.0] * 10**6, 58.44)
    assert len(result) == 10**6 and result[0] == result[-1]


def test_fifo_is_read_to_its_end(tmp_path):
    # A FIFO reports no size; the reader takes what arrives until the writer
    # closes it, growing its buffer as needed. The call holds the interpreter
    # lock while it reads, so the writer must be another process: a thread
    # of the same interpreter could never run to write.
    fifo = tmp_path / "table.fifo"
    os.mkfifo(fifo)
    writer = os.fork()
    if writer == 0:
        with open(fifo, "wb") as out:
            out.write(TABLE.encode())
        os._exit(0)
    table = module.parse_vexa_file(str(fifo))
    os.waitpid(writer, 0)
    assert len(table["Time"]) == 20000 and table["MSD"][-1] == 19999 * 0.5


def test_proc_file_of_unknown_size_is_read_whole():
    # /proc files report a size of 0 yet have content, all of which is read:
    # with no "#Time" line the first line is the header, and no line under it
    # is numeric. (Its header repeats a word: one key each.)
    with open("/proc/self/limits") as limits:
        first = limits.readline().split()
    table = module.parse_vexa_file("/proc/self/limits")
    assert list(table) == list(dict.fromkeys(first))
    assert all(values == [] for values in table.values())


def test_file_growing_while_read(tmp_path):
    # The reader takes what read() returns until it reports the end: a file
    # that another process appends to while it is read yields whole rows up
    # to wherever the last read stopped (a torn last row is dropped like any
    # short row), never bytes from outside the file.
    path = tmp_path / "growing.dat"
    path.write_text(TABLE)
    appender = os.fork()
    if appender == 0:
        with open(path, "a") as out:
            for row in range(20000, 400000):
                out.write(f"{row} {row * 0.5}\n")
        os._exit(0)
    try:
        for _ in range(20):
            table = module.parse_vexa_file(str(path))
            times = table["Time"]
            assert times[:len(times) - 1] == [float(i) for i in range(len(times) - 1)]
            assert table["MSD"][:-1] == [t * 0.5 for t in times[:-1]]
    finally:
        os.waitpid(appender, 0)
