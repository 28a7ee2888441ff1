// A table as a dict of numpy arrays (name -> float64 column), each array
// adopting its column's memory. Returns a new reference, or null with an
// error set.
#pragma once

#include "arrays/table_arrays.hpp"
#include "binding/python.hpp"

namespace vexa::arrays {

PyObject* to_python(ArrayTable&& table);

} // namespace vexa::arrays
