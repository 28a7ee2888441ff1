#include "analysis/proton_hopping.hpp"

namespace vexa::analysis {
namespace {

// The squared elementary charge (1.602176634e-19 C) and six Boltzmann
// constants (1.380649e-23 J/K), each rounded once to double.
constexpr double elementary_charge_squared = 2.5669699665355694e-38;
constexpr double six_boltzmann = 8.283894e-23;

} // namespace

// One statement per rounding step: the order of the products is part of the
// result.
double tau_calculator(double experimental_conductivity, double md_conductivity, double temperature,
                      double box_length, double particle_count, double hop_distance) {
  double a = hop_distance * hop_distance;
  a = a * elementary_charge_squared;
  const double numerator = particle_count * a;
  double b = temperature * six_boltzmann;
  const double c = box_length * (box_length * box_length);
  b = b * c;
  const double d = experimental_conductivity - md_conductivity;
  const double denominator = d * b;
  return numerator / denominator;
}

double diffusion_adjustment(double time_between_hops, double hop_distance) {
  const double a = hop_distance * hop_distance;
  const double b = time_between_hops * 6.0;
  return a / b;
}

} // namespace vexa::analysis
