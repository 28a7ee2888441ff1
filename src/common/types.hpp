// Native forms of the values that cross the Python boundary.
#pragma once

#include <string>
#include <vector>

namespace vexa {

// A one-dimensional run of float64 values, owned by the body that receives it.
using FloatArray = std::vector<double>;

struct Column {
  std::string name;
  FloatArray values;
};

// Columns of equal length in file order; becomes a dict of lists in Python.
using ColumnTable = std::vector<Column>;

} // namespace vexa
