// The number rule for data fields: decimal-to-double conversion by SWAR
// eight-digit parsing, the Eisel-Lemire algorithm and Clinger's fast path,
// with std::from_chars as the exact fallback. A field counts as a number only
// when the whole of it is one literal, and its value is correctly rounded.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "readers/decimal_digits.hpp"
#include "readers/nearest_double.hpp"

namespace vexa::readers {

// A field is a number only when the whole of it is a decimal literal: an
// optional sign, digits with at most one point (at least one digit), an
// optional exponent 'e'/'E' with optional sign and at least one digit; or,
// after the optional sign, inf, infinity or nan in any letter case. The value
// is the nearest float64 (ties to even); beyond the range it saturates to a
// signed infinity, below it to a signed zero.
std::optional<double> parse_number(std::string_view field);

// Reads the longest prefix of [begin, end) that can start a number. When it
// is one, sets value and returns where the prefix ends; otherwise returns
// null. The field holding it is a number exactly when the prefix ends the
// field (at end or at White_Space): the grammar never stops early inside a
// valid literal. Lets a row be split and parsed in one pass.
inline const char* read_number_prefix(const char* begin, const char* end, double& value);

namespace detail {

// read_number_prefix for any text, one character at a time; out of line.
const char* read_number_prefix_general(const char* begin, const char* end, double& value);

// Powers of ten that are exact in float64.
inline constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Clinger's fast path: sets value to w·10^q and returns true when w and
// 10^|q| are both exact in float64; see number.cpp for why one operation
// then rounds correctly.
[[gnu::always_inline]] inline bool exact_quotient_or_product(std::uint64_t w, std::int64_t q,
                                                             double& value) {
  if (q < -22 || q > 22 || w > (std::uint64_t{1} << 53)) return false;
  const double m = static_cast<double>(w);
  value = q >= 0 ? m * exact_powers_of_ten[q] : m / exact_powers_of_ten[-q];
  return true;
}

// Eisel-Lemire, then Clinger's fast path: sets value to ±mantissa·10^scale
// and returns true when one of the two settles it (the 128-bit product, or
// one exact operation). False leaves the literal to the exact fallback.
[[gnu::always_inline]] inline bool quick_value(std::uint64_t mantissa, std::int64_t scale,
                                               bool negative, double& value) {
  const std::uint64_t sign = std::uint64_t{negative} << 63;
  std::uint64_t bits = 0;
  if (mantissa != 0) bits = nearest_double_bits(mantissa, scale);
  if (mantissa == 0 || bits != 0) {
    value = std::bit_cast<double>(bits | sign);
    return true;
  }
  if (!exact_quotient_or_product(mantissa, scale, value)) return false;
  value = std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) | sign);
  return true;
}

// Bytes that must be readable from a field's start for read_common_shape:
// its longest literal (sign, 19 digits and the point, the exponent letter,
// its sign, three digits) and one byte after it, with the words it loads,
// rounded up.
inline constexpr std::ptrdiff_t common_shape_window = 32;

inline bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// A literal whose value is mantissa·10^scale.
struct CommonLiteral {
  std::uint64_t mantissa;
  std::int64_t scale;
  bool negative;
};

// The value of the word's leading digits (the rest of it ignored) followed
// by zeros to eight digits: digits·10^(8 − count). Zeroing the bytes from
// the first non-digit on keeps the digits where eight_digits_value wants them.
inline std::uint64_t padded_digits_value(std::uint64_t word, std::uint64_t non_digits) {
  const std::uint64_t digit_bytes = ((non_digits & (~non_digits + 1)) >> 7) - 1;
  return eight_digits_value((word ^ 0x3030303030303030) & digit_bytes);
}

