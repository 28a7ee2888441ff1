#include "analysis/statistics.hpp"

#include <cmath>
#include <limits>

namespace vexa::analysis {

std::tuple<double, double, std::uint64_t> repacking_results(const FloatArray& d_array) {
  // Plain running sums in index order, two passes: the mean first, then the
  // squared deviations from it.
  std::uint64_t count = 0;
  double sum = 0.0;
  for (const double x : d_array) {
    if (!std::isfinite(x)) continue;
    sum += x;
    ++count;
  }
  if (count == 0) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    return {nan, nan, 0};
  }
  const double n = static_cast<double>(count);
  const double mean = sum / n;
  double squares = 0.0;
  for (const double x : d_array) {
    if (!std::isfinite(x)) continue;
    const double deviation = x - mean;
    squares += deviation * deviation;
  }
  const double variance = squares / n;
  return {mean, std::sqrt(variance), count};
}

std::uint64_t local_maximum_finder(const FloatArray& data, std::uint64_t search_start,
                                   std::uint64_t neighbor_count) {
  using Wide = unsigned __int128;
  const std::uint64_t k = neighbor_count;
  const Wide first = Wide{k} + search_start;
  // Callers pass indices within the data; should the sum still not fit, the
  // fallback saturates rather than wrapping round to a plausible index.
  const std::uint64_t fallback = first > std::numeric_limits<std::uint64_t>::max()
                                     ? std::numeric_limits<std::uint64_t>::max()
                                     : static_cast<std::uint64_t>(first);
  const Wide n = data.size();
  // One past the last candidate; data of at most 2k points has none, since
  // then end <= k <= first.
  const Wide end = k > n ? 0 : n - k;
  if (k == 0 || first >= end) return fallback;

  for (auto i = static_cast<std::size_t>(first); i < static_cast<std::size_t>(end); ++i) {
    const double peak = data[i];
    bool is_peak = true;
    for (std::size_t m = 1; m <= k && is_peak; ++m)
      is_peak = peak > data[i - m] && peak > data[i + m];
    if (is_peak) return i;
  }
  return fallback;
}

} // namespace vexa::analysis
