#include "common/number_format.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string_view>

namespace vexa {
namespace {

// Wide enough for the fixed form of the largest double: 309 digits, a sign,
// the point and two decimals.
using Buffer = std::array<char, 400>;

std::string_view non_finite(double value) {
  if (std::isnan(value)) return "NaN";
  return value < 0.0 ? "-inf" : "inf";
}

std::string_view written(const Buffer& buffer, std::to_chars_result result) {
  if (result.ec != std::errc{}) throw std::logic_error("number does not fit its buffer");
  return {buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data())};
}

} // namespace

std::string format_scientific(double value) {
  if (!std::isfinite(value)) return std::string(non_finite(value));
  Buffer buffer;
  // The digits are correctly rounded (ties to even on the exact binary
  // value); only the exponent's form is changed: "e-01" -> "e-1", "e+12" ->
  // "e12", "e+00" -> "e0".
  const std::string_view text =
      written(buffer, std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::scientific, 4));
  const std::size_t e = text.find('e');
  std::string out(text.substr(0, e + 1));
  std::string_view exponent = text.substr(e + 1);
  if (exponent.front() == '-') out.push_back('-');
  if (exponent.front() == '-' || exponent.front() == '+') exponent.remove_prefix(1);
  while (exponent.size() > 1 && exponent.front() == '0')
    exponent.remove_prefix(1);
  out.append(exponent);
  return out;
}

std::string format_fixed(double value) {
  if (!std::isfinite(value)) return std::string(non_finite(value));
  Buffer buffer;
  return std::string(written(buffer, std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                                   value, std::chars_format::fixed, 2)));
}

} // namespace vexa
