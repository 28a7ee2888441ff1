// Readers that take one number out of a file: the value of a volume or
// density file, and a group's atom count from a LAMMPS log.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/outcome.hpp"

namespace vexa::readers {

// The second field of the first line after the two header lines whose second
// field is a number.
Outcome<double> parse_volume_density(std::string_view path);

// The count that starts the line after the first line holding
// "group {group_name}" that is followed by one.
Outcome<std::uint64_t> read_group_count(std::string_view log_path, std::string_view group_name);

// The same readers over text already in memory; the paths only name the file
// in messages.
Outcome<double> parse_volume_density_text(std::string_view text, std::string_view path);
Outcome<std::uint64_t> read_group_count_text(std::string_view text, std::string_view log_path,
                                             std::string_view group_name);

// A count token: an optional '+', then ASCII digits, at most 2^64 - 1.
std::optional<std::uint64_t> parse_count(std::string_view token);

} // namespace vexa::readers
