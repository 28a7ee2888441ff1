"""The package's type information: the stub against the compiled module, and
`mypy --strict` over the stub, the package and a typed example."""

import ast
import inspect
import os
import sys
from pathlib import Path

import pytest

import typed_example
import vexa_pp
from vexa_pp import _vexa_pp

PACKAGE = Path(vexa_pp.__file__).parent
HERE = Path(__file__).parent


def stub_functions():
    tree = ast.parse((PACKAGE / "_vexa_pp.pyi").read_text())
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}


def test_package_files_are_installed():
    for name in ("py.typed", "_vexa_pp.pyi", "data/salts.toml"):
        assert (PACKAGE / name).is_file()


def test_stub_matches_the_module():
    functions = stub_functions()
    assert list(functions) == _vexa_pp.__all__ == vexa_pp.__all__
    for name, node in functions.items():
        runtime = inspect.signature(getattr(_vexa_pp, name))
        assert [a.arg for a in node.args.args] == list(runtime.parameters), name
        assert not node.args.posonlyargs and not node.args.kwonlyargs
        assert all(a.annotation is not None for a in node.args.args) and node.returns is not None
        assert getattr(vexa_pp, name) is getattr(_vexa_pp, name)


def test_typed_example_runs():
    typed_example.main()


def test_mypy_strict():
    if "asan" in os.environ.get("LD_PRELOAD", "") or hasattr(sys, "gettotalrefcount"):
        pytest.skip("the type check does not depend on the build; the plain lane runs it")
    api = pytest.importorskip("mypy.api")
    modules = ["__init__.py", "_vexa_pp.pyi", "__main__.py", "analysis.py", "cli.py",
               "lammps.py", "physics.py", "plots.py", "report.py", "salts.py", "trajectory.py",
               "uncertainty.py"]
    stdout, stderr, status = api.run(
        ["--strict", "--cache-dir", str(Path(sys.prefix) / "mypy-cache"),
         "--python-executable", sys.executable,
         str(HERE / "typed_example.py")] + [str(PACKAGE / m) for m in modules])
    assert status == 0, stdout + stderr
