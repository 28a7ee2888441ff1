// Transport coefficient from mean-squared-displacement data: the window of
// the curve whose log-log slope is closest to 1 (diffusive motion), and a
// straight line through the raw MSD over that window.
#pragma once

#include <cstdint>
#include <tuple>

#include "common/outcome.hpp"
#include "common/types.hpp"

namespace vexa::analysis {

// (D, t_fit, fit): the slope of the line through the chosen window, the
// window's times and the line's values there. Failures are in-band: D is NaN.
using MsdFit = std::tuple<double, FloatArray, FloatArray>;

// Fails only when the caller asked the call to end.
Outcome<MsdFit> diff_calculator(const FloatArray& time, const FloatArray& msd_in, double margin,
                                std::uint64_t min_window, std::uint64_t max_window,
                                double max_error, double min_displacement);

} // namespace vexa::analysis
