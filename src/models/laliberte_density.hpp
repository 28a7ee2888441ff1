// Density and molarity of an aqueous single-salt solution by the Laliberte
// density model, and the per-element kernel the conductivity model and the
// molarity inversion share with it.
#pragma once

#include <cmath>
#include <tuple>

#include "common/outcome.hpp"
#include "common/types.hpp"
#include "models/solution.hpp"

namespace vexa::models {

// The five fit parameters: c3 multiplies t, c4 is added to t.
struct DensityParameters {
  double c0, c1, c2, c3, c4;
};

struct DensityPoint {
  double density;  // kg/m³
  double molarity; // mol/L
};

// Pure-water density (kg/m³) from t in °C: a rational polynomial in Kell's
// form, the numerator by Horner's scheme.
inline double kell_water_density(double t) {
  double p = -2.8054253e-10 * t + 1.0556302e-7;
  p = p * t + -4.6170461e-5;
  p = p * t + -0.0079870401;
  p = p * t + 16.945176;
  p = p * t + 999.83952;
  return p / (0.01687985 * t + 1.0);
}

// The terms that depend on the temperature alone, so that callers working
// at one temperature compute them once.
struct DensityTemperatureTerms {
  double t;             // °C
  double water_density; // kg/m³
  double c3_t;          // c3 × t
  double exp_factor;    // exp(((c4 + t)²) × 1e-6)
};

inline DensityTemperatureTerms density_temperature_terms(double temperature,
                                                         const DensityParameters& c) {
  const double t = celsius(temperature);
  const double shifted = c.c4 + t;
  return {t, kell_water_density(t), c.c3 * t, std::exp((shifted * shifted) * 1e-6)};
}

// Density and molarity at molality m and molecular weight mw (g/mol). Every
// operation is one rounding step in the order written; callers rely on
// getting exactly these values.
inline DensityPoint density_at(const DensityTemperatureTerms& at, double m, double mw,
                               const DensityParameters& c) {
  const double w = salt_mass_fraction(m, mw);
  const double apparent_volume = ((c.c2 + w) + at.c3_t) / (at.exp_factor * (c.c1 + c.c0 * w));
  const double density = 1.0 / (w * apparent_volume + (1.0 - w) / at.water_density);
  return {density, (w * density) / mw};
}

inline DensityPoint laliberte_density_kernel(double temperature, double m, double mw,
                                             const DensityParameters& c) {
  return density_at(density_temperature_terms(temperature, c), m, mw, c);
}

// (densities, molarities), element by element.
Outcome<std::tuple<FloatArray, FloatArray>>
laliberte_density(const FloatArray& temperature, const FloatArray& molality,
                  double molecular_weight, double c0, double c1, double c2, double c3, double c4);

} // namespace vexa::models
