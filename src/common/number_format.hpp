// How numbers are written inside messages.
#pragma once

#include <string>

namespace vexa {

// Four digits after the point and a bare exponent: 0.5 is "5.0000e-1", 12 is
// "1.2000e1", -0.0 is "-0.0000e0"; "NaN", "inf" and "-inf" for the rest.
std::string format_scientific(double value);

// Two digits after the point: 298.15 is "298.15", 300 is "300.00";
// "NaN", "inf" and "-inf" as above.
std::string format_fixed(double value);

} // namespace vexa
