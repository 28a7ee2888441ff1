#include "readers/table.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/interruption.hpp"
#include "readers/number.hpp"
#include "readers/white_space.hpp"

namespace vexa::readers {
namespace {

// Bytes of rows read between two questions whether to go on.
constexpr std::uint64_t poll_interval = std::uint64_t{1} << 20;

// The fields a row must have and the column each is stored in. Usually every
// field has a column of its own; a repeated name keeps only its last field.
class Layout {
public:
  explicit Layout(std::string_view names) {
    std::unordered_map<std::string_view, std::size_t> slots; // name -> column
    std::vector<std::size_t> last_field;
    FieldCursor cursor(names);
    for (std::string_view name; cursor.next(name); ++fields_) {
      const auto [slot, added] = slots.try_emplace(name, names_.size());
      if (added) {
        names_.push_back(name);
        last_field.push_back(fields_);
      } else {
        last_field[slot->second] = fields_;
      }
    }
    if (names_.size() == fields_) return;
    kept_.reserve(names_.size());
    for (std::size_t column = 0; column < names_.size(); ++column)
      kept_.push_back({last_field[column], column});
    std::ranges::sort(kept_);
  }

  std::size_t fields() const { return fields_; }
  const std::vector<std::string_view>& names() const { return names_; }
  // (field, column) of the fields that are stored, by field; empty when
  // field k is stored in column k for every k.
  const std::vector<std::pair<std::size_t, std::size_t>>& kept() const { return kept_; }

private:
  std::size_t fields_ = 0;
  std::vector<std::string_view> names_;
  std::vector<std::pair<std::size_t, std::size_t>> kept_;
};

// Rows are read straight into the columns: a row's values are written at
// the next row's place as its fields are read, and a row found incomplete is
// dropped by not counting it. The columns grow together when full.
class ColumnCollector {
public:
  ColumnCollector(const Layout& layout, std::size_t rows) : layout_(layout) {
    columns_.reserve(layout.names().size());
    for (const std::string_view name : layout.names())
      columns_.push_back(Column{std::string(name), {}});
    grow(std::max<std::size_t>(rows, 1));
  }

  // Every line of the text is a candidate row. With HashMarks::remove each
  // line is read as clean_line would leave it: tabs and leading White_Space
  // do not change how a line splits, and a row read whole from the raw line
  // holds no '#' up to its last field, so cleaning changes none of its
  // fields. Only a line that fails raw and holds a '#' is copied without
  // them and read again. False when the caller asked the call to end.
  bool add_rows(std::string_view text, HashMarks marks);

  ColumnTable finish() && {
    for (Column& column : columns_)
      column.values.set_size(filled_);
    return std::move(columns_);
  }

private:
  // Reads the row's fields from p into the next row's place, never past the
  // line's end; p is left where reading stopped. True when the row is
  // complete.
  [[gnu::always_inline]] bool read_row(const char*& p, const char* end);
  void add_row(std::string_view line) {
    const char* p = line.data();
    if (read_row(p, p + line.size())) commit_row();
  }
  void commit_row() {
    if (++filled_ == capacity_) grow(capacity_ * 2);
  }
  void grow(std::size_t rows) {
    places_.clear();
    for (Column& column : columns_) {
      column.values.reserve(rows);
      places_.push_back(column.values.data());
    }
    capacity_ = rows;
  }

