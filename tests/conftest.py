import importlib

import pytest


@pytest.fixture(scope="session")
def module():
    return importlib.import_module("vexa_pp._vexa_pp")


@pytest.fixture(scope="session")
def probe():
    return pytest.importorskip("vexa_pp._frame_probe")


@pytest.fixture
def write_file(tmp_path):
    """Write `content` (str as UTF-8, or bytes) verbatim and return the path as str."""

    def write(content, name="table.dat"):
        path = tmp_path / name
        path.write_bytes(content.encode("utf-8") if isinstance(content, str) else content)
        return str(path)

    return write


def notes_of(exc):
    return getattr(exc, "__notes__", None)


@pytest.fixture(scope="session")
def raised():
    """Call fn and return (type, args, notes) of what it raised."""

    def run(fn, *args, **kwargs):
        try:
            fn(*args, **kwargs)
        except BaseException as exc:  # noqa: BLE001 - the class is what is checked
            return type(exc), exc.args, notes_of(exc)
        pytest.fail(f"{fn!r} did not raise")

    return run
