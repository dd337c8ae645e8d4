// Slot pools: the id-handing container every module shares. Included
// through app/core/core.h; other modules never include this file.
//
// ObjectPool<T> hands out non-negative integer ids that stay valid until
// released. An id packs the slot index (low kPoolIndexBits bits) with the
// slot's generation (the kPoolGenerationBits bits above; the sign bit stays
// clear, so no id is negative and none is -1). Releasing an item advances
// its slot's generation, so an id kept after its release -- released again,
// used, or pointing at a slot that now holds another item -- fails every
// pool operation instead of reaching that item. Every slot starts at
// generation 0: a fresh pool (and a Clear()ed one) hands out 0, 1, 2, ...
// for the first use of each slot. A generation wraps after
// kPoolGenerations releases of its slot; only an id kept through that many
// reuses of one slot can alias again.
//
// Slots form two doubly linked chains over one array: the free chain (a
// released slot goes to its head, so the most recently released slot is
// the first one reused) and the used chain, kept in insertion order, which
// is the iteration order. A new pool has one slot; a full pool doubles, up
// to kPoolMaxSlots. Growth moves the items, so pointers from Get() are
// valid only until the next Add(); ids are what callers keep.
//
// It never throws: allocation uses the non-throwing operator new, and a
// failed growth is reported as -1 with the pool unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

namespace core {

// The layout of ObjectPool ids.
inline constexpr int kPoolIndexBits = 20;
inline constexpr int kPoolGenerationBits = 11;
static_assert(kPoolIndexBits + kPoolGenerationBits == 31, "ids use every bit but the sign bit");
inline constexpr int kPoolMaxSlots = 1 << kPoolIndexBits;
inline constexpr int kPoolGenerations = 1 << kPoolGenerationBits;

// The slot index inside an ObjectPool id (-1 for negative ids), for code
// that keeps its own per-slot data beside a pool. Ids that differ only in
// generation share an index, so such data must be reset on every Add.
constexpr int PoolIndex(int id) { return id < 0 ? -1 : id & (kPoolMaxSlots - 1); }
// The generation inside an ObjectPool id (-1 for negative ids).
constexpr int PoolGeneration(int id) { return id < 0 ? -1 : id >> kPoolIndexBits; }

template <typename T>
class ObjectPool {
  static_assert(std::is_nothrow_move_constructible_v<T>,
                "pool items move between slot arrays when the pool grows");

 public:
  ObjectPool() { Grow(); }
  ~ObjectPool() { Destroy(); }
  ObjectPool(const ObjectPool&) = delete;
  ObjectPool& operator=(const ObjectPool&) = delete;
  ObjectPool(ObjectPool&& other) noexcept { Take(other); }
  ObjectPool& operator=(ObjectPool&& other) noexcept {
    if (this != &other) {
      Destroy();
      Take(other);
    }
    return *this;
  }

  // Stores the item and returns its id, or -1 when the pool cannot grow.
  int Add(T item) { return Emplace(std::move(item)); }

  template <typename... Args>
  int Emplace(Args&&... args) {
    if (free_head_ < 0 && !Grow()) return -1;
    int index = free_head_;
    Slot& slot = slots_[index];
    ::new (static_cast<void*>(slot.storage)) T(std::forward<Args>(args)...);
    Unlink(&free_head_, nullptr, index);
    slot.used = true;
    // Append to the used chain: iteration follows insertion order.
    slot.prev = used_tail_;
    slot.next = -1;
    if (used_tail_ >= 0)
      slots_[used_tail_].next = index;
    else
      used_head_ = index;
    used_tail_ = index;
    ++count_;
    return IdOf(index);
  }

  // Destroys the item and frees its slot; the id (and every copy of it)
  // is dead from now on. -1 for an id that is not in use.
  int Release(int id) {
    int index = SlotOf(id);
    if (index < 0) return -1;
    Slot& slot = slots_[index];
    Item(index)->~T();
    slot.used = false;
    slot.generation = static_cast<uint16_t>((slot.generation + 1) & (kPoolGenerations - 1));
    Unlink(&used_head_, &used_tail_, index);
    slot.prev = -1;
    slot.next = free_head_;
    if (free_head_ >= 0) slots_[free_head_].prev = index;
    free_head_ = index;
    --count_;
    return 0;
  }

  // Releases every item; ids restart from 0 in ascending order (every
  // generation back to 0), so ids from before the Clear() may name new
  // items. Release the items one by one to keep old ids failing.
  void Clear() {
    for (int index = used_head_; index >= 0;) {
      int next = slots_[index].next;
      Item(index)->~T();
      slots_[index].used = false;
      index = next;
    }
    used_head_ = used_tail_ = -1;
    count_ = 0;
    ChainFree(0);
  }

  // Releases every item like Release() one by one would (old ids keep
  // failing), and makes the next ids come in ascending slot order again.
  void ReleaseAll() {
    for (int index = used_head_; index >= 0;) {
      int next = slots_[index].next;
      Item(index)->~T();
      slots_[index].generation = static_cast<uint16_t>((slots_[index].generation + 1) & (kPoolGenerations - 1));
      index = next;
    }
    used_head_ = used_tail_ = -1;
    count_ = 0;
    ChainFree(0, /*keep_generations=*/true);
  }

  bool IsUsed(int id) const { return SlotOf(id) >= 0; }
  T* Get(int id) {
    int index = SlotOf(id);
    return index >= 0 ? Item(index) : nullptr;
  }
  const T* Get(int id) const {
    int index = SlotOf(id);
    return index >= 0 ? Item(index) : nullptr;
  }

