// The number rule over every field of arbitrary bytes, against independent
// models: a plain walk over the characters for the grammar and the C
// library's strtod for the value of a decimal literal.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
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

void check_number(std::string_view field) {
  const auto value = parse_number(field);
  FUZZ_CHECK(value.has_value() == matches_grammar(field));
  if (!value) return;
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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  FieldCursor fields(text);
  for (std::string_view field; fields.next(field);) {
    check_number(field);
  }
  return 0;
}
