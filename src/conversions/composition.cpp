#include "conversions/composition.hpp"

namespace vexa::conversions {
namespace {

// kg/mol, by division as the conversions are defined.
double kilograms_per_mole(double molecular_weight) {
  return molecular_weight / 1000.0;
}

FloatArray fraction_to_molality(const FloatArray& fraction, double molecular_weight) {
  const double M = kilograms_per_mole(molecular_weight);
  const std::size_t n = fraction.size();
  FloatArray out(n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    const double f = fraction[i];
    double d = 1.0 - f;
    d = M * d;
    out[i] = f / d;
  }
  return out;
}

FloatArray molality_to_fraction(const FloatArray& molality, double molecular_weight) {
  const double M = kilograms_per_mole(molecular_weight);
  const std::size_t n = molality.size();
  FloatArray out(n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    const double p = M * molality[i];
    double q = 1.0 / p;
    q = q + 1.0;
    out[i] = 1.0 / q;
  }
  return out;
}

} // namespace

FloatArray mass_fraction_to_molality(const FloatArray& mass_fraction, double molecular_weight) {
  return fraction_to_molality(mass_fraction, molecular_weight);
}

FloatArray mole_fraction_to_molality(const FloatArray& mole_fraction, double molecular_weight) {
  return fraction_to_molality(mole_fraction, molecular_weight);
}

FloatArray molality_to_mass_fraction(const FloatArray& molality, double molecular_weight) {
  return molality_to_fraction(molality, molecular_weight);
}

FloatArray molality_to_mole_fraction(const FloatArray& molality, double molecular_weight) {
  return molality_to_fraction(molality, molecular_weight);
}

} // namespace vexa::conversions
