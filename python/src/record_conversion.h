// Python records to the libraries' records, made from the records' field
// tables (record_fields.h): each field from the Python record's attribute of
// the same name, checked against the field's bounds and type.
#ifndef QAL3_PY_RECORD_CONVERSION_H
#define QAL3_PY_RECORD_CONVERSION_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "common.h"
#include "record_fields.h"
#include "trigger_facts.h"

namespace qal3py {

using qal3::records::Bounds;
using qal3::records::Kind;

template <class R>
void fill_record(py::handle o, R& record);

// The slot of the function registry (`functions`) or the operation
// registry that `v` gives to the field `field`: a number in [lo, hi], or
// the name of a slot in use. ValueError names the field otherwise.
int slot_of(py::handle v, bool functions, const char* field, long long lo, long long hi);

// [lo, hi] narrowed to the bounds that are set in `b`.
inline std::pair<long long, long long> within(const Bounds& b, long long lo, long long hi) {
  if (b.lo != Bounds::kUnset) lo = std::max(lo, b.lo);
  if (b.hi != Bounds::kUnset) hi = std::min(hi, b.hi);
  return {lo, hi};
}

// The least and greatest value of an integer field of type V.
template <class V>
std::pair<long long, long long> int_range(Kind kind, const Bounds& b) {
  using N = std::conditional_t<std::is_enum_v<V>, std::underlying_type<V>, std::common_type<V>>;
  using T = typename N::type;
  static_assert(sizeof(T) <= sizeof(long long) && (std::is_signed_v<T> || sizeof(T) < sizeof(long long)),
                "integer field wider than a Python conversion checks");
  long long lo = static_cast<long long>(std::numeric_limits<T>::min());
  // A type code may come signed, as it is written, or unsigned.
  if (kind == Kind::type_code) lo = INT32_MIN;
  return within(b, lo, static_cast<long long>(std::numeric_limits<T>::max()));
}

// The bytes of the text `v` for a field whose texts hold `fewest` to
// `most` bytes (as `b` narrows them) and no NUL. ValueError names `field`.
std::string text_in(py::handle v, const Bounds& b, std::size_t most, const char* field);

// The bytes of the text `v` for a field bounded by `b` (in its unit) and of
// at most `most` bytes. ValueError names `field`.
// A named text (Bounds::named) must not be blank (records::is_blank: a
// carriage return is no blank, it is written and read back), and every
// text must hold only characters an XML 1.0 document can hold.
inline std::string text_value(py::handle v, const Bounds& b, std::size_t most, const char* field) {
  const bool bytes = b.unit == qal3::records::Unit::bytes;
  std::string s = text_in(v, bytes ? b : Bounds{b.lo}, most, field);
  const auto units = static_cast<long long>(qal3::records::text_length(b.unit, s.data(), s.size()));
  if (!bytes && b.hi != Bounds::kUnset && units > b.hi)
    throw py::value_error(std::string(field) + " is " + std::to_string(units) + " UTF-16 units long; at most " +
                          std::to_string(b.hi) + " fit");
  if (b.named && qal3::records::is_blank(s.data(), s.size()))
    throw py::value_error(std::string(field) +
                          " is only white space (spaces, tabs, line feeds), which the reader takes for no "
                          "name: what it names would not be read back");
  const std::size_t bad = qal3::records::first_unwritable(s.data(), s.size());
  if (bad != s.size())
    throw py::value_error(std::string(field) + " holds a character an XML document cannot hold at byte " +
                          std::to_string(bad) + " (it is written as '?')");
  return s;
}

// The float a real field bounded by `b` holds for the number `v`: refused
// (ValueError naming `field` and `v`) when the float loses it
// (records::float_loses: beyond its range, or a number other than 0 that
// becomes 0) or it lies outside `b`. Infinities and NaN are kept. TypeError
// when `v` is no number.
inline float real_value(py::handle v, const Bounds& b, const char* field) {
  auto refuse = [&](const char* becomes) {
    return py::value_error(std::string(field) + " " + std::string(py::repr(v)) + " is beyond what a float holds: it " +
                           becomes);
  };
  if (PyLong_Check(v.ptr())) {  // an int beyond a double's range is beyond a float's
    PyFloat_AsDouble(v.ptr());
    if (PyErr_Occurred() && PyErr_ExceptionMatches(PyExc_OverflowError)) {
      PyErr_Clear();
      throw refuse("becomes infinite");
    }
    PyErr_Clear();
  }
  const float dst = float_of(v, field);
  const double given = PyFloat_AsDouble(v.ptr());  // a number: float_of took it
  if (qal3::records::float_loses(given)) throw refuse(dst == 0 ? "becomes 0" : "becomes infinite");
  const auto [lo, hi] = within(b, std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max());
  if ((b.lo != Bounds::kUnset && !(dst >= lo)) || (b.hi != Bounds::kUnset && !(dst <= hi)))
    throw py::value_error(std::string(field) + " must lie in " + std::to_string(lo) + ".." + std::to_string(hi));
  return dst;
}

// Room in `v` for one more element, so that the push_back that follows
// cannot throw (and leak what it is given); `v` grows geometrically.
template <class T>
void room_for_one(std::vector<T>& v) {
  if (v.size() == v.capacity()) v.reserve(std::max<std::size_t>(16, 2 * v.capacity()));
}

// Runs `fill`; a ValueError or TypeError it raises names `where` in front.
template <class F>
void filling(const std::string& where, F&& fill) {
  try {
    fill();
  } catch (const py::value_error& e) {
    throw py::value_error(where + ": " + e.what());
  } catch (const py::type_error& e) {
    throw py::type_error(where + ": " + e.what());
  }
}

// One field's value from the Python value `v`. What a list holds is
// allocated as the record family's cleaner releases it (new, new[] for C
// strings) and put in the list before it is filled, so that the cleaner
// releases it when a later value is refused; records of a list are counted.
template <class R>
struct ValueFrom {
  py::handle v;
  R& owner;  // the record whose field this is
  Kind kind;
  const char* name;
  const Bounds& b;

