// The table readers over arbitrary bytes: the three table layouts, the
// single-value reader and line splitting. Besides running clean under the
// sanitizers, every table must have columns of equal length, and the lines
// must put the text back together exactly.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "check.hpp"
#include "readers/lines.hpp"
#include "readers/property_tables.hpp"
#include "readers/single_values.hpp"
#include "readers/text_file.hpp"
#include "readers/transport_table.hpp"

using namespace vexa;
using namespace vexa::readers;

namespace {

constexpr std::string_view path = "fuzz.dat";

// Each line is the text at the current offset, followed by "\n", "\r\n" or
// the end of the text; a final line feed adds no empty line.
std::size_t check_lines(std::string_view text) {
  LineCursor lines(text);
  std::size_t offset = 0;
  std::size_t count = 0;
  for (std::string_view line; lines.next(line);) {
    ++count;
    FUZZ_CHECK(line.data() == text.data() + offset);
    FUZZ_CHECK(line.find('\n') == std::string_view::npos);
    offset += line.size();
    const std::string_view after = text.substr(offset);
    if (after.starts_with("\r\n")) {
      offset += 2;
    } else if (after.starts_with("\n")) {
      offset += 1;
    } else {
      FUZZ_CHECK(after.empty());
    }
    FUZZ_CHECK(lines.rest().data() == text.data() + offset || lines.rest().empty());
  }
  FUZZ_CHECK(offset == text.size());
  return count;
}

void check_table(const Outcome<ColumnTable>& table, std::string_view error, std::size_t max_rows) {
  if (!table) {
    FUZZ_CHECK(table.error().kind == ErrorKind::value_error);
    FUZZ_CHECK(table.error().message == error);
    return;
  }
  for (const Column& column : *table) {
    FUZZ_CHECK(!column.name.empty());
    FUZZ_CHECK(column.name.find('#') == std::string::npos);
    FUZZ_CHECK(column.values.size() == table->front().values.size());
    FUZZ_CHECK(column.values.size() <= max_rows);
  }
}

// Equal outcomes, values compared bit for bit (NaN included).
bool same_table(const Outcome<ColumnTable>& a, const Outcome<ColumnTable>& b) {
  if (!a || !b) return !a && !b && a.error().message == b.error().message;
  if (a->size() != b->size()) return false;
  for (std::size_t k = 0; k < a->size(); ++k) {
    const Column& x = (*a)[k];
    const Column& y = (*b)[k];
    if (x.name != y.name || x.values.size() != y.values.size()) return false;
    if (!x.values.empty() &&
        std::memcmp(x.values.data(), y.values.data(), x.values.size() * sizeof(double)) != 0)
      return false;
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // The readers only ever see valid UTF-8, but must stay in bounds on any
  // bytes: both kinds of input go through them.
  const auto census = take_utf8_census(text);
  const std::size_t lines = check_lines(text);

  const auto table = parse_vexa_text(text, path);
  check_table(table, "No header found in fuzz.dat", lines);
  if (census) {
    // What the census found, and the same table read with its help.
    FUZZ_CHECK(census->line_feeds == count_line_feeds(text));
    const std::size_t last_hash = text.rfind('#');
    FUZZ_CHECK(census->hash_end == (last_hash == std::string_view::npos ? 0 : last_hash + 1));
    FUZZ_CHECK(same_table(parse_vexa_text(text, path, census), table));
  }
  const auto thermo = parse_thermoprop_text(text, path);
  FUZZ_CHECK(thermo.has_value() == (lines >= 2));
  check_table(thermo, "fuzz.dat: file too short", lines < 2 ? 0 : lines - 2);
  const auto angles = parse_bond_angle_text(text, path);
  FUZZ_CHECK(angles.has_value() == (lines >= 5));
  check_table(angles, "fuzz.dat: file too short", lines < 4 ? 0 : lines - 4);

  const auto value = parse_volume_density_text(text, path);
  if (!value) FUZZ_CHECK(value.error().message == "No numeric data found in fuzz.dat");
  if (lines <= 2) FUZZ_CHECK(!value);
  return 0;
}
