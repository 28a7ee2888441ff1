// The molality search one target at a time, with the scalar Brent–Dekker
// step: the yardstick for the side-by-side search in tests.
#include "common/interruption.hpp"
#include "conversions/brent_step.hpp"
#include "conversions/molarity_search.hpp"
#include "yardsticks.hpp"

namespace vexa::yardsticks {

using namespace conversions;

Outcome<FloatArray> molarity_to_molality_reference(const FloatArray& molarity, double temperature,
                                                   double molecular_weight, double c0, double c1,
                                                   double c2, double c3, double c4,
                                                   double tolerance,
                                                   std::uint64_t maximum_iterations) {
  const std::size_t n = molarity.size();
  FloatArray out(n, 0.0);
  const Model model(temperature, molecular_weight, models::DensityParameters{c0, c1, c2, c3, c4});
  const double lowest_molarity = model.molarity(lowest_molality);
  InterruptPoll poll(4096);
  for (std::size_t i = 0; i < n; ++i) {
    if (poll()) return interrupted();
    const double y = molarity[i];
    if (!searched(y)) {
      out[i] = unsearched_molality(y);
      continue;
    }
    double h = first_trial(y);
    double mh = model.molarity(h);
    for (int doublings = 0; doubles_again(mh, y, doublings);) {
      h = h + h;
      mh = model.molarity(h);
    }
    BrentState<double> search;
    if (!open_bracket(lowest_molarity, y, h, mh, search)) {
      return value_error(bracket_failure(y, temperature));
    }
    for (std::uint64_t k = 0; k < maximum_iterations; ++k) {
      if (poll()) return interrupted();
      const BrentProposal<double> p = propose(search, tolerance);
      if (p.converged) break;
      const BrentState<double> before = search;
      search = accept(before, p, model.molarity(p.point) - y);
      if (unchanged(before, search)) break;
    }
    out[i] = search.b;
  }
  return out;
}

} // namespace vexa::yardsticks
