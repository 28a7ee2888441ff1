#include "arrays/table_array_results.hpp"

// numpy's C interface was loaded by the module's other translation unit.
#define PY_ARRAY_UNIQUE_SYMBOL vexa_arrays_numpy_interface
#define NO_IMPORT_ARRAY
#define NPY_NO_DEPRECATED_API NPY_2_0_API_VERSION
#include <numpy/arrayobject.h>

#include "arrays/array_results.hpp"
#include "binding/errors.hpp"

namespace vexa::arrays {
namespace {

// A one-dimensional float64 array owning the column's memory; the column is
// left empty.
PyObject* adopt(ColumnValues& values) {
  const std::size_t length[] = {values.size()};
  return adopt_memory(values.release(), length, NPY_FLOAT64);
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
