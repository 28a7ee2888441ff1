// Native results to new Python objects. Each returns a new reference, or
// null with an error set.
#pragma once

#include <cstdint>
#include <span>
#include <tuple>
#include <utility>

#include "binding/errors.hpp"
#include "binding/python.hpp"
#include "common/outcome.hpp"
#include "common/types.hpp"

namespace vexa::binding {

PyObject* to_python(double value);
PyObject* to_python(std::uint64_t value);
PyObject* to_python(std::span<const double> values);
inline PyObject* to_python(const FloatArray& values) {
  return to_python(std::span<const double>(values));
}
// Consumes the table: each column's values are released once its list exists.
PyObject* to_python(ColumnTable&& table);

template <class... T> PyObject* to_python(std::tuple<T...>&& items) {
  Ref tuple(PyTuple_New(sizeof...(T)));
  if (!tuple) return nullptr;
  bool ok = true;
  Py_ssize_t index = 0;
  std::apply(
      [&](auto&... item) {
        ((ok = ok &&
               [&] {
                 PyObject* object = to_python(std::move(item));
                 if (object == nullptr) return false;
                 PyTuple_SET_ITEM(tuple.get(), index++, object);
                 return true;
               }()),
         ...);
      },
      items);
  return ok ? tuple.release() : nullptr;
}

template <class T> PyObject* to_python(Outcome<T>&& outcome) {
  if (!outcome) {
    raise_body_error(outcome.error());
    return nullptr;
  }
  return to_python(std::move(*outcome));
}

} // namespace vexa::binding
