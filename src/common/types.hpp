// Native forms of the values that cross the Python boundary.
#pragma once

#include <string>
#include <vector>

#include "common/column_values.hpp"

namespace vexa {

// A one-dimensional run of float64 values, owned by the body that receives it.
using FloatArray = std::vector<double>;

struct Column {
  std::string name;
  ColumnValues values;
};

// Columns of equal length in file order; becomes a dict of lists in Python,
// or of numpy arrays.
using ColumnTable = std::vector<Column>;

} // namespace vexa
