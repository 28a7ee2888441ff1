// Unicode White_Space over UTF-8 text that is already known to be valid.
#pragma once

#include <cstddef>
#include <string_view>

namespace vexa::readers {

// Length in bytes of the White_Space character starting at p, or 0 when the
// character there is not White_Space. The set is the Unicode property
// White_Space: U+0009..U+000D, U+0020, U+0085, U+00A0, U+1680,
// U+2000..U+200A, U+2028, U+2029, U+202F, U+205F and U+3000.
inline std::size_t white_space_length(const char* p, const char* end) {
  const auto b0 = static_cast<unsigned char>(*p);
  if (b0 < 0x80) return (b0 == ' ' || (b0 >= 0x09 && b0 <= 0x0D)) ? 1 : 0;
  const std::size_t left = static_cast<std::size_t>(end - p);
  if (b0 == 0xC2) {
    if (left < 2) return 0;
    const auto b1 = static_cast<unsigned char>(p[1]);
    return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;
  }
  if (b0 != 0xE1 && b0 != 0xE2 && b0 != 0xE3) return 0;
  if (left < 3) return 0;
  const auto b1 = static_cast<unsigned char>(p[1]);
  const auto b2 = static_cast<unsigned char>(p[2]);
  switch (b0) {
  case 0xE1: // U+1680
    return (b1 == 0x9A && b2 == 0x80) ? 3 : 0;
  case 0xE2:
    if (b1 == 0x80) // U+2000..U+200A, U+2028, U+2029, U+202F
      return ((b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF) ? 3 : 0;
    return (b1 == 0x81 && b2 == 0x9F) ? 3 : 0; // U+205F
  default:                                     // U+3000
    return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;
  }
}

// Skips White_Space up to the end of the line: stops at a line feed.
inline const char* skip_white_space_in_line(const char* p, const char* end) {
  while (p < end) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    if (*p == '\n') break;
    const std::size_t n = white_space_length(p, end);
    if (n == 0) break;
    p += n;
  }
  return p;
}

inline std::string_view trim_leading_white_space(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const std::size_t n = white_space_length(p, end);
    if (n == 0) break;
    p += n;
  }
  return {p, static_cast<std::size_t>(end - p)};
}

// Printable ASCII other than the space: never White_Space.
inline bool is_plain_ascii(unsigned char b) {
  return b > ' ' && b < 0x7F;
}

// Walks the fields of a line: the pieces between runs of White_Space.
class FieldCursor {
public:
  explicit FieldCursor(std::string_view line) : p_(line.data()), end_(p_ + line.size()) {}

  bool next(std::string_view& field) {
    for (;;) {
      if (p_ == end_) return false;
      const auto b = static_cast<unsigned char>(*p_);
      if (b == ' ') {
        ++p_;
        continue;
      }
      if (is_plain_ascii(b)) break;
      const std::size_t n = white_space_length(p_, end_);
      if (n == 0) break;
      p_ += n;
    }
    // The first byte is not White_Space, and the continuation bytes of a
    // multi-byte character never start one, so the scan may go byte-wise.
    const char* const start = p_++;
    while (p_ < end_) {
      const auto b = static_cast<unsigned char>(*p_);
      if (!is_plain_ascii(b) && white_space_length(p_, end_) != 0) break;
      ++p_;
    }
    field = {start, static_cast<std::size_t>(p_ - start)};
    return true;
  }

private:
  const char* p_;
  const char* end_;
};

} // namespace vexa::readers
