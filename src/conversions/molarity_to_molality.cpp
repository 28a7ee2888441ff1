#include "conversions/molarity_to_molality.hpp"

#include <cstdint>

#include "common/interruption.hpp"
#include "common/lanes.hpp"
#include "conversions/brent_step.hpp"
#include "conversions/molarity_search.hpp"

namespace vexa::conversions {
namespace {

// Targets are searched several side by side, one lane each, so that the
// steps of different targets run together on vector registers and overlap,
// and so that the choices inside a step are selections rather than branches
// that are hard to predict. Every lane still takes exactly the operations of
// its own target, in order: those of the scalar step.
using Pair = Lanes<2>;
constexpr std::size_t lanes = 16;

enum class Stage : unsigned char { idle, doubling, iterating };

// The steps run in every lane, whatever its stage; the search state of a lane
// that is not iterating is not read before bracket() sets it anew.
struct Searches {
  // the search state of each lane
  alignas(16) double y[lanes]{}, a[lanes]{}, fa[lanes]{}, b[lanes]{}, fb[lanes]{};
  alignas(16) double c[lanes]{}, fc[lanes]{}, d[lanes]{};
  alignas(16) std::int64_t bisected[lanes]{}; // 0 or -1
  alignas(16) double trial[lanes]{};          // the molality evaluated next
  // -1 where the last step left the lane's whole state as it was
  alignas(16) std::int64_t unchanged[lanes]{};
  std::uint64_t budget[lanes]{};
  int doublings[lanes]{};
  std::size_t index[lanes]{};
  Stage stage[lanes]{};
  // per round
  alignas(16) double proposal[lanes]{}, molarity[lanes]{};
  alignas(16) std::int64_t converged[lanes]{}, bisecting[lanes]{};
};

BrentState<Pair> load_state(const Searches& s, std::size_t l) {
  BrentState<Pair> v;
  load(v.a, s.a + l);
  load(v.fa, s.fa + l);
  load(v.b, s.b + l);
  load(v.fb, s.fb + l);
  load(v.c, s.c + l);
  load(v.fc, s.fc + l);
  load(v.d, s.d + l);
  load(v.bisected, s.bisected + l);
  return v;
}

void store_state(Searches& s, std::size_t l, const BrentState<Pair>& v) {
  store(s.a + l, v.a);
  store(s.fa + l, v.fa);
  store(s.b + l, v.b);
  store(s.fb + l, v.fb);
  store(s.c + l, v.c);
  store(s.fc + l, v.fc);
  store(s.d + l, v.d);
  store(s.bisected + l, v.bisected);
}

// The first half of a step.
void propose(Searches& s, double tolerance) {
  for (std::size_t l = 0; l < lanes; l += 2) {
    const BrentProposal<Pair> p = propose(load_state(s, l), tolerance);
    store(s.converged + l, p.converged);
    store(s.bisecting + l, p.bisecting);
    store(s.proposal + l, p.point);
  }
}

// The second half, given the modelled molarity at the trial point. With
// `check`, each lane also notes whether the step left its state unchanged.
void accept(Searches& s, bool check) {
  for (std::size_t l = 0; l < lanes; l += 2) {
    const BrentState<Pair> before = load_state(s, l);
    BrentProposal<Pair> p;
    load(p.bisecting, s.bisecting + l);
    load(p.point, s.trial + l);
    Pair molarity, y;
    load(molarity, s.molarity + l);
    load(y, s.y + l);
    const BrentState<Pair> after = accept(before, p, molarity - y);
    if (check) store(s.unchanged + l, unchanged(before, after));
    store_state(s, l, after);
  }
}

} // namespace

Outcome<FloatArray> molarity_to_molality(const FloatArray& molarity, double temperature,
                                         double molecular_weight, double c0, double c1, double c2,
                                         double c3, double c4, double tolerance,
                                         std::uint64_t maximum_iterations) {
  const std::size_t n = molarity.size();
  FloatArray out(n, 0.0);
  const Model model(temperature, molecular_weight, models::DensityParameters{c0, c1, c2, c3, c4});
  const double lowest_molarity = model.molarity(lowest_molality);

  Searches s;
  std::size_t next = 0;
  // The first target that cannot be bracketed, by index; n while there is
  // none. Targets start in index order, so after a failure only the earlier
  // ones that are still doubling can fail before it.
  std::size_t failed = n;
  double failed_target = 0.0;

  // The end of the doubling search of lane l, whose last trial h has the
  // modelled molarity mh.
  auto bracket = [&](std::size_t l, double h, double mh) {
    BrentState<double> start;
    if (!open_bracket(lowest_molarity, s.y[l], h, mh, start)) {
      if (s.index[l] < failed) {
        failed = s.index[l];
        failed_target = s.y[l];
      }
      s.stage[l] = Stage::idle;
    } else if (maximum_iterations == 0) {
      out[s.index[l]] = start.b;
      s.stage[l] = Stage::idle;
    } else {
      s.a[l] = start.a;
      s.fa[l] = start.fa;
      s.b[l] = start.b;
      s.fb[l] = start.fb;
      s.c[l] = start.c;
      s.fc[l] = start.fc;
      s.d[l] = start.d;
      s.bisected[l] = start.bisected ? -1 : 0;
      s.budget[l] = maximum_iterations;
      s.stage[l] = Stage::iterating;
    }
  };

  InterruptPoll poll(4096);
  std::uint64_t round = 0;
  for (;;) {
    if (poll()) return interrupted();
    propose(s, tolerance);
    bool busy = false;
    for (std::size_t l = 0; l < lanes; ++l) {
      if (s.stage[l] == Stage::iterating) {
        if (s.converged[l] != 0) {
          out[s.index[l]] = s.b[l];
          s.stage[l] = Stage::idle;
        } else {
          s.trial[l] = s.proposal[l];
        }
      }
      // Start the next targets; those that need no search are settled here.
      while (s.stage[l] == Stage::idle && next < n && failed == n) {
        const double y = molarity[next];
        if (!searched(y)) {
          out[next++] = unsearched_molality(y);
          continue;
        }
        s.index[l] = next++;
        s.y[l] = y;
        s.doublings[l] = 0;
        s.trial[l] = first_trial(y);
        s.stage[l] = Stage::doubling;
      }
      busy = busy || s.stage[l] != Stage::idle;
    }
    if (!busy) break;

    for (std::size_t l = 0; l < lanes; ++l)
      s.molarity[l] = model.molarity(s.trial[l]);
    // A state that no step changes stays so, and a search that reached one
    // ends with the same b whenever that is noticed: looking every 64th
    // round keeps the test out of the searches that converge.
    const bool check = (++round & 63) == 0;
    accept(s, check);

    for (std::size_t l = 0; l < lanes; ++l) {
      if (s.stage[l] == Stage::iterating) {
        // Out of steps, or at a state no step changes: the current b stands.
        if (--s.budget[l] == 0 || (check && s.unchanged[l] != 0)) {
          out[s.index[l]] = s.b[l];
          s.stage[l] = Stage::idle;
        }
      } else if (s.stage[l] == Stage::doubling) {
        const double h = s.trial[l];
        if (doubles_again(s.molarity[l], s.y[l], s.doublings[l]))
          s.trial[l] = h + h;
        else
          bracket(l, h, s.molarity[l]);
      }
      // After a failure only earlier targets that are still doubling matter.
      if (failed < n && (s.index[l] > failed || s.stage[l] == Stage::iterating))
        s.stage[l] = Stage::idle;
    }
  }
  if (failed < n) return value_error(bracket_failure(failed_target, temperature));
  return out;
}

} // namespace vexa::conversions
