#include "arrays/table_array_results.hpp"

// numpy's C interface was loaded by the module's other translation unit.
#define PY_ARRAY_UNIQUE_SYMBOL vexa_arrays_numpy_interface
#define NO_IMPORT_ARRAY
#define NPY_NO_DEPRECATED_API NPY_2_0_API_VERSION
#include <numpy/arrayobject.h>

#include "binding/errors.hpp"

namespace vexa::arrays {
namespace {

constexpr const char* column_capsule = "vexa_pp._arrays.column";

void free_column(PyObject* capsule) {
  std::free(PyCapsule_GetPointer(capsule, column_capsule));
}

// A one-dimensional float64 array owning the column's memory; the column is
// left empty. The capsule frees the memory with the array, and frees it at
// once when the array cannot be made.
PyObject* adopt(ColumnValues& values) {
  npy_intp length = static_cast<npy_intp>(values.size());
  double* const memory = values.release();
  binding::Ref owner(PyCapsule_New(memory, column_capsule, &free_column));
  if (!owner) {
    std::free(memory);
    return nullptr;
  }
  binding::Ref array(PyArray_SimpleNewFromData(1, &length, NPY_FLOAT64, memory));
  if (!array) return nullptr;
  // Takes the capsule even when it fails.
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), owner.release()) != 0)
    return nullptr;
  return array.release();
}

} // namespace

PyObject* to_python(ArrayTable&& table) {
  binding::Ref dict(PyDict_New());
  if (!dict) return nullptr;
  for (Column& column : table.columns) {
    binding::Ref key(PyUnicode_DecodeUTF8(column.name.data(),
                                          static_cast<Py_ssize_t>(column.name.size()), "replace"));
    if (!key) return nullptr;
    binding::Ref values(adopt(column.values));
    if (!values || PyDict_SetItem(dict.get(), key.get(), values.get()) != 0) return nullptr;
  }
  return dict.release();
}

} // namespace vexa::arrays
