// The window search written out literally: O(n * W^2), kept only as the
// yardstick for the fast search in tests and benchmarks.
#include <algorithm>
#include <cmath>

#include "analysis/msd_fit_search.hpp"
#include "common/interruption.hpp"

namespace vexa::analysis {
namespace msd_fit {

SearchOutcome closest_window_literal(const SearchProblem& problem) {
  const FloatArray& x = problem.x;
  const FloatArray& y = problem.y;
  const std::size_t n = x.size();
  std::optional<Window> best;
  double best_slope = 0.0;
  InterruptPoll poll(search_poll_interval);
  for (std::uint64_t i = problem.start; i < problem.stop; ++i) {
    // From here on every window would run past the data.
    if (i > n || problem.min_window > n - i) break;
    if (repeats_next_time(problem.t, i)) continue;
    const std::uint64_t limit = std::min(problem.stop - i, problem.max_window);
    for (std::uint64_t j = problem.min_window; j < limit; ++j) {
      if (j > n - i) break;
      if (poll(j)) return interrupted();
      double sx = -0.0;
      double sy = -0.0;
      double sxy = -0.0;
      double sxx = -0.0;
      for (std::size_t k = i; k < i + j; ++k) {
        sx += x[k];
        sy += y[k];
        sxy += x[k] * y[k];
        sxx += x[k] * x[k];
      }
      const double count = static_cast<double>(j);
      const double den = count * sxx - sx * sx;
      if (den == 0.0) continue;
      const double slope = (count * sxy - sx * sy) / den;
      if (!std::isfinite(slope)) continue;
      if (!(problem.low < slope && slope < problem.high)) continue;
      if (!best || std::fabs(slope - 1.0) < std::fabs(best_slope - 1.0)) {
        best = Window{i, j};
        best_slope = slope;
      }
    }
  }
  return best;
}

} // namespace msd_fit

Outcome<MsdFit> diff_calculator_reference(const FloatArray& time, const FloatArray& msd_in,
                                          double margin, std::uint64_t min_window,
                                          std::uint64_t max_window, double max_error,
                                          double min_displacement) {
  return msd_fit::fit_msd(time, msd_in, margin, min_window, max_window, max_error, min_displacement,
                          &msd_fit::closest_window_literal);
}

} // namespace vexa::analysis
