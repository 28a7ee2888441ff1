#include "models/dewane.hpp"

#include <cmath>
#include <string>

#include "common/interruption.hpp"
#include "common/number_format.hpp"

namespace vexa::models {
namespace {

constexpr std::size_t coefficients_per_segment = 10;

// σ = c Λ(c) / 10 with Λ(c) = L0 − S√c + e c log10(c) + A c + B c^1.5 + C c²
// + D c^2.5 + E c³ + F c⁴ + G c⁵, accumulated term by term in this order.
double conductivity(double c, const double* k) {
  const double L0 = k[0], S = k[1], e = k[2], A = k[3], B = k[4];
  const double C = k[5], D = k[6], E = k[7], F = k[8], G = k[9];
  double r = L0 - std::sqrt(c) * S;
  r = r + std::log10(c) * (c * e);
  r = c * A + r;
  r = std::pow(c, 1.5) * B + r;
  r = r + c * (c * C);
  r = std::pow(c, 2.5) * D + r;
  r = r + c * (c * (c * E));
  r = r + (((F * c) * c) * c) * c;
  r = r + ((((c * G) * c) * c) * c) * c;
  return (c * r) / 10.0;
}

std::string out_of_bounds(double c, const FloatArray& limits) {
  return std::string("molarity ")
      .append(format_scientific(c))
      .append(" mol/L is outside Dewane bounds [")
      .append(format_scientific(limits.front()))
      .append(", ")
      .append(format_scientific(limits.back()))
      .append("]");
}

} // namespace

Outcome<FloatArray> dewane_eval(const FloatArray& molarity, const FloatArray& limits,
                                const FloatArray& coeffs) {
  if (limits.size() < 2)
    return value_error("limits must have at least 2 values (defining at least 1 segment)");
  const std::size_t segments = limits.size() - 1;
  const std::size_t expected = coefficients_per_segment * segments;
  if (coeffs.size() != expected)
    return value_error(std::string("coeffs must have exactly ")
                           .append(std::to_string(expected))
                           .append(" values (")
                           .append(std::to_string(segments))
                           .append(" segments × 10 coefficients)"));
  const std::size_t n = molarity.size();
  FloatArray out(n, 0.0);
  // Charged one unit per segment looked at: many segments make each element
  // slow.
  InterruptPoll poll(std::uint64_t{1} << 18);
  for (std::size_t i = 0; i < n; ++i) {
    const double c = molarity[i];
    // The first segment that holds c, scanning from the lowest; NaN is in none.
    std::size_t j = 0;
    while (j < segments && !(limits[j] < c && c <= limits[j + 1]))
      ++j;
    if (j == segments) return value_error(out_of_bounds(c, limits));
    out[i] = conductivity(c, coeffs.data() + coefficients_per_segment * j);
    if (poll(j + 8)) return interrupted();
  }
  return out;
}

} // namespace vexa::models