// SWAR eight-digit parsing for the shapes data files are written in, read a
// word at a time without bounds checks: fewer than 8 digits before the point, at most 19 in all,
// and an exponent of at most three digits. Returns where the literal ends,
// or null for anything else, valid or not, which the general reader then
// decides; where this one stops, that one stops too.
//
// The digits on both sides of the point are read as one run: the first word
// is the bytes from the literal's start with the point taken out. A run that
// ends inside a word is read as if zeros followed it to the word's end, so
// that no shift by the run's length is needed: each word then stands for
// eight places, and the scale only depends on how many words were read.
[[gnu::always_inline]] inline const char* read_common_shape(const char* p, CommonLiteral& literal) {
  literal.negative = *p == '-';
  p += (*p == '-') | (*p == '+');
  int integer_digits = 1;
  int point = 1;
  std::uint64_t word;
  if (is_digit(p[0]) && p[1] == '.') {
    // One digit before the point, as scientific notation writes it.
    word = (load_word(p + 1) & ~std::uint64_t{0xFF}) | static_cast<unsigned char>(p[0]);
  } else {
    word = load_word(p);
    integer_digits = leading_digits(word);
    if (integer_digits == 8) return nullptr;
    point = p[integer_digits] == '.' ? 1 : 0;
    if (point != 0) {
      const std::uint64_t kept = (std::uint64_t{1} << (8 * integer_digits)) - 1;
      word = (word & kept) | (load_word(p + 1) & ~kept);
    }
  }
  std::uint64_t non_digits = non_digit_bytes(word);
  std::uint64_t mantissa = padded_digits_value(word, non_digits);
  // Places after the point that the mantissa stands for, as a negative scale.
  int scale = integer_digits - 8;
  const char* digits_end = p + point;
  if (non_digits != 0) {
    const int count = std::countr_zero(non_digits) / 8;
    if (count == 0) return nullptr;
    digits_end += count;
  } else {
    word = load_word(p + 8 + point);
    non_digits = non_digit_bytes(word);
    mantissa = mantissa * 100000000 + padded_digits_value(word, non_digits);
    scale -= 8;
    digits_end += 8;
    if (non_digits != 0) {
      digits_end += std::countr_zero(non_digits) / 8;
    } else {
      // At most three more: 19 digits in all. They are read exactly, since
      // padding them would overflow the mantissa.
      word = load_word(p + 16 + point);
      const int count = leading_digits(word);
      if (count > 3) return nullptr;
      mantissa = mantissa * integer_powers_of_ten[count] + leading_digits_value(word, count);
      scale -= count;
      digits_end += 8 + count;
    }
  }
  p = digits_end;
  if ((*p | 0x20) == 'e') {
    const char* e = p + 1;
    const bool negative_exponent = *e == '-';
    e += (*e == '-') | (*e == '+');
    const unsigned d0 = static_cast<unsigned char>(e[0]) - '0';
    const unsigned d1 = static_cast<unsigned char>(e[1]) - '0';
    if (d0 > 9) return nullptr;
    int exponent;
    if (d1 <= 9) {
      // Two digits, as printf writes exponents; three at most.
      const unsigned d2 = static_cast<unsigned char>(e[2]) - '0';
      exponent = static_cast<int>(d0 * 10 + d1);
      e += 2;
      if (d2 <= 9) {
        if (is_digit(e[1])) return nullptr;
        exponent = exponent * 10 + static_cast<int>(d2);
        ++e;
      }
    } else {
      exponent = static_cast<int>(d0);
      ++e;
    }
    scale += negative_exponent ? -exponent : exponent;
    p = e;
  }
  literal.mantissa = mantissa;
  literal.scale = scale;
  return p;
}

} // namespace detail

[[gnu::always_inline]] inline const char* read_number_prefix(const char* begin, const char* end,
                                                             double& value) {
  if constexpr (words_are_little_endian) {
    detail::CommonLiteral literal;
    const char* literal_end;
    if (end - begin >= detail::common_shape_window &&
        (literal_end = detail::read_common_shape(begin, literal)) != nullptr) {
      if (detail::quick_value(literal.mantissa, literal.scale, literal.negative, value))
        return literal_end;
    }
  }
  return detail::read_number_prefix_general(begin, end, value);
}

} // namespace vexa::readers
