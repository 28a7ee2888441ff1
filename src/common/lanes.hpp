// Kernels written once over the number type: `double` for one element at a
// time, or `Lanes<width>`, a GCC vector of doubles, for as many elements side
// by side. The vector operators work lane by lane with the IEEE result of the
// scalar operation, so every lane takes exactly the operations of the scalar
// kernel, in the same order. Choices inside a kernel are selections computed
// both ways rather than branches, which lanes could not take apart.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace vexa {

// (Attributes on alias templates are dropped, hence the class.)
template <std::size_t width> struct LaneTypes {
  typedef double Vector __attribute__((vector_size(width * sizeof(double))));
};
template <std::size_t width> using Lanes = typename LaneTypes<width>::Vector;

// What a comparison gives: bool for double, 0 or -1 in each lane of a vector.
template <class V> using Mask = decltype(V{} < V{});

// The helpers are always inlined, so that a kernel over 32-byte vectors
// called from a function built for AVX2 is compiled for AVX2 as a whole.

template <class V, class T> [[gnu::always_inline]] inline void load(V& out, const T* from) {
  std::memcpy(&out, from, sizeof out);
}

template <class V, class T> [[gnu::always_inline]] inline void store(T* to, const V& in) {
  std::memcpy(to, &in, sizeof in);
}

template <class V>
[[gnu::always_inline]] inline V select(const Mask<V>& mask, const V& yes, const V& no) {
  return mask ? yes : no;
}

[[gnu::always_inline]] inline double magnitude(double value) {
  return std::fabs(value);
}

template <class V> [[gnu::always_inline]] inline V magnitude(const V& value) {
  return reinterpret_cast<V>(reinterpret_cast<Mask<V>>(value) &
                             std::numeric_limits<std::int64_t>::max());
}

// Bit for bit equal, so that NaN and signed zeros count as the same only when
// they are.
[[gnu::always_inline]] inline bool same(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

template <class V> [[gnu::always_inline]] inline Mask<V> same(const V& a, const V& b) {
  return reinterpret_cast<Mask<V>>(a) == reinterpret_cast<Mask<V>>(b);
}

} // namespace vexa