  int Count() const { return count_; }
  // Slots, used or not. Not a bound on ids: compare PoolIndex(id) with it.
  int Capacity() const { return capacity_; }

  // Walks the ids in insertion order: First(), then Next(id) until -1.
  // Take Next() before releasing the current id.
  int First() const { return IdOf(used_head_); }
  int Next(int id) const {
    int index = SlotOf(id);
    return index >= 0 ? IdOf(slots_[index].next) : -1;
  }

  // Range-for over the items in insertion order. The iterator reads the
  // following id before yielding, so releasing the current item inside the
  // loop is safe (releasing others or adding is not).
  template <typename Pool, typename Ref>
  class Iter {
   public:
    Iter(Pool* pool, int id) : pool_(pool), id_(id), next_(pool->Next(id)) {}
    Ref operator*() const { return *pool_->Get(id_); }
    int id() const { return id_; }
    Iter& operator++() {
      id_ = next_;
      next_ = pool_->Next(id_);
      return *this;
    }
    bool operator!=(const Iter& other) const { return id_ != other.id_; }
    bool operator==(const Iter& other) const { return id_ == other.id_; }

   private:
    Pool* pool_;
    int id_;
    int next_;
  };
  using iterator = Iter<ObjectPool, T&>;
  using const_iterator = Iter<const ObjectPool, const T&>;
  iterator begin() { return iterator(this, First()); }
  iterator end() { return iterator(this, -1); }
  const_iterator begin() const { return const_iterator(this, First()); }
  const_iterator end() const { return const_iterator(this, -1); }

 private:
  // Chains link slot indices; only ids cross the interface.
  struct Slot {
    alignas(T) unsigned char storage[sizeof(T)];
    int prev;
    int next;
    bool used;
    uint16_t generation;
  };
  static_assert(kPoolGenerations - 1 <= UINT16_MAX, "a generation fits its slot field");

  // The id of the item in slot `index` (-1 for -1).
  int IdOf(int index) const {
    return index < 0 ? -1 : (static_cast<int>(slots_[index].generation) << kPoolIndexBits) | index;
  }

  // The slot of a live id, or -1: the index must be in range, its slot in
  // use and of the id's generation.
  int SlotOf(int id) const {
    int index = PoolIndex(id);
    if (index < 0 || index >= capacity_) return -1;
    const Slot& slot = slots_[index];
    return slot.used && slot.generation == PoolGeneration(id) ? index : -1;
  }

  T* Item(int index) { return std::launder(reinterpret_cast<T*>(slots_[index].storage)); }
  const T* Item(int index) const {
    return std::launder(reinterpret_cast<const T*>(slots_[index].storage));
  }

  void Unlink(int* head, int* tail, int index) {
    Slot& slot = slots_[index];
    if (slot.prev >= 0)
      slots_[slot.prev].next = slot.next;
    else
      *head = slot.next;
    if (slot.next >= 0)
      slots_[slot.next].prev = slot.prev;
    else if (tail)
      *tail = slot.prev;
  }

  // Makes slots [first, capacity_) the free chain, lowest index first, at
  // generation 0 unless told to keep theirs.
  void ChainFree(int first, bool keep_generations = false) {
    for (int i = first; i < capacity_; ++i) {
      slots_[i].used = false;
      if (!keep_generations) slots_[i].generation = 0;
      slots_[i].prev = i > first ? i - 1 : -1;
      slots_[i].next = i + 1 < capacity_ ? i + 1 : -1;
    }
    free_head_ = first < capacity_ ? first : -1;
  }

  // Doubles the slot array (one slot for a new pool) up to kPoolMaxSlots,
  // beyond which an index would spill into the generation bits. Only
  // called with an empty free chain, so the new slots become the whole
  // free chain.
  bool Grow() {
    if (capacity_ >= kPoolMaxSlots) return false;
    int capacity = capacity_ == 0 ? 1 : capacity_ * 2;
    Slot* slots = static_cast<Slot*>(::operator new(sizeof(Slot) * static_cast<size_t>(capacity),
                                                    std::align_val_t(alignof(Slot)), std::nothrow));
    if (!slots) return false;
    for (int i = 0; i < capacity_; ++i) {
      Slot& to = slots[i];
      Slot& from = slots_[i];
      to.prev = from.prev;
      to.next = from.next;
      to.used = from.used;
      to.generation = from.generation;
      if (from.used) {
        ::new (static_cast<void*>(to.storage)) T(std::move(*Item(i)));
        Item(i)->~T();
      }
    }
    FreeSlots(slots_);
    slots_ = slots;
    int first = capacity_;
    capacity_ = capacity;
    ChainFree(first);
    return true;
  }

  static void FreeSlots(Slot* slots) {
    if (slots) ::operator delete(slots, std::align_val_t(alignof(Slot)));
  }

  void Destroy() {
    if (!slots_) return;
    for (int index = used_head_; index >= 0; index = slots_[index].next) Item(index)->~T();
    FreeSlots(slots_);
    slots_ = nullptr;
    capacity_ = count_ = 0;
    free_head_ = used_head_ = used_tail_ = -1;
  }

  void Take(ObjectPool& other) {
    slots_ = std::exchange(other.slots_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
    count_ = std::exchange(other.count_, 0);
    free_head_ = std::exchange(other.free_head_, -1);
    used_head_ = std::exchange(other.used_head_, -1);
    used_tail_ = std::exchange(other.used_tail_, -1);
  }

  Slot* slots_ = nullptr;
  int capacity_ = 0;
  int count_ = 0;
  // Slot indices, -1 for an empty chain.
  int free_head_ = -1;
  int used_head_ = -1;
  int used_tail_ = -1;
};

}  // namespace core
