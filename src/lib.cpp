// The _vexa_pp extension module: its definition and the execution step that
// registers the functions of the table.
#include "binding/errors.hpp"
#include "binding/process_cache.hpp"
#include "binding/python.hpp"
#include "binding/signals.hpp"
#include "function_table.hpp"

namespace vexa {
namespace {

using binding::MethodDefinitions;
using binding::ProcessObject;
using binding::Ref;

ProcessObject name_attribute;
ProcessObject all_attribute;

// The module's __all__ list, created empty when absent.
PyObject* all_list(PyObject* module) {
  PyObject* all_name = binding::interned(all_attribute, "__all__");
  if (all_name == nullptr) return nullptr;
  PyObject* all = nullptr;
  const int found = PyObject_GetOptionalAttr(module, all_name, &all);
  if (found < 0) return nullptr;
  if (found == 0) {
    all = PyList_New(0);
    if (all == nullptr) return nullptr;
    if (PyObject_SetAttr(module, all_name, all) != 0) {
      Py_DECREF(all);
      return nullptr;
    }
  } else if (!PyList_Check(all)) {
    binding::raise_wrong_type(all, "list");
    Py_DECREF(all);
    return nullptr;
  }
  return all;
}

// Appending to a list only fails when memory runs out: that is reported as
// the module's own failure.
void panic_append_failed() {
  Ref error(PyErr_GetRaisedException());
  Ref description(error ? PyObject_Str(error.get()) : nullptr);
  const char* text = description ? PyUnicode_AsUTF8(description.get()) : nullptr;
  PyErr_Clear();
  std::string message = "could not append __name__ to __all__: ";
  message.append(text != nullptr ? text : "unknown error");
  binding::raise_panic(message.c_str());
}

int register_function(PyObject* module, PyObject* module_name, PyMethodDef& definition) {
  Ref function(PyCMethod_New(&definition, module, module_name, nullptr));
  if (!function) return -1;
  PyObject* name_name = binding::interned(name_attribute, "__name__");
  if (name_name == nullptr) return -1;
  Ref name(PyObject_GetAttr(function.get(), name_name));
  if (!name) return -1;
  if (!PyUnicode_Check(name.get())) {
    binding::raise_wrong_type(name.get(), "str");
    return -1;
  }
  Ref all(all_list(module));
  if (!all) return -1;
  if (PyList_Append(all.get(), name.get()) != 0) {
    panic_append_failed();
    return -1;
  }
  return PyObject_SetAttr(module, name.get(), function.get());
}

int exec_module(PyObject* module) {
  if (!PyModule_Check(module)) {
    binding::raise_wrong_type(module, "module");
    return -1;
  }
  Ref module_name(PyModule_GetNameObject(module));
  if (!module_name) return -1;
  binding::install_signal_check();
  try {
    auto& definitions = MethodDefinitions<function_table>::instance();
    for (std::size_t i = 0; i < MethodDefinitions<function_table>::size; ++i)
      if (register_function(module, module_name.get(), definitions[i]) != 0) return -1;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return -1;
  } catch (const std::exception& failure) {
    binding::raise_panic(failure.what());
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
    .m_name = "_vexa_pp",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = module_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

} // namespace
} // namespace vexa

PyMODINIT_FUNC PyInit__vexa_pp() {
  return PyModuleDef_Init(&vexa::module_definition);
}
