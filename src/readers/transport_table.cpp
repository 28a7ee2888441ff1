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

// Offset of the line that holds the column names: the last line that starts
// with "#Time" once its leading White_Space is skipped, else the first line.
// Only a line's first '#' can follow nothing but White_Space, so each line
// is looked at up to its first '#' and then skipped: one pass over the text,
// whatever it holds. Data rows rarely hold a '#', so the search mostly runs
// from one '#' to the next, and it ends at hash_end, past which the text
// holds none.
std::optional<std::size_t> header_offset(std::string_view text, std::size_t hash_end) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const auto find = [](const char* from, const char* to, char c) {
    const void* found = std::memchr(from, c, static_cast<std::size_t>(to - from));
    return static_cast<const char*>(found);
  };
  InterruptPoll poll(std::uint64_t{1} << 22);
  std::size_t header = 0;
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

} // namespace

Outcome<ColumnTable> parse_vexa_file(std::string_view path) {
  return parse_file(path, parse_vexa_text);
}

Outcome<ColumnTable> parse_vexa_text(std::string_view text, std::string_view path,
                                     std::optional<TextCensus> census) {
  const auto offset = header_offset(text, census ? census->hash_end : text.size());
  if (!offset) return interrupted();
  LineCursor lines(text.substr(*offset));
  std::string_view header;
  if (!lines.next(header)) return value_error(no_header(path));
  const std::string names = clean_line(header);
  auto table = read_columns(names, lines.rest(), HashMarks::remove,
                            census ? std::optional(census->line_feeds) : std::nullopt);
  if (table && table->empty()) return value_error(no_header(path));
  return table;
}

} // namespace vexa::readers
