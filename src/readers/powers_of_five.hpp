// The Eisel-Lemire table: 128-bit significands of the powers of five (as
// nearest_double.hpp uses them), computed by the compiler rather than
// pasted in as literals.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

namespace vexa::readers {

// 5^q as a significand of 128 bits with its top bit set, high word first:
// 5^q ≈ (high·2^64 + low)·2^power_of_five_exponent(q).
struct PowerOfFive {
  std::uint64_t high;
  std::uint64_t low;
};

// Every decimal exponent a nonzero float64 can need with at most 19 digits:
// 10^-343 times the largest such mantissa is below the smallest subnormal,
// and 10^309 times the smallest is beyond the largest finite value.
inline constexpr int smallest_power_of_five = -342;
inline constexpr int largest_power_of_five = 308;
// 5^55 < 2^128 <= 5^56: up to here the significand is 5^q itself, shifted.
inline constexpr int largest_exact_power_of_five = 55;

// floor(q·log2(5)) − 127. The fixed-point constant is checked against the
// table's own exponents over the whole range below.
constexpr int power_of_five_exponent(int q) {
  return ((q * 152170) >> 16) - 127;
}

namespace detail {

// An unsigned integer of up to 1280 bits in 32-bit limbs, least significant
// first: room for 2^1024 and for 5^308 (716 bits). Loops stop at the top
// limb in use, which keeps the compiler's evaluation within its step limits.
class BigNumber {
public:
  constexpr explicit BigNumber(int power_of_two) : used_(power_of_two / 32 + 1) {
    limbs_[power_of_two / 32] = 1u << (power_of_two % 32);
  }

  constexpr void multiply(std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (int i = 0; i < used_; ++i) {
      const std::uint64_t product = std::uint64_t{limbs_[i]} * factor + carry;
      limbs_[i] = static_cast<std::uint32_t>(product);
      carry = product >> 32;
    }
    if (carry != 0) limbs_[used_++] = static_cast<std::uint32_t>(carry);
  }

  // Floor division.
  constexpr void divide(std::uint32_t divisor) {
    std::uint64_t remainder = 0;
    for (int i = used_ - 1; i >= 0; --i) {
      const std::uint64_t part = (remainder << 32) | limbs_[i];
      limbs_[i] = static_cast<std::uint32_t>(part / divisor);
      remainder = part % divisor;
    }
    if (limbs_[used_ - 1] == 0) --used_;
  }

  constexpr int bit_width() const {
    return 32 * (used_ - 1) + static_cast<int>(std::bit_width(limbs_[used_ - 1]));
  }

  // The 128 bits from the top set bit down; missing low bits read as zero.
  constexpr PowerOfFive top_bits() const {
    const int top = bit_width() - 1;
    std::uint64_t words[2] = {0, 0};
    for (int k = 0; k < 4; ++k)
      words[k / 2] = (words[k / 2] << 32) | bits_from(top - 32 * k - 31);
    return {words[0], words[1]};
  }

private:
  // The 32 bits from bit `low` up; bits below bit 0 read as zero.
  constexpr std::uint32_t bits_from(int low) const {
    if (low <= -32) return 0;
    if (low < 0) return limbs_[0] << -low;
    const int index = low / 32;
    const std::uint64_t upper = index + 1 < used_ ? limbs_[index + 1] : 0;
    return static_cast<std::uint32_t>(((upper << 32) | limbs_[index]) >> (low % 32));
  }

  std::array<std::uint32_t, 40> limbs_{};
  int used_;
};

inline constexpr int power_count = largest_power_of_five - smallest_power_of_five + 1;

// Non-negative powers are 5^q truncated, exact up to 5^55. Negative ones are
// floor(2^1024 / 5^-q) truncated to 128 bits plus one: a value just above
// 5^q, never equal to it, and less than one unit of the last bit away.
// Reading a truncated value on one side and a raised one on the other lets
// the rounding step know on which side the true product lies.
constexpr std::array<PowerOfFive, power_count> make_powers_of_five() {
  std::array<PowerOfFive, power_count> table{};
  BigNumber power(0);
  for (int q = 0; q <= largest_power_of_five; ++q, power.multiply(5)) {
    const int width = power.bit_width();
    if ((width <= 128) != (q <= largest_exact_power_of_five)) throw "exact range misjudged";
    if (width - 128 != power_of_five_exponent(q)) throw "exponent formula fails";
    table[q - smallest_power_of_five] = power.top_bits();
  }
  constexpr int scale = 1024;
  BigNumber quotient(scale);
  for (int q = -1; q >= smallest_power_of_five; --q) {
    quotient.divide(5);
    PowerOfFive bits = quotient.top_bits();
    if (++bits.low == 0 && ++bits.high == 0) throw "raised significand overflows";
    if (quotient.bit_width() - 128 - scale != power_of_five_exponent(q))
      throw "exponent formula fails";
    table[q - smallest_power_of_five] = bits;
  }
  return table;
}

} // namespace detail

// Indexed by q − smallest_power_of_five; defined once, in powers_of_five.cpp.
extern const std::array<PowerOfFive, detail::power_count> powers_of_five;

} // namespace vexa::readers
