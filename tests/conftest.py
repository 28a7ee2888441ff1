import importlib

import pytest

from helpers import catalogue, sample_files, write


@pytest.fixture(scope="session")
def module():
    return importlib.import_module("vexa_pp._vexa_pp")


@pytest.fixture(scope="session")
def probe():
    return pytest.importorskip("vexa_pp._frame_probe")


@pytest.fixture(scope="session")
def functions(tmp_path_factory):
    """The catalogue of helpers.catalogue over freshly written sample files."""
    return catalogue(sample_files(tmp_path_factory.mktemp("samples")))


@pytest.fixture
def write_file(tmp_path):
    """Write `content` (str as UTF-8, or bytes) verbatim and return the path as str."""
    return lambda content, name="table.dat": write(tmp_path / name, content)


@pytest.fixture(scope="session")
def raised():
    """Call fn and return (type, args, notes) of what it raised."""

    def run(fn, *args, **kwargs):
        try:
            fn(*args, **kwargs)
        except BaseException as exc:  # noqa: BLE001 - the class is what is checked
            return type(exc), exc.args, getattr(exc, "__notes__", None)
        pytest.fail(f"{fn!r} did not raise")

    return run
