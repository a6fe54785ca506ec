// An array of trivially copyable values that only grows at its end, for the
// table's entries. Its storage comes from allocate_large(), so once it is
// large, growing moves the pages (mremap) instead of copying the values:
// no second copy is made and no fresh pages are cleared for one. Memory
// exhaustion fails as in allocate_large().

#ifndef STBLC_TABLE_GROWING_ARRAY_H_
#define STBLC_TABLE_GROWING_ARRAY_H_

#include <cstddef>
#include <span>
#include <type_traits>

#include "large_allocator.h"

namespace stblc {

template <typename T>
class GrowingArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  GrowingArray() = default;
  ~GrowingArray() {
    if (data_) free_large(data_, capacity_ * sizeof(T));
  }
  GrowingArray(const GrowingArray&) = delete;
  GrowingArray& operator=(const GrowingArray&) = delete;

  void push_back(const T& value) {
    if (size_ == capacity_) grow();
    data_[size_++] = value;
  }

  size_t size() const { return size_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  std::span<const T> span() const { return {data_, size_}; }

 private:
  static constexpr size_t kFirstCapacity = 256;

  void grow() {
    const size_t capacity = capacity_ ? capacity_ * 2 : kFirstCapacity;
    data_ = static_cast<T*>(
        reallocate_large(data_, capacity_ * sizeof(T), capacity * sizeof(T)));
    capacity_ = capacity;
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace stblc

#endif  // STBLC_TABLE_GROWING_ARRAY_H_
