// The arguments of this module's functions in the form their bodies take.
// Each kind is held in a slot that keeps what the body borrows (a buffer of
// the caller's array) alive and gives it back, lock held, when the call ends.
#pragma once

#include <cstdint>
#include <string_view>

#include "binding/python.hpp"
#include "common/native_array.hpp"
#include "trajectory/dump_reader.hpp"

namespace vexa::arrays {

template <class Native> struct Slot {
  Native value{};
  const Native& native() const { return value; }
};

// A read-only, C-contiguous buffer of the caller's array (numpy's or any
// object with the buffer protocol), released with the slot.
template <class T> struct Slot<ArrayView<T>> {
  ArrayView<T> value{};
  Py_buffer buffer{};
  bool held = false;
  Slot() = default;
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;
  ~Slot() {
    if (held) PyBuffer_Release(&buffer);
  }
  const ArrayView<T>& native() const { return value; }
};

// Each returns false with the interpreter's error set.
bool convert(PyObject* object, Slot<std::string_view>& out);
bool convert(PyObject* object, Slot<trajectory::TypeSelection>& out);
bool convert(PyObject* object, Slot<ArrayView<double>>& out);
bool convert(PyObject* object, Slot<ArrayView<std::int64_t>>& out);

} // namespace vexa::arrays