  const Layout& layout_;
  ColumnTable columns_;
  std::vector<double*> places_; // where each column's values start
  std::size_t capacity_ = 0;    // rows every column has room for
  std::size_t filled_ = 0;
  std::string scratch_;
};

// Skips the White_Space before a field, up to the end of the line: stops at
// a line feed. Fields are mostly parted by spaces.
[[gnu::always_inline]] inline const char* skip_to_field(const char* p, const char* end) {
  while (p < end) {
    const auto b = static_cast<unsigned char>(*p);
    if (b == ' ') {
      ++p;
      continue;
    }
    if (is_plain_ascii(b) || b == '\n') break;
    const std::size_t n = white_space_length(p, end);
    if (n == 0) break;
    p += n;
  }
  return p;
}

// Splitting and the number rule in one pass: a field is a number exactly when
// the longest number prefix runs up to the White_Space after it.
// Runs once a field: kept inline in the row loop.
[[gnu::always_inline]] inline bool read_field(const char*& p, const char* end, double& value) {
  if (p == end || !is_plain_ascii(static_cast<unsigned char>(*p))) {
    p = skip_to_field(p, end);
    if (p == end || *p == '\n') return false;
  }
  const char* const number_end = read_number_prefix(p, end, value);
  if (number_end == nullptr) return false;
  p = number_end;
  if (p == end) return true;
  // Mostly one space parts the fields: the next one starts right after it.
  if (*p == ' ') {
    ++p;
    return true;
  }
  return *p == '\n' || white_space_length(p, end) != 0;
}

inline bool ColumnCollector::read_row(const char*& cursor, const char* end) {
  const auto& kept = layout_.kept();
  double* const* const places = places_.data();
  const std::size_t row = filled_;
  const char* p = cursor;
  bool complete = true;
  if (kept.empty()) {
    const std::size_t columns = columns_.size();
    for (std::size_t k = 0; k < columns && complete; ++k)
      complete = read_field(p, end, places[k][row]);
  } else {
    auto next = kept.begin();
    double value = 0.0;
    const std::size_t fields = layout_.fields();
    for (std::size_t field = 0; field < fields && complete; ++field) {
      complete = read_field(p, end, value);
      if (next != kept.end() && next->first == field) places[(next++)->second][row] = value;
    }
  }
  cursor = p;
  return complete;
}

bool ColumnCollector::add_rows(std::string_view text, HashMarks marks) {
  if (columns_.empty() || text.empty()) return true; // an empty view may have no storage at all
  const char* p = text.data();
  const char* const end = p + text.size();
  InterruptPoll poll(poll_interval);
  while (p < end) {
    const char* const line_start = p;
    const bool complete = read_row(p, end);
    // Reading stops inside the line, most often right at its line feed.
    const char* line_end = p;
    if (line_end < end && *line_end != '\n') {
      const void* lf = std::memchr(line_end, '\n', static_cast<std::size_t>(end - line_end));
      line_end = lf != nullptr ? static_cast<const char*>(lf) : end;
    }
    if (complete) {
      commit_row();
    } else if (marks == HashMarks::remove &&
               std::memchr(line_start, '#', static_cast<std::size_t>(line_end - line_start))) {
      scratch_.clear();
      for (const char* c = line_start; c < line_end; ++c)
        if (*c != '#') scratch_.push_back(*c);
      add_row(scratch_);
    }
    p = line_end == end ? end : line_end + 1;
    if (poll(static_cast<std::uint64_t>(p - line_start))) return false;
  }
  return true;
}

} // namespace

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

// The names own the text the layout points into, so they come first.
struct ColumnReader::State {
  State(std::string text, std::size_t row_bytes, std::optional<std::size_t> line_feeds)
      : names(std::move(text)), layout(names),
        collector(layout, first_reservation(layout.fields(), row_bytes, line_feeds)) {}

  // No more rows than there are lines, and no more than rows of k fields of
  // at least eight bytes each (a separator included) would fill, so that the
  // reservation never exceeds the text's own size, whatever junk it holds.
  // Real tables write wider fields than that, so their columns are not
  // reallocated; a table of narrower fields grows as it goes. Room for a few
  // thousand rows, to grow from, where the size is not known.
  static std::size_t first_reservation(std::size_t fields, std::size_t row_bytes,
                                       std::optional<std::size_t> line_feeds) {
    if (fields == 0) return 1;
    std::size_t rows = row_bytes != 0 ? row_bytes / (8 * fields) + 1 : 4096;
    if (line_feeds) rows = std::min(rows, *line_feeds + 1);
    return rows;
  }

  std::string names;
  Layout layout;
  ColumnCollector collector;
};

ColumnReader::ColumnReader(std::string names, std::size_t row_bytes,
                           std::optional<std::size_t> line_feeds)
    : state_(std::make_unique<State>(std::move(names), row_bytes, line_feeds)) {}
ColumnReader::ColumnReader(ColumnReader&&) noexcept = default;
ColumnReader& ColumnReader::operator=(ColumnReader&&) noexcept = default;
ColumnReader::~ColumnReader() = default;

bool ColumnReader::add_rows(std::string_view rows, HashMarks marks) {
  if (state_->layout.fields() == 0) return true;
  return state_->collector.add_rows(rows, marks);
}

ColumnTable ColumnReader::finish() && {
  if (state_->layout.fields() == 0) return ColumnTable{};
  return std::move(state_->collector).finish();
}

} // namespace vexa::readers
