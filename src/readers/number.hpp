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

} // namespace vexa::readers
