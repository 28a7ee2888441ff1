// Column tables built from whitespace-separated text rows.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/outcome.hpp"
#include "common/types.hpp"

namespace vexa::readers {

// Removes every '#', turns every tab into a space and drops the leading
// White_Space; trailing White_Space stays.
std::string clean_line(std::string_view line);

// What happens to '#' characters in data lines.
enum class HashMarks { keep, remove };

// The columns that a line of names (already cleaned) gives, filled from
// rows that come in pieces of whole lines (a file read a block at a time, or
// a whole text as one piece): every line is a candidate row. A row is taken
// whole or not at all: it needs at least one field per name, and the first
// field under each name must be a number; fields beyond the last name are
// ignored. A name given again keeps its first place and takes the later
// field. With HashMarks::remove each line is read as clean_line would leave
// it.
class ColumnReader {
public:
  // names: a line of names, already cleaned. The rows to come take at most
  // row_bytes bytes (0 when not known) and hold at most line_feeds line
  // feeds when given; both only size the first reservation.
  ColumnReader(std::string names, std::size_t row_bytes,
               std::optional<std::size_t> line_feeds = std::nullopt);
  ColumnReader(ColumnReader&&) noexcept;
  ColumnReader& operator=(ColumnReader&&) noexcept;
  ~ColumnReader();

  // Reads the rows of a piece; false when the caller asked the call to end.
  bool add_rows(std::string_view rows, HashMarks marks);
  ColumnTable finish() &&;

private:
  struct State;
  std::unique_ptr<State> state_;
};

} // namespace vexa::readers
