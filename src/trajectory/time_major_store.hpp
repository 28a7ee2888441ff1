// Positions kept as rows along time, (atom, axis) by frame: every later
// computation runs along time, so each row is one contiguous run. Frames
// arrive one at a time as (atom, axis) tables; they are gathered a block of
// frames at a time and then transposed, so that every row receives a run of
// consecutive values instead of one scattered write per frame.
#pragma once

#include <cstddef>
#include <span>

#include "common/native_array.hpp"

namespace vexa::trajectory {

class TimeMajorStore {
public:
  // rows: atoms × 3. frames_per_block: how many frames are gathered before
  // they are transposed. capacity: frames the rows have room for at first.
  TimeMajorStore(std::size_t rows, std::size_t frames_per_block, std::size_t capacity);

  // Room for the next frame's table (rows values); the frame counts once
  // finish_frame is called.
  std::span<double> next_frame();
  // The frame most recently finished, for the one before a new frame.
  std::span<const double> block_frame(std::size_t index) const;
  std::size_t frames_in_block() const { return block_frames_; }
  std::size_t frames_per_block() const { return frames_per_block_; }

  // Counts the frame filled through next_frame; true when the block is full
  // and must be flushed.
  bool finish_frame() { return ++block_frames_ == frames_per_block_; }
  // The gathered frames, writable (for unwrapping before the transposition).
  std::span<double> block_frame(std::size_t index) {
    return {block_.data() + index * rows_, rows_};
  }

  // Frames already transposed into the rows, and those the rows hold room
  // for.
  std::size_t frames() const { return frames_; }
  std::size_t capacity() const { return capacity_; }

  // Makes room for at least `frames` frames in every row; throws
  // std::bad_alloc.
  void reserve(std::size_t frames);

  // Transposes the gathered frames into the rows, growing them by half when
  // full; throws std::bad_alloc.
  void flush();

  // The rows, trimmed to the frames read and laid out (atoms, 3, frames).
  NativeArray<double> finish();

private:
  std::size_t rows_;
  std::size_t frames_per_block_;
  std::size_t capacity_;
  std::size_t frames_ = 0;
  std::size_t block_frames_ = 0;
  NativeArray<double> block_;
  NativeArray<double> rows_by_time_;
};

} // namespace vexa::trajectory
