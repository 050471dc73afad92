// A flat name index: NUL-terminated names, owned elsewhere, to the first
// value entered under each name. Internal to the libraries.
#ifndef QAL3_NAME_INDEX_H
#define QAL3_NAME_INDEX_H

#include <cstddef>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

namespace qal3 {

// Names (owned by the records they name) to the first value entered under
// each name. Open addressing over a flat array of
// (hash, name, value) slots, so a lookup touches one slot array and compares
// a record's name only when the full hash matches; growing the array never
// touches the records.
template <class V>
class NameIndex {
 public:
  // The value entered first under `name`, or null.
  V find(const char* name) const {
    if (slots_.empty()) return nullptr;
    const std::size_t h = hash(name);
    for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
      const Slot& s = slots_[i];
      if (!s.name) return nullptr;
      if (s.hash == h && std::strcmp(s.name, name) == 0) return s.value;
    }
  }

  // Enters `value` under `name` unless the name is already present (the
  // first one wins). `name` must stay valid and unchanged while indexed.
  // Returns false when the name was present.
  bool insert(const char* name, V value) {
    if ((count_ + 1) * 2 > slots_.size()) grow();
    const std::size_t h = hash(name);
    for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (!s.name) {
        s = Slot{h, name, value};
        ++count_;
        return true;
      }
      if (s.hash == h && std::strcmp(s.name, name) == 0) return false;
    }
  }

  void reserve(std::size_t n) {
    while ((n + 1) * 2 > slots_.size()) grow();
  }

 private:
  struct Slot {
    std::size_t hash;
    const char* name;
    V value;
  };

  static std::size_t hash(const char* name) {
    return std::hash<std::string_view>()(std::string_view(name));
  }

  void grow() {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{0, nullptr, nullptr});
    mask_ = slots_.size() - 1;
    for (const Slot& s : old) {
      if (!s.name) continue;
      std::size_t i = s.hash & mask_;
      while (slots_[i].name) i = (i + 1) & mask_;
      slots_[i] = s;
    }
  }

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t count_ = 0;
};

}  // namespace qal3

#endif  // QAL3_NAME_INDEX_H
