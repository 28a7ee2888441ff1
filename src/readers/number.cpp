#include "readers/number.hpp"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

namespace vexa::readers {
namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
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
  if (equals_ignoring_case(word, "inf") || equals_ignoring_case(word, "infinity"))
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  if (equals_ignoring_case(word, "nan"))
    return negative ? -std::numeric_limits<double>::quiet_NaN()
                    : std::numeric_limits<double>::quiet_NaN();
  return std::nullopt;
}

// Powers of ten that are exact in float64.
constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// What the grammar pass learns about a decimal literal.
struct Decimal {
  std::uint64_t mantissa = 0;     // first significant digits, while they fit
  int significant_digits = 0;     // digits counted from the first non-zero one
  std::int64_t exponent = 0;      // explicit exponent, saturated
  std::int64_t point_shift = 0;   // digits after the point that entered the mantissa
  std::int64_t leading_place = 0; // decimal place of the first non-zero digit
  bool any_nonzero = false;
};

constexpr std::int64_t exponent_cap = std::int64_t{1} << 40;

// Checks the grammar of an unsigned decimal literal and collects its digits.
bool scan_decimal(std::string_view s, Decimal& d) {
  std::size_t i = 0;
  std::size_t digits = 0;
  std::int64_t integer_digits_after_first_nonzero = 0;
  std::int64_t fraction_zeros_before_first_nonzero = 0;
  bool in_fraction = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '.') {
      if (in_fraction) return false;
      in_fraction = true;
      continue;
    }
    if (!is_digit(c)) break;
    ++digits;
    if (!d.any_nonzero && c == '0') {
      if (in_fraction) ++fraction_zeros_before_first_nonzero;
      continue;
    }
    d.any_nonzero = true;
    if (!in_fraction) ++integer_digits_after_first_nonzero;
    if (d.significant_digits < 19) {
      d.mantissa = d.mantissa * 10 + static_cast<std::uint64_t>(c - '0');
      if (in_fraction) ++d.point_shift;
    } else if (!in_fraction) {
      --d.point_shift; // an integer digit that no longer fits scales by ten
    }
    ++d.significant_digits;
  }
  if (digits == 0) return false;
  if (i < s.size()) {
    if (s[i] != 'e' && s[i] != 'E') return false;
    ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i == s.size()) return false;
    for (; i < s.size(); ++i) {
      if (!is_digit(s[i])) return false;
      if (d.exponent < exponent_cap) d.exponent = d.exponent * 10 + (s[i] - '0');
    }
    if (negative) d.exponent = -d.exponent;
  }
  d.leading_place = integer_digits_after_first_nonzero > 0
                        ? integer_digits_after_first_nonzero - 1 + d.exponent
                        : -(fraction_zeros_before_first_nonzero + 1) + d.exponent;
  return true;
}

} // namespace

std::optional<double> parse_number(std::string_view field) {
  bool negative = false;
  std::string_view body = field;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
    negative = body[0] == '-';
    body.remove_prefix(1);
  }
  if (body.empty()) return std::nullopt;
  const char first = body[0];
  if (!is_digit(first) && first != '.') return parse_word(body, negative);

  Decimal d;
  if (!scan_decimal(body, d)) return std::nullopt;
  if (!d.any_nonzero) return negative ? -0.0 : 0.0;

  // Exact mantissa and an exactly representable power of ten: one correctly
  // rounded multiplication or division gives the correctly rounded value.
  const std::int64_t scale = d.exponent - d.point_shift;
  if (d.significant_digits <= 19 && d.mantissa <= (std::uint64_t{1} << 53) && scale >= -22 &&
      scale <= 22) {
    const double m = static_cast<double>(d.mantissa);
    const double value =
        scale >= 0 ? m * exact_powers_of_ten[scale] : m / exact_powers_of_ten[-scale];
    return negative ? -value : value;
  }

  double value = 0.0;
  const auto [end, ec] =
      std::from_chars(body.data(), body.data() + body.size(), value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    value = d.leading_place > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc{} || end != body.data() + body.size()) {
    return std::nullopt; // the grammar pass already accepted it; never expected
  }
  return negative ? -value : value;
}

} // namespace vexa::readers
