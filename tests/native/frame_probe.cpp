// A test-only module that drives the call frame into the paths the real
// functions never take: bodies that throw, descriptions with positional-only,
// optional and keyword-only parameters, and a Ctrl-C that arrives while a
// result is built. It also exposes the number forms that messages use and the
// window searches that the one in diff_calculator is checked against (the
// literal one and the two-lane one).
#include <new>
#include <stdexcept>
#include <string>

#include "binding/function.hpp"
#include "binding/signals.hpp"
#include "common/number_format.hpp"
#include "yardsticks.hpp"

namespace {

using vexa::binding::Function;
using vexa::binding::FunctionDescription;
using vexa::binding::KeywordOnlyParameter;
using vexa::binding::MethodDefinitions;

double panic(std::string_view message) {
  throw std::runtime_error(std::string(message));
}

double exhaust() {
  throw std::bad_alloc();
}

inline constexpr std::tuple probe_table{
    Function<&panic>{"panic", "message", "Throw a C++ exception carrying `message`."},
    Function<&exhaust>{"exhaust", "", "Throw std::bad_alloc."},
    Function<&vexa::yardsticks::diff_calculator_reference>{
        "diff_calculator_reference",
        "time, msd_in, margin, min_window, max_window, max_error, min_displacement",
        "diff_calculator with every window's sums recomputed from its first sample."},
    Function<&vexa::yardsticks::diff_calculator_narrow>{
        "diff_calculator_narrow",
        "time, msd_in, margin, min_window, max_window, max_error, min_displacement",
        "diff_calculator with the two-lane window search used without AVX2."},
};

constexpr std::string_view bind_parameters[] = {"a", "b", "c"};
constexpr KeywordOnlyParameter bind_keywords[] = {{"k", true}, {"m", false}};

// bind_probe(a, /, b, c=None, *, k, m=None): returns the bound slots, None
// where a slot stayed empty.
PyObject* bind_probe(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const FunctionDescription description{"bind_probe", bind_parameters, 1, 2, bind_keywords};
  PyObject* slots[5] = {};
  if (!vexa::binding::bind(description, args, nargs, kwnames, slots)) return nullptr;
  PyObject* result = PyTuple_New(5);
  if (result == nullptr) return nullptr;
  for (Py_ssize_t i = 0; i < 5; ++i)
    PyTuple_SET_ITEM(result, i, Py_NewRef(slots[i] != nullptr ? slots[i] : Py_None));
  return result;
}

PyMethodDef bind_probe_definition = {"bind_probe", _PyCFunction_CAST(&bind_probe),
                                     METH_FASTCALL | METH_KEYWORDS,
                                     "Bind arguments and return the slots."};

// format_scientific(x) and format_fixed(x): the number forms of messages.
template <std::string (*Format)(double)> PyObject* format_probe(PyObject*, PyObject* argument) {
  const double value = PyFloat_AsDouble(argument);
  if (value == -1.0 && PyErr_Occurred()) return nullptr;
  const std::string text = Format(value);
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyMethodDef format_definitions[] = {
    {"format_scientific", &format_probe<&vexa::format_scientific>, METH_O,
     "A number as messages write it in scientific form."},
    {"format_fixed", &format_probe<&vexa::format_fixed>, METH_O,
     "A number as messages write it in fixed form."},
};

// interrupted_list(n): a list of n floats built as a Ctrl-C is pending.
PyObject* interrupted_list(PyObject*, PyObject* argument) {
  const Py_ssize_t n = PyLong_AsSsize_t(argument);
  if (n == -1 && PyErr_Occurred()) return nullptr;
  const vexa::FloatArray values(static_cast<std::size_t>(n), 1.0);
  PyErr_SetInterrupt();
  return vexa::binding::to_python(values);
}

PyMethodDef interrupted_list_definition = {"interrupted_list", &interrupted_list, METH_O,
                                           "A list built while a Ctrl-C is pending."};

int add_function(PyObject* module, PyMethodDef& definition) {
  PyObject* function = PyCMethod_New(&definition, module, nullptr, nullptr);
  if (function == nullptr) return -1;
  return PyModule_Add(module, definition.ml_name, function);
}

int exec_probe(PyObject* module) {
  vexa::binding::install_signal_check();
  auto& definitions = MethodDefinitions<probe_table>::instance();
  for (std::size_t i = 0; i < MethodDefinitions<probe_table>::size; ++i)
    if (add_function(module, definitions[i]) != 0) return -1;
  for (PyMethodDef& definition : format_definitions)
    if (add_function(module, definition) != 0) return -1;
  if (add_function(module, interrupted_list_definition) != 0) return -1;
  return add_function(module, bind_probe_definition);
}

PyModuleDef_Slot probe_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_probe)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef probe_definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "_frame_probe",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = probe_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

} // namespace

PyMODINIT_FUNC PyInit__frame_probe() {
  return PyModuleDef_Init(&probe_definition);
}
