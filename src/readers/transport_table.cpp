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

// Offset of the line that holds the column names: the last line that starts
// with "#Time" once its leading White_Space is skipped, else the first line.
// Data rows rarely hold a '#', so looking only where one stands is fast.
std::size_t header_offset(std::string_view text) {
  std::size_t header = 0;
  for (std::size_t pos = text.find('#'); pos != std::string_view::npos;
       pos = text.find('#', pos + 1)) {
    if (!text.substr(pos).starts_with(header_mark)) continue;
    const std::size_t lf = text.rfind('\n', pos);
    const std::size_t start = lf == std::string_view::npos ? 0 : lf + 1;
    if (trim_leading_white_space(text.substr(start, pos - start)).empty()) header = start;
  }
  return header;
}

std::string no_header(std::string_view path) {
  return std::string("No header found in ").append(path);
}

} // namespace

Outcome<ColumnTable> parse_vexa_file(std::string_view path) {
  auto file = read_text_file(path);
  if (!file) return std::unexpected(std::move(file.error()));
  return parse_vexa_text(file->text(), path);
}

Outcome<ColumnTable> parse_vexa_text(std::string_view text, std::string_view path) {
  LineCursor lines(text.substr(header_offset(text)));
  std::string_view header;
  if (!lines.next(header)) return value_error(no_header(path));
  const std::vector<std::string> names = split_fields(clean_line(header));
  if (names.empty()) return value_error(no_header(path));

  ColumnCollector collector(names, lines.rest());
  collector.add_rows(lines.rest(), HashMarks::remove);
  return std::move(collector).finish();
}

} // namespace vexa::readers
