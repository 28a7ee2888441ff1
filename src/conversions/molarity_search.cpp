#include "conversions/molarity_search.hpp"

#include "common/number_format.hpp"

namespace vexa::conversions {

std::string bracket_failure(double target, double temperature) {
  return std::string("molarity_to_molality: could not bracket root for molarity = ")
      .append(format_scientific(target))
      .append(" mol/L at temperature = ")
      .append(format_fixed(temperature))
      .append(" K");
}

} // namespace vexa::conversions
