// The number rule over every field of arbitrary bytes, against independent
// models: a plain walk over the characters for the grammar and the C
// library's strtod for the value of a decimal literal. Each field is also read
// as a table row reads it, with more text after it, which is the only way the
// word-at-a-time road is taken; and the input's first bytes, as a double, are
// written the ways files write numbers and read back.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "check.hpp"
#include "readers/number.hpp"
#include "readers/white_space.hpp"

using namespace vexa::readers;

namespace {

// The grammar spelled out as a walk over the characters: sign, digits and at
// most one point (one digit at least), then an optional exponent; or a word.
bool matches_grammar(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::string word(s.substr(i));
  for (char& c : word)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  if (word == "inf" || word == "infinity" || word == "nan") return true;
  std::size_t digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9')
    ++i, ++digits;
  if (i < s.size() && s[i] == '.') ++i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9')
    ++i, ++digits;
  if (digits == 0) return false;
  if (i == s.size()) return true;
  if (s[i] != 'e' && s[i] != 'E') return false;
  ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  if (i == s.size()) return false;
  for (; i < s.size(); ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

bool is_word(std::string_view field) {
  if (!field.empty() && (field[0] == '+' || field[0] == '-')) field.remove_prefix(1);
  return !field.empty() &&
         (field[0] == 'i' || field[0] == 'I' || field[0] == 'n' || field[0] == 'N');
}

bool same_value(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) ||
         (std::isnan(a) && std::isnan(b));
}

// Where the number read from the field ends when White_Space and enough
// text for the widest reads follow it, and its value.
const char* read_in_text(std::string_view field, double& value) {
  static std::string text; // keeps its storage from one field to the next
  text.assign(field).append(48, ' ');
  const char* const stop = read_number_prefix(text.data(), text.data() + text.size(), value);
  return stop == text.data() + field.size() ? field.end() : nullptr;
}

void check_number(std::string_view field) {
  const auto value = parse_number(field);
  FUZZ_CHECK(value.has_value() == matches_grammar(field));
  double in_text = 0.0;
  const char* const stop = read_in_text(field, in_text);
  // Not a number alone, nor with text after it; the same number either way.
  FUZZ_CHECK(value.has_value() == (stop != nullptr));
  if (!value) return;
  FUZZ_CHECK(same_value(in_text, *value));
  const bool negative = field[0] == '-';
  FUZZ_CHECK(std::signbit(*value) == negative);
  if (is_word(field)) {
    FUZZ_CHECK(std::isnan(*value) || std::isinf(*value));
    return;
  }
  // glibc's strtod rounds correctly, saturates to infinity and flushes to
  // (signed) zero, like the rule.
  const std::string copy(field);
  char* end = nullptr;
  const double expected = std::strtod(copy.c_str(), &end);
  FUZZ_CHECK(end == copy.c_str() + copy.size());
  if (std::bit_cast<std::uint64_t>(*value) != std::bit_cast<std::uint64_t>(expected)) {
    std::fprintf(stderr, "field '%s': %a, strtod %a\n", copy.c_str(), *value, expected);
    std::abort();
  }
}

} // namespace

// A double written as C's %.Ne for N = 0..19, %.17g and %.Ng write it.
void check_written(double d, unsigned precision) {
  if (!std::isfinite(d)) return;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*e", static_cast<int>(precision % 20), d);
  check_number(buffer);
  std::snprintf(buffer, sizeof buffer, "%.17g", d);
  check_number(buffer);
  std::snprintf(buffer, sizeof buffer, "%.*g", static_cast<int>(precision % 19) + 1, d);
  check_number(buffer);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (size >= 9) {
    std::uint64_t bits;
    std::memcpy(&bits, data, 8);
    check_written(std::bit_cast<double>(bits), data[8]);
  }
  FieldCursor fields(text);
  for (std::string_view field; fields.next(field);) {
    check_number(field);
  }
  return 0;
}
