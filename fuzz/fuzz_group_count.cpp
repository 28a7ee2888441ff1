// The group search against a literal model that splits the text into a list
// of lines and tests them one by one. The names tried are a few fixed ones,
// the text's last line and its last few bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "readers/single_values.hpp"
#include "readers/white_space.hpp"

using namespace vexa;
using namespace vexa::readers;

namespace {

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    if (lf != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    text = lf == std::string_view::npos ? std::string_view{} : text.substr(lf + 1);
  }
  return lines;
}

Outcome<std::uint64_t> model(const std::vector<std::string_view>& lines, std::string_view log_path,
                             std::string_view name) {
  const std::string needle = "group " + std::string(name);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find(needle) == std::string_view::npos) continue;
    if (i + 1 == lines.size()) break;
    FieldCursor fields(lines[i + 1]);
    std::string_view token;
    if (fields.next(token))
      if (const auto count = parse_count(token)) return *count;
  }
  return value_error("Group '" + std::string(name) + "' count not found in '" +
                     std::string(log_path) + "'");
}

void check(std::string_view text, const std::vector<std::string_view>& lines,
           std::string_view name) {
  const auto got = read_group_count_text(text, "log.lammps", name);
  const auto expected = model(lines, "log.lammps", name);
  FUZZ_CHECK(got.has_value() == expected.has_value());
  if (got) {
    FUZZ_CHECK(*got == *expected);
  } else {
    FUZZ_CHECK(got.error().kind == ErrorKind::value_error);
    FUZZ_CHECK(got.error().message == expected.error().message);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string_view> lines = split_lines(text);
  for (const std::string_view name : {"", "water", "Na", "NaCl", "O", "OW", "HW", "Cl"})
    check(text, lines, name);
  if (!lines.empty()) check(text, lines, lines.back());
  // A name may hold line ends and other odd bytes too.
  if (size > 0) check(text, lines, text.substr(size - std::min<std::size_t>(size, 12)));
  return 0;
}
