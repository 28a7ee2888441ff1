// Conductivity from Dewane's segmented molar-conductivity polynomial.
#pragma once

#include "common/outcome.hpp"
#include "common/types.hpp"

namespace vexa::models {

// Conductivities in S/m: segment j covers limits[j] < c <= limits[j + 1] and
// owns coeffs[10j .. 10j + 9] = L0, S, e, A, B, C, D, E, F, G.
Outcome<FloatArray> dewane_eval(const FloatArray& molarity, const FloatArray& limits,
                                const FloatArray& coeffs);

} // namespace vexa::models
