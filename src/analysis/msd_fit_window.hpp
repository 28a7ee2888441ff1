// The arithmetic of one window of the log-log slope search, written once over
// the number type (common/lanes.hpp): double for the literal search, one
// window at a time, or a vector for the fast one, one window start per lane.
#pragma once

#include "common/lanes.hpp"

namespace vexa::analysis::msd_fit {

// Least-squares sums over a window's (x, y) samples, each begun at -0.0.
template <class V> struct WindowSums {
  V x, y, xy, xx;
};

// The sums of the window one sample longer: that sample's terms added last,
// so that a window grown sample by sample has, addition for addition, the
// sums of one summed from its first sample.
template <class V>
[[gnu::always_inline]] inline void extend(WindowSums<V>& sums, const V& x, const V& y, const V& xy,
                                          const V& xx) {
  sums.x += x;
  sums.y += y;
  sums.xy += xy;
  sums.xx += xx;
}

// The window closest to slope 1 so far: its distance |slope - 1| (infinite
// while there is none) and its length.
template <class V> struct Closest {
  V distance, length;
};

// The window of `count` samples with `sums` replaces `closest` where `open`
// allows it, its slope lies strictly inside (low, high) and it is strictly
// closer to 1. A den of exactly 0 and any non-finite slope give a slope of
// NaN or an infinity, which the strict band turns away.
template <class V>
[[gnu::always_inline]] inline void consider(Closest<V>& closest, const WindowSums<V>& sums,
                                            const V& count, const Mask<V>& open, double low,
                                            double high) {
  const V den = count * sums.xx - sums.x * sums.x;
  const V slope = (count * sums.xy - sums.x * sums.y) / den;
  const V distance = magnitude(slope - 1.0);
  const Mask<V> better = open & (low < slope) & (slope < high) & (distance < closest.distance);
  closest.distance = select(better, distance, closest.distance);
  closest.length = select(better, count, closest.length);
}

} // namespace vexa::analysis::msd_fit
