// Arrays that bodies fill and hand over whole: numpy adopts the memory as it
// is, so nothing is copied on the way out, and malloc's memory can shrink or
// grow in place (realloc) while a body still owns it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>
#include <utility>
#include <vector>

namespace vexa {

struct FreeMemory {
  void operator()(void* memory) const { std::free(memory); }
};

template <class T> class NativeArray {
public:
  NativeArray() = default;

  // Uninitialised elements for the shape; throws std::bad_alloc.
  explicit NativeArray(std::vector<std::size_t> shape) : shape_(std::move(shape)) {
    values_.reset(static_cast<T*>(checked_realloc(nullptr, element_count())));
  }

  // Zero elements for the shape; throws std::bad_alloc.
  static NativeArray zeros(std::vector<std::size_t> shape) {
    NativeArray array(std::move(shape));
    std::fill_n(array.data(), array.size(), T{});
    return array;
  }

  T* data() { return values_.get(); }
  const T* data() const { return values_.get(); }
  std::size_t size() const { return element_count(); }
  const std::vector<std::size_t>& shape() const { return shape_; }
  std::span<T> values() { return {data(), size()}; }

  // Gives a new shape to the memory, keeping the first elements of the old;
  // throws std::bad_alloc (the array then stays as it was).
  void reshape(std::vector<std::size_t> shape) {
    std::swap(shape, shape_);
    try {
      T* moved = static_cast<T*>(checked_realloc(values_.get(), element_count()));
      (void)values_.release();
      values_.reset(moved);
    } catch (...) {
      shape_ = std::move(shape);
      throw;
    }
  }

  // Hands the memory to a new owner, who frees it with std::free.
  T* release() { return values_.release(); }

private:
  std::size_t element_count() const {
    std::size_t count = 1;
    for (const std::size_t extent : shape_)
      count *= extent;
    return count;
  }

  // malloc may answer null for zero bytes: one element is always asked for.
  static void* checked_realloc(void* old, std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    void* memory = std::realloc(old, (count == 0 ? 1 : count) * sizeof(T));
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
  }

  std::unique_ptr<T, FreeMemory> values_;
  std::vector<std::size_t> shape_;
};

// A read-only view of an array the caller owns, C order.
template <class T> struct ArrayView {
  const T* values = nullptr;
  std::vector<std::size_t> shape;
};

} // namespace vexa
