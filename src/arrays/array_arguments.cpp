#include "arrays/array_arguments.hpp"

#include <cstring>

#include "binding/arguments.hpp"
#include "binding/errors.hpp"

namespace vexa::arrays {
namespace {

// The struct-module codes of 8-byte items: 'd' for float64; 'q', and 'l' on
// the LP64 systems this builds for, for int64. A byte-order prefix may lead.
bool has_format(const Py_buffer& buffer, const char* codes) {
  const char* format = buffer.format != nullptr ? buffer.format : "B";
  if (*format == '@' || *format == '=' || *format == '<') ++format;
  return buffer.itemsize == 8 && format[0] != '\0' && format[1] == '\0' &&
         std::strchr(codes, format[0]) != nullptr;
}

template <class T>
bool take_buffer(PyObject* object, Slot<ArrayView<T>>& out, const char* codes, const char* kind) {
  if (PyObject_GetBuffer(object, &out.buffer, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "a C-contiguous %s array is required, not '%s'", kind,
                 Py_TYPE(object)->tp_name);
    return false;
  }
  out.held = true;
  if (!has_format(out.buffer, codes)) {
    PyErr_Format(PyExc_TypeError, "a C-contiguous %s array is required (its items are '%s')", kind,
                 out.buffer.format != nullptr ? out.buffer.format : "B");
    return false;
  }
  out.value.values = static_cast<const T*>(out.buffer.buf);
  out.value.shape.assign(out.buffer.shape, out.buffer.shape + out.buffer.ndim);
  return true;
}

} // namespace

bool convert(PyObject* object, Slot<std::string_view>& out) {
  return binding::convert_text(object, out.value);
}

bool convert(PyObject* object, Slot<trajectory::TypeSelection>& out) {
  if (object == Py_None) {
    out.value.reset();
    return true;
  }
  binding::Ref items(PySequence_Fast(object, "types must be a sequence of integers or None"));
  if (!items) return false;
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(items.get());
  std::vector<std::int64_t> types;
  types.reserve(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
    if (!PyLong_Check(item)) {
      binding::raise_wrong_type(item, "int");
      return false;
    }
    const long long type = PyLong_AsLongLong(item);
    if (type == -1 && PyErr_Occurred()) return false;
    types.push_back(type);
  }
  out.value = std::move(types);
  return true;
}

bool convert(PyObject* object, Slot<ArrayView<double>>& out) {
  return take_buffer(object, out, "d", "float64");
}

bool convert(PyObject* object, Slot<ArrayView<std::int64_t>>& out) {
  return take_buffer(object, out, "ql", "int64");
}

} // namespace vexa::arrays
