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

PyObject* to_python(std::span<const double> values) {
  const auto size = static_cast<Py_ssize_t>(values.size());
  Ref list(PyList_New(size));
  if (!list) return nullptr;
  // The new list's slots are filled in place: PyList_SET_ITEM would reload
  // them and, where assertions are on, check the list's type and the index
  // for every one of millions of items. Slots not reached stay null, which
  // the list's release allows.
  PyObject** const items = reinterpret_cast<PyListObject*>(list.get())->ob_item;
  const double* const data = values.data();
  // Millions of floats take a while: a pending Ctrl-C is looked for between
  // runs of them.
  constexpr Py_ssize_t run = Py_ssize_t{1} << 16;
  for (Py_ssize_t first = 0; first < size; first += run) {
    if (first != 0 && signal_raised()) return nullptr;
    const Py_ssize_t last = std::min(size, first + run);
    for (Py_ssize_t i = first; i < last; ++i) {
      PyObject* const item = PyFloat_FromDouble(data[i]);
      if (item == nullptr) return nullptr;
      items[i] = item;
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
    Ref values(to_python(std::span<const double>(column.values)));
    if (!values) return nullptr;
    column.values = ColumnValues();
    // A repeated name keeps its first position and takes the later column.
    if (PyDict_SetItem(dict.get(), key.get(), values.get()) != 0) return nullptr;
  }
  return dict.release();
}

} // namespace vexa::binding
