#include "record_edit.h"

#include <cmath>
#include <cstring>

#include "check_driver.h"
#include "qal3_family.h"
#include "user_case_trigger.h"

namespace qal3::edit::detail {

bool parse_integer(const std::string& text, long long lo, long long hi, long long& out, std::string& why) {
  const char* s = text.c_str();
  char* end = nullptr;
  errno = 0;
  const bool negative = text.find('-') != std::string::npos;
  long long v = 0;
  if (negative) {
    v = std::strtoll(s, &end, 0);
  } else {
    const unsigned long long u = std::strtoull(s, &end, 0);
    v = u > static_cast<unsigned long long>(std::numeric_limits<long long>::max())
            ? std::numeric_limits<long long>::max()
            : static_cast<long long>(u);
    if (u > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) errno = ERANGE;
  }
  if (text.empty() || end == s || *end != '\0' || std::isspace(static_cast<unsigned char>(text[0]))) {
    why = "'" + text + "' is not a whole number";
    return false;
  }
  if (errno == ERANGE || v < lo || v > hi) {
    why = "'" + text + "' is outside " + std::to_string(lo) + " .. " + std::to_string(hi);
    return false;
  }
  out = v;
  return true;
}

bool parse_real(const std::string& text, float& out, std::string& why) {
  const char* s = text.c_str();
  char* end = nullptr;
  const double v = std::strtod(s, &end);
  if (text.empty() || end == s || *end != '\0' || std::isspace(static_cast<unsigned char>(text[0]))) {
    why = "'" + text + "' is not a number";
    return false;
  }
  if (records::float_loses(v)) {
    why = "'" + text + "' is beyond what a float holds";
    return false;
  }
  out = static_cast<float>(v);
  return true;
}

bool check_text(const std::string& text, std::size_t max_bytes, const records::Bounds& bounds, std::string& why) {
  if (max_bytes != std::string::npos && text.size() > max_bytes) {
    why = "a text of " + std::to_string(text.size()) + " bytes does not fit a field of " + std::to_string(max_bytes);
    return false;
  }
  const std::size_t length = records::text_length(bounds.unit, text.data(), text.size());
  if (bounds.hi != records::Bounds::kUnset && length > static_cast<std::size_t>(bounds.hi)) {
    why = "a text longer than " + std::to_string(bounds.hi) + " is not read back";
    return false;
  }
  if (bounds.named && records::is_blank(text.data(), text.size())) {
    why = "must not be empty: the record would not be read";
    return false;
  }
  if (bounds.lo != records::Bounds::kUnset && length < static_cast<std::size_t>(bounds.lo)) {
    why = "a text shorter than " + std::to_string(bounds.lo) + " is not read back";
    return false;
  }
  if (records::first_unwritable(text.data(), text.size()) != text.size()) {
    why = "holds a character a document cannot hold";
    return false;
  }
  return true;
}

std::vector<std::string_view> top_names(std::string_view xml) {
  std::vector<std::string_view> names;
  int depth = 0;
  for (std::size_t i = xml.find('<'); i != std::string_view::npos; i = xml.find('<', i)) {
    const bool closing = i + 1 < xml.size() && xml[i + 1] == '/';
    const bool other = i + 1 < xml.size() && (xml[i + 1] == '?' || xml[i + 1] == '!');
    std::size_t end = i + 1;
    for (char quote = 0; end < xml.size() && (quote || xml[end] != '>'); ++end)
      if (xml[end] == '"' || xml[end] == '\'') quote = quote == xml[end] ? 0 : quote ? quote : xml[end];
    if (end >= xml.size()) break;
    if (!other) {
      if (closing) {
        --depth;
      } else {
        if (depth == 1) {
          const std::size_t name_end = xml.find_first_of(" \t\r\n/>", i + 1);
          names.push_back(xml.substr(i + 1, name_end - i - 1));
        }
        if (xml[end - 1] != '/') ++depth;
      }
    }
    i = end + 1;
  }
  return names;
}

std::string new_error(std::string_view before, std::string_view bytes) {
  std::set<std::string> had;
  for (const check::Finding& f : check::check_document("", before, {}).findings)
    if (f.severity == check::Severity::kError) had.insert(f.message);
  for (const check::Finding& f : check::check_document("", bytes, {}).findings)
    if (f.severity == check::Severity::kError && !had.count(f.message)) return f.message;
  return {};
}

int parameter_index(const std::string& name) {
  for (int p = 0; p < qal3::trigger::kParameters; ++p)
    for (const char* alias : qal3::trigger::kParameterAliases[p])
      if (*alias && name == alias) return p;
  static const std::string kIndexed = "fparam[";
  if (name.compare(0, kIndexed.size(), kIndexed) == 0 && name.size() > kIndexed.size() + 1 && name.back() == ']') {
    long long p = 0;
    std::string why;
    if (parse_integer(name.substr(kIndexed.size(), name.size() - kIndexed.size() - 1), 0,
                      qal3::trigger::kParameters - 1, p, why))
      return static_cast<int>(p);
  }
  return -1;
}

int slot_of(const std::string& text, bool function) {
  std::string copy = text;
  int slot = function ? qal3_get_function_index(copy.data()) : qal3_get_operation_index(copy.data());
  if (slot >= 0) return slot;
  long long n = 0;
  std::string why;
  if (!parse_integer(text, 0, 31, n, why)) return -1;
  const char* name =
      function ? qal3_get_function_string(static_cast<int>(n)) : qal3_get_operation_string(static_cast<int>(n));
  std::string named = name ? name : "";
  // A free slot has no function to name it by.
  slot = function ? qal3_get_function_index(named.data()) : qal3_get_operation_index(named.data());
  return slot == static_cast<int>(n) ? slot : -1;
}

bool split(const std::string& assignment, std::string& field, std::string& value) {
  const std::size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  field = assignment.substr(0, eq);
  value = assignment.substr(eq + 1);
  return true;
}

bool parse_selector(const std::string& selector, std::size_t& position, std::vector<std::string>& pairs,
                    std::string& why) {
  position = 0;
  pairs.clear();
  if (selector.empty()) {
    why = "an empty selector picks nothing: give a position or FIELD=VALUE";
    return false;
  }
  if (selector.find('=') == std::string::npos) {
    long long p = 0;
    if (!parse_integer(selector, 1, std::numeric_limits<long long>::max(), p, why)) {
      why = "selector '" + selector + "' is neither a position (1, 2, ...) nor FIELD=VALUE";
      return false;
    }
    position = static_cast<std::size_t>(p);
    return true;
  }
  std::size_t at = 0;
  while (at <= selector.size()) {
    const std::size_t comma = selector.find(',', at);
    const std::string pair = selector.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    std::string f, v;
    if (!split(pair, f, v)) {
      why = "'" + pair + "' in the selector is no FIELD=VALUE";
      return false;
    }
    pairs.push_back(pair);
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return true;
}

}  // namespace qal3::edit::detail

namespace qal3::edit {

Outcome edit_document(int family, const std::string& file, std::string_view bytes, const Request& request,
                      bool old_layout) {
  records::Options options;
  switch (family) {
    case QAL3_FAMILY_TRIGGER_LIST:
      return edit<qal3_user_case_trigger>(file, bytes, request, options);
    case QAL3_FAMILY_DAQ_VARIABLES:
      options.daqvars = true;
      return edit<chan_descr_2010>(file, bytes, request, options);
    case QAL3_FAMILY_CHAN_DESCRIPTIONS:
      return edit<chan_descr_2010>(file, bytes, request, options);
    case QAL3_FAMILY_ENV_DICT:
      return old_layout ? edit<qal3_env_index_dictionary_entry>(file, bytes, request, options)
                        : edit<qal3_env_index_dictionary_entry_2010>(file, bytes, request, options);
    default: {
      Outcome out;
      out.error = "not a trigger list, channel descriptions or an environment index dictionary";
      return out;
    }
  }
}

}  // namespace qal3::edit
