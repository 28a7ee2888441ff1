// Closed-form conversions between molality and mass or mole fraction.
#pragma once

#include "common/outcome.hpp"
#include "common/types.hpp"

namespace vexa::conversions {

// f / (M (1 − f)) with M = molecular_weight / 1000 (kg/mol): molality from
// the mass fraction of the salt (molecular_weight of the salt) or from the
// mole fraction of the solute (molecular_weight of the solvent).
Outcome<FloatArray> mass_fraction_to_molality(const FloatArray& mass_fraction,
                                              double molecular_weight);
Outcome<FloatArray> mole_fraction_to_molality(const FloatArray& mole_fraction,
                                              double molecular_weight);

// 1 / (1 + 1 / (M b)): the inverse conversions, in reciprocal form so that
// molality 0 gives 0 and +inf gives 1. All four fail only when the caller
// asked the call to end.
Outcome<FloatArray> molality_to_mass_fraction(const FloatArray& molality, double molecular_weight);
Outcome<FloatArray> molality_to_mole_fraction(const FloatArray& molality, double molecular_weight);

} // namespace vexa::conversions
