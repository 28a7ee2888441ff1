// Conventions shared by the property models of single-salt solutions.
#pragma once

#include <cstddef>
#include <string_view>

namespace vexa::models {

// Elements evaluated between two questions whether to go on: a few hundred
// microseconds of the costliest model.
inline constexpr std::size_t model_block = 4096;

inline constexpr std::string_view length_mismatch =
    "temperature and molality must have the same length";

// Kelvin to degrees Celsius, written as the addition the models use.
inline double celsius(double temperature) {
  return temperature + -273.15;
}

// Mass fraction of salt from molality (mol/kg of water) and molecular weight
// (g/mol): x grams of salt per kilogram of water.
inline double salt_mass_fraction(double molality, double molecular_weight) {
  const double x = molality * molecular_weight;
  return x / (x + 1000.0);
}

} // namespace vexa::models
