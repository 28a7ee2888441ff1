// Column tables built from whitespace-separated text rows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/types.hpp"

namespace vexa::readers {

// Removes every '#', turns every tab into a space and drops the leading
// White_Space; trailing White_Space stays.
std::string clean_line(std::string_view line);

// The pieces of a line between runs of White_Space.
std::vector<std::string> split_fields(std::string_view line);

// Collects rows under a header. A row is taken whole or not at all: it needs
// at least one field per column, and the first field of each column must be a
// number; fields beyond the last column are ignored.
class ColumnCollector {
public:
  // rows_hint only sizes the columns up front.
  ColumnCollector(const std::vector<std::string>& names, std::size_t rows_hint);

  void add_row(std::string_view line);

  // The same as add_row(clean_line(line)) without building the cleaned text:
  // tabs and leading White_Space do not change how a line splits, so only the
  // '#' characters need removing, and only lines that hold one need a copy.
  void add_cleaned_row(std::string_view line);

  ColumnTable finish() &&;

private:
  ColumnTable columns_;
  std::vector<double> row_;
  std::string scratch_;
};

} // namespace vexa::readers
