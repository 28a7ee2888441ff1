// Electrical conductivity of aqueous potassium hydroxide by Gilliam's
// combined model.
#pragma once

#include "common/outcome.hpp"
#include "common/types.hpp"

namespace vexa::models {

// Conductivities in S/m, element by element: below 353.15 K a polynomial in
// the molarity (from the Laliberte density model with c0..c4), from 353.15 K
// on (and for NaN) a polynomial in the mass-fraction percentage.
Outcome<FloatArray> koh_gilliam_eval(const FloatArray& temperature, const FloatArray& molality,
                                     double molecular_weight, double c0, double c1, double c2,
                                     double c3, double c4);

} // namespace vexa::models
