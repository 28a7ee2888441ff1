#include "readers/table.hpp"

#include <cstring>

#include "readers/lines.hpp"
#include "readers/number.hpp"
#include "readers/white_space.hpp"

namespace vexa::readers {

std::string clean_line(std::string_view line) {
  std::string cleaned;
  cleaned.reserve(line.size());
  for (const char c : line) {
    if (c == '#') continue;
    cleaned.push_back(c == '\t' ? ' ' : c);
  }
  const std::size_t leading = cleaned.size() - trim_leading_white_space(cleaned).size();
  cleaned.erase(0, leading);
  return cleaned;
}

std::vector<std::string> split_fields(std::string_view line) {
  std::vector<std::string> fields;
  FieldCursor cursor(line);
  for (std::string_view field; cursor.next(field);)
    fields.emplace_back(field);
  return fields;
}

ColumnCollector::ColumnCollector(const std::vector<std::string>& names, std::string_view data_text)
    : row_(names.size()) {
  const std::size_t rows = count_line_feeds(data_text) + 1;
  columns_.reserve(names.size());
  for (const std::string& name : names) {
    columns_.push_back(Column{name, {}});
    columns_.back().values.reserve(rows);
  }
}

bool ColumnCollector::read_row(const char*& p, const char* end) {
  // Splitting and the number rule in one pass: a field is a number exactly
  // when the longest number prefix runs up to the White_Space after it.
  for (double& value : row_) {
    p = skip_white_space_in_line(p, end);
    if (p == end || *p == '\n') return false;
    const auto number = parse_number_prefix(p, end);
    if (!number || (p != end && white_space_length(p, end) == 0)) return false;
    value = *number;
  }
  return true;
}

void ColumnCollector::commit_row() {
  for (std::size_t k = 0; k < columns_.size(); ++k)
    columns_[k].values.push_back(row_[k]);
}

void ColumnCollector::add_row(std::string_view line) {
  if (columns_.empty()) return;
  const char* p = line.data();
  if (read_row(p, p + line.size())) commit_row();
}

void ColumnCollector::add_rows(std::string_view text, HashMarks marks) {
  if (columns_.empty() || text.empty()) return; // an empty view may have no storage at all
  const char* p = text.data();
  const char* const end = p + text.size();
  const auto find = [end](const char* from, char c) {
    const void* found = std::memchr(from, c, static_cast<std::size_t>(end - from));
    return found != nullptr ? static_cast<const char*>(found) : end;
  };
  // The first '#' at or after the current line; data lines rarely hold one,
  // so one search usually covers many lines.
  const char* next_hash = marks == HashMarks::remove ? find(p, '#') : end;
  while (p < end) {
    const char* const line_start = p;
    const bool complete = read_row(p, end);
    // Reading stops inside the line, most often right at its line feed.
    const char* const line_end = (p < end && *p == '\n') ? p : find(p, '\n');
    if (next_hash < line_end) {
      scratch_.clear();
      for (const char* c = line_start; c < line_end; ++c)
        if (*c != '#') scratch_.push_back(*c);
      add_row(scratch_);
      next_hash = find(line_end, '#');
    } else if (complete) {
      commit_row();
    }
    p = line_end == end ? end : line_end + 1;
  }
}

ColumnTable ColumnCollector::finish() && {
  return std::move(columns_);
}

} // namespace vexa::readers
