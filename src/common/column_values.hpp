// The values of one table column, in memory from malloc: the readers write
// rows straight into it, the list builders read it, and numpy can adopt it
// as it is (numpy frees what it adopts with free), so a column handed out as
// an array is never copied.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>
#include <utility>

namespace vexa {

class ColumnValues {
public:
  ColumnValues() = default;
  ColumnValues(ColumnValues&& other) noexcept
      : values_(std::move(other.values_)), size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  ColumnValues& operator=(ColumnValues&& other) noexcept {
    values_ = std::move(other.values_);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    return *this;
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::size_t capacity() const { return capacity_; }
  double* data() { return values_.get(); }
  const double* data() const { return values_.get(); }
  const double* begin() const { return data(); }
  const double* end() const { return data() + size_; }
  double operator[](std::size_t i) const { return values_.get()[i]; }
  operator std::span<const double>() const { return {data(), size_}; }

  // Room for `count` values in all; the first size() stay. Throws
  // std::bad_alloc (the column then stays as it was).
  void reserve(std::size_t count) {
    if (count <= capacity_) return;
    resize_memory(count);
  }

  // The first `count` values (count <= capacity()) are the column: a writer
  // fills reserved room through data() and then says how far it got.
  void set_size(std::size_t count) { size_ = count; }

  void push_back(double value) {
    if (size_ == capacity_) reserve(capacity_ < 8 ? 8 : capacity_ * 2);
    values_.get()[size_++] = value;
  }

  // Gives the memory, cut down to the values, to a new owner who frees it
  // with std::free; the column is left empty. Never null: an empty column
  // still hands over a block of its own. Throws std::bad_alloc.
  double* release() {
    if (capacity_ != size_ || !values_) resize_memory(size_);
    capacity_ = size_ = 0;
    return values_.release();
  }

private:
  struct FreeValues {
    void operator()(double* values) const { std::free(values); }
  };

  // malloc may answer null for zero bytes: one value is always asked for.
  void resize_memory(std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(double)) throw std::bad_alloc();
    const std::size_t bytes = (count == 0 ? 1 : count) * sizeof(double);
    void* moved = std::realloc(values_.get(), bytes);
    if (moved == nullptr) throw std::bad_alloc();
    (void)values_.release();
    values_.reset(static_cast<double*>(moved));
    capacity_ = count;
  }

  std::unique_ptr<double, FreeValues> values_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

} // namespace vexa