  template <class V>
  void integer(V& dst) const {
    const auto [lo, hi] = int_range<V>(kind, b);
    if (qal3::records::is_slot(kind))
      dst = static_cast<V>(slot_of(v, kind == Kind::function_slot, name, std::max(lo, 0LL),
                                   std::min<long long>(hi, qal3::trigger::kSlots - 1)));
    else
      dst = static_cast<V>(int_in(v, lo, hi, name));
  }
  void real(float& dst) const { dst = real_value(v, b, name); }
  template <std::size_t N>
  void reals(float (&dst)[N]) const {
    const py::list values(py::reinterpret_borrow<py::object>(v));
    if (values.size() > N)
      throw py::value_error(std::string(name) + " holds at most " + std::to_string(N) + " parameters");
    for (std::size_t i = 0; i < values.size(); ++i) ValueFrom{values[i], owner, kind, name, b}.real(dst[i]);
  }
  template <std::size_t N>
  void text(char (&dst)[N]) const {
    const std::string s = text_value(v, b, N - 1, name);
    std::memcpy(dst, s.c_str(), s.size() + 1);
  }
  void string(std::string& dst) const { dst = text_value(v, b, std::string::npos, name); }
  void texts(std::vector<char*>& dst) const {
    const std::string entry = std::string(name) + " entry";
    for (py::handle item : v) {
      const std::string s = text_value(item, b, std::string::npos, entry.c_str());
      room_for_one(dst);
      dst.push_back(new char[s.size() + 1]);
      std::memcpy(dst.back(), s.c_str(), s.size() + 1);
    }
  }
  template <class T>
  void records(std::vector<T*>& dst) const {
    for (py::handle item : v) {
      room_for_one(dst);
      dst.push_back(new T());
      qal3::records::set_count(owner, name, dst.size());
      filling(std::string(name) + "[" + std::to_string(dst.size() - 1) + "]", [&] { fill_record(item, *dst.back()); });
    }
  }
  template <class T>
  void record(T& dst) const {
    fill_record(v, dst);
  }
};

// Fills `record` from the attributes of the Python record `o`; the counts
// of lists follow the lists.
template <class R>
void fill_record(py::handle o, R& record) {
  qal3::records::for_each_field<R>([&](const auto& field) {
    if (!qal3::records::is_derived(field.kind))
      qal3::records::visit_value(field.of(record),
                                 ValueFrom<R>{o.attr(field.name), record, field.kind, field.name, field.bounds});
  });
}

}  // namespace qal3py

#endif  // QAL3_PY_RECORD_CONVERSION_H
