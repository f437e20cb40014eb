// An open-addressing hash table of 32-bit record numbers, for the name
// indexes of the INI document. The table holds no names: each slot keeps a
// record's number and its hash, and the caller says whether a record is
// the one sought. Slots are 8 bytes in one array, so a lookup usually costs
// one cache line of the table and one of the record.
//
// Names come from files anyone may write (a manifest from the network), so
// the hash is seeded once per process: a file cannot be built to make every
// name land in the same slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace mb::formats {

// Hash of a name folded to ASCII lower case, mixed with `salt` (used to
// scope key names by their section).
std::uint32_t HashIniName(std::string_view name, std::uint32_t salt = 0);

class IniNameTable {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  void Reserve(std::size_t records);

  // The record of this hash that `is_match(record)` accepts, or kNone.
  template <typename Match>
  std::uint32_t Find(std::uint32_t hash, Match is_match) const {
    if (slots_.empty()) return kNone;
    for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.record == kNone) return kNone;
      if (slot.hash == hash && is_match(slot.record)) return slot.record;
    }
  }

  // The caller has checked that no equal record is present.
  void Insert(std::uint32_t hash, std::uint32_t record);

 private:
  struct Slot {
    std::uint32_t hash = 0;  // kept to compare cheaply and to move on growth
    std::uint32_t record = kNone;
  };
  void Grow(std::size_t capacity);
  void Place(const Slot& slot);

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t count_ = 0;
};

}  // namespace mb::formats
