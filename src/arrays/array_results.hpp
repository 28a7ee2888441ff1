// Native results as new Python objects: arrays become numpy arrays that
// adopt the memory the body filled. Each returns a new reference, or null
// with an error set.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "binding/errors.hpp"
#include "binding/python.hpp"
#include "common/native_array.hpp"
#include "common/outcome.hpp"
#include "trajectory/dump_reader.hpp"

namespace vexa::arrays {

// Loads numpy's C interface (once per module import); false with an error
// set when numpy cannot be imported.
bool import_numpy();

// A numpy array of `shape` (at most NPY_MAXDIMS dimensions) over `memory`,
// from malloc, of values of the numpy type number `numpy_type`; the array
// owns the memory from then on, which is freed with it, or at once when the
// array cannot be made.
PyObject* adopt_memory(void* memory, std::span<const std::size_t> shape, int numpy_type);

PyObject* to_python(NativeArray<double>&& array);
PyObject* to_python(NativeArray<std::int64_t>&& array);
PyObject* to_python(std::vector<std::string>&& texts);
// (timesteps, ids, types, positions, volumes, edges, tilts, notes, warnings)
PyObject* to_python(trajectory::DumpArrays&& dump);

template <class T> PyObject* to_python(Outcome<T>&& outcome) {
  if (!outcome) {
    binding::raise_body_error(outcome.error());
    return nullptr;
  }
  return to_python(std::move(*outcome));
}

} // namespace vexa::arrays
