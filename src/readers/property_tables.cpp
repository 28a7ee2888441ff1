#include "readers/property_tables.hpp"

#include <optional>
#include <string>
#include <utility>

#include "readers/lines.hpp"
#include "readers/table.hpp"
#include "readers/text_file.hpp"

namespace vexa::readers {
namespace {

std::string too_short(std::string_view path) {
  return std::string(path).append(": file too short");
}

// The columns of a table whose names stand on a fixed line, the rows from a
// later fixed line on, from text that comes in runs of whole lines.
class ColumnsUnderLines {
public:
  // names_at and first_row count lines from 0; with rows_required the table
  // needs some text after the lines above its rows. row_bytes and
  // line_feeds bound the rows to come, as ColumnReader takes them.
  ColumnsUnderLines(std::size_t names_at, std::size_t first_row, bool rows_required,
                    std::size_t row_bytes, std::optional<std::size_t> line_feeds)
      : names_at_(names_at), first_row_(first_row), rows_required_(rows_required),
        row_bytes_(row_bytes), line_feeds_(line_feeds) {}

  // False when the caller asked the call to end.
  bool add(std::string_view lines) {
    LineCursor cursor(lines);
    for (std::string_view line; seen_ < first_row_; ++seen_) {
      if (!cursor.next(line)) return true;
      if (seen_ == names_at_) names_ = clean_line(line);
    }
    if (!reader_) reader_.emplace(std::move(names_), row_bytes_, line_feeds_);
    has_rows_ = has_rows_ || !cursor.rest().empty();
    return reader_->add_rows(cursor.rest(), HashMarks::keep);
  }

  Outcome<ColumnTable> finish(std::string_view path) && {
    if (!reader_ || (rows_required_ && !has_rows_)) return value_error(too_short(path));
    return std::move(*reader_).finish();
  }

private:
  std::size_t names_at_, first_row_;
  bool rows_required_;
  std::size_t row_bytes_;
  std::optional<std::size_t> line_feeds_;
  std::size_t seen_ = 0; // lines above the rows passed so far
  std::string names_;
  bool has_rows_ = false;
  std::optional<ColumnReader> reader_;
};

// A title line, then the names (nvt_prod.dat); a title, a statistics
// comment, the names, a per-timestep statistics line, then at least some
// text (npt_prod_angle.dat).
ColumnsUnderLines thermo_columns(std::size_t size, std::optional<std::size_t> line_feeds) {
  return ColumnsUnderLines(1, 2, false, size, line_feeds);
}
ColumnsUnderLines bond_angle_columns(std::size_t size, std::optional<std::size_t> line_feeds) {
  return ColumnsUnderLines(2, 4, true, size, line_feeds);
}

template <class Make>
Outcome<ColumnTable> parse_whole(std::string_view text, std::string_view path,
                                 std::optional<TextCensus> census, Make make) {
  auto columns = make(text.size(), census ? std::optional(census->line_feeds) : std::nullopt);
  if (!columns.add(text)) return interrupted();
  return std::move(columns).finish(path);
}

} // namespace

Outcome<ColumnTable> parse_thermoprop_text(std::string_view text, std::string_view path,
                                           std::optional<TextCensus> census) {
  return parse_whole(text, path, census, thermo_columns);
}

Outcome<ColumnTable> parse_bond_angle_text(std::string_view text, std::string_view path,
                                           std::optional<TextCensus> census) {
  return parse_whole(text, path, census, bond_angle_columns);
}

Outcome<ColumnTable> parse_thermoprop(std::string_view path) {
  return parse_in_blocks(path, [](std::size_t size) { return thermo_columns(size, {}); });
}

Outcome<ColumnTable> parse_bond_angle(std::string_view path) {
  return parse_in_blocks(path, [](std::size_t size) { return bond_angle_columns(size, {}); });
}

} // namespace vexa::readers
