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

// What happens to '#' characters in data lines.
enum class HashMarks { keep, remove };

// Collects rows under a header. A row is taken whole or not at all: it needs
// at least one field per column, and the first field of each column must be a
// number; fields beyond the last column are ignored.
class ColumnCollector {
public:
  // Sized for every line of the data text; columns are never reallocated.
  ColumnCollector(const std::vector<std::string>& names, std::string_view data_text);

  // Every line of the text is a candidate row. With HashMarks::remove each
  // line is read as clean_line would leave it: tabs and leading White_Space
  // do not change how a line splits, so only its '#' characters matter, and
  // only the rare line holding one is copied without them.
  void add_rows(std::string_view text, HashMarks marks);

  void add_row(std::string_view line);

  ColumnTable finish() &&;

private:
  // Reads one field per column from p, never past the line's end; p is left
  // where reading stopped. True when the row is complete.
  bool read_row(const char*& p, const char* end);
  void commit_row();

  ColumnTable columns_;
  std::vector<double> row_;
  std::string scratch_;
};

} // namespace vexa::readers
