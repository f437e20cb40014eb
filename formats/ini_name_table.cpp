#include "formats/ini_name_table.h"

#include <random>

namespace mb::formats {

namespace {

constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;

std::uint64_t ProcessSeed() {
  static const std::uint64_t seed = [] {
    std::random_device device;
    return (std::uint64_t{device()} << 32) ^ device();
  }();
  return seed;
}

std::uint64_t Finish(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  return h ^ (h >> 33);
}

unsigned char Fold(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

}  // namespace

std::uint32_t HashIniName(std::string_view name, std::uint32_t salt) {
  std::uint64_t h = ProcessSeed() ^ (name.size() * kMul) ^ (std::uint64_t{salt} << 32);
  std::size_t i = 0;
  while (i < name.size()) {
    std::uint64_t chunk = 0;
    for (int b = 0; b < 8 && i < name.size(); ++b, ++i) {
      chunk |= std::uint64_t{Fold(name[i])} << (8 * b);
    }
    h = (h ^ chunk) * kMul;
    h ^= h >> 29;
  }
  return static_cast<std::uint32_t>(Finish(h));
}

void IniNameTable::Reserve(std::size_t records) {
  std::size_t capacity = 16;
  while (capacity < records * 2) capacity *= 2;
  if (capacity > slots_.size()) Grow(capacity);
}

void IniNameTable::Insert(std::uint32_t hash, std::uint32_t record) {
  // At most half full: probes stay short.
  if ((count_ + 1) * 2 > slots_.size()) Grow(slots_.empty() ? 16 : slots_.size() * 2);
  Place(Slot{hash, record});
  ++count_;
}

void IniNameTable::Grow(std::size_t capacity) {
  std::vector<Slot> old(capacity);
  old.swap(slots_);
  mask_ = capacity - 1;
  for (const Slot& slot : old) {
    if (slot.record != kNone) Place(slot);
  }
}

void IniNameTable::Place(const Slot& slot) {
  std::size_t i = slot.hash & mask_;
  while (slots_[i].record != kNone) i = (i + 1) & mask_;
  slots_[i] = slot;
}

}  // namespace mb::formats
