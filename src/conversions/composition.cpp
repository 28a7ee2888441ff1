#include "conversions/composition.hpp"

#include "common/interruption.hpp"

namespace vexa::conversions {
namespace {

// Elements converted between two questions whether to go on.
constexpr std::size_t block = std::size_t{1} << 16;

// kg/mol, by division as the conversions are defined.
double kilograms_per_mole(double molecular_weight) {
  return molecular_weight / 1000.0;
}

Outcome<FloatArray> fraction_to_molality(const FloatArray& fraction, double molecular_weight) {
  const double M = kilograms_per_mole(molecular_weight);
  const std::size_t n = fraction.size();
  FloatArray out(n, 0.0);
  const bool done = for_each_index(n, block, [&](std::size_t i) {
    const double f = fraction[i];
    double d = 1.0 - f;
    d = M * d;
    out[i] = f / d;
  });
  if (!done) return interrupted();
  return out;
}

Outcome<FloatArray> molality_to_fraction(const FloatArray& molality, double molecular_weight) {
  const double M = kilograms_per_mole(molecular_weight);
  const std::size_t n = molality.size();
  FloatArray out(n, 0.0);
  const bool done = for_each_index(n, block, [&](std::size_t i) {
    const double p = M * molality[i];
    double q = 1.0 / p;
    q = q + 1.0;
    out[i] = 1.0 / q;
  });
  if (!done) return interrupted();
  return out;
}

} // namespace

Outcome<FloatArray> mass_fraction_to_molality(const FloatArray& mass_fraction,
                                              double molecular_weight) {
  return fraction_to_molality(mass_fraction, molecular_weight);
}

Outcome<FloatArray> mole_fraction_to_molality(const FloatArray& mole_fraction,
                                              double molecular_weight) {
  return fraction_to_molality(mole_fraction, molecular_weight);
}

Outcome<FloatArray> molality_to_mass_fraction(const FloatArray& molality, double molecular_weight) {
  return molality_to_fraction(molality, molecular_weight);
}

Outcome<FloatArray> molality_to_mole_fraction(const FloatArray& molality, double molecular_weight) {
  return molality_to_fraction(molality, molecular_weight);
}

} // namespace vexa::conversions
