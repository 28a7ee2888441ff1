#include "readers/table.hpp"

#include <cstring>

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

ColumnCollector::ColumnCollector(const std::vector<std::string>& names, std::size_t rows_hint)
    : row_(names.size()) {
  columns_.reserve(names.size());
  for (const std::string& name : names) {
    columns_.push_back(Column{name, {}});
    columns_.back().values.reserve(rows_hint);
  }
}

void ColumnCollector::add_row(std::string_view line) {
  if (columns_.empty()) return;
  // Splitting and the number rule in one pass: a field is a number exactly
  // when the longest number prefix runs up to the White_Space after it.
  const char* p = line.data();
  const char* const end = p + line.size();
  for (double& value : row_) {
    p = skip_white_space(p, end);
    if (p == end) return;
    const auto number = parse_number_prefix(p, end);
    if (!number || (p != end && white_space_length(p, end) == 0)) return;
    value = *number;
  }
  for (std::size_t k = 0; k < columns_.size(); ++k)
    columns_[k].values.push_back(row_[k]);
}

void ColumnCollector::add_cleaned_row(std::string_view line) {
  if (std::memchr(line.data(), '#', line.size()) == nullptr) {
    add_row(line);
    return;
  }
  scratch_.clear();
  for (const char c : line)
    if (c != '#') scratch_.push_back(c);
  add_row(scratch_);
}

ColumnTable ColumnCollector::finish() && {
  return std::move(columns_);
}

} // namespace vexa::readers
