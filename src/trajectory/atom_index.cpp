#include "trajectory/atom_index.hpp"

#include <algorithm>
#include <numeric>

namespace vexa::trajectory {

std::optional<std::size_t> AtomIndex::build(std::span<const std::int64_t> ids) {
  sorted_rows_.resize(ids.size());
  std::iota(sorted_rows_.begin(), sorted_rows_.end(), std::size_t{0});
  std::stable_sort(sorted_rows_.begin(), sorted_rows_.end(),
                   [&](std::size_t a, std::size_t b) { return ids[a] < ids[b]; });
  sorted_ids_.resize(ids.size());
  for (std::size_t atom = 0; atom < ids.size(); ++atom)
    sorted_ids_[atom] = ids[sorted_rows_[atom]];
  for (std::size_t atom = 1; atom < ids.size(); ++atom)
    if (sorted_ids_[atom] == sorted_ids_[atom - 1])
      return std::max(sorted_rows_[atom], sorted_rows_[atom - 1]);
  dense_.clear();
  if (ids.empty()) return std::nullopt;
  lowest_ = sorted_ids_.front();
  // A table by id when ids are nearly contiguous (LAMMPS numbers atoms from
  // 1): one load per row instead of a binary search.
  // The distance from the lowest id to the highest, one less than the
  // span: ids from INT64_MIN to INT64_MAX would wrap the span itself to 0.
  const std::uint64_t reach =
      static_cast<std::uint64_t>(sorted_ids_.back()) - static_cast<std::uint64_t>(lowest_);
  if (reach < 4 * std::uint64_t{ids.size()} + 1024 && ids.size() < (std::size_t{1} << 31)) {
    dense_.assign(static_cast<std::size_t>(reach) + 1, -1);
    for (std::size_t atom = 0; atom < ids.size(); ++atom)
      dense_[static_cast<std::size_t>(sorted_ids_[atom] - lowest_)] =
          static_cast<std::int32_t>(atom);
  }
  return std::nullopt;
}

} // namespace vexa::trajectory
