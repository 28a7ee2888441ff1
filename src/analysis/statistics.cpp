#include "analysis/statistics.hpp"

#include <cmath>
#include <limits>

#include "common/interruption.hpp"

namespace vexa::analysis {
namespace {

// Values summed between two questions whether to go on.
constexpr std::size_t block = std::size_t{1} << 16;

} // namespace

Outcome<std::tuple<double, double, std::uint64_t>> repacking_results(const FloatArray& d_array) {
  // Plain running sums in index order, two passes: the mean first, then the
  // squared deviations from it.
  std::uint64_t count = 0;
  double sum = 0.0;
  const bool summed = for_each_index(d_array.size(), block, [&](std::size_t i) {
    const double x = d_array[i];
    if (!std::isfinite(x)) return;
    sum += x;
    ++count;
  });
  if (!summed) return interrupted();
  if (count == 0) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    return std::tuple{nan, nan, std::uint64_t{0}};
  }
  const double n = static_cast<double>(count);
  const double mean = sum / n;
  double squares = 0.0;
  const bool squared = for_each_index(d_array.size(), block, [&](std::size_t i) {
    const double x = d_array[i];
    if (!std::isfinite(x)) return;
    const double deviation = x - mean;
    squares += deviation * deviation;
  });
  if (!squared) return interrupted();
  const double variance = squares / n;
  return std::tuple{mean, std::sqrt(variance), count};
}

Outcome<std::uint64_t> local_maximum_finder(const FloatArray& data, std::uint64_t search_start,
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

  // Charged one unit per neighbour compared.
  InterruptPoll poll(std::uint64_t{1} << 20);
  for (auto i = static_cast<std::size_t>(first); i < static_cast<std::size_t>(end); ++i) {
    const double peak = data[i];
    bool is_peak = true;
    std::size_t m = 1;
    for (; m <= k && is_peak; ++m)
      is_peak = peak > data[i - m] && peak > data[i + m];
    if (is_peak) return std::uint64_t{i};
    if (poll(m)) return interrupted();
  }
  return fallback;
}

} // namespace vexa::analysis
