// The _arrays extension module: functions that read and compute on large
// arrays, with the interpreter lock released, returning numpy arrays.
#include "arrays/array_function_table.hpp"
#include "arrays/array_results.hpp"
#include "arrays/released_lock.hpp"
#include "binding/function.hpp"
#include "binding/python.hpp"

namespace vexa::arrays {
namespace {

using binding::MethodDefinitions;
using binding::Ref;

int exec_module(PyObject* module) {
  if (!import_numpy() || !install_released_signal_check()) return -1;
  Ref module_name(PyModule_GetNameObject(module));
  if (!module_name) return -1;
  try {
    auto& definitions = MethodDefinitions<array_function_table>::instance();
    for (std::size_t i = 0; i < MethodDefinitions<array_function_table>::size; ++i) {
      Ref function(PyCMethod_New(&definitions[i], module, module_name.get(), nullptr));
      if (!function || PyModule_AddObjectRef(module, definitions[i].ml_name, function.get()) != 0)
        return -1;
    }
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return -1;
  }
  return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "_arrays",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = module_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

} // namespace
} // namespace vexa::arrays

PyMODINIT_FUNC PyInit__arrays() {
  return PyModuleDef_Init(&vexa::arrays::module_definition);
}
