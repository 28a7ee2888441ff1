// SWAR eight-digit parsing: decimal digits read eight at a time from a
// 64-bit word (little-endian: the first character is the lowest byte).
//
// The SIMD-within-a-register (SWAR) digit conversion of Wojciech Muła and
// Daniel Lemire (D. Lemire, "Quickly parsing eight digits", 2018;
// D. Lemire, "Number parsing at a gigabyte per second", Software: Practice
// and Experience 51(8), 2021): a test of all eight bytes for digits at once,
// and the value of eight digits in three multiply-and-shift steps.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace vexa::readers {

inline constexpr bool words_are_little_endian = std::endian::native == std::endian::little;

inline constexpr std::uint64_t integer_powers_of_ten[] = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

inline std::uint64_t load_word(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}

// The high bit of every byte that is not an ASCII digit. After the XOR a
// digit byte holds 0..9; adding 0x76 to the low seven bits sets the high bit
// exactly from 10 on, and cannot carry into the next byte.
inline std::uint64_t non_digit_bytes(std::uint64_t word) {
  const std::uint64_t values = word ^ 0x3030303030303030;
  return (((values & 0x7F7F7F7F7F7F7F7F) + 0x7676767676767676) | values) & 0x8080808080808080;
}

// How many of the word's bytes, from its first, are digits (0 to 8).
inline int leading_digits(std::uint64_t word) {
  return std::countr_zero(non_digit_bytes(word)) / 8;
}

// The number written by eight digit values (0..9, one per byte, the first
// most significant): pairs, then quadruples, then the whole, each by one
// multiply-and-shift.
inline std::uint64_t eight_digits_value(std::uint64_t values) {
  values = (values * 10) + (values >> 8);
  values = (((values & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
            (((values >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >>
           32;
  return values & 0xFFFFFFFF;
}

// The number the word's first `count` bytes write, all of them digits.
// Shifting them to the top fills the low bytes with zero digits, which lead
// and change nothing; the shift goes in two halves so that a count of 0
// needs no shift by 64.
inline std::uint64_t leading_digits_value(std::uint64_t word, int count) {
  const int half_shift = 32 - 4 * count;
  return eight_digits_value(((word ^ 0x3030303030303030) << half_shift) << half_shift);
}

} // namespace vexa::readers
