// The MSD window searches the tests and benchmarks hold the module's against,
// built into the test probe only.
#pragma once

#include <cstdint>

#include "analysis/msd_fit.hpp"
#include "common/outcome.hpp"
#include "common/types.hpp"

namespace vexa::yardsticks {

// diff_calculator with every window's sums recomputed from its first sample.
Outcome<analysis::MsdFit> diff_calculator_reference(const FloatArray& time,
                                                    const FloatArray& msd_in, double margin,
                                                    std::uint64_t min_window,
                                                    std::uint64_t max_window, double max_error,
                                                    double min_displacement);

// diff_calculator restricted to its two-lane search, the one that runs where
// the processor lacks wider vectors; for tests on processors that have them.
Outcome<analysis::MsdFit> diff_calculator_narrow(const FloatArray& time, const FloatArray& msd_in,
                                                 double margin, std::uint64_t min_window,
                                                 std::uint64_t max_window, double max_error,
                                                 double min_displacement);

} // namespace vexa::yardsticks
