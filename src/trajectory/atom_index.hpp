// Atoms by id: rows of a frame may come in any order (LAMMPS sorts them only
// when told to), and each row is placed by its id.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vexa::trajectory {

class AtomIndex {
public:
  // Indexes the ids of the first frame; the atom index of an id is its rank
  // among them. Returns the row of an id seen twice, if any.
  std::optional<std::size_t> build(std::span<const std::int64_t> ids);

  // The atom index of an id, -1 when the first frame did not hold it.
  std::int64_t find(std::int64_t id) const {
    if (!dense_.empty()) {
      const std::uint64_t offset =
          static_cast<std::uint64_t>(id) - static_cast<std::uint64_t>(lowest_);
      return offset < dense_.size() ? dense_[offset] : -1;
    }
    const auto found = std::lower_bound(sorted_ids_.begin(), sorted_ids_.end(), id);
    return found != sorted_ids_.end() && *found == id ? found - sorted_ids_.begin() : -1;
  }

  // The first frame's row of each atom index.
  const std::vector<std::size_t>& sorted_rows() const { return sorted_rows_; }

private:
  std::int64_t lowest_ = 0;
  std::vector<std::int32_t> dense_; // by id − lowest_, when ids are nearly contiguous
  std::vector<std::int64_t> sorted_ids_;
  std::vector<std::size_t> sorted_rows_;
};

} // namespace vexa::trajectory
