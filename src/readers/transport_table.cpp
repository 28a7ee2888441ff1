#include "readers/transport_table.hpp"

#include <algorithm>
#include <string>

#include "readers/lines.hpp"
#include "readers/table.hpp"
#include "readers/text_file.hpp"
#include "readers/white_space.hpp"

namespace vexa::readers {
namespace {

constexpr std::string_view header_mark = "#Time";

std::size_t line_start(std::string_view text, std::size_t pos) {
  const std::size_t lf = text.rfind('\n', pos == 0 ? 0 : pos - 1);
  return (lf == std::string_view::npos || pos == 0) ? 0 : lf + 1;
}

// Offset of the line that holds the column names: the last line that starts
// with "#Time" once its leading White_Space is skipped, else the first line.
// Searching for the mark beats testing every line, since data rows rarely
// hold a '#'.
std::size_t header_offset(std::string_view text) {
  std::size_t pos = text.size();
  while (pos > 0) {
    pos = text.rfind(header_mark, pos - 1);
    if (pos == std::string_view::npos) return 0;
    const std::size_t start = line_start(text, pos);
    const std::string_view before = text.substr(start, pos - start);
    if (trim_leading_white_space(before).empty()) return start;
  }
  return 0;
}

std::string no_header(std::string_view path) {
  return std::string("No header found in ").append(path);
}

} // namespace

Outcome<ColumnTable> parse_vexa_file(std::string_view path) {
  auto file = read_text_file(path);
  if (!file) return std::unexpected(std::move(file.error()));
  const std::string_view text = file->text();

  LineCursor lines(text.substr(header_offset(text)));
  std::string_view header;
  if (!lines.next(header)) return value_error(no_header(path));
  const std::vector<std::string> names = split_fields(clean_line(header));
  if (names.empty()) return value_error(no_header(path));

  const std::string_view body = lines.rest();
  const auto rows_hint = static_cast<std::size_t>(std::count(body.begin(), body.end(), '\n')) + 1;
  ColumnCollector collector(names, rows_hint);
  for (std::string_view line; lines.next(line);)
    collector.add_cleaned_row(line);
  return std::move(collector).finish();
}

} // namespace vexa::readers
