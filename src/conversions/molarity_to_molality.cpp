#include "conversions/molarity_to_molality.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "common/interruption.hpp"
#include "common/number_format.hpp"
#include "models/laliberte_density.hpp"

namespace vexa::conversions {
namespace {

using models::DensityParameters;
using models::DensityTemperatureTerms;

constexpr double lowest_molality = 1e-12; // the fixed lower end of every bracket
constexpr int maximum_doublings = 65;

// Modelled molarity as a function of molality at the call's temperature: the
// density kernel with its temperature terms computed once.
class Model {
public:
  Model(double temperature, double molecular_weight, const DensityParameters& c)
      : at_(models::density_temperature_terms(temperature, c)), mw_(molecular_weight), c_(c) {}

  double molarity(double molality) const {
    return models::density_at(at_, molality, mw_, c_).molarity;
  }

private:
  DensityTemperatureTerms at_;
  double mw_;
  DensityParameters c_;
};

std::string bracket_failure(double target, double temperature) {
  return std::string("molarity_to_molality: could not bracket root for molarity = ")
      .append(format_scientific(target))
      .append(" mol/L at temperature = ")
      .append(format_fixed(temperature))
      .append(" K");
}

// Targets are searched several side by side, one lane each, so that the
// steps of different targets run together on vector registers and overlap,
// and so that the choices inside a step are selections rather than branches
// that are hard to predict. Every lane still takes exactly the operations of
// its own target, in order.
using Pair = double __attribute__((vector_size(16))); // two lanes
using PairMask = std::int64_t __attribute__((vector_size(16)));
constexpr std::size_t lanes = 16;

enum class Stage : unsigned char { idle, doubling, iterating };

struct Lanes {
  // the search state of each lane
  alignas(16) double y[lanes]{}, a[lanes]{}, fa[lanes]{}, b[lanes]{}, fb[lanes]{};
  alignas(16) double c[lanes]{}, fc[lanes]{}, d[lanes]{};
  alignas(16) double trial[lanes]{};                              // the molality evaluated next
  alignas(16) std::int64_t bisected[lanes]{}, iterating[lanes]{}; // 0 or -1
  // -1 where the last step left the lane's whole state as it was: every later
  // step would too, so the search ends there
  alignas(16) std::int64_t flag_kept[lanes]{}, unchanged[lanes]{};
  std::uint64_t budget[lanes]{};
  int doublings[lanes]{};
  std::size_t index[lanes]{};
  Stage stage[lanes]{};
  // per round
  alignas(16) double proposal[lanes]{}, molarity[lanes]{};
  alignas(16) std::int64_t converged[lanes]{}, bisecting[lanes]{};
};

template <class T> Pair load(const T* lane) {
  Pair v;
  std::memcpy(&v, lane, sizeof v);
  return v;
}

template <class T> void store(T* lane, Pair v) {
  std::memcpy(lane, &v, sizeof v);
}

PairMask load_mask(const std::int64_t* lane) {
  PairMask v;
  std::memcpy(&v, lane, sizeof v);
  return v;
}

void store_mask(std::int64_t* lane, PairMask v) {
  std::memcpy(lane, &v, sizeof v);
}

Pair magnitude(Pair v) {
  constexpr PairMask sign = {std::numeric_limits<std::int64_t>::min(),
                             std::numeric_limits<std::int64_t>::min()};
  return std::bit_cast<Pair>(std::bit_cast<PairMask>(v) & ~sign);
}

// The convergence test of a Brent–Dekker step, then its next point: inverse
// quadratic interpolation where the three residuals differ, else the secant;
// bisection instead if that point is not between (3a + b)/4 and b or the
// steps are not shrinking fast enough. Computed for every lane; only the
// iterating lanes use the results.
void propose(Lanes& s, double tolerance) {
  for (std::size_t l = 0; l < lanes; l += 2) {
    const Pair a = load(s.a + l), fa = load(s.fa + l), b = load(s.b + l), fb = load(s.fb + l);
    const Pair c = load(s.c + l), fc = load(s.fc + l), d = load(s.d + l);
    store_mask(s.converged + l, magnitude(fb) <= tolerance || magnitude(b - a) <= tolerance);
    const Pair interpolated =
        (fb * (fa * c)) / ((fc - fb) * (fc - fa)) +
        ((a * fb * fc) / ((fa - fb) * (fa - fc)) + (b * fa * fc) / ((fb - fa) * (fb - fc)));
    const Pair secant = b - (b - a) * fb / (fb - fa);
    const Pair t = (fa != fc && fb != fc) ? interpolated : secant;
    const Pair q = (b + 3.0 * a) * 0.25;
    const PairMask outside = !((q < t && t < b) || (b < t && t < q));
    const Pair span = load_mask(s.bisected + l) ? magnitude(b - c) : magnitude(c - d);
    const PairMask slow = magnitude(t - b) >= 0.5 * span || span < tolerance;
    const PairMask bisecting = outside || slow;
    store_mask(s.bisecting + l, bisecting);
    store(s.proposal + l, bisecting ? (a + b) * 0.5 : t);
  }
}

// Bit for bit equal, so that NaN and signed zeros count as unchanged only
// when they are the same.
PairMask same(Pair before, Pair after) {
  return std::bit_cast<PairMask>(before) == std::bit_cast<PairMask>(after);
}

// The end of a Brent–Dekker step, given the modelled molarity at the trial
// point: the new bracket, with b the end of the smaller residual. Computed
// for every lane; only the iterating lanes keep the results.
void accept(Lanes& s) {
  for (std::size_t l = 0; l < lanes; l += 2) {
    const PairMask iterating = load_mask(s.iterating + l);
    const Pair a = load(s.a + l), fa = load(s.fa + l), b = load(s.b + l), fb = load(s.fb + l);
    const Pair t = load(s.trial + l);
    const Pair ft = load(s.molarity + l) - load(s.y + l);
    const PairMask lower = fa * ft < 0.0; // the root lies between a and t
    const Pair a1 = lower ? a : t, fa1 = lower ? fa : ft;
    const Pair b1 = lower ? t : b, fb1 = lower ? ft : fb;
    const PairMask swap = magnitude(fa1) < magnitude(fb1);
    const Pair a2 = swap ? b1 : a1, fa2 = swap ? fb1 : fa1;
    const Pair b2 = swap ? a1 : b1, fb2 = swap ? fa1 : fb1;
    const Pair c = load(s.c + l), fc = load(s.fc + l), d = load(s.d + l);
    store_mask(s.unchanged + l, load_mask(s.flag_kept + l) & same(a, a2) & same(fa, fa2) &
                                    same(b, b2) & same(fb, fb2) & same(c, b) & same(fc, fb) &
                                    same(d, c));
    store(s.d + l, iterating ? load(s.c + l) : load(s.d + l));
    store(s.c + l, iterating ? b : load(s.c + l));
    store(s.fc + l, iterating ? fb : load(s.fc + l));
    store(s.a + l, iterating ? a2 : a);
    store(s.fa + l, iterating ? fa2 : fa);
    store(s.b + l, iterating ? b2 : b);
    store(s.fb + l, iterating ? fb2 : fb);
  }
}

} // namespace

Outcome<FloatArray> molarity_to_molality(const FloatArray& molarity, double temperature,
                                         double molecular_weight, double c0, double c1, double c2,
                                         double c3, double c4, double tolerance,
                                         std::uint64_t maximum_iterations) {
  const std::size_t n = molarity.size();
  FloatArray out(n, 0.0);
  const Model model(temperature, molecular_weight, DensityParameters{c0, c1, c2, c3, c4});
  const double lowest_molarity = model.molarity(lowest_molality);

  Lanes s;
  std::size_t next = 0;
  // The first target that cannot be bracketed, by index; n while there is
  // none. Targets start in index order, so after a failure only the earlier
  // ones that are still doubling can fail before it.
  std::size_t failed = n;
  double failed_target = 0.0;

  // The end of the doubling search of lane l, whose last trial h has the
  // modelled molarity mh: the bracket [1e-12, h] must hold a sign change.
  auto bracket = [&](std::size_t l, double h, double mh) {
    const double y = s.y[l];
    double a = lowest_molality, fa = lowest_molarity - y;
    double b = h, fb = mh - y;
    // A NaN residual (an overflowing trial, NaN parameters or temperature)
    // brackets nothing: without this test the search would go on over NaN.
    if (std::isnan(fa) || std::isnan(fb) || fa * fb > 0.0) {
      if (s.index[l] < failed) {
        failed = s.index[l];
        failed_target = y;
      }
      s.stage[l] = Stage::idle;
      return;
    }
    if (std::abs(fa) < std::abs(fb)) { // b is the end of the smaller residual
      std::swap(a, b);
      std::swap(fa, fb);
    }
    if (maximum_iterations == 0) {
      out[s.index[l]] = b;
      s.stage[l] = Stage::idle;
      return;
    }
    s.a[l] = a;
    s.fa[l] = fa;
    s.b[l] = b;
    s.fb[l] = fb;
    s.c[l] = a;
    s.fc[l] = fa;
    s.d[l] = 0.0; // never read before the first step sets it
    s.bisected[l] = -1;
    s.budget[l] = maximum_iterations;
    s.stage[l] = Stage::iterating;
  };

  InterruptPoll poll(4096);
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
          s.flag_kept[l] = s.bisected[l] == s.bisecting[l] ? -1 : 0;
          s.bisected[l] = s.bisecting[l];
        }
      }
      // Start the next targets; those that need no search are settled here:
      // NaN has no molality and gives NaN, a target <= 0 gives 0.
      while (s.stage[l] == Stage::idle && next < n && failed == n) {
        const double y = molarity[next];
        if (std::isnan(y) || y <= 0.0) {
          out[next++] = std::isnan(y) ? y : 0.0;
          continue;
        }
        s.index[l] = next++;
        s.y[l] = y;
        s.doublings[l] = 0;
        const double h = y > 1.0 ? y : 1.0;
        s.trial[l] = h + h;
        s.stage[l] = Stage::doubling;
      }
      s.iterating[l] = s.stage[l] == Stage::iterating ? -1 : 0;
      busy = busy || s.stage[l] != Stage::idle;
    }
    if (!busy) break;

    for (std::size_t l = 0; l < lanes; ++l)
      s.molarity[l] = model.molarity(s.trial[l]);
    accept(s);

    for (std::size_t l = 0; l < lanes; ++l) {
      if (s.stage[l] == Stage::iterating) {
        // Out of steps, or at a state no step changes: the current b stands.
        if (--s.budget[l] == 0 || s.unchanged[l] != 0) {
          out[s.index[l]] = s.b[l];
          s.stage[l] = Stage::idle;
        }
      } else if (s.stage[l] == Stage::doubling) {
        // Double the upper end until its molarity reaches the target, at
        // most 65 times.
        const double h = s.trial[l];
        if (s.molarity[l] < s.y[l] && ++s.doublings[l] < maximum_doublings)
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
