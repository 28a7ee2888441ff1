// Transport-property tables (viscosity.dat, diffself.dat, rdf.dat, ...).
#pragma once

#include <optional>
#include <string_view>

#include "common/outcome.hpp"
#include "common/types.hpp"
#include "readers/text_file.hpp"

namespace vexa::readers {

// Columns under the last line whose text starts with "#Time" (after leading
// White_Space), or under the first line when there is none.
Outcome<ColumnTable> parse_vexa_file(std::string_view path);

// The same reader over text already in memory; path only names the file in
// messages, and the census, when given, is the text's own.
Outcome<ColumnTable> parse_vexa_text(std::string_view text, std::string_view path,
                                     std::optional<TextCensus> census = std::nullopt);

} // namespace vexa::readers
