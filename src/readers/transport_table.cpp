#include "readers/transport_table.hpp"

#include <cstring>
#include <optional>
#include <string>

#include "common/interruption.hpp"
#include "readers/lines.hpp"
#include "readers/table.hpp"
#include "readers/text_file.hpp"
#include "readers/white_space.hpp"

namespace vexa::readers {
namespace {

constexpr std::string_view header_mark = "#Time";

// Offset of the last line in the text that starts with "#Time" once its
// leading White_Space is skipped; npos when none does, nothing when the
// caller asked the call to end. Only a line's first '#' can follow nothing
// but White_Space, so each line is looked at up to its first '#' and then
// skipped: one pass over the text, whatever it holds. Data rows rarely hold
// a '#', so the search mostly runs from one '#' to the next, and it ends at
// hash_end, past which the text holds none.
std::optional<std::size_t> last_header_line(std::string_view text, std::size_t hash_end) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const auto find = [](const char* from, const char* to, char c) {
    const void* found = std::memchr(from, c, static_cast<std::size_t>(to - from));
    return static_cast<const char*>(found);
  };
  InterruptPoll poll(std::uint64_t{1} << 22);
  std::size_t header = std::string_view::npos;
  const char* line = begin; // the start of a line at or before `from`
  const char* const hashes_end = begin + hash_end;
  for (const char* from = begin; from < hashes_end;) {
    const char* const hash = find(from, hashes_end, '#');
    if (hash == nullptr) break;
    // The line holding the '#' starts after the last line feed before it.
    const void* lf = ::memrchr(from, '\n', static_cast<std::size_t>(hash - from));
    if (lf != nullptr) line = static_cast<const char*>(lf) + 1;
    const std::string_view rest(hash, static_cast<std::size_t>(end - hash));
    if (rest.starts_with(header_mark) &&
        trim_leading_white_space({line, static_cast<std::size_t>(hash - line)}).empty())
      header = static_cast<std::size_t>(line - begin);
    const char* const next_lf = find(hash, end, '\n');
    if (next_lf == nullptr) break;
    if (poll(static_cast<std::uint64_t>(next_lf + 1 - from))) return std::nullopt;
    from = line = next_lf + 1;
  }
  return header;
}

std::string no_header(std::string_view path) {
  return std::string("No header found in ").append(path);
}

// The columns of a table whose text comes in runs of whole lines: under the
// last "#Time" line met so far, or under the first line until one comes. A
// later header starts the columns afresh, as rows above it do not count.
class TransportColumns {
public:
  // row_bytes and line_feeds bound the rows to come, as ColumnReader takes them.
  TransportColumns(std::size_t row_bytes, std::optional<std::size_t> line_feeds)
      : row_bytes_(row_bytes), line_feeds_(line_feeds) {}

  // False when the caller asked the call to end.
  bool add(std::string_view lines) { return add(lines, lines.size()); }
  bool add(std::string_view lines, std::size_t hash_end) {
    const auto header = last_header_line(lines, hash_end);
    if (!header) return false;
    if (*header != std::string_view::npos || !reader_) {
      const std::size_t at = *header != std::string_view::npos ? *header : 0;
      LineCursor cursor(lines.substr(at));
      std::string_view names;
      if (!cursor.next(names)) return true;
      reader_.emplace(clean_line(names), row_bytes_, line_feeds_);
      lines = cursor.rest();
    }
    return reader_->add_rows(lines, HashMarks::remove);
  }

  Outcome<ColumnTable> finish(std::string_view path) && {
    if (!reader_) return value_error(no_header(path));
    ColumnTable table = std::move(*reader_).finish();
    if (table.empty()) return value_error(no_header(path));
    return table;
  }

private:
  std::size_t row_bytes_;
  std::optional<std::size_t> line_feeds_;
  std::optional<ColumnReader> reader_;
};

} // namespace

Outcome<ColumnTable> parse_vexa_file(std::string_view path) {
  return parse_in_blocks(path, [](std::size_t size) { return TransportColumns(size, {}); });
}

Outcome<ColumnTable> parse_vexa_text(std::string_view text, std::string_view path,
                                     std::optional<TextCensus> census) {
  TransportColumns columns(text.size(), census ? std::optional(census->line_feeds) : std::nullopt);
  if (!columns.add(text, census ? census->hash_end : text.size())) return interrupted();
  return std::move(columns).finish(path);
}

} // namespace vexa::readers
