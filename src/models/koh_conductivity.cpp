#include "models/koh_conductivity.hpp"

#include <string>

#include "common/interruption.hpp"
#include "models/laliberte_density.hpp"
#include "models/solution.hpp"

namespace vexa::models {
namespace {

constexpr double branch_temperature = 353.15; // K, 80 °C

// Each polynomial gives S/cm; the sums run in the order written.
double low_temperature(double T, double M) {
  double s = M * -2.041;
  s = s + M * (M * -0.0028);
  s = T * (M * 0.005332) + s;
  s = (M * 207.2) / T + s;
  s = M * (M * (M * 0.001043)) + s;
  return (s - 3e-7 * ((T * M) * (T * M))) * 100.0;
}

double high_temperature(double T, double P) {
  double s = P * 0.0022204;
  s = s + P * (P * -0.0013077);
  s = T * (P * 0.00033647) + s;
  s = s + (P * -10.7021) / T;
  s = P * (P * (P * 7.0101e-6)) + s;
  return (s - 3.2033e-9 * ((T * P) * (T * P))) * 100.0;
}

} // namespace

Outcome<FloatArray> koh_gilliam_eval(const FloatArray& temperature, const FloatArray& molality,
                                     double molecular_weight, double c0, double c1, double c2,
                                     double c3, double c4) {
  if (temperature.size() != molality.size()) return value_error(std::string(length_mismatch));
  const std::size_t n = temperature.size();
  const DensityParameters c{c0, c1, c2, c3, c4};
  const double mw = molecular_weight;
  FloatArray conductivity(n, 0.0);
  const bool done = for_each_index(n, model_block, [&](std::size_t i) {
    const double T = temperature[i];
    const double m = molality[i];
    if (T < branch_temperature) {
      const double M = laliberte_density_kernel(T, m, mw, c).molarity;
      conductivity[i] = low_temperature(T, M);
    } else {
      const double P = salt_mass_fraction(m, mw) * 100.0;
      conductivity[i] = high_temperature(T, P);
    }
  });
  if (!done) return interrupted();
  return conductivity;
}

} // namespace vexa::models
