// The table readers' columns handed out as numpy arrays: the same readers as
// the list-returning functions of the first module, so the rows, names and
// errors are theirs; only the hand-over differs.
#pragma once

#include <string_view>

#include "common/outcome.hpp"
#include "common/types.hpp"

namespace vexa::arrays {

// Columns that become a dict of float64 arrays, each adopting its column's
// memory, rather than a dict of lists.
struct ArrayTable {
  ColumnTable columns;
};

Outcome<ArrayTable> read_transport_table(std::string_view path);
Outcome<ArrayTable> read_thermo_table(std::string_view path);
Outcome<ArrayTable> read_bond_angle_table(std::string_view path);

} // namespace vexa::arrays
