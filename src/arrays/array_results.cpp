#include "arrays/array_results.hpp"

#define PY_ARRAY_UNIQUE_SYMBOL vexa_arrays_numpy_interface
#define NPY_NO_DEPRECATED_API NPY_2_0_API_VERSION
#include <numpy/arrayobject.h>

#include "binding/errors.hpp"

namespace vexa::arrays {
namespace {

constexpr const char* memory_capsule = "vexa_pp._arrays.memory";

void free_memory(PyObject* capsule) {
  std::free(PyCapsule_GetPointer(capsule, memory_capsule));
}

template <class T> PyObject* adopt(NativeArray<T>&& array, int type) {
  const std::vector<std::size_t> shape = array.shape();
  return adopt_memory(array.release(), shape, type);
}

} // namespace

bool import_numpy() {
  return _import_array() >= 0;
}

PyObject* adopt_memory(void* memory, std::span<const std::size_t> shape, int numpy_type) {
  binding::Ref owner(PyCapsule_New(memory, memory_capsule, &free_memory));
  if (!owner) {
    std::free(memory);
    return nullptr;
  }
  npy_intp dimensions[NPY_MAXDIMS];
  for (std::size_t i = 0; i < shape.size(); ++i)
    dimensions[i] = static_cast<npy_intp>(shape[i]);
  binding::Ref array(
      PyArray_SimpleNewFromData(static_cast<int>(shape.size()), dimensions, numpy_type, memory));
  if (!array) return nullptr;
  // Takes the capsule even when it fails.
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), owner.release()) != 0)
    return nullptr;
  return array.release();
}

PyObject* to_python(NativeArray<double>&& array) {
  return adopt(std::move(array), NPY_FLOAT64);
}

PyObject* to_python(NativeArray<std::int64_t>&& array) {
  return adopt(std::move(array), NPY_INT64);
}

PyObject* to_python(std::vector<std::string>&& texts) {
  binding::Ref list(PyList_New(static_cast<Py_ssize_t>(texts.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    PyObject* text =
        PyUnicode_DecodeUTF8(texts[i].data(), static_cast<Py_ssize_t>(texts[i].size()), "replace");
    if (text == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), text);
  }
  return list.release();
}

PyObject* to_python(trajectory::DumpArrays&& dump) {
  binding::Ref tuple(PyTuple_New(9));
  if (!tuple) return nullptr;
  Py_ssize_t filled = 0;
  // Stops at the first failure: what is not yet converted is freed natively.
  const auto put = [&](PyObject* item) {
    if (item != nullptr) PyTuple_SET_ITEM(tuple.get(), filled++, item);
    return item != nullptr;
  };
  const bool complete =
      put(to_python(std::move(dump.timesteps))) && put(to_python(std::move(dump.ids))) &&
      put(to_python(std::move(dump.types))) && put(to_python(std::move(dump.positions))) &&
      put(to_python(std::move(dump.volumes))) && put(to_python(std::move(dump.edges))) &&
      put(to_python(std::move(dump.tilts))) && put(to_python(std::move(dump.notes))) &&
      put(to_python(std::move(dump.warnings)));
  return complete ? tuple.release() : nullptr;
}

} // namespace vexa::arrays
