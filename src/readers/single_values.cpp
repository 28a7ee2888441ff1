#include "readers/single_values.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "common/interruption.hpp"
#include "readers/lines.hpp"
#include "readers/number.hpp"
#include "readers/text_file.hpp"
#include "readers/white_space.hpp"

namespace vexa::readers {
namespace {

// Bounds of the line around an offset: its content (without "\n" or "\r\n")
// and where the next line starts (text.size() when there is none).
struct LineAt {
  std::size_t start;
  std::size_t content_end;
  std::size_t next;
};

LineAt line_at(std::string_view text, std::size_t pos) {
  LineAt line{};
  const std::size_t lf_before = pos == 0 ? std::string_view::npos : text.rfind('\n', pos - 1);
  line.start = lf_before == std::string_view::npos ? 0 : lf_before + 1;
  const std::size_t lf = text.find('\n', pos);
  if (lf == std::string_view::npos) {
    line.content_end = line.next = text.size();
  } else {
    line.content_end = lf > line.start && text[lf - 1] == '\r' ? lf - 1 : lf;
    line.next = lf + 1;
  }
  return line;
}

// Bytes searched or read between two questions whether to go on.
constexpr std::size_t poll_interval = std::size_t{1} << 22;

constexpr std::size_t not_found = std::string_view::npos;

// The first occurrence of needle at or after `from`, searched in slices that
// overlap by the needle's length so that none is missed at a seam; nullopt
// when the caller asked the call to end.
std::optional<std::size_t> find_from(std::string_view text, std::string_view needle,
                                     std::size_t from) {
  while (from + needle.size() <= text.size()) {
    const std::size_t span = std::min(text.size() - from, poll_interval + needle.size());
    const void* hit = ::memmem(text.data() + from, span, needle.data(), needle.size());
    if (hit != nullptr)
      return static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
    if (from + span == text.size()) break;
    from += poll_interval;
    if (interrupt_requested()) return std::nullopt;
  }
  return not_found;
}

} // namespace

std::optional<std::uint64_t> parse_count(std::string_view token) {
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  if (token.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : token) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

Outcome<double> parse_volume_density_text(std::string_view text, std::string_view path) {
  LineCursor lines(text);
  std::string_view line;
  InterruptPoll poll(poll_interval);
  if (lines.next(line) && lines.next(line)) {
    while (lines.next(line)) {
      if (poll(line.size() + 1)) return interrupted();
      FieldCursor fields(line);
      std::string_view field;
      if (!fields.next(field) || !fields.next(field)) continue;
      if (const auto value = parse_number(field)) return *value;
    }
  }
  return value_error(std::string("No numeric data found in ").append(path));
}

// The search runs over the whole text rather than line by line: a hit counts
// when it lies within one line's content, and the line after it must start
// with a count.
Outcome<std::uint64_t> read_group_count_text(std::string_view text, std::string_view log_path,
                                             std::string_view group_name) {
  std::string needle = "group ";
  needle.append(group_name);
  std::size_t from = 0;
  while (true) {
    const auto found = find_from(text, needle, from);
    if (!found) return interrupted();
    const std::size_t hit = *found;
    if (hit == not_found) break;
    const LineAt line = line_at(text, hit);
    if (hit + needle.size() > line.content_end) {
      // Runs into the line end; so does every later hit in this line.
      from = line.next;
      continue;
    }
    if (line.next == text.size()) break; // the last line: nothing follows it
    const LineAt follower = line_at(text, line.next);
    FieldCursor fields(text.substr(follower.start, follower.content_end - follower.start));
    std::string_view token;
    if (fields.next(token))
      if (const auto count = parse_count(token)) return *count;
    from = follower.start;
  }
  std::string message = "Group '";
  message.append(group_name).append("' count not found in '").append(log_path).append("'");
  return value_error(std::move(message));
}

Outcome<double> parse_volume_density(std::string_view path) {
  return parse_file(path, parse_volume_density_text);
}

Outcome<std::uint64_t> read_group_count(std::string_view log_path, std::string_view group_name) {
  return parse_file(log_path, [group_name](std::string_view text, std::string_view path) {
    return read_group_count_text(text, path, group_name);
  });
}

} // namespace vexa::readers
