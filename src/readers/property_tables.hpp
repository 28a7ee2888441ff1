// Thermodynamic-property tables and bond-angle histograms: a fixed number of
// title lines, one line of column names, then numeric rows.
#pragma once

#include <optional>
#include <string_view>

#include "common/outcome.hpp"
#include "common/types.hpp"
#include "readers/text_file.hpp"

namespace vexa::readers {

// A title line, a line of column names, then rows (nvt_prod.dat).
Outcome<ColumnTable> parse_thermoprop(std::string_view path);

// A title line, a statistics comment, a line of column names, a per-timestep
// statistics line, then rows (npt_prod_angle.dat).
Outcome<ColumnTable> parse_bond_angle(std::string_view path);

// The same readers over text already in memory; path only names the file in
// messages, and the census, when given, is the text's own.
Outcome<ColumnTable> parse_thermoprop_text(std::string_view text, std::string_view path,
                                           std::optional<TextCensus> census = std::nullopt);
Outcome<ColumnTable> parse_bond_angle_text(std::string_view text, std::string_view path,
                                           std::optional<TextCensus> census = std::nullopt);

} // namespace vexa::readers
