// The JSON of a library record, made from its field table (record_fields.h):
// one member per field, named as the record names it.
#ifndef QAL3_TOOL_RECORD_JSON_H
#define QAL3_TOOL_RECORD_JSON_H

#include <string>
#include <vector>

#include "cli_forms.h"
#include "record_fields.h"

namespace cli {

template <class R>
nlohmann::json record_json(const R& record);

// The members of the tool's JSON documents around the records: the file a
// document's records come from, the list of such documents, and the member
// that lists a family's records (json_list<R>: "triggers", ...).
constexpr char kJsonFile[] = "file";
constexpr char kJsonFiles[] = "files";
template <class R>
constexpr const char* json_list();
template <>
constexpr const char* json_list<qal3_ev_entry>() {
  return "entries";
}
template <>
constexpr const char* json_list<chan_descr_2010>() {
  return "channels";
}
template <>
constexpr const char* json_list<qal3_env_index_dictionary_entry_2010>() {
  return "entries";
}
template <>
constexpr const char* json_list<qal3_env_index_dictionary_entry>() {
  return "entries";
}
template <>
constexpr const char* json_list<qal3_user_case_trigger>() {
  return "triggers";
}
template <>
constexpr const char* json_list<QAL3GigEFeature>() {
  return "features";
}

// One field's value as JSON: numbers in the sign the writers give them.
struct ValueJson {
  qal3::records::Kind kind;

  template <class V>
  nlohmann::json integer(V v) const {
    return qal3::records::number_value(kind, v);
  }
  nlohmann::json real(float v) const { return json_float(v); }
  template <std::size_t N>
  nlohmann::json reals(const float (&v)[N]) const {
    nlohmann::json list = nlohmann::json::array();
    for (float x : v) list.push_back(real(x));
    return list;
  }
  template <std::size_t N>
  nlohmann::json text(const char (&v)[N]) const {
    return field_text(v);
  }
  nlohmann::json string(const std::string& v) const { return v; }
  nlohmann::json texts(const std::vector<char*>& v) const {
    nlohmann::json list = nlohmann::json::array();
    for (const char* s : v) list.push_back(s ? s : "");
    return list;
  }
  template <class T>
  nlohmann::json records(const std::vector<T*>& v) const {
    nlohmann::json list = nlohmann::json::array();
    for (const T* x : v)
      if (x) list.push_back(record_json(*x));
    return list;
  }
  template <class T>
  nlohmann::json record(const T& v) const {
    return record_json(v);
  }
};

template <class R>
nlohmann::json record_json(const R& record) {
  nlohmann::json j = nlohmann::json::object();
  qal3::records::for_each_field<R>(
      [&](const auto& field) { j[field.name] = qal3::records::visit_value(field.of(record), ValueJson{field.kind}); });
  return j;
}

}  // namespace cli

#endif  // QAL3_TOOL_RECORD_JSON_H
