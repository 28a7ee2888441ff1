// The group search over arbitrary bytes, for a few fixed names and the
// text's last bytes. The tests compare the search with a model of the rule;
// here it must run clean under the sanitizers and hold what any answer
// implies: a count comes from text holding "group <name>", and lines added in
// front that cannot match change nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.hpp"
#include "readers/single_values.hpp"

using namespace vexa;
using namespace vexa::readers;

namespace {

void check(std::string_view text, std::string_view name) {
  const auto got = read_group_count_text(text, "log.lammps", name);
  if (got) {
    FUZZ_CHECK(text.find("group " + std::string(name)) != std::string_view::npos);
  } else {
    FUZZ_CHECK(got.error().kind == ErrorKind::value_error);
    FUZZ_CHECK(got.error().message ==
               "Group '" + std::string(name) + "' count not found in 'log.lammps'");
  }
  const std::string shifted = "\n\r\nx\n" + std::string(text);
  const auto again = read_group_count_text(shifted, "log.lammps", name);
  FUZZ_CHECK(again.has_value() == got.has_value());
  if (got) FUZZ_CHECK(*again == *got);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const std::string_view name : {"", "water", "Na", "O", "OW"})
    check(text, name);
  check(text, text.substr(size - std::min<std::size_t>(size, 12)));
  return 0;
}
