// Records read back from the JSON the tool prints (record_json.h), made from
// the same field tables (record_fields.h): each member named as a field
// gives that field, checked against its bounds so that what cannot be
// written and read back the same is refused, never cut.
//
// Besides the fields a record takes what the tool prints beside them: the
// count of a list (it must count the list), a registry slot's name under
// "<field>_name" (it must name the slot the field gives, when both come),
// and a trigger's function parameters under their names
// (trigger_parameters.h: start, end, ...; they must agree with fparam and
// with one another). Any other member is refused. A field not given keeps
// what a new record holds (Description::make), and a time field (a
// trigger's time) is the clock's, as the readers stamp it.
#ifndef QAL3_TOOL_RECORD_JSON_READ_H
#define QAL3_TOOL_RECORD_JSON_READ_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "cli_args.h"
#include "cli_commands.h"
#include "cli_input.h"
#include "record_fields.h"
#include "record_json.h"
#include "trigger_facts.h"
#include "trigger_parameters.h"
#include "user_case_trigger.h"

namespace cli {

// A JSON value a record cannot take: `path` names it as jq would reach it
// from the document's list ("triggers[0].low"), what() says why.
struct JsonRefusal : std::runtime_error {
  std::string path;
  JsonRefusal(std::string at, const std::string& why) : std::runtime_error(why), path(std::move(at)) {}
};

namespace json_read {

using qal3::records::Bounds;
using qal3::records::Kind;
using Json = nlohmann::json;

// The name of a JSON value's type, for refusals.
inline std::string type_of(const Json& v) {
  if (v.is_number_integer()) return "an integer";
  if (v.is_number()) return "a number";
  return std::string(v.is_object() ? "an " : "a ") + v.type_name();
}

[[noreturn]] inline void refuse(const std::string& path, const std::string& why) { throw JsonRefusal(path, why); }

// The name of a trigger's function slot field (`function`) or operation
// slot field, as the field table names it.
inline const char* slot_field(bool function) {
  const char* name = "";
  qal3::records::for_each_field<qal3_user_case_trigger>([&](const auto& f) {
    if (f.kind == (function ? Kind::function_slot : Kind::operation_slot)) name = f.name;
  });
  return name;
}

// The registry slot `v` gives to the slot field at `path`: a number of a
// slot in use or the name of one.
inline int slot_of(const Json& v, bool function, const std::string& path) {
  using qal3::trigger::kSlots;
  const std::string registry = slot_field(function);
  if (v.is_string()) {
    std::string name = v.get<std::string>();
    const int slot = function ? qal3_get_function_index(&name[0]) : qal3_get_operation_index(&name[0]);
    if (slot < 0 || qal3::trigger::slot_free(slot, function))
      refuse(path, "no " + registry + " named '" + name + "' in the registry");
    return slot;
  }
  if (!v.is_number_integer()) refuse(path, "must be a slot number or a name, not " + type_of(v));
  const long long slot = v.is_number_unsigned() && v.get<unsigned long long>() > INT32_MAX ? -1 : v.get<long long>();
  if (slot < 0 || slot >= kSlots) refuse(path, "must lie in 0.." + std::to_string(kSlots - 1));
  if (qal3::trigger::slot_free(static_cast<int>(slot), function))
    refuse(path, std::to_string(slot) + " is a free registry slot: nothing is registered there");
  return static_cast<int>(slot);
}

// The name of a slot, for refusals.
inline std::string slot_text(int slot, bool function) {
  const char* name = function ? qal3_get_function_string(slot) : qal3_get_operation_string(slot);
  return std::to_string(slot) + (name ? std::string(" (") + name + ")" : "");
}

// The float a real field bounded by `b` takes for `v`: a number the float
// holds, or null for NaN (the tool prints NaN and the infinities as null).
inline float real_of(const Json& v, const Bounds& b, const std::string& path) {
  if (v.is_null()) return std::numeric_limits<float>::quiet_NaN();
  if (!v.is_number()) refuse(path, "must be a number or null, not " + type_of(v));
  const double d = v.get<double>();
  if (!std::isfinite(d) || qal3::records::float_loses(d)) refuse(path, v.dump() + " is beyond what a float holds");
  const float f = static_cast<float>(d);
  if ((b.lo != Bounds::kUnset && !(f >= b.lo)) || (b.hi != Bounds::kUnset && !(f <= b.hi)))
    refuse(path, "must lie in " + std::to_string(b.lo) + ".." + std::to_string(b.hi));
  return f;
}

// The bytes of the text `v` for a field bounded by `b` (in its unit) and of
// at most `most` bytes: a named text not blank, every character one an XML
// document holds.
inline std::string text_of(const Json& v, const Bounds& b, std::size_t most, const std::string& path) {
  if (!v.is_string()) refuse(path, "must be a string, not " + type_of(v));
  const std::string s = v.get<std::string>();
  if (s.find('\0') != std::string::npos) refuse(path, "holds a NUL character");
  const bool bytes = b.unit == qal3::records::Unit::bytes;
  const auto length = static_cast<long long>(qal3::records::text_length(b.unit, s.data(), s.size()));
  const char* unit = bytes ? " bytes" : " UTF-16 units";
  long long hi = b.hi != Bounds::kUnset ? b.hi : std::numeric_limits<long long>::max();
  if (bytes && most != std::string::npos) hi = std::min(hi, static_cast<long long>(most));
  if (b.lo != Bounds::kUnset && length < b.lo)
    refuse(path, "is " + std::to_string(length) + unit + " long; at least " + std::to_string(b.lo) + " needed");
  if (length > hi)
    refuse(path, "is " + std::to_string(length) + unit + " long; at most " + std::to_string(hi) + " fit");
  if (s.size() > most)
    refuse(path, "is " + std::to_string(s.size()) + " bytes long; at most " + std::to_string(most) + " fit");
  if (b.named && qal3::records::is_blank(s.data(), s.size()))
    refuse(path, "is only white space, which the reader takes for no name");
  const std::size_t bad = qal3::records::first_unwritable(s.data(), s.size());
  if (bad != s.size()) refuse(path, "holds a character an XML document cannot hold at byte " + std::to_string(bad));
  return s;
}

template <class R>
void fill(const Json& j, R& record, const std::string& path);

// One field's value from `v`, as visit_value hands the member.
template <class R>
struct ValueFrom {
  const Json& v;
  R& owner;
  Kind kind;
  const char* name;
  const Bounds& b;
  const std::string& path;

