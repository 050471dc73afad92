// Python records to the libraries' records, made from the records' field
// tables (record_fields.h): each field from the Python record's attribute of
// the same name, checked as the field holds it.
#ifndef QAL3_PY_RECORD_CONVERSION_H
#define QAL3_PY_RECORD_CONVERSION_H

#include <cstdint>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "common.h"
#include "record_fields.h"

namespace qal3py {

using qal3::records::Kind;

template <class V>
struct is_vector : std::false_type {};
template <class T>
struct is_vector<std::vector<T>> : std::true_type {};

template <class R>
void fill_record(py::handle o, R& record, const std::set<std::string>& others = {});

// Sets the count field of `record` that counts the list `list` (the count
// is named as the list with an "n" in front) to `n`, if there is one.
template <class R>
void set_count(R& record, const char* list, std::size_t n) {
  const std::string name = std::string("n") + list;
  qal3::records::for_each_field<R>([&](const auto& field) {
    if constexpr (std::is_same_v<std::remove_reference_t<decltype(field.of(record))>, int>)
      if (field.kind == Kind::count && name == field.name) field.of(record) = static_cast<int>(n);
  });
}

// Reads one field's value from the Python value `v`. Records of a list are
// put in the list (and counted) before they are filled, so that the owner's
// cleaner releases them when a later value is refused.
template <class R, class V>
void value_from(py::handle v, R& record, V& dst, Kind kind, const char* name) {
  if constexpr (std::is_same_v<V, unsigned int>) {
    // A type code may come signed, as it is written, or unsigned.
    dst = static_cast<unsigned int>(int_in(v, kind == Kind::type_code ? INT32_MIN : 0, 0xFFFFFFFFLL, name));
  } else if constexpr (std::is_same_v<V, float>) {
    dst = float_of(v, name);
  } else if constexpr (std::is_integral_v<V>) {
    dst = static_cast<V>(int_in(v, std::numeric_limits<V>::min(), std::numeric_limits<V>::max(), name));
  } else if constexpr (std::is_array_v<V> && std::is_same_v<std::remove_extent_t<V>, char>) {
    put_text(dst, v, name);
  } else if constexpr (std::is_array_v<V>) {
    const py::list values(py::reinterpret_borrow<py::object>(v));
    const std::size_t n = sizeof dst / sizeof dst[0];
    if (values.size() > n)
      throw py::value_error(std::string(name) + " holds at most " + std::to_string(n) + " parameters");
    for (std::size_t i = 0; i < values.size(); ++i) value_from(values[i], record, dst[i], kind, name);
  } else {
    static_assert(is_vector<V>::value, "no conversion from Python for this field");
    using T = std::remove_pointer_t<typename V::value_type>;
    for (py::handle item : v) {
      auto fresh = std::make_unique<T>();
      dst.push_back(fresh.get());
      fresh.release();
      set_count(record, name, dst.size());
      fill_record(item, *dst.back());
    }
  }
}

// Fills `record` from the attributes of the Python record `o`, all but the
// fields named in `others` (the caller's); the counts of lists follow the
// lists.
template <class R>
void fill_record(py::handle o, R& record, const std::set<std::string>& others) {
  qal3::records::for_each_field<R>([&](const auto& field) {
    if (field.kind != Kind::count && others.count(field.name) == 0)
      value_from(o.attr(field.name), record, field.of(record), field.kind, field.name);
  });
}

}  // namespace qal3py

#endif  // QAL3_PY_RECORD_CONVERSION_H
