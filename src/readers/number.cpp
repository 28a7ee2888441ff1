#include "readers/number.hpp"

#include <bit>
#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

namespace vexa::readers {
namespace {

using detail::is_digit;

bool is_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

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

// Exponents beyond any representable value saturate here, far from overflow.
constexpr std::int64_t exponent_cap = std::int64_t{1} << 40;

// SWAR eight-digit parsing (decimal_digits.hpp names its source): appends
// the digits at p to mantissa and returns where they end, looking at eight
// bytes in one go; the run of digits at their start, whatever its length, is
// converted at once.
const char* take_digits(const char* p, const char* end, std::uint64_t& mantissa) {
  if constexpr (words_are_little_endian) {
    while (end - p >= 8) {
      const std::uint64_t word = load_word(p);
      const std::uint64_t stops = non_digit_bytes(word);
      const std::uint64_t values = word ^ 0x3030303030303030;
      if (stops == 0) {
        mantissa = mantissa * 100000000 + eight_digits_value(values);
        p += 8;
        continue;
      }
      const int count = std::countr_zero(stops) / 8;
      mantissa = mantissa * integer_powers_of_ten[count] + leading_digits_value(word, count);
      return p + count;
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

namespace detail {

// Clinger's fast path (W. D. Clinger, "How to read floating point numbers
// accurately", 1990) backs up Eisel-Lemire: when 128 bits of the power do not
// settle the product, the literal is mostly a decimal that is exact in binary
// (0.5, 2.25), which exact_quotient_or_product takes: an exact integer
// mantissa and an exactly representable power of ten, so one correctly
// rounded multiplication or division is the correctly rounded value. That holds only in the default
// rounding mode, round to nearest with ties to even: the interpreter never
// changes it, but a caller that switched the FPU to another mode would get
// other values from that step. nearest_double_bits uses integers only and
// does not depend on the mode.
const char* read_number_prefix_general(const char* begin, const char* end, double& value) {
  const char* p = begin;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (p == end) return nullptr;
  if (!is_digit(*p) && *p != '.') {
    const char* word_end = p;
    while (word_end < end && is_letter(*word_end))
      ++word_end;
    const auto word = parse_word({p, static_cast<std::size_t>(word_end - p)}, negative);
    if (!word) return nullptr;
    value = *word;
    return word_end;
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
  if (digits == 0) return nullptr;
  std::int64_t exponent = 0;
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    bool negative_exponent = false;
    if (p < end && (*p == '+' || *p == '-')) negative_exponent = *p++ == '-';
    // An exponent letter without digits: no field holding it is a number.
    if (p == end || !is_digit(*p)) return nullptr;
    for (; p < end && is_digit(*p); ++p)
      if (exponent < exponent_cap) exponent = exponent * 10 + (*p - '0');
    if (negative_exponent) exponent = -exponent;
  }
  const char* const number_end = p;

  const std::int64_t scale = exponent - (fraction_end - fraction_begin);
  if (digits <= 19 && quick_value(mantissa, scale, negative, value)) return number_end;

  const auto place =
      leading_place(integer_begin, integer_end, fraction_begin, fraction_end, exponent);
  if (!place) {
    value = negative ? -0.0 : 0.0;
    return number_end;
  }
  const auto [stop, error] =
      std::from_chars(unsigned_begin, number_end, value, std::chars_format::general);
  if (error == std::errc::result_out_of_range) {
    value = *place > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (error != std::errc{} || stop != number_end) {
    return nullptr; // cannot happen for text the grammar accepted
  }
  if (negative) value = -value;
  return number_end;
}

} // namespace detail

std::optional<double> parse_number(std::string_view field) {
  const char* const end = field.data() + field.size();
  double value = 0.0;
  if (read_number_prefix(field.data(), end, value) != end) return std::nullopt;
  return value;
}

} // namespace vexa::readers
