// Summaries of repeated results and the first local maximum of a curve.
#pragma once

#include <cstdint>
#include <tuple>

#include "common/outcome.hpp"
#include "common/types.hpp"

namespace vexa::analysis {

// (mean, population standard deviation, count) of the finite values; NaN,
// NaN and 0 when there are none.
// Both fail only when the caller asked the call to end.
Outcome<std::tuple<double, double, std::uint64_t>> repacking_results(const FloatArray& d_array);

// Index of the first point from search_start + neighbor_count on that is
// strictly above its neighbor_count neighbours on each side, or
// neighbor_count + search_start when there is none.
Outcome<std::uint64_t> local_maximum_finder(const FloatArray& data, std::uint64_t search_start,
                                            std::uint64_t neighbor_count);

} // namespace vexa::analysis
