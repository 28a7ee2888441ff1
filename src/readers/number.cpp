#include "readers/number.hpp"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

namespace vexa::readers {
namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Eight digits at a time: data rows are mostly long runs of digits.
constexpr bool swar = std::endian::native == std::endian::little;

// The high bit of every byte that is not an ASCII digit. After the XOR a
// digit byte holds 0..9; adding 0x76 to the low seven bits sets the high bit
// exactly from 10 on, and cannot carry into the next byte.
std::uint64_t non_digit_bytes(std::uint64_t word) {
  const std::uint64_t values = word ^ 0x3030303030303030;
  return (((values & 0x7F7F7F7F7F7F7F7F) + 0x7676767676767676) | values) & 0x8080808080808080;
}

// The number written by eight digit values (0..9, one per byte, the first
// most significant): pairs, then quadruples, then the whole, each by one
// multiply-and-shift.
std::uint64_t eight_digits_value(std::uint64_t values) {
  values = (values * 10) + (values >> 8);
  values = (((values & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
            (((values >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >>
           32;
  return values & 0xFFFFFFFF;
}

constexpr std::uint64_t integer_powers_of_ten[] = {1,      10,      100,      1000,     10000,
                                                   100000, 1000000, 10000000, 100000000};

bool equals_ignoring_case(std::string_view text, std::string_view lower_word) {
  if (text.size() != lower_word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower_word[i]) return false;
  }
  return true;
}

std::optional<double> parse_word(std::string_view word, bool negative) {
  constexpr double infinity = std::numeric_limits<double>::infinity();
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  if (equals_ignoring_case(word, "inf") || equals_ignoring_case(word, "infinity"))
    return negative ? -infinity : infinity;
  if (equals_ignoring_case(word, "nan")) return negative ? -nan : nan;
  return std::nullopt;
}

// Powers of ten that are exact in float64.
constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Exponents beyond any representable value saturate here, far from overflow.
constexpr std::int64_t exponent_cap = std::int64_t{1} << 40;

// Appends the digits at p to mantissa and returns where they end. Eight
// bytes are looked at in one go: the run of digits at their start, whatever
// its length, is converted at once.
const char* take_digits(const char* p, const char* end, std::uint64_t& mantissa) {
  if constexpr (swar) {
    while (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      const std::uint64_t stops = non_digit_bytes(word);
      const std::uint64_t values = word ^ 0x3030303030303030;
      if (stops == 0) {
        mantissa = mantissa * 100000000 + eight_digits_value(values);
        p += 8;
        continue;
      }
      const int count = std::countr_zero(stops) / 8;
      if (count > 0) {
        // Shifting the run to the top fills the low bytes with zero digits,
        // which lead and change nothing.
        mantissa = mantissa * integer_powers_of_ten[count] +
                   eight_digits_value(values << (64 - 8 * count));
        p += count;
      }
      return p;
    }
  }
  for (; p < end && is_digit(*p); ++p)
    mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
  return p;
}

// Decimal place of the first non-zero digit, or nothing for an all-zero
// literal; only the rare out-of-range case needs it.
std::optional<std::int64_t> leading_place(const char* integer_begin, const char* integer_end,
                                          const char* fraction_begin, const char* fraction_end,
                                          std::int64_t exponent) {
  for (const char* d = integer_begin; d < integer_end; ++d)
    if (*d != '0') return (integer_end - d) - 1 + exponent;
  for (const char* d = fraction_begin; d < fraction_end; ++d)
    if (*d != '0') return exponent - (d - fraction_begin) - 1;
  return std::nullopt;
}

} // namespace

std::optional<double> parse_number_prefix(const char*& cursor, const char* end) {
  const char* p = cursor;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (p == end) return std::nullopt;
  if (!is_digit(*p) && *p != '.') {
    const char* word_end = p;
    while (word_end < end && is_letter(*word_end))
      ++word_end;
    const auto word = parse_word({p, static_cast<std::size_t>(word_end - p)}, negative);
    if (word) cursor = word_end;
    return word;
  }
  const char* const unsigned_begin = p;

  // Grammar and digits in one pass: digits, at most one point, at least one
  // digit in all, then an optional exponent. The mantissa is only used when
  // there are at most 19 digits, which cannot overflow it.
  std::uint64_t mantissa = 0;
  const char* const integer_begin = p;
  const char* const integer_end = take_digits(p, end, mantissa);
  const char* fraction_begin = integer_end;
  const char* fraction_end = integer_end;
  p = integer_end;
  if (p < end && *p == '.') {
    fraction_begin = p + 1;
    fraction_end = take_digits(fraction_begin, end, mantissa);
    p = fraction_end;
  }
  const std::int64_t digits = (integer_end - integer_begin) + (fraction_end - fraction_begin);
  if (digits == 0) return std::nullopt;
  std::int64_t exponent = 0;
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    bool negative_exponent = false;
    if (p < end && (*p == '+' || *p == '-')) negative_exponent = *p++ == '-';
    // An exponent letter without digits: no field holding it is a number.
    if (p == end || !is_digit(*p)) return std::nullopt;
    for (; p < end && is_digit(*p); ++p)
      if (exponent < exponent_cap) exponent = exponent * 10 + (*p - '0');
    if (negative_exponent) exponent = -exponent;
  }
  const char* const number_end = p;
  cursor = number_end;

  // An exact integer mantissa and an exactly representable power of ten:
  // one correctly rounded multiplication or division is the correctly
  // rounded value.
  const std::int64_t scale = exponent - (fraction_end - fraction_begin);
  if (digits <= 19 && scale >= -22 && scale <= 22 && mantissa <= (std::uint64_t{1} << 53)) {
    const double m = static_cast<double>(mantissa);
    const double value =
        scale >= 0 ? m * exact_powers_of_ten[scale] : m / exact_powers_of_ten[-scale];
    return negative ? -value : value;
  }

  const auto place =
      leading_place(integer_begin, integer_end, fraction_begin, fraction_end, exponent);
  if (!place) return negative ? -0.0 : 0.0;
  double value = 0.0;
  const auto [stop, error] =
      std::from_chars(unsigned_begin, number_end, value, std::chars_format::general);
  if (error == std::errc::result_out_of_range) {
    value = *place > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (error != std::errc{} || stop != number_end) {
    return std::nullopt; // cannot happen for text the grammar accepted
  }
  return negative ? -value : value;
}

std::optional<double> parse_number(std::string_view field) {
  const char* p = field.data();
  const char* const end = p + field.size();
  const auto value = parse_number_prefix(p, end);
  if (p != end) return std::nullopt;
  return value;
}

} // namespace vexa::readers
