#include "models/laliberte_density.hpp"

#include <string>

#include "common/interruption.hpp"

namespace vexa::models {

Outcome<std::tuple<FloatArray, FloatArray>>
laliberte_density(const FloatArray& temperature, const FloatArray& molality,
                  double molecular_weight, double c0, double c1, double c2, double c3, double c4) {
  if (temperature.size() != molality.size()) return value_error(std::string(length_mismatch));
  const std::size_t n = temperature.size();
  const DensityParameters c{c0, c1, c2, c3, c4};
  const double mw = molecular_weight;
  FloatArray density(n, 0.0);
  FloatArray molarity(n, 0.0);
  const bool done = for_each_index(n, model_block, [&](std::size_t i) {
    const DensityPoint point = laliberte_density_kernel(temperature[i], molality[i], mw, c);
    density[i] = point.density;
    molarity[i] = point.molarity;
  });
  if (!done) return interrupted();
  return std::tuple{std::move(density), std::move(molarity)};
}

} // namespace vexa::models
