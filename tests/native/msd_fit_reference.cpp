// The window search written out literally, every window's sums recomputed
// from its first sample: O(n * W^2), kept only as the yardstick for the fast
// search in tests and benchmarks. Its per-window arithmetic is the fast one's,
// on one window at a time.
#include <algorithm>
#include <limits>

#include "analysis/msd_fit_search.hpp"
#include "analysis/msd_fit_window.hpp"
#include "common/interruption.hpp"
#include "yardsticks.hpp"

namespace vexa::yardsticks {
namespace {

using namespace analysis::msd_fit;

SearchOutcome closest_window_literal(const SearchProblem& problem) {
  const FloatArray& x = problem.x;
  const FloatArray& y = problem.y;
  const std::size_t n = x.size();
  std::optional<Window> best;
  Closest<double> closest{std::numeric_limits<double>::infinity(), 0.0};
  InterruptPoll poll(search_poll_interval);
  for (std::uint64_t i = problem.start; i < problem.stop; ++i) {
    // From here on every window would run past the data.
    if (i > n || problem.min_window > n - i) break;
    if (repeats_next_time(problem.t, i)) continue;
    const std::uint64_t limit = std::min(problem.stop - i, problem.max_window);
    for (std::uint64_t j = problem.min_window; j < limit; ++j) {
      if (j > n - i) break;
      if (poll(j)) return interrupted();
      WindowSums<double> sums{-0.0, -0.0, -0.0, -0.0};
      for (std::size_t k = i; k < i + j; ++k)
        extend(sums, x[k], y[k], x[k] * y[k], x[k] * x[k]);
      const double before = closest.distance;
      consider(closest, sums, static_cast<double>(j), true, problem.low, problem.high);
      // Only a strictly closer window moves the distance.
      if (closest.distance < before) best = Window{i, j};
    }
  }
  return best;
}

} // namespace

Outcome<analysis::MsdFit> diff_calculator_reference(const FloatArray& time,
                                                    const FloatArray& msd_in, double margin,
                                                    std::uint64_t min_window,
                                                    std::uint64_t max_window, double max_error,
                                                    double min_displacement) {
  return fit_msd(time, msd_in, margin, min_window, max_window, max_error, min_displacement,
                 &closest_window_literal);
}

Outcome<analysis::MsdFit> diff_calculator_narrow(const FloatArray& time, const FloatArray& msd_in,
                                                 double margin, std::uint64_t min_window,
                                                 std::uint64_t max_window, double max_error,
                                                 double min_displacement) {
  return fit_msd(time, msd_in, margin, min_window, max_window, max_error, min_displacement,
                 &closest_window_two_lanes);
}

} // namespace vexa::yardsticks
