#include "binding/results.hpp"

#include <algorithm>

#include "binding/signals.hpp"

namespace vexa::binding {

PyObject* to_python(double value) {
  return PyFloat_FromDouble(value);
}

PyObject* to_python(std::uint64_t value) {
  return PyLong_FromUnsignedLongLong(value);
}

PyObject* to_python(const FloatArray& values) {
  Ref list(PyList_New(static_cast<Py_ssize_t>(values.size())));
  if (!list) return nullptr;
  // Millions of floats take a while: a pending Ctrl-C is looked for between
  // runs of them.
  constexpr std::size_t run = std::size_t{1} << 16;
  for (std::size_t first = 0; first < values.size(); first += run) {
    if (first != 0 && signal_raised()) return nullptr;
    const std::size_t last = std::min(values.size(), first + run);
    for (std::size_t i = first; i < last; ++i) {
      PyObject* item = PyFloat_FromDouble(values[i]);
      if (item == nullptr) return nullptr;
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
  }
  return list.release();
}

PyObject* to_python(ColumnTable&& table) {
  Ref dict(PyDict_New());
  if (!dict) return nullptr;
  for (Column& column : table) {
    Ref key(PyUnicode_DecodeUTF8(column.name.data(), static_cast<Py_ssize_t>(column.name.size()),
                                 "replace"));
    if (!key) return nullptr;
    Ref values(to_python(column.values));
    if (!values) return nullptr;
    FloatArray().swap(column.values);
    // A repeated name keeps its first position and takes the later column.
    if (PyDict_SetItem(dict.get(), key.get(), values.get()) != 0) return nullptr;
  }
  return dict.release();
}

} // namespace vexa::binding
