// Growable arrays: an ordered list with capacity 1 at the first add,
// doubling when full. Included through app/core/core.h; other modules never
// include this file.
//
// It never throws: allocation uses the non-throwing operator new, and a
// failed growth is reported as -1 with the array unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

namespace core {

template <typename T>
class GrowableArray {
  static_assert(std::is_nothrow_move_constructible_v<T>,
                "array items move when the array grows");

 public:
  GrowableArray() = default;
  ~GrowableArray() { Destroy(); }
  GrowableArray(const GrowableArray&) = delete;
  GrowableArray& operator=(const GrowableArray&) = delete;
  GrowableArray(GrowableArray&& other) noexcept { Take(other); }
  GrowableArray& operator=(GrowableArray&& other) noexcept {
    if (this != &other) {
      Destroy();
      Take(other);
    }
    return *this;
  }

  // Appends; returns the new item's index, or -1 when the array cannot grow.
  int Add(T item) {
    if (size_ == capacity_ && !Grow()) return -1;
    ::new (static_cast<void*>(items_ + size_)) T(std::move(item));
    return size_++;
  }

  // Inserts before `index` (0..Size()); later items move up. 0 or -1.
  int Insert(int index, T item) {
    if (index < 0 || index > size_) return -1;
    if (size_ == capacity_ && !Grow()) return -1;
    if (index == size_) {
      ::new (static_cast<void*>(items_ + size_)) T(std::move(item));
    } else {
      ::new (static_cast<void*>(items_ + size_)) T(std::move(items_[size_ - 1]));
      for (int i = size_ - 1; i > index; --i) items_[i] = std::move(items_[i - 1]);
      items_[index] = std::move(item);
    }
    ++size_;
    return 0;
  }

  // Removes the item at `index`, keeping the order of the rest. 0 or -1.
  int RemoveAt(int index) {
    if (index < 0 || index >= size_) return -1;
    for (int i = index; i + 1 < size_; ++i) items_[i] = std::move(items_[i + 1]);
    items_[--size_].~T();
    return 0;
  }

  // Removes the first item equal to `item`. 0, or -1 when there is none.
  int Remove(const T& item) { return RemoveAt(Find(item)); }

  // Index of the first item equal to `item`, or -1.
  int Find(const T& item) const {
    for (int i = 0; i < size_; ++i)
      if (items_[i] == item) return i;
    return -1;
  }

  // Drops the items from `size` on; the capacity stays.
  void Truncate(int size) {
    if (size < 0) size = 0;
    while (size_ > size) items_[--size_].~T();
  }
  void Clear() { Truncate(0); }

  int Size() const { return size_; }
  int Capacity() const { return capacity_; }
  bool Empty() const { return size_ == 0; }
  T& operator[](int index) { return items_[index]; }
  const T& operator[](int index) const { return items_[index]; }
  // Bounds-checked access: nullptr outside 0..Size()-1.
  T* At(int index) { return index >= 0 && index < size_ ? items_ + index : nullptr; }
  const T* At(int index) const { return index >= 0 && index < size_ ? items_ + index : nullptr; }
  T& Back() { return items_[size_ - 1]; }
  const T& Back() const { return items_[size_ - 1]; }
  T* Data() { return items_; }
  const T* Data() const { return items_; }
  T* begin() { return items_; }
  T* end() { return items_ + size_; }
  const T* begin() const { return items_; }
  const T* end() const { return items_ + size_; }

 private:
  bool Grow() {
    if (capacity_ > INT32_MAX / 2) return false;
    int capacity = capacity_ == 0 ? 1 : capacity_ * 2;
    T* items = static_cast<T*>(
        ::operator new(sizeof(T) * static_cast<size_t>(capacity), std::align_val_t(alignof(T)),
                       std::nothrow));
    if (!items) return false;
    for (int i = 0; i < size_; ++i) {
      ::new (static_cast<void*>(items + i)) T(std::move(items_[i]));
      items_[i].~T();
    }
    Free(items_);
    items_ = items;
    capacity_ = capacity;
    return true;
  }

  static void Free(T* items) {
    if (items) ::operator delete(items, std::align_val_t(alignof(T)));
  }

  void Destroy() {
    Clear();
    Free(items_);
    items_ = nullptr;
    capacity_ = 0;
  }

  void Take(GrowableArray& other) {
    items_ = std::exchange(other.items_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }

  T* items_ = nullptr;
  int size_ = 0;
  int capacity_ = 0;
};

}  // namespace core
