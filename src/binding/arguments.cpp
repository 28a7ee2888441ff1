#include "binding/arguments.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>

#include "binding/errors.hpp"
#include "binding/process_cache.hpp"
#include "binding/signals.hpp"

namespace vexa::binding {
namespace {

ProcessObject sequence_class;

// Reserving from a reported length must not trust a length that lies.
constexpr Py_ssize_t reserve_limit = Py_ssize_t{1} << 22;

// Items converted between two looks for pending signals: well under a
// millisecond even where every item goes through __float__.
constexpr Py_ssize_t signal_interval = Py_ssize_t{1} << 14;

// A float subclass's own value is taken, never its __float__: that is what
// PyFloat_AsDouble does too, so the short road covers every float.
bool item_to_float(PyObject* item, double& out) {
  if (PyFloat_Check(item)) {
    out = PyFloat_AS_DOUBLE(item);
    return true;
  }
  out = PyFloat_AsDouble(item);
  return !(out == -1.0 && PyErr_Occurred());
}

void raise_not_a_sequence(PyObject* object) {
  PyObject* sequence = sequence_class.get([] {
    Ref abc(PyImport_ImportModule("collections.abc"));
    return abc ? PyObject_GetAttrString(abc.get(), "Sequence") : nullptr;
  });
  if (sequence == nullptr) return;
  Ref name(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(sequence)));
  if (!name) return;
  const char* target = PyUnicode_AsUTF8(name.get());
  if (target != nullptr) raise_wrong_type(object, target);
}

// An exact list read the way its iterator would read it: the length is
// looked at again after every item whose conversion runs code, because its
// __float__ may grow or shrink the list, and iteration then sees the list as
// it has become. Exact floats run no code, so between them the length stays.
bool convert_list_items(PyObject* list, FloatArray& out) {
  Py_ssize_t i = 0;
  for (Py_ssize_t chunk_end = signal_interval;; chunk_end += signal_interval) {
    Py_ssize_t stop = std::min(chunk_end, PyList_GET_SIZE(list));
    for (; i < stop; ++i) {
      PyObject* item = PyList_GET_ITEM(list, i);
      if (PyFloat_CheckExact(item)) {
        out.push_back(PyFloat_AS_DOUBLE(item));
        continue;
      }
      Py_INCREF(item); // user code below may drop the list's reference
      double value = 0.0;
      const bool ok = item_to_float(item, value);
      Py_DECREF(item);
      if (!ok) return false;
      out.push_back(value);
      stop = std::min(chunk_end, PyList_GET_SIZE(list));
    }
    if (i >= PyList_GET_SIZE(list)) return true;
    if (signal_raised()) return false;
  }
}

bool convert_list(PyObject* list, FloatArray& out) {
  bool ok = false;
  std::exception_ptr failure;
  Py_BEGIN_CRITICAL_SECTION(list);
  try {
    out.reserve(static_cast<std::size_t>(PyList_GET_SIZE(list)));
    ok = convert_list_items(list, out);
  } catch (...) {
    failure = std::current_exception(); // leave the critical section first
  }
  Py_END_CRITICAL_SECTION();
  if (failure) std::rethrow_exception(failure);
  return ok;
}

bool convert_tuple(PyObject* tuple, FloatArray& out) {
  const Py_ssize_t size = PyTuple_GET_SIZE(tuple);
  out.reserve(static_cast<std::size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) {
    if (i % signal_interval == 0 && i != 0 && signal_raised()) return false;
    double value = 0.0;
    if (!item_to_float(PyTuple_GET_ITEM(tuple, i), value)) return false;
    out.push_back(value);
  }
  return true;
}

// Whether the object's type is the class `name` of the module `module` as
// already imported: a class that merely takes the name does not pass.
bool is_class_of(PyObject* object, const char* module, const char* name) {
  Ref module_name(PyUnicode_FromString(module));
  Ref imported(module_name ? PyImport_GetModule(module_name.get()) : nullptr);
  Ref found(imported ? PyObject_GetAttrString(imported.get(), name) : nullptr);
  PyErr_Clear();
  return found.get() == reinterpret_cast<PyObject*>(Py_TYPE(object));
}

// Types whose buffer holds exactly the values their iteration yields.
bool has_faithful_buffer(PyObject* object) {
  if (Py_IS_TYPE(object, &PyMemoryView_Type)) return true;
  const char* name = Py_TYPE(object)->tp_name;
  if (std::strcmp(name, "numpy.ndarray") == 0) return is_class_of(object, "numpy", "ndarray");
  if (std::strcmp(name, "array.array") == 0) return is_class_of(object, "array", "array");
  return false;
}

bool is_native_float64(const Py_buffer& view) {
  if (view.ndim != 1 || view.itemsize != 8 || view.format == nullptr) return false;
  const std::string_view format(view.format);
  return format == "d" || format == "@d" || format == "=d" ||
         (format == "<d" && std::endian::native == std::endian::little);
}

enum class BufferCopy { unavailable, copied, interrupted };

// A one-dimensional, C-contiguous float64 buffer is copied whole, without
// going through its items.
BufferCopy copy_float64_buffer(PyObject* object, FloatArray& out) {
  if (!has_faithful_buffer(object)) return BufferCopy::unavailable;
  Py_buffer view;
  if (PyObject_GetBuffer(object, &view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) {
    PyErr_Clear();
    return BufferCopy::unavailable;
  }
  if (!is_native_float64(view)) {
    PyBuffer_Release(&view);
    return BufferCopy::unavailable;
  }
  // Copied a run at a time, so that a pending Ctrl-C is not kept waiting
  // by a huge array.
  const auto* values = static_cast<const double*>(view.buf);
  const auto count = static_cast<std::size_t>(view.shape[0]);
  constexpr std::size_t run = std::size_t{1} << 20;
  bool done = true;
  try {
    out.reserve(count);
    for (std::size_t first = 0; first < count; first += run) {
      if (first != 0 && signal_raised()) {
        done = false;
        break;
      }
      out.insert(out.end(), values + first, values + std::min(count, first + run));
    }
  } catch (...) {
    PyBuffer_Release(&view);
    throw;
  }
  PyBuffer_Release(&view);
  return done ? BufferCopy::copied : BufferCopy::interrupted;
}

bool convert_by_iteration(PyObject* object, FloatArray& out) {
  const Py_ssize_t length = PyObject_Size(object);
  if (length < 0) {
    // A length that cannot be had is only a missing hint; but a Ctrl-C (or
    // another exception outside Exception) raised meanwhile ends the call.
    if (!PyErr_ExceptionMatches(PyExc_Exception)) return false;
    PyErr_Clear();
  } else
    out.reserve(static_cast<std::size_t>(std::min(length, reserve_limit)));
  Ref iterator(PyObject_GetIter(object));
  if (!iterator) return false;
  for (Py_ssize_t i = 0;; ++i) {
    PyObject* raw = nullptr;
    const int status = PyIter_NextItem(iterator.get(), &raw);
    if (status < 0) return false;
    if (status == 0) return true;
    Ref item(raw);
    double value = 0.0;
    if (!item_to_float(item.get(), value)) return false;
    out.push_back(value);
    if (i % signal_interval == signal_interval - 1 && signal_raised()) return false;
  }
}

} // namespace

bool convert_text(PyObject* object, std::string_view& out) {
  if (!PyUnicode_Check(object)) {
    raise_wrong_type(object, "str");
    return false;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
  if (utf8 == nullptr) return false;
  out = std::string_view(utf8, static_cast<std::size_t>(size));
  return true;
}

bool convert_float(PyObject* object, double& out) {
  return item_to_float(object, out);
}

bool convert_count(PyObject* object, std::uint64_t& out) {
  unsigned long long value;
  if (PyLong_Check(object)) {
    value = PyLong_AsUnsignedLongLong(object);
  } else {
    Ref index(PyNumber_Index(object));
    if (!index) return false;
    value = PyLong_AsUnsignedLongLong(index.get());
  }
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = value;
  return true;
}

bool convert_float_array(PyObject* object, FloatArray& out) {
  if (PyUnicode_Check(object)) {
    raise_message(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return false;
  }
  if (!PySequence_Check(object)) {
    raise_not_a_sequence(object);
    return false;
  }
  if (PyList_CheckExact(object)) return convert_list(object, out);
  if (PyTuple_CheckExact(object)) return convert_tuple(object, out);
  switch (copy_float64_buffer(object, out)) {
  case BufferCopy::copied:
    return true;
  case BufferCopy::interrupted:
    return false;
  case BufferCopy::unavailable:
    break;
  }
  return convert_by_iteration(object, out);
}

} // namespace vexa::binding
