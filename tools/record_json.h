// The JSON of a library record, made from its field table (record_fields.h):
// one member per field, named as the record names it. Fields the reader
// sets but no document holds (Kind::state) are left out.
#ifndef QAL3_TOOL_RECORD_JSON_H
#define QAL3_TOOL_RECORD_JSON_H

#include <cstdint>
#include <type_traits>
#include <vector>

#include "cli_forms.h"
#include "record_fields.h"

namespace cli {

template <class R>
nlohmann::json record_json(const R& record);

template <class V>
struct is_vector : std::false_type {};
template <class T>
struct is_vector<std::vector<T>> : std::true_type {};

template <class V>
nlohmann::json value_json(const V& v, qal3::records::Kind kind) {
  using qal3::records::Kind;
  if constexpr (std::is_enum_v<V>) {
    return static_cast<int>(v);
  } else if constexpr (std::is_same_v<V, float>) {
    return json_float(v);
  } else if constexpr (std::is_same_v<V, unsigned int>) {
    // Data types in the sign the writers give them ("%d"), so that a mask
    // with bit 31 reads the same here, in Python and in a written document.
    if (kind == Kind::type_code) return static_cast<std::int32_t>(v);
    return v;
  } else if constexpr (std::is_arithmetic_v<V> || std::is_same_v<V, std::string>) {
    return v;
  } else if constexpr (std::is_array_v<V> && std::is_same_v<std::remove_extent_t<V>, char>) {
    return field_text(v);
  } else if constexpr (std::is_array_v<V>) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& x : v) list.push_back(value_json(x, kind));
    return list;
  } else if constexpr (std::is_pointer_v<V>) {  // a list the record may not have
    return v ? value_json(*v, kind) : nlohmann::json::array();
  } else if constexpr (std::is_same_v<V, std::vector<char*>>) {
    nlohmann::json list = nlohmann::json::array();
    for (const char* s : v) list.push_back(s ? s : "");
    return list;
  } else if constexpr (is_vector<V>::value) {  // a list of records
    nlohmann::json list = nlohmann::json::array();
    for (const auto* x : v)
      if (x) list.push_back(record_json(*x));
    return list;
  } else {
    return record_json(v);
  }
}

template <class R>
nlohmann::json record_json(const R& record) {
  nlohmann::json j = nlohmann::json::object();
  qal3::records::for_each_field<R>([&](const auto& field) {
    if (field.kind != qal3::records::Kind::state) j[field.name] = value_json(field.of(record), field.kind);
  });
  return j;
}

}  // namespace cli

#endif  // QAL3_TOOL_RECORD_JSON_H
