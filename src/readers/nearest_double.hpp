// The Eisel-Lemire algorithm: the float64 nearest to a decimal w·10^q from a
// 128-bit power of five, with integer arithmetic only.
#pragma once

#include <bit>
#include <cstdint>

#include "readers/powers_of_five.hpp"

namespace vexa::readers {

// The bits of the float64 nearest to w·10^q (ties to even), for w > 0, when
// the product below settles the rounding and the result is a normal number;
// 0 otherwise (no normal number has those bits), and the caller takes a
// slower exact road.
//
// Eisel-Lemire (M. Eisel and D. Lemire; D. Lemire, "Number parsing at a
// gigabyte per second", Software: Practice and Experience 51(8), 2021) in a
// plainer form: the whole 192-bit product w·T is always formed,
// and the test of whether it settles the rounding is spelled out from the
// error bound of T.
[[gnu::always_inline]] inline std::uint64_t nearest_double_bits(std::uint64_t w, std::int64_t q) {
  // With w in [1, 2^64) and q in this range w·10^q is a normal finite
  // number, so that the result needs no test for either end of the range;
  // other exponents take the slower road.
  constexpr std::int64_t lowest = -307, highest = 288;
  static_assert(lowest >= smallest_power_of_five && highest <= largest_power_of_five);
  if (static_cast<std::uint64_t>(q - lowest) > static_cast<std::uint64_t>(highest - lowest))
    return 0;
  const PowerOfFive& power = powers_of_five[q - smallest_power_of_five];
  // With w's top bit set the product's top bit is bit 191 or 190, so its
  // high word holds the 53 bits of the result and the rounding bit.
  const int shift = std::countl_zero(w);
  const std::uint64_t normalized = w << shift;
  using Wide = unsigned __int128;
  const Wide low_product = static_cast<Wide>(normalized) * power.low;
  const Wide upper = static_cast<Wide>(normalized) * power.high + (low_product >> 64);
  const auto high = static_cast<std::uint64_t>(upper >> 64);
  const auto middle = static_cast<std::uint64_t>(upper);

  const int top = static_cast<int>(high >> 63);
  const int dropped = 10 + top; // bits of `high` below the 53 kept
  const std::uint64_t half = std::uint64_t{1} << (dropped - 1);
  const std::uint64_t below_half = high & (half - 1);
  // The rounding bit as a number, so that adding it takes no branch: it is
  // 0 or 1 at random in real data.
  std::uint64_t round_up = (high >> (dropped - 1)) & 1;
  std::uint64_t significand = high >> dropped;
  if (q >= 0 && q <= largest_exact_power_of_five) {
    // T is 5^q itself: the product is exact and so is the decision.
    const bool sticky = (below_half | middle | static_cast<std::uint64_t>(low_product)) != 0;
    round_up &= static_cast<std::uint64_t>(sticky) | (significand & 1);
  } else if ((below_half | middle) == 0 ||
             (below_half == half - 1 && middle == ~std::uint64_t{0})) {
    // T is within one unit of its last bit of 5^q scaled, so the true
    // product differs from the computed one by less than the normalized
    // w < 2^64, upwards for q > 0 (T truncated) and downwards for q < 0
    // (T raised): only the low word is uncertain. Unless the bits between
    // the rounding bit and the low word are all zeros (a borrow could reach
    // the rounding bit, or the value could be a tie) or all ones (a carry
    // could), the rounding bit is the true one and the rest is surely not
    // zero.
    return 0;
  }
  // value = product·2^(e + q − shift), e the exponent of T; before rounding
  // the product is significand·2^(dropped + 128), significand in [2^52, 2^53).
  const std::int64_t biased =
      power_of_five_exponent(static_cast<int>(q)) + q - shift + dropped + 128 + 52 + 1023;
  significand += round_up;
  // The significand's own top bit adds one to the exponent field, and a
  // rounding carry to 2^53 adds one more: exactly the next binade.
  const std::uint64_t bits = (static_cast<std::uint64_t>(biased - 1) << 52) + significand;
  return bits;
}

} // namespace vexa::readers
