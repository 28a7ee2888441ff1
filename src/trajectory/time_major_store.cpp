#include "trajectory/time_major_store.hpp"

#include <cstdint>
#include <cstring>
#include <sys/mman.h>

namespace vexa::trajectory {
namespace {

// Asks the kernel to map the pages of [begin, end) now, in large pages
// where it can: the first write to each of tens of thousands of fresh 4 KiB
// pages otherwise traps once per page, which on virtual machines costs
// microseconds each. Only an optimisation: where the kernel does not know
// a request, pages come as they are first written.
void map_pages_now(void* begin, std::size_t bytes) {
  const std::uintptr_t page = 4096;
  const auto first = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
  const auto last = (reinterpret_cast<std::uintptr_t>(begin) + bytes) & ~(page - 1);
  if (last <= first) return;
  void* const start = reinterpret_cast<void*>(first);
#if defined(MADV_HUGEPAGE)
  (void)madvise(start, last - first, MADV_HUGEPAGE);
#endif
#if defined(MADV_POPULATE_WRITE)
  (void)madvise(start, last - first, MADV_POPULATE_WRITE);
#endif
}

} // namespace

TimeMajorStore::TimeMajorStore(std::size_t rows, std::size_t frames_per_block, std::size_t capacity)
    : rows_(rows), frames_per_block_(frames_per_block), capacity_(capacity),
      block_({frames_per_block, rows}), rows_by_time_({rows, capacity}) {
  map_pages_now(rows_by_time_.data(), rows_by_time_.size() * sizeof(double));
}

std::span<double> TimeMajorStore::next_frame() {
  return block_frame(block_frames_);
}

std::span<const double> TimeMajorStore::block_frame(std::size_t index) const {
  return {block_.data() + index * rows_, rows_};
}

void TimeMajorStore::reserve(std::size_t frames) {
  if (frames <= capacity_) return;
  rows_by_time_.reshape({rows_, frames});
  map_pages_now(rows_by_time_.data() + rows_ * capacity_,
                rows_ * (frames - capacity_) * sizeof(double));
  // Each row moves to its wider place, the last first: a row's new place
  // starts at or after its old one, and only rows already moved lie beyond.
  double* const base = rows_by_time_.data();
  for (std::size_t row = rows_; row-- > 1;)
    std::memmove(base + row * frames, base + row * capacity_, frames_ * sizeof(double));
  capacity_ = frames;
}

void TimeMajorStore::flush() {
  if (block_frames_ == 0) return;
  if (frames_ + block_frames_ > capacity_) {
    const std::size_t grown = capacity_ + capacity_ / 2 + frames_per_block_;
    reserve(grown);
  }
  // Rows three at a time (one atom): the block is read along its frames for
  // one atom's three values, which share a cache line, and each row gets
  // block_frames_ consecutive values.
  const double* const block = block_.data();
  double* const base = rows_by_time_.data() + frames_;
  const std::size_t frames = block_frames_;
  for (std::size_t row = 0; row + 3 <= rows_; row += 3) {
    double* const x = base + row * capacity_;
    double* const y = x + capacity_;
    double* const z = y + capacity_;
    const double* source = block + row;
    for (std::size_t f = 0; f < frames; ++f, source += rows_) {
      x[f] = source[0];
      y[f] = source[1];
      z[f] = source[2];
    }
  }
  frames_ += frames;
  block_frames_ = 0;
}

NativeArray<double> TimeMajorStore::finish() {
  flush();
  double* const base = rows_by_time_.data();
  if (frames_ != capacity_) {
    for (std::size_t row = 1; row < rows_; ++row)
      std::memmove(base + row * frames_, base + row * capacity_, frames_ * sizeof(double));
  }
  rows_by_time_.reshape({rows_ / 3, 3, frames_});
  capacity_ = frames_;
  return std::move(rows_by_time_);
}

} // namespace vexa::trajectory
