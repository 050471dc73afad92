// The one name map of the libraries: names to values in a flat
// open-addressing table. Internal to the libraries.
#ifndef QAL3_NAME_MAP_H
#define QAL3_NAME_MAP_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qal3 {

// Names to values of type V (default-constructible). The map keeps its own
// copy of every name, one after another in one buffer, so it stays valid
// whatever happens to the text it was given. A slot holds the name's hash,
// where its copy lies, and the value: a lookup reads one slot and compares
// one name, and only when the full hash matches. At most half the slots are
// used. Allocation failure throws std::bad_alloc; names totalling 4 GiB or
// more throw std::length_error.
template <class V>
class NameMap {
 public:
  // The value entered under `name`, or null.
  const V* find(std::string_view name) const {
    if (slots_.empty()) return nullptr;
    const std::size_t h = hash(name);
    for (std::size_t k = h & mask();; k = (k + 1) & mask()) {
      const Slot& s = slots_[k];
      if (!s.used()) return nullptr;
      if (s.hash == h && name_of(s) == name) return &s.value;
    }
  }
  V* find(std::string_view name) { return const_cast<V*>(static_cast<const NameMap&>(*this).find(name)); }

  // The value under `name`, made (default-constructed) when the name is
  // new; `.second` says whether it was. The pointer stays valid until the
  // next insertion.
  std::pair<V*, bool> try_emplace(std::string_view name) {
    if ((count_ + 1) * 2 > slots_.size()) grow(slots_.empty() ? 64 : slots_.size() * 2);
    const std::size_t h = hash(name);
    std::size_t k = h & mask();
    for (; slots_[k].used(); k = (k + 1) & mask()) {
      Slot& s = slots_[k];
      if (s.hash == h && name_of(s) == name) return {&s.value, false};
    }
    if (names_.size() + name.size() >= kUnused) throw std::length_error("name map");
    Slot& s = slots_[k];
    s.hash = h;
    s.name_offset = static_cast<std::uint32_t>(names_.size());
    s.name_length = static_cast<std::uint32_t>(name.size());
    names_.append(name.data(), name.size());
    ++count_;
    return {&s.value, true};
  }

  // Enters `value` under `name` unless the name is present (the first one
  // wins). False when it was present.
  bool insert(std::string_view name, const V& value) {
    const auto slot = try_emplace(name);
    if (slot.second) *slot.first = value;
    return slot.second;
  }

  // Room for `n` names without growing.
  void reserve(std::size_t n) {
    std::size_t size = slots_.empty() ? 64 : slots_.size();
    while ((n + 1) * 2 > size) size *= 2;
    if (size > slots_.size()) grow(size);
  }

  // Calls f(name, value) for every entry, in no particular order.
  template <class F>
  void for_each(F f) const {
    for (const Slot& s : slots_)
      if (s.used()) f(name_of(s), s.value);
  }

  std::size_t size() const { return count_; }

 private:
  static constexpr std::uint32_t kUnused = 0xffffffffu;

  struct Slot {
    std::size_t hash = 0;
    std::uint32_t name_offset = 0;
    std::uint32_t name_length = kUnused;
    V value{};
    bool used() const { return name_length != kUnused; }
  };

  static std::size_t hash(std::string_view name) { return std::hash<std::string_view>()(name); }
  std::size_t mask() const { return slots_.size() - 1; }
  std::string_view name_of(const Slot& s) const {
    return std::string_view(names_.data() + s.name_offset, s.name_length);
  }

  void grow(std::size_t size) {
    std::vector<Slot> old(size);
    old.swap(slots_);
    for (Slot& s : old) {
      if (!s.used()) continue;
      std::size_t k = s.hash & mask();
      while (slots_[k].used()) k = (k + 1) & mask();
      slots_[k] = std::move(s);
    }
  }

  std::vector<Slot> slots_;
  std::string names_;
  std::size_t count_ = 0;
};

}  // namespace qal3

#endif  // QAL3_NAME_MAP_H
