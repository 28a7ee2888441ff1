// Line splitting shared by every reader.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexa::readers {

// A line ends at a line feed. The carriage return of a CRLF file stays on its
// line: it is White_Space, which every reader skips around fields. Text after
// the last line feed is a last line when not empty, so an empty text has no
// lines and a final line feed adds no empty line.
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
    rest_.remove_prefix(len + 1);
    return true;
  }

  // The text not yet returned as lines.
  std::string_view rest() const { return rest_; }

private:
  std::string_view rest_;
};

// Number of line feeds in the text; sizes column storage before parsing.
inline std::size_t count_line_feeds(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  std::size_t count = 0;
#if defined(__SSE2__)
  // Byte lanes count matches (a match is -1) for up to 255 blocks, then the
  // lanes are summed; the compiler does not vectorise the plain loop at -O2.
  const __m128i line_feed = _mm_set1_epi8('\n');
  while (end - p >= 16) {
    __m128i lanes = _mm_setzero_si128();
    for (int block = 0; block < 255 && end - p >= 16; ++block, p += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(bytes, line_feed));
    }
    const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
    count += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  }
#endif
  for (; p < end; ++p)
    count += *p == '\n';
  return count;
}

} // namespace vexa::readers
