#include "trajectory/dump_header.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

#include "readers/number.hpp"

namespace vexa::trajectory {
namespace {

std::optional<std::size_t> column_of(const std::vector<std::string>& names, std::string_view name) {
  const auto found = std::find(names.begin(), names.end(), name);
  if (found == names.end()) return std::nullopt;
  return static_cast<std::size_t>(found - names.begin());
}

// The columns of three names, when all three are present.
std::optional<std::array<std::size_t, 3>> triple(const std::vector<std::string>& names,
                                                 std::string_view a, std::string_view b,
                                                 std::string_view c) {
  const auto i = column_of(names, a), j = column_of(names, b), k = column_of(names, c);
  if (!i || !j || !k) return std::nullopt;
  return std::array{*i, *j, *k};
}

std::optional<double> number_field(std::string_view word) {
  return readers::parse_number(word);
}

} // namespace

std::vector<std::string_view> split_words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_blank(line[i]))
      ++i;
    const std::size_t start = i;
    while (i < line.size() && !is_blank(line[i]))
      ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

std::expected<AtomColumns, std::string> atom_columns(std::string_view header) {
  AtomColumns columns;
  for (const std::string_view word : split_words(header))
    columns.names.emplace_back(word);
  const auto& names = columns.names;
  std::string listed;
  for (const auto& name : names)
    listed.append(listed.empty() ? "" : " ").append(name);
  const auto id = column_of(names, "id");
  const auto type = column_of(names, "type");
  if (!id || !type)
    return std::unexpected(std::string("the atoms have no '") + (id ? "type" : "id") +
                           "' column (columns: " + listed + ")");
  const auto images = triple(names, "ix", "iy", "iz");
  std::optional<std::array<std::size_t, 3>> position;
  if ((position = triple(names, "xu", "yu", "zu"))) {
    columns.style = CoordinateStyle::unwrapped;
  } else if ((position = triple(names, "x", "y", "z")) && images) {
    columns.style = CoordinateStyle::wrapped_and_images;
  } else if ((position = triple(names, "xsu", "ysu", "zsu"))) {
    columns.style = CoordinateStyle::scaled_unwrapped;
  } else if ((position = triple(names, "xs", "ys", "zs"))) {
    columns.style = images ? CoordinateStyle::scaled_and_images : CoordinateStyle::scaled_wrapped;
  } else if ((position = triple(names, "x", "y", "z"))) {
    columns.style = CoordinateStyle::wrapped;
  } else {
    return std::unexpected("the atoms have no positions: columns xu yu zu, x y z, xsu ysu zsu "
                           "or xs ys zs are needed (columns: " +
                           listed + ")");
  }
  std::size_t last = std::max({*id, *type, (*position)[0], (*position)[1], (*position)[2]});
  if (columns.has_images()) last = std::max({last, (*images)[0], (*images)[1], (*images)[2]});
  columns.roles.assign(last + 1, FieldRole::skip);
  columns.roles[*id] = FieldRole::id;
  columns.roles[*type] = FieldRole::type;
  for (int axis = 0; axis < 3; ++axis) {
    columns.roles[(*position)[axis]] = static_cast<FieldRole>(int(FieldRole::x) + axis);
    if (columns.has_images())
      columns.roles[(*images)[axis]] = static_cast<FieldRole>(int(FieldRole::image_x) + axis);
  }
  return columns;
}

std::expected<bool, std::string> box_has_tilts(std::string_view rest) {
  const auto words = split_words(rest);
  if (std::find(words.begin(), words.end(), "abc") != words.end())
    return std::unexpected(
        std::string("a general triclinic box (BOX BOUNDS abc origin) is not supported: dump the "
                    "restricted triclinic form LAMMPS writes by default"));
  const bool tilts = std::find(words.begin(), words.end(), "xy") != words.end();
  return tilts;
}

std::expected<Box, std::string> box_from_bounds(const std::string_view (&lines)[3], bool tilts) {
  double value[3][3] = {};
  const std::size_t wanted = tilts ? 3 : 2;
  for (int axis = 0; axis < 3; ++axis) {
    const auto words = split_words(lines[axis]);
    if (words.size() != wanted)
      return std::unexpected("a box bounds line holds " + std::to_string(words.size()) +
                             " numbers where " + std::to_string(wanted) + " are expected");
    for (std::size_t k = 0; k < wanted; ++k) {
      const auto number = number_field(words[k]);
      if (!number)
        return std::unexpected("'" + std::string(words[k]) + "' in the box bounds is not a number");
      value[axis][k] = *number;
    }
  }
  Box box{};
  box.triclinic = tilts;
  // With tilts, the bounds are those of the bounding box of the tilted cell:
  // the cell's own extent along x drops the tilts that widen it.
  const double xy = value[0][2], xz = value[1][2], yz = value[2][2];
  const double x_low_shift = std::min({0.0, xy, xz, xy + xz});
  const double x_high_shift = std::max({0.0, xy, xz, xy + xz});
  const double low[3] = {value[0][0] - x_low_shift, value[1][0] - std::min(0.0, yz), value[2][0]};
  const double high[3] = {value[0][1] - x_high_shift, value[1][1] - std::max(0.0, yz), value[2][1]};
  for (int axis = 0; axis < 3; ++axis) {
    box.low[axis] = low[axis];
    box.edge[axis] = high[axis] - low[axis];
    // An infinite bound would give infinite scaled positions and volume.
    if (!(box.edge[axis] > 0.0 && std::isfinite(box.edge[axis]) && std::isfinite(box.low[axis])))
      return std::unexpected(std::string("the box has no finite positive extent along ") +
                             "xyz"[axis]);
  }
  box.tilt[0] = xy;
  box.tilt[1] = xz;
  box.tilt[2] = yz;
  return box;
}

} // namespace vexa::trajectory
