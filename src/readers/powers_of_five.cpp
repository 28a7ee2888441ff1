// The Eisel-Lemire power-of-five table, evaluated once at compile time.
#include "readers/powers_of_five.hpp"

namespace vexa::readers {

constexpr std::array<PowerOfFive, detail::power_count> powers_of_five =
    detail::make_powers_of_five();

} // namespace vexa::readers
