// One Brent–Dekker step, written once over the number type (common/lanes.hpp):
// double for one search, or a vector for several searches side by side, one
// per lane.
#pragma once

#include "common/lanes.hpp"

namespace vexa::conversions {

// A search between two steps. a and b bracket the root, b with the smaller
// residual; c and d are b before the last step and the one before that.
template <class V> struct BrentState {
  V a, fa, b, fb, c, fc, d;
  Mask<V> bisected; // whether the last step bisected
};

template <class V> struct BrentProposal {
  Mask<V> converged; // b is the result: no further step
  Mask<V> bisecting;
  V point; // where the next residual is needed
};

// The convergence test, then the next point: inverse quadratic interpolation
// where the three residuals differ, else the secant; bisection instead if
// that point is not between (3a + b)/4 and b or the steps are not shrinking
// fast enough.
template <class V>
[[gnu::always_inline]] inline BrentProposal<V> propose(const BrentState<V>& s, double tolerance) {
  const V a = s.a, fa = s.fa, b = s.b, fb = s.fb, c = s.c, fc = s.fc, d = s.d;
  const Mask<V> converged = magnitude(fb) <= tolerance || magnitude(b - a) <= tolerance;
  const V interpolated =
      (fb * (fa * c)) / ((fc - fb) * (fc - fa)) +
      ((a * fb * fc) / ((fa - fb) * (fa - fc)) + (b * fa * fc) / ((fb - fa) * (fb - fc)));
  const V secant = b - (b - a) * fb / (fb - fa);
  const V t = select(fa != fc && fb != fc, interpolated, secant);
  const V q = (b + 3.0 * a) * 0.25;
  const Mask<V> outside = !((q < t && t < b) || (b < t && t < q));
  const V span = select(s.bisected, magnitude(b - c), magnitude(c - d));
  const Mask<V> slow = magnitude(t - b) >= 0.5 * span || span < tolerance;
  const Mask<V> bisecting = outside || slow;
  return {converged, bisecting, select(bisecting, (a + b) * 0.5, t)};
}

// The search after the step to `p.point`, whose residual is `ft`: the new
// bracket, with b the end of the smaller residual.
template <class V>
[[gnu::always_inline]] inline BrentState<V> accept(const BrentState<V>& s,
                                                   const BrentProposal<V>& p, const V& ft) {
  const Mask<V> lower = s.fa * ft < 0.0; // the root lies between a and the point
  const V a = select(lower, s.a, p.point), fa = select(lower, s.fa, ft);
  const V b = select(lower, p.point, s.b), fb = select(lower, ft, s.fb);
  const Mask<V> swap = magnitude(fa) < magnitude(fb); // b: the end of the smaller residual
  BrentState<V> next;
  next.a = select(swap, b, a);
  next.fa = select(swap, fb, fa);
  next.b = select(swap, a, b);
  next.fb = select(swap, fa, fb);
  next.c = s.b; // c, fc and d take the values from before the step
  next.fc = s.fb;
  next.d = s.c;
  next.bisected = p.bisecting;
  return next;
}

// Where a step left the whole search as it was, bit for bit, every later
// step would too: the search ends there.
template <class V>
[[gnu::always_inline]] inline Mask<V> unchanged(const BrentState<V>& before,
                                                const BrentState<V>& after) {
  return same(before.a, after.a) & same(before.fa, after.fa) & same(before.b, after.b) &
         same(before.fb, after.fb) & same(before.c, after.c) & same(before.fc, after.fc) &
         same(before.d, after.d) & (before.bisected == after.bisected);
}

} // namespace vexa::conversions
