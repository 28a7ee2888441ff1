// The parts of one target's molality search that the side-by-side search of
// molarity_to_molality and the one-at-a-time reference share: the model, the
// targets settled without a search, the outward bracket search and its end.
#pragma once

#include <cmath>
#include <string>
#include <utility>

#include "conversions/brent_step.hpp"
#include "models/laliberte_density.hpp"

namespace vexa::conversions {

inline constexpr double lowest_molality = 1e-12; // the fixed lower end of every bracket
inline constexpr int maximum_doublings = 65;

// Modelled molarity as a function of molality at the call's temperature: the
// density kernel with its temperature terms computed once.
class Model {
public:
  Model(double temperature, double molecular_weight, const models::DensityParameters& c)
      : at_(models::density_temperature_terms(temperature, c)), mw_(molecular_weight), c_(c) {}

  double molarity(double molality) const {
    return models::density_at(at_, molality, mw_, c_).molarity;
  }

private:
  models::DensityTemperatureTerms at_;
  double mw_;
  models::DensityParameters c_;
};

// NaN has no molality and gives NaN, a target <= 0 gives 0: only the others
// are searched.
inline bool searched(double target) {
  return target > 0.0;
}

inline double unsearched_molality(double target) {
  return std::isnan(target) ? target : 0.0;
}

// The upper end doubles, from the larger of the target and 1, until its
// modelled molarity reaches the target, at most 65 times.
inline double first_trial(double target) {
  const double h = target > 1.0 ? target : 1.0;
  return h + h;
}

// Whether it doubles again after a trial whose modelled molarity is
// `molarity`; `doublings`, 0 before the first call, counts the trials.
inline bool doubles_again(double molarity, double target, int& doublings) {
  return molarity < target && ++doublings < maximum_doublings;
}

// The search of `target` before its first step, once the doubling stopped at
// `trial` with modelled molarity `molarity`: false when [1e-12, trial] holds
// no sign change of the residual.
inline bool open_bracket(double lowest_molarity, double target, double trial, double molarity,
                         BrentState<double>& search) {
  double a = lowest_molality, fa = lowest_molarity - target;
  double b = trial, fb = molarity - target;
  // A NaN residual (an overflowing trial, NaN parameters or temperature)
  // brackets nothing: without this test the search would go on over NaN.
  if (std::isnan(fa) || std::isnan(fb) || fa * fb > 0.0) return false;
  if (std::abs(fa) < std::abs(fb)) { // b is the end of the smaller residual
    std::swap(a, b);
    std::swap(fa, fb);
  }
  // The first step bisects or not without looking at d.
  search = {a, fa, b, fb, a, fa, 0.0, true};
  return true;
}

std::string bracket_failure(double target, double temperature);

} // namespace vexa::conversions
