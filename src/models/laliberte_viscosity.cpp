#include "models/laliberte_viscosity.hpp"

#include <cmath>
#include <string>

#include "common/interruption.hpp"
#include "models/solution.hpp"

namespace vexa::models {

Outcome<FloatArray> laliberte_viscosity(const FloatArray& temperature, const FloatArray& molality,
                                        double molecular_weight, double v1, double v2, double v3,
                                        double v4, double v5, double v6) {
  if (temperature.size() != molality.size()) return value_error(std::string(length_mismatch));
  const std::size_t n = temperature.size();
  const double mw = molecular_weight;
  FloatArray viscosity(n, 0.0);
  const bool done = for_each_index(n, model_block, [&](std::size_t i) {
    const double t = celsius(temperature[i]);
    const double w = salt_mass_fraction(molality[i], mw);
    // Water and solute viscosities in mPa·s; both powers of the solute term
    // are powers of the mass fraction.
    const double water = (t + 245.9996) / ((t * 0.055943 + 5.284245) * t + 137.3664);
    const double solute =
        std::exp((v1 * std::pow(w, v2) + v3) / (t * v4 + 1.0)) / (v5 * std::pow(w, v6) + 1.0);
    // Logarithmic mixing by mass fraction, then mPa·s to Pa·s.
    viscosity[i] = (std::pow(water, 1.0 - w) * std::pow(solute, w)) * 0.001;
  });
  if (!done) return interrupted();
  return viscosity;
}

} // namespace vexa::models
