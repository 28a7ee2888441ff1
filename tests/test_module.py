import importlib.util
import inspect
import types

import pytest

from helpers import canon


def test_all_is_the_catalogue_in_order(module, functions):
    assert module.__doc__ == "" and module.__name__ == "vexa_pp._vexa_pp"
    assert type(module.__all__) is list and module.__all__ == list(functions)
    for name in module.__all__:
        fn = getattr(module, name)
        assert type(fn) is types.BuiltinFunctionType and fn.__name__ == name
        assert fn.__module__ == module.__name__ and fn.__self__ is module


def test_signatures_and_documentation(module, functions):
    for name, (parameters, _, _) in functions.items():
        fn = getattr(module, name)
        # a signature block the interpreter did not recognise would stay in __doc__
        assert fn.__text_signature__ == "(" + ", ".join(parameters) + ")", name
        assert fn.__doc__ and fn.__doc__ == fn.__doc__.strip() and name + "(" not in fn.__doc__
        params = inspect.signature(fn).parameters.values()
        assert [p.name for p in params] == parameters
        assert all(p.kind is p.POSITIONAL_OR_KEYWORD and p.default is p.empty for p in params)


def test_keyword_calls_match_positional_calls(module, functions):
    for name, (parameters, args, _) in functions.items():
        fn = getattr(module, name)
        expected = canon(fn(*args))
        assert canon(fn(**dict(reversed(list(zip(parameters, args)))))) == expected, name
        assert canon(fn(*args[:1], **dict(zip(parameters[1:], args[1:])))) == expected, name


def test_every_module_object_gets_its_own_functions(module):
    spec = importlib.util.find_spec(module.__name__)
    other = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(other)
    assert other is not module and other.__doc__ == ""
    assert other.__all__ == module.__all__ and other.__all__ is not module.__all__
    for name in other.__all__:
        assert getattr(other, name) is not getattr(module, name)
        assert getattr(other, name).__self__ is other
    assert other.diffusion_adjustment(1.0, 1.0) == module.diffusion_adjustment(1.0, 1.0)


@pytest.mark.parametrize("message", ["index out of range", "caf\u00e9 \u2192 \u03c4"])
def test_internal_failure_is_a_panic(probe, message):
    with pytest.raises(BaseException) as first:
        probe.panic(message)
    cls = type(first.value)
    assert cls.__name__ == "PanicException" and cls.__bases__ == (BaseException,)
    assert isinstance(cls.__doc__, str) and cls.__doc__.strip()
    assert first.value.args == (message,)
    with pytest.raises(BaseException) as second:
        probe.panic("again")
    assert type(second.value) is cls


def test_allocation_failure_is_memory_error(probe):
    with pytest.raises(MemoryError):
        probe.exhaust()