  template <class V>
  void integer(V& dst) const {
    if (kind == Kind::time) {  // checked, and stamped as the readers stamp it
      if (!v.is_number_integer()) refuse(path, "must be an integer, not " + type_of(v));
      return;
    }
    if (qal3::records::is_slot(kind)) {
      dst = static_cast<V>(slot_of(v, kind == Kind::function_slot, path));
      return;
    }
    using N = std::conditional_t<std::is_enum_v<V>, std::underlying_type<V>, std::common_type<V>>;
    using T = typename N::type;
    static_assert(sizeof(T) <= sizeof(long long) && (std::is_signed_v<T> || sizeof(T) < sizeof(long long)),
                  "integer field wider than the JSON reader checks");
    long long lo = kind == Kind::type_code ? INT32_MIN : static_cast<long long>(std::numeric_limits<T>::min());
    long long hi = static_cast<long long>(std::numeric_limits<T>::max());
    if (b.lo != Bounds::kUnset) lo = std::max(lo, b.lo);
    if (b.hi != Bounds::kUnset) hi = std::min(hi, b.hi);
    if (!v.is_number_integer()) refuse(path, "must be an integer, not " + type_of(v));
    const bool big = v.is_number_unsigned() && v.get<unsigned long long>() > static_cast<unsigned long long>(hi);
    const long long n = big ? hi : v.get<long long>();
    if (big || n < lo || n > hi)
      refuse(path, v.dump() + " is out of range: it must lie in " + std::to_string(lo) + ".." + std::to_string(hi));
    dst = static_cast<V>(n);
  }
  void real(float& dst) const { dst = real_of(v, b, path); }
  template <std::size_t N>
  void reals(float (&dst)[N]) const {
    if (!v.is_array()) refuse(path, "must be an array, not " + type_of(v));
    if (v.size() > N)
      refuse(path, "holds " + std::to_string(v.size()) + " numbers; at most " + std::to_string(N) + " fit");
    for (std::size_t i = 0; i < v.size(); ++i) dst[i] = real_of(v[i], b, path + "[" + std::to_string(i) + "]");
  }
  template <std::size_t N>
  void text(char (&dst)[N]) const {
    const std::string s = text_of(v, b, N - 1, path);
    std::memcpy(dst, s.c_str(), s.size() + 1);
  }
  void string(std::string& dst) const { dst = text_of(v, b, std::string::npos, path); }
  void texts(std::vector<char*>& dst) const {
    if (!v.is_array()) refuse(path, "must be an array, not " + type_of(v));
    for (std::size_t i = 0; i < v.size(); ++i) {
      const std::string s = text_of(v[i], b, std::string::npos, path + "[" + std::to_string(i) + "]");
      dst.reserve(dst.size() + 1);
      dst.push_back(new char[s.size() + 1]);  // as the family's cleaner releases it
      std::memcpy(dst.back(), s.c_str(), s.size() + 1);
    }
  }
  template <class T>
  void records(std::vector<T*>& dst) const {
    if (!v.is_array()) refuse(path, "must be an array, not " + type_of(v));
    for (std::size_t i = 0; i < v.size(); ++i) {
      dst.reserve(dst.size() + 1);  // in the list before it is filled: the cleaner releases it on a refusal
      dst.push_back(qal3::records::with_initial_values(new T()));
      qal3::records::set_count(owner, name, dst.size());
      fill(v[i], *dst.back(), path + "[" + std::to_string(i) + "]");
    }
  }
  template <class T>
  void record(T& dst) const {
    fill(v, dst, path);
  }
};

// The length of the list field named `list` of `record`.
template <class R>
std::size_t list_length(const R& record, const std::string& list) {
  std::size_t n = 0;
  qal3::records::for_each_field<R>([&](const auto& field) {
    using V = typename std::decay_t<decltype(field)>::template type<R>;
    constexpr auto shape = qal3::records::shape_of<V>();
    if constexpr (shape == qal3::records::Shape::records || shape == qal3::records::Shape::texts)
      if (list == field.name) n = qal3::records::list_in(field.of(record)).size();
  });
  return n;
}

// Whether two floats are one value (NaN the same as NaN).
inline bool same_float(float a, float b) {
  return std::isnan(a) ? std::isnan(b) : a == b && std::signbit(a) == std::signbit(b);
}

// Whether `key` names a member of R that is no field but that the tool
// prints beside the fields: a trigger's "<slot field>_name" and the names
// of its parameters.
template <class R>
bool extra_member(const std::string& key) {
  if constexpr (std::is_same_v<R, qal3_user_case_trigger>) {
    bool found = false;
    qal3::records::for_each_field<R>([&](const auto& f) {
      found = found || (qal3::records::is_slot(f.kind) && key == std::string(f.name) + "_name");
    });
    for (const auto& names : qal3::trigger::kParameterAliases)
      for (const char* alias : names) found = found || (*alias && key == alias);
    return found;
  } else {
    return false;
  }
}

// Takes the extra members of a trigger: each slot by its name, which must
// name the slot the field gives when both come; each parameter by its
// names, which must agree with one another and with fparam.
inline void take_extra_members(const Json& j, qal3_user_case_trigger& t, const std::string& at) {
  qal3::records::for_each_field<qal3_user_case_trigger>([&](const auto& f) {
    using V = typename std::decay_t<decltype(f)>::template type<qal3_user_case_trigger>;
    if constexpr (std::is_same_v<V, int>) {
      const std::string key = std::string(f.name) + "_name";
      if (!qal3::records::is_slot(f.kind) || !j.contains(key)) return;
      const bool function = f.kind == Kind::function_slot;
      const Json& v = j.at(key);
      if (!v.is_string()) refuse(at + key, "must be a name, not " + type_of(v));
      const int slot = slot_of(v, function, at + key);
      if (j.contains(f.name) && f.of(t) != slot)
        refuse(at + key, "'" + v.get<std::string>() + "' and " + f.name + " " + slot_text(f.of(t), function) +
                             " name different slots: give one, or both alike");
      f.of(t) = slot;
    }
  });
  std::string fparam;  // the name of the parameters' field
  qal3::records::for_each_field<qal3_user_case_trigger>([&](const auto& f) {
    if (f.kind == Kind::reals) fparam = f.name;
  });
  const std::size_t listed = j.contains(fparam) ? j.at(fparam).size() : 0;
  for (int i = 0; i < qal3::trigger::kParameters; ++i) {
    std::string first = static_cast<std::size_t>(i) < listed ? fparam + "[" + std::to_string(i) + "]" : "";
    for (const char* alias : qal3::trigger::kParameterAliases[i]) {
      if (!*alias || !j.contains(alias)) continue;
      const float value = real_of(j.at(alias), {}, at + alias);
      if (!first.empty() && !same_float(t.fparam[i], value))
        refuse(at + alias, j.at(alias).dump() + " and " + first + " " + Json(t.fparam[i]).dump() + " differ");
      if (first.empty()) first = alias;
      t.fparam[i] = value;
    }
  }
}
template <class R>
void take_extra_members(const Json&, R&, const std::string&) {}

// Fills `record` from the JSON object `j`, found at `path`.
template <class R>
void fill(const Json& j, R& record, const std::string& path) {
  if (!j.is_object()) refuse(path, "must be an object, not " + type_of(j));
  const std::string at = path.empty() ? "" : path + ".";
  std::vector<std::pair<std::string, std::string>> counts;  // each count and its list
  qal3::records::for_each_field<R>([&](const auto& field) {
    if (!j.contains(field.name)) return;
    if (qal3::records::is_derived(field.kind)) {
      counts.emplace_back(field.name, field.counts);
      return;
    }
    const std::string where = at + field.name;
    qal3::records::visit_value(field.of(record),
                               ValueFrom<R>{j.at(field.name), record, field.kind, field.name, field.bounds, where});
  });
  for (const auto& [count, list] : counts) {
    const Json& n = j.at(count);
    const std::size_t has = list_length(record, list);
    if (!n.is_number_integer() || n.get<long long>() < 0 || static_cast<std::size_t>(n.get<long long>()) != has)
      refuse(at + count, n.dump() + " does not count " + list + ", which holds " + std::to_string(has));
  }
  for (const auto& member : j.items()) {
    bool field = false;
    qal3::records::for_each_field<R>([&](const auto& f) { field = field || member.key() == f.name; });
    if (!field && !extra_member<R>(member.key()))
      refuse(at + member.key(), std::string("no field of ") + qal3::records::Description<R>::name);
  }
  take_extra_members(j, record, at);
}

}  // namespace json_read

// Appends to *list the records of the JSON array `records` (found at
// `path`, as "triggers"), each made by the family's make and filled from
// its object. JsonRefusal names the first value refused; the records
// appended before stay in the list, for its owner to release.
template <class R>
void records_from_json(const nlohmann::json& records, const std::string& path, std::vector<R*>* list) {
  if (!records.is_array()) json_read::refuse(path, "must be an array, not " + json_read::type_of(records));
  for (std::size_t i = 0; i < records.size(); ++i) {
    list->reserve(list->size() + 1);
    list->push_back(qal3::records::Description<R>::make());
    json_read::fill(records[i], *list->back(), path + "[" + std::to_string(i) + "]");
  }
}

// The input format of a converting command's --from: false (usage error
// reported) for a value other than "xml" (the default) and "json", and for
// --keep-date with "json" (a JSON document has no isodate to keep).
bool input_format(const CommandInfo& command_info, const Args& args, bool* json);

// Parses the JSON document of `in` into *doc, nested at most as deep as
// an XML document may be (limits::kMaxDepth). False, with
// "NAME:LINE:COLUMN: not JSON: why" (or "NAME: why") printed, when it is
// no JSON document or nests deeper.
bool parse_json(const Input& in, nlohmann::json* doc);

// Prints the refusal `r` of a value of the JSON document of `in`:
// "NAME: PATH: why".
void json_refused(const Input& in, const JsonRefusal& r);

// Reads the records of R from the JSON document of `in`, as the tool
// prints them: an object whose member json_list<R>() lists them (its other
// members among `others` and "file"), an object whose "files" lists such
// objects (their records appended in order), or the array of records
// alone. Appends them to *list (the list's owner releases them, also on
// failure). False, with a message naming the value refused, when the
// document is no JSON or a value is refused.
// `check_top`, when given, is handed the document's object (not one of
// "files") and throws JsonRefusal for a member of `others` it refuses.
template <class R>
bool records_from_document(const Input& in, std::vector<R*>* list, const std::vector<std::string>& others = {},
                           const std::function<void(const nlohmann::json&)>& check_top = nullptr) {
  nlohmann::json doc;
  if (!parse_json(in, &doc)) return false;
  const std::string key = json_list<R>();
  try {
    if (doc.is_array()) {
      records_from_json(doc, "", list);
      return true;
    }
    if (!doc.is_object()) json_read::refuse("", "must be an object or an array, not " + json_read::type_of(doc));
    auto one = [&](const nlohmann::json& o, const std::string& at, bool top) {
      if (!o.is_object()) json_read::refuse(at, "must be an object, not " + json_read::type_of(o));
      if (!o.contains(key)) json_read::refuse(at, "has no member \"" + key + "\" listing the records");
      for (const auto& m : o.items())
        if (m.key() != key && m.key() != kJsonFile &&
            (!top || std::find(others.begin(), others.end(), m.key()) == others.end()))
          json_read::refuse((at.empty() ? "" : at + ".") + m.key(), "is no member of the tool's JSON");
      records_from_json(o.at(key), (at.empty() ? "" : at + ".") + key, list);
    };
    if (doc.contains(kJsonFiles) && !doc.contains(key)) {
      for (const auto& m : doc.items())
        if (m.key() != kJsonFiles) json_read::refuse(m.key(), "is no member of the tool's JSON");
      const nlohmann::json& files = doc.at(kJsonFiles);
      if (!files.is_array()) json_read::refuse(kJsonFiles, "must be an array, not " + json_read::type_of(files));
      for (std::size_t i = 0; i < files.size(); ++i)
        one(files[i], std::string(kJsonFiles) + "[" + std::to_string(i) + "]", false);
      return true;
    }
    if (check_top) check_top(doc);
    one(doc, "", true);
    return true;
  } catch (const JsonRefusal& r) {
    json_refused(in, r);
    return false;
  }
}

}  // namespace cli

#endif  // QAL3_TOOL_RECORD_JSON_READ_H
