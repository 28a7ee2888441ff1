// The lane helpers return vectors by value. Code built without AVX returns a
// 32-byte vector otherwise than code built for it, which -Wpsabi points out
// for every such helper; all of them are always inlined into the AVX2
// search, so no call between the two kinds of code exists in this file.
#pragma GCC diagnostic ignored "-Wpsabi"

#include "analysis/msd_fit.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "analysis/msd_fit_search.hpp"
#include "analysis/msd_fit_window.hpp"
#include "common/interruption.hpp"
#include "common/lanes.hpp"

namespace vexa::analysis {
namespace msd_fit {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// Truncation toward zero into an index that saturates: negative and NaN
// values give 0, values past the range the largest index.
std::uint64_t to_index(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= 0x1p64) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(value);
}

// The line through the raw, signed samples of the window.
MsdFit regression(const FloatArray& t, const FloatArray& m, Window window) {
  const auto first = static_cast<std::ptrdiff_t>(window.start);
  const auto last = first + static_cast<std::ptrdiff_t>(window.length);
  FloatArray times(t.begin() + first, t.begin() + last);
  double st = -0.0;
  double sm = -0.0;
  double stm = -0.0;
  double stt = -0.0;
  for (std::size_t p = window.start; p < window.start + window.length; ++p) {
    st += t[p];
    sm += m[p];
    stm += t[p] * m[p];
    stt += t[p] * t[p];
  }
  const double count = static_cast<double>(window.length);
  const double den = count * stt - st * st;
  double slope = nan;
  double intercept = nan;
  if (den != 0.0) {
    slope = (count * stm - st * sm) / den;
    intercept = (sm - st * slope) / count;
  }
  FloatArray fit(times.size());
  for (std::size_t p = 0; p < times.size(); ++p)
    fit[p] = intercept + slope * times[p];
  return {slope, std::move(times), std::move(fit)};
}

// The fast search runs `width` consecutive starts side by side, one start per
// vector lane. Every lane performs exactly the scalar operations of its own
// start, in the same order; only the bookkeeping is shared. Its helpers are
// always inlined, so that in the AVX2 search they are compiled for AVX2 too.

// The sums extended by one sample in every lane: lane l's terms are the l-th
// from each pointer on.
template <std::size_t width>
[[gnu::always_inline]] inline void extend_from(WindowSums<Lanes<width>>& sums, const double* x,
                                               const double* y, const double* xy,
                                               const double* xx) {
  Lanes<width> term_x, term_y, term_xy, term_xx;
  load(term_x, x);
  load(term_y, y);
  load(term_xy, xy);
  load(term_xx, xx);
  extend(sums, term_x, term_y, term_xy, term_xx);
}

// For a fixed start the window of length j + 1 is that of length j extended
// by the next sample (msd_fit_window.hpp). Sums are never carried from one
// start to another.
template <std::size_t width>
[[gnu::always_inline]] inline SearchOutcome search_in_lanes(const SearchProblem& problem) {
  using Vector = Lanes<width>;
  const std::size_t n = problem.x.size();
  // The per-sample terms, with `width` zeros of padding so that a block's
  // loads stay inside the arrays even where some of its lanes have ended.
  FloatArray x(n + width, 0.0);
  FloatArray y(n + width, 0.0);
  FloatArray xy(n + width, 0.0);
  FloatArray xx(n + width, 0.0);
  for (std::size_t k = 0; k < n; ++k) {
    x[k] = problem.x[k];
    y[k] = problem.y[k];
    xy[k] = problem.x[k] * problem.y[k];
    xx[k] = problem.x[k] * problem.x[k];
  }
  // Windows of fewer than two samples never qualify: their den is 0, or NaN
  // when the sample is infinite or NaN.
  const std::uint64_t shortest = std::max<std::uint64_t>(problem.min_window, 2);

  std::optional<Window> best;
  double best_distance = inf; // a qualifying slope is finite, so is its distance
  InterruptPoll poll(search_poll_interval);
  for (std::uint64_t block = problem.start; block < problem.stop; block += width) {
    // From here on every window would run past the data.
    if (block > n || problem.min_window > n - block) break;
    // Each lane's bound on its window lengths (exclusive), 0 for none; a
    // bound never exceeds n + 1, so it is exact as a double.
    Vector bound{};
    std::uint64_t top = 0;
    std::uint64_t common = std::numeric_limits<std::uint64_t>::max(); // the smallest bound
    for (std::size_t lane = 0; lane < width; ++lane) {
      const std::uint64_t i = block + lane;
      std::uint64_t lane_bound = 0;
      if (i < problem.stop && i <= n && !repeats_next_time(problem.t, i))
        lane_bound = std::min({problem.stop - i, problem.max_window, n - i + 1});
      bound[lane] = static_cast<double>(lane_bound);
      top = std::max(top, lane_bound);
      common = std::min(common, lane_bound);
    }
    if (top <= shortest) continue;
    if (poll(top)) return interrupted();

    const double* px = x.data() + block;
    const double* py = y.data() + block;
    const double* pxy = xy.data() + block;
    const double* pxx = xx.data() + block;
    const Vector zero{};
    WindowSums<Vector> sums{-zero, -zero, -zero, -zero}; // -0.0 in every lane
    std::uint64_t j = 1;
    for (; j < shortest; ++j)
      extend_from<width>(sums, px + j - 1, py + j - 1, pxy + j - 1, pxx + j - 1);
    Closest<Vector> closest{zero + inf, zero};
    // Below the smallest bound every lane is open and the per-lane test can
    // go: in most blocks every bound is max_window, so that loop does nearly
    // all the work.
    const Mask<Vector> every_lane = zero == zero;
    for (; j < common; ++j) {
      extend_from<width>(sums, px + j - 1, py + j - 1, pxy + j - 1, pxx + j - 1);
      const Vector count = zero + static_cast<double>(j); // 0.0 + j is j
      consider(closest, sums, count, every_lane, problem.low, problem.high);
    }
    for (; j < top; ++j) {
      extend_from<width>(sums, px + j - 1, py + j - 1, pxy + j - 1, pxx + j - 1);
      const Vector count = zero + static_cast<double>(j);
      consider(closest, sums, count, count < bound, problem.low, problem.high);
    }
    // Merged in scan order; a later start must be strictly closer.
    for (std::size_t lane = 0; lane < width; ++lane) {
      if (closest.distance[lane] < best_distance) {
        best_distance = closest.distance[lane];
        best = Window{block + lane, static_cast<std::size_t>(closest.length[lane])};
      }
    }
  }
  return best;
}

#if defined(__x86_64__) || defined(__i386__)
#define VEXA_MSD_FIT_AVX2 1
// Four lanes where the processor has AVX2 (two with SSE2 alone, which every
// x86-64 processor has). The same IEEE operations, just wider: no fused
// multiply-add is enabled here.
[[gnu::target("avx2")]] SearchOutcome search_four_lanes(const SearchProblem& problem) {
  return search_in_lanes<4>(problem);
}
#endif

} // namespace

