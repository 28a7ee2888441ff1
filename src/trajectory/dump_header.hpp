// The item lines of a LAMMPS text dump: which columns hold what, and the box.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace vexa::trajectory {

// How the positions were written, best first: the reader takes the best
// the columns allow.
enum class CoordinateStyle {
  unwrapped,          // xu yu zu
  wrapped_and_images, // x y z ix iy iz
  scaled_unwrapped,   // xsu ysu zsu
  scaled_and_images,  // xs ys zs ix iy iz
  scaled_wrapped,     // xs ys zs
  wrapped,            // x y z
};

// What the reader does with one field of an atom row.
enum class FieldRole : std::uint8_t { skip, id, type, x, y, z, image_x, image_y, image_z };

struct AtomColumns {
  // One role per field up to the last one read; later fields are skipped.
  std::vector<FieldRole> roles;
  std::vector<std::string> names; // every column the header names
  CoordinateStyle style;

  bool scaled() const {
    return style == CoordinateStyle::scaled_unwrapped ||
           style == CoordinateStyle::scaled_and_images || style == CoordinateStyle::scaled_wrapped;
  }
  bool has_images() const {
    return style == CoordinateStyle::wrapped_and_images ||
           style == CoordinateStyle::scaled_and_images;
  }
  // Wrapped positions with nothing that says how often an atom crossed the
  // box: the crossings are inferred from the jumps between frames.
  bool unwrapped_by_jumps() const {
    return style == CoordinateStyle::wrapped || style == CoordinateStyle::scaled_wrapped;
  }
};

// The columns named after "ITEM: ATOMS"; the message says what is missing.
std::expected<AtomColumns, std::string> atom_columns(std::string_view names);

// Lengths of the box's edges (the lattice vectors' diagonal), where it
// starts, and its tilt factors xy, xz, yz (zero for an orthogonal box).
struct Box {
  double low[3];
  double edge[3];
  double tilt[3];
  bool triclinic;
};

// Whether the text after "ITEM: BOX BOUNDS" announces tilt factors; the
// message refuses a box this reader cannot take.
std::expected<bool, std::string> box_has_tilts(std::string_view rest);

// The box from its three bounds lines, each "low high" or, with tilts,
// "low_bound high_bound tilt" (bounds of the tilted box's bounding box).
std::expected<Box, std::string> box_from_bounds(const std::string_view (&lines)[3], bool tilts);

// A decimal integer field with an optional sign, anywhere in the range of
// int64 (LAMMPS built with 64-bit ids writes ids and timesteps up to 2^63);
// where it ends, or null.
inline const char* read_integer(const char* p, std::int64_t& value) {
  const bool negative = *p == '-';
  p += (*p == '-') | (*p == '+');
  const char* const digits = p;
  std::uint64_t magnitude = 0;
  // Eighteen digits cannot overflow; a nineteenth is checked.
  while (*p >= '0' && *p <= '9' && p - digits < 18)
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(*p++ - '0');
  if (p == digits) return nullptr;
  if (*p >= '0' && *p <= '9') {
    const auto digit = static_cast<std::uint64_t>(*p++ - '0');
    const std::uint64_t largest = (std::uint64_t{1} << 63) - (negative ? 0 : 1);
    if (magnitude > (largest - digit) / 10 || (*p >= '0' && *p <= '9')) return nullptr;
    magnitude = magnitude * 10 + digit;
  }
  value = negative ? static_cast<std::int64_t>(std::uint64_t{0} - magnitude)
                   : static_cast<std::int64_t>(magnitude);
  return p;
}

// Separators between fields of a dump line.
inline bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// The words of a line, split at blanks.
std::vector<std::string_view> split_words(std::string_view line);

} // namespace vexa::trajectory
