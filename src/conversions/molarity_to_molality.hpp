// Molarity to molality by inverting the Laliberte density model.
#pragma once

#include <cstdint>

#include "common/outcome.hpp"
#include "common/types.hpp"

namespace vexa::conversions {

// The molality (mol/kg of water) whose modelled molarity is each target
// (mol/L) at one temperature: an outward bracket search from 1e-12 mol/kg,
// then Brent–Dekker steps. Targets <= 0 give 0 and NaN gives NaN, both
// without a search; a target that cannot be bracketed fails the call.
Outcome<FloatArray> molarity_to_molality(const FloatArray& molarity, double temperature,
                                         double molecular_weight, double c0, double c1, double c2,
                                         double c3, double c4, double tolerance,
                                         std::uint64_t maximum_iterations);

} // namespace vexa::conversions
