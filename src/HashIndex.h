#ifndef ZORVEX_HASH_INDEX_H
#define ZORVEX_HASH_INDEX_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

// Finds entries of a caller's list by a text's hash, open-addressed: a lookup reads one slot, and
// the entry only when the hashes agree, where a node-based map reads a bucket and nodes scattered
// on the heap. Entries are named by their place in the list counted from 1.
class HashIndex {
 public:
  // `entries`: how many the index should take before it first grows; with none, it takes no
  // memory until the first entry.
  explicit HashIndex(size_t entries = 0) : slots_(entries > 0 ? SlotsFor(entries) : 0) {}

  static uint32_t Hash(std::string_view text) {
    return static_cast<uint32_t>(std::hash<std::string_view>()(text));
  }

  // The place of the entry under `hash` that `same(place)` takes for the one sought; when there is
  // none, files `place` under `hash` and gives 0.
  template <typename Same>
  uint32_t FindOrFile(uint32_t hash, uint32_t place, const Same& same) {
    if (slots_.empty()) {
      slots_.resize(SlotsFor(0));
    }
    Slot& slot = Find(slots_, hash, same);
    if (slot.place != 0) {
      return slot.place;
    }
    slot = {hash, place};
    if (2 * ++filed_ > slots_.size()) {
      Grow();
    }
    return 0;
  }

 private:
  struct Slot {
    uint32_t hash;
    uint32_t place;  // 0 for a free slot
  };

  static size_t SlotsFor(size_t entries) {
    size_t slots = 16;
    while (slots < 2 * entries) {
      slots *= 2;
    }
    return slots;
  }

  // The slot of the entry under `hash` that `same` accepts, or the free slot where it belongs.
  template <typename Same>
  static Slot& Find(std::vector<Slot>& slots, uint32_t hash, const Same& same) {
    const size_t mask = slots.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
      if (slots[at].place == 0 || (slots[at].hash == hash && same(slots[at].place))) {
        return slots[at];
      }
    }
  }

  void Grow() {
    std::vector<Slot> slots(2 * slots_.size());
    for (const Slot& slot : slots_) {
      if (slot.place != 0) {
        Find(slots, slot.hash, [](uint32_t) { return false; }) = slot;
      }
    }
    slots_.swap(slots);
  }

  std::vector<Slot> slots_;
  size_t filed_ = 0;
};

#endif  // ZORVEX_HASH_INDEX_H
