#include "arrays/table_arrays.hpp"

#include <utility>

#include "readers/property_tables.hpp"
#include "readers/transport_table.hpp"

namespace vexa::arrays {
namespace {

Outcome<ArrayTable> as_arrays(Outcome<ColumnTable>&& table) {
  if (!table) return std::unexpected(std::move(table.error()));
  return ArrayTable{std::move(*table)};
}

} // namespace

Outcome<ArrayTable> read_transport_table(std::string_view path) {
  return as_arrays(readers::parse_vexa_file(path));
}

Outcome<ArrayTable> read_thermo_table(std::string_view path) {
  return as_arrays(readers::parse_thermoprop(path));
}

Outcome<ArrayTable> read_bond_angle_table(std::string_view path) {
  return as_arrays(readers::parse_bond_angle(path));
}

} // namespace vexa::arrays