SearchOutcome closest_window_two_lanes(const SearchProblem& problem) {
  return search_in_lanes<2>(problem);
}

SearchOutcome closest_window(const SearchProblem& problem) {
#ifdef VEXA_MSD_FIT_AVX2
  if (__builtin_cpu_supports("avx2")) return search_four_lanes(problem);
#endif
  return closest_window_two_lanes(problem);
}

Outcome<MsdFit> fit_msd(const FloatArray& time, const FloatArray& msd_in, double margin,
                        std::uint64_t min_window, std::uint64_t max_window, double max_error,
                        double min_displacement, Search search) {
  const std::size_t size = time.size();
  if (size == 0 || msd_in.size() != size) return MsdFit{nan, {}, {}};

  SearchProblem problem;
  const double threshold = min_displacement * min_displacement;
  for (std::size_t k = 0; k < size; ++k) {
    if (std::fabs(msd_in[k]) >= threshold) { // false for NaN
      problem.t.push_back(time[k]);
      problem.m.push_back(msd_in[k]);
    }
  }
  const std::size_t n = problem.t.size();
  if (n == 0) return MsdFit{nan, {}, {}};
  problem.x.resize(n);
  problem.y.resize(n);
  const bool logged = for_each_index(n, std::size_t{1} << 14, [&](std::size_t k) {
    problem.x[k] = std::log10(problem.t[k]);
    problem.y[k] = std::log10(std::fabs(problem.m[k]));
  });
  if (!logged) return interrupted();

  const double count = static_cast<double>(n);
  problem.start = to_index(margin * count);
  const double kept = 1.0 - margin;
  const std::uint64_t end = to_index(kept * count);
  problem.stop = min_window > end ? 0 : end - min_window;
  problem.min_window = min_window;
  problem.max_window = max_window;
  problem.low = 1.0 - max_error;
  problem.high = 1.0 + max_error;

  const SearchOutcome best = search(problem);
  if (!best) return std::unexpected(best.error());
  if (!*best) return MsdFit{nan, FloatArray{time[0]}, FloatArray{msd_in[0]}};
  return regression(problem.t, problem.m, **best);
}

} // namespace msd_fit

Outcome<MsdFit> diff_calculator(const FloatArray& time, const FloatArray& msd_in, double margin,
                                std::uint64_t min_window, std::uint64_t max_window,
                                double max_error, double min_displacement) {
  return msd_fit::fit_msd(time, msd_in, margin, min_window, max_window, max_error, min_displacement,
                          &msd_fit::closest_window);
}

} // namespace vexa::analysis
