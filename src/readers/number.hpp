// The number rule for data fields.
#pragma once

#include <optional>
#include <string_view>

namespace vexa::readers {

// A field is a number only when the whole of it is a decimal literal: an
// optional sign, digits with at most one point (at least one digit), an
// optional exponent 'e'/'E' with optional sign and at least one digit; or,
// after the optional sign, inf, infinity or nan in any letter case. The value
// is the nearest float64 (ties to even); beyond the range it saturates to a
// signed infinity, below it to a signed zero.
std::optional<double> parse_number(std::string_view field);

// Reads the longest prefix of [cursor, end) that can start a number and, when
// it is one, moves cursor past it. The field holding it is a number exactly
// when the prefix ends the field (cursor at end or at White_Space): the
// grammar never stops early inside a valid literal. Lets a row be split and
// parsed in one pass.
std::optional<double> parse_number_prefix(const char*& cursor, const char* end);

} // namespace vexa::readers
