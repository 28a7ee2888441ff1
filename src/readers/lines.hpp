// Line splitting shared by every reader.
#pragma once

#include <cstring>
#include <string_view>

namespace vexa::readers {

// A line ends at a line feed; one carriage return directly before it goes
// with it. Text after the last line feed is a last line when not empty, so an
// empty text has no lines and a final line feed adds no empty line.
class LineCursor {
public:
  explicit LineCursor(std::string_view text) : rest_(text) {}

  bool next(std::string_view& line) {
    if (rest_.empty()) return false;
    const void* lf = std::memchr(rest_.data(), '\n', rest_.size());
    if (lf == nullptr) {
      line = rest_;
      rest_ = {};
      return true;
    }
    const std::size_t len = static_cast<std::size_t>(static_cast<const char*>(lf) - rest_.data());
    line = rest_.substr(0, len);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    rest_.remove_prefix(len + 1);
    return true;
  }

  // The text not yet returned as lines.
  std::string_view rest() const { return rest_; }

private:
  std::string_view rest_;
};

} // namespace vexa::readers
