// The parts of the MSD window fit that every window search shares (the
// module's, and the literal one the tests hold it against): the prepared series with the search
// bounds, and the fit around a search.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "analysis/msd_fit.hpp"

namespace vexa::analysis::msd_fit {

// One call's series after the displacement filter, and where to search.
struct SearchProblem {
  FloatArray t;            // kept times
  FloatArray m;            // kept MSD values, signs included
  FloatArray x;            // log10(t)
  FloatArray y;            // log10(|m|)
  std::uint64_t start = 0; // first window start
  std::uint64_t stop = 0;  // window starts stay below this
  std::uint64_t min_window = 0;
  std::uint64_t max_window = 0; // window lengths stay below this
  double low = 0.0;             // accepted slopes lie strictly between low and high
  double high = 0.0;
};

// `length` samples from index `start` on.
struct Window {
  std::size_t start;
  std::size_t length;
};

// Window sums of one sample each added between two questions whether to go on.
inline constexpr std::uint64_t search_poll_interval = std::uint64_t{1} << 21;

// The window whose log-log slope lies inside the band and closest to 1, the
// earliest in scan order (start, then length) among equally close ones;
// none when no window qualifies. Fails only when the caller asked the call
// to end.
using SearchOutcome = Outcome<std::optional<Window>>;
using Search = SearchOutcome (*)(const SearchProblem&);

// Extends each start's window one sample at a time, several starts at once:
// four where the processor has AVX2, two otherwise.
SearchOutcome closest_window(const SearchProblem& problem);

// The two-lane search alone, which processors without AVX2 run; named so that
// tests on processors with it can still reach it.
SearchOutcome closest_window_two_lanes(const SearchProblem& problem);

// Filter, search with `search`, final regression.
Outcome<MsdFit> fit_msd(const FloatArray& time, const FloatArray& msd_in, double margin,
                        std::uint64_t min_window, std::uint64_t max_window, double max_error,
                        double min_displacement, Search search);

// No window starts at i when the next time equals t[i] to within rounding.
inline bool repeats_next_time(const FloatArray& t, std::size_t i) {
  if (i + 1 >= t.size()) return false;
  const double gap = std::fabs(t[i] - t[i + 1]);
  const double scale = std::fmax(std::fabs(t[i]), 1.0); // a NaN time counts as 1.0
  return gap < 0x1p-52 * scale;
}

} // namespace vexa::analysis::msd_fit
