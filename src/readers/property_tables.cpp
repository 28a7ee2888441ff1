#include "readers/property_tables.hpp"

#include <string>

#include "readers/lines.hpp"
#include "readers/table.hpp"
#include "readers/text_file.hpp"

namespace vexa::readers {
namespace {

std::string too_short(std::string_view path) {
  return std::string(path).append(": file too short");
}

// Columns named by the cleaned name line, filled from the raw lines the cursor
// has not returned yet.
Outcome<ColumnTable> collect(std::string_view name_line, const LineCursor& lines,
                             std::optional<TextCensus> census) {
  return read_columns(clean_line(name_line), lines.rest(), HashMarks::keep,
                      census ? std::optional(census->line_feeds) : std::nullopt);
}

} // namespace

Outcome<ColumnTable> parse_thermoprop_text(std::string_view text, std::string_view path,
                                           std::optional<TextCensus> census) {
  LineCursor lines(text);
  std::string_view title, names;
  if (!lines.next(title) || !lines.next(names)) return value_error(too_short(path));
  return collect(names, lines, census);
}

Outcome<ColumnTable> parse_bond_angle_text(std::string_view text, std::string_view path,
                                           std::optional<TextCensus> census) {
  LineCursor lines(text);
  std::string_view title, stats, names, step;
  if (!lines.next(title) || !lines.next(stats) || !lines.next(names) || !lines.next(step) ||
      lines.rest().empty())
    return value_error(too_short(path));
  return collect(names, lines, census);
}

Outcome<ColumnTable> parse_thermoprop(std::string_view path) {
  return parse_file(path, parse_thermoprop_text);
}

Outcome<ColumnTable> parse_bond_angle(std::string_view path) {
  return parse_file(path, parse_bond_angle_text);
}

} // namespace vexa::readers
