// Dynamic viscosity of an aqueous single-salt solution by the Laliberte
// viscosity model.
#pragma once

#include "common/outcome.hpp"
#include "common/types.hpp"

namespace vexa::models {

// Viscosities in Pa·s, element by element.
Outcome<FloatArray> laliberte_viscosity(const FloatArray& temperature, const FloatArray& molality,
                                        double molecular_weight, double v1, double v2, double v3,
                                        double v4, double v5, double v6);

} // namespace vexa::models
