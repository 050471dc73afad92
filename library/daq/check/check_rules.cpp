#include "check_rules.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <string_view>
#include <utility>

#include "event.h"
#include "event_util.h"
#include "float_text.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "pull_reader.h"
#include "qal3_gige_descr.h"
#include "qal3_messages.h"
#include "record_fields.h"
#include "trigger_facts.h"
#include "trigger_parameters.h"
#include "trigger_window.h"
#include "user_case_trigger.h"

namespace check {

namespace {

using qal3::records::Bounds;
using qal3::records::kMaskBlockType;
using qal3::records::kMaskEventType;
using namespace qal3::trigger::names;

// The event types an event list entry takes.
using EntryEventType = qal3::records::Field<&qal3_ev_entry::evtype>;
constexpr Bounds kEntryEventType = std::get<EntryEventType>(qal3::records::Description<qal3_ev_entry>::fields).bounds;

// How a reader cuts a text to its field.
enum class Cut {
  characters,  // to whole UTF-8 characters (reader::fitting_length)
  bytes,       // to bytes, a character may be split
};

// A record field a text is read into.
struct Field {
  std::size_t size;  // bytes, the NUL included
  Cut cut = Cut::characters;
};

// The text field `member` of a record.
template <class Record, std::size_t N>
constexpr Field field(char (Record::*)[N]) {
  return {N};
}

// The bytes of a server block name the event list reader keeps, without
// regard to characters.
using ServerBlockName = qal3::records::Field<&qal3_ev_sb_list::sb_list>;
constexpr Field kServerBlockName{
    static_cast<std::size_t>(std::get<ServerBlockName>(qal3::records::Description<qal3_ev_sb_list>::fields).bounds.hi) +
        1,
    Cut::bytes};

std::size_t characters(std::string_view text, std::size_t bytes) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < bytes && i < text.size(); ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0u) != 0x80u) ++n;
  return n;
}

// The bytes of `text` that a field keeps.
std::size_t kept_bytes(std::string_view text, Field f) {
  if (f.cut == Cut::bytes) return std::min(text.size(), f.size - 1);
  return qal3::reader::fitting_length(std::string(text).c_str(), f.size);
}

// Whether a reader takes `text` for no text (a carriage return, which a
// document holds only as &#13;, is text).
bool blank(std::string_view text) { return qal3::records::is_blank(text.data(), text.size()); }

// A whole decimal integer (white space around it allowed); false otherwise.
bool parse_integer(std::string_view text, long long& out) {
  std::string t = trim(text);
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  if (t.empty()) return false;
  const auto r = std::from_chars(t.data(), t.data() + t.size(), out);
  return r.ec == std::errc() && r.ptr == t.data() + t.size();
}

// A decimal number as sign, significant digits and the power of ten of the
// first digit ("-0.0120" is {true, "12", -2}); zero has no digits. False
// for anything but [+-]digits[.digits][(e|E)[+-]digits].
struct Decimal {
  bool negative = false;
  std::string digits;
  long long exponent = 0;
  bool operator==(const Decimal& o) const {
    return negative == o.negative && digits == o.digits && (digits.empty() || exponent == o.exponent);
  }
};

bool parse_decimal(const std::string& t, Decimal& d) {
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) d.negative = t[i++] == '-';
  std::string mantissa;
  long long point = -1;
  for (; i < t.size() && (std::isdigit(static_cast<unsigned char>(t[i])) || t[i] == '.'); ++i) {
    if (t[i] == '.') {
      if (point >= 0) return false;
      point = static_cast<long long>(mantissa.size());
    } else {
      mantissa += t[i];
    }
  }
  if (mantissa.empty()) return false;
  if (point < 0) point = static_cast<long long>(mantissa.size());
  long long exponent = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    const std::size_t from = i + (i < t.size() && t[i] == '+' ? 1 : 0);
    const auto r = std::from_chars(t.data() + from, t.data() + t.size(), exponent);
    if (r.ptr != t.data() + t.size() || from == t.size()) return false;
    // Far beyond any float either way: the size of the excess does not matter.
    constexpr long long kFar = 1000000;
    if (r.ec == std::errc::result_out_of_range) exponent = t[from] == '-' ? -kFar : kFar;
    exponent = std::max(-kFar, std::min(kFar, exponent));
    i = t.size();
  }
  if (i != t.size()) return false;
  const auto first = mantissa.find_first_not_of('0');
  if (first == std::string::npos) return true;  // zero
  const auto last = mantissa.find_last_not_of('0');
  d.digits = mantissa.substr(first, last - first + 1);
  d.exponent = exponent + point - static_cast<long long>(first) - 1;
  return true;
}

// What becomes of a number text read into a float.
enum class FloatFate {
  kept,       // the float gives the number back with as many digits
  overflow,   // beyond the float range: an infinity
  underflow,  // not zero, yet read as zero
  rounded,    // more precision than a float holds
};

// Reads `text` (no white space around it) as the readers do, into `value`.
// An infinity or NaN written as such is kept; so is text the schema
// reports (not a number, or a form other than decimal) but for overflow.
FloatFate float_fate(const std::string& text, float& value) {
  char* end = nullptr;
  value = qal3::number::to_float(text.c_str(), &end);
  if (end != text.c_str() + text.size() || std::isnan(value)) return FloatFate::kept;
  if (std::isinf(value)) return text.find_first_of("iI") == std::string::npos ? FloatFate::overflow : FloatFate::kept;
  Decimal written;
  if (!parse_decimal(text, written)) return FloatFate::kept;
  if (value == 0.0f) return written.digits.empty() ? FloatFate::kept : FloatFate::underflow;
  // The float printed with the text's significant digits must be the text.
  char buf[160];
  const int digits = static_cast<int>(std::min<std::size_t>(written.digits.size(), 120));
  std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(value));
  Decimal back;
  return parse_decimal(buf, back) && back == written ? FloatFate::kept : FloatFate::rounded;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// The findings of one document, with the positions of its nodes.
class Checker {
 public:
  Checker(const Document& doc, std::string_view bytes, const Options& options, std::vector<Finding>& out)
      : doc_(doc), bytes_(bytes), options_(options), out_(out) {}

  void run() {
    const Node root = doc_.root();
    if (!root) return;
    switch (doc_.family()) {
      case Family::kEventList:
        event_list(root);
        break;
      case Family::kChanDescriptions:
        chan_descriptions(root);
        break;
      case Family::kDaqVariables:
        daq_variables(root);
        break;
      case Family::kEnvDict:
        env_dict(root);
        break;
      case Family::kTriggerList:
        trigger_list(root);
        break;
      case Family::kGigE:
        features(root);
        break;
      case Family::kUnknown:
        break;
    }
  }

  // Positions where a schema finding says less about a fault than a
  // finding here: one fault, one finding.
  const std::vector<Position>& superseded() const { return superseded_; }

 private:
  // A finding of kind `code` (qal3_check_finding::code).
  void add(Position at, Severity severity, const char* code, const std::string& message) {
    out_.push_back({at.line, at.column, severity, message, false, code});
  }
  // An error here says more than the schema's finding at the same place.
  void error(Position at, const char* code, const std::string& message) {
    add(at, Severity::kError, code, message);
    superseded_.push_back(at);
  }
  void warning(Position at, const char* code, const std::string& message) {
    add(at, Severity::kWarning, code, message);
  }

  static std::string line_of(const Node& n) { return "line " + std::to_string(n.tag().line); }

  // Text of `n` longer than its record field.
  void length(Node n, Field f, const std::string& what) {
    if (n) length_of(n.text(), n.value(), f, what);
  }
  void length_of(std::string_view text, Position at, Field f, const std::string& what) {
    if (text.size() < f.size) return;
    const std::size_t kept = kept_bytes(text, f);
    const std::size_t chars = characters(text, text.size());
    std::string message = what + " is " + std::to_string(chars) + " characters";
    if (chars != text.size()) message += " (" + std::to_string(text.size()) + " bytes)";
    const bool split = (static_cast<unsigned char>(text[kept]) & 0xC0u) == 0x80u;
    message += " long: it is cut to " + std::to_string(characters(text, kept) - (split ? 1 : 0)) + " when read";
    warning(at, "cut", split ? message + ", with part of the next" : message);
  }

  // Integer text of `n` within `range`; what lies outside is reported.
  void type_range(Node n, Bounds range, const std::string& what, const std::string& consequence) {
    long long v = 0;
    if (!n || !parse_integer(n.text(), v)) return;  // the schema reports the form
    if (v < range.lo || v > range.hi)
      error(n.value(), "out-of-range",
            what + " " + std::to_string(v) + " is out of range " + std::to_string(range.lo) + " to " +
                std::to_string(range.hi) + ": " + consequence);
  }

  // A child the reader needs; without it, `consequence`. Reported at the
  // start tag, in place of the schema's finding at the end tag.
  void needed(const Node& parent, const char* child, const std::string& consequence) {
    if (parent.child(child)) return;
    error(parent.tag(), "missing", std::string(parent.name()) + " without " + child + ": " + consequence);
    superseded_.push_back(parent.after_end());
  }

  // Fields of `parent` given more than once: the last one is read, but for
  // `first_read`.
  void repeated_fields(const Node& parent, const std::vector<std::string>& fields, const std::string& first_read) {
    std::map<std::string_view, Node> seen;
    for (const Node c : parent.children()) {
      if (std::find(fields.begin(), fields.end(), c.name()) == fields.end()) continue;
      const auto it = seen.emplace(c.name(), c);
      if (it.second) continue;
      warning(c.tag(), "repeated",
              std::string(c.name()) + " given again (first at " + line_of(it.first->second) + "): the " +
                  (c.name() == first_read ? "first" : "last") + " one is read");
    }
  }

  // --- event lists ---------------------------------------------------------

  // Where an event type is listed: its first and second TYPE, and how often.
  struct Listed {
    Node first, second;
    std::size_t times = 0;
  };

  // An event type listed again: the reader makes an entry for each. One
  // finding per type, at its second TYPE.
  void event_list(const Node& root) {
    std::map<long long, Listed> types;
    for (const Node ev : root.children())
      if (ev.name() == "EVENT") event(ev, types);
    for (const auto& [type, listed] : types)
      if (listed.times > 1)
        warning(listed.second.value(), "listed-twice",
                "event type " + std::to_string(type) + " listed " + std::to_string(listed.times) + " times (first at " +
                    line_of(listed.first) + "): the list is read with an entry for each");
  }

  void type_once(const Node& type, std::map<long long, Listed>& types) {
    long long v = 0;
    if (!parse_integer(type.text(), v) || v < kEntryEventType.lo || v > kEntryEventType.hi) return;
    Listed& l = types[v];
    if (l.times == 0) l.first = type;
    if (l.times == 1) l.second = type;
    ++l.times;
  }

  void event(const Node& ev, std::map<long long, Listed>& types) {
    // The reader walks the elements of an EVENT in document order whatever
    // their nesting; so does this check.
    std::vector<Node> flat;
    flatten(ev, flat);
    bool block_open = false;
    bool list_open = false;
    std::map<std::string_view, Node> entry_fields;  // of the entry the last TYPE made
    for (Node n : flat) {
      if (n.name() == "TYPE") {
        type_range(n, kEntryEventType, "event type",
                   "no entry is made and what follows up to the next TYPE is ignored");
        type_once(n, types);
        block_open = list_open = false;
        entry_fields.clear();
      } else if (n.name() == "SBLOCK") {
        server_block(n);
        block_open = !n.lead().empty();
        list_open = false;
      } else if (n.name() == "CHLIST") {
        if (!block_open) warning(n.tag(), "ignored", "channel list without a server block before it: ignored");
        list_open = block_open;
      } else if (n.name() == "CHAN") {
        if (!list_open)
          warning(n.tag(), "ignored", "channel " + quoted(trim(n.text())) + " outside a channel list: ignored");
      } else if (n.name() == "TMASK" || n.name() == "MINTIMESEC" || n.name() == "MINTIMEUSEC" ||
                 n.name() == "PRIORITY") {
        unsigned_number(n);
        const auto it = entry_fields.emplace(n.name(), n);
        if (!it.second)
          warning(n.tag(), "repeated",
                  std::string(n.name()) + " given again for one event type (first at " + line_of(it.first->second) +
                      "): the last one is read");
      }
    }
  }

  static void flatten(const Node& n, std::vector<Node>& out) {
    for (const Node c : n.children()) {
      out.push_back(c);
      flatten(c, out);  // bounded by the tree's depth limit
    }
  }

  void server_block(const Node& sb) {
    if (sb.lead().empty()) {
      error(sb.tag(), "block-name", "server block without a name directly after its start tag: it is ignored");
      return;
    }
    if (blank(sb.lead())) {
      error(sb.tag(), "block-name", "server block name is only white space: write the name directly after <SBLOCK>");
    } else if (sb.lead() != trim(sb.lead()) && sb.has_children()) {
      warning(sb.value(), "block-name",
              "white space around the server block name " + quoted(trim(sb.lead())) + " becomes part of the name");
    }
    length_of(sb.lead(), sb.value(), kServerBlockName, "server block name");
  }

  void unsigned_number(const Node& n) {
    const std::string t = trim(n.text());
    if (t.size() > 2 && t[0] == '0' && t[1] == 'x') return;  // eight hex digits at most (schema)
    long long v = 0;
    if (parse_integer(t, v) && v > 0xFFFFFFFFLL)
      error(n.value(), "out-of-range", std::string(n.name()) + " " + t + " does not fit in 32 bits");
  }

  // --- channel descriptions --------------------------------------------------

  // A second description of a property: the reader merges it into the
  // first one, taking the `merged` fields given before the property;
  // `merging` says which reads do so.
  struct Merge {
    std::vector<std::string> merged;
    std::string merging;
  };

  void repeated_property(const Node& channel, Node prop, Node name, const Merge& merge,
                         std::map<std::string_view, Node>& props, std::map<std::string_view, Node>& names) {
    const std::string_view daq = name ? name.text() : std::string_view();
    if (prop && !prop.text().empty()) {
      const auto it = props.emplace(prop.text(), channel);
      if (!it.second)
        warning(prop.value(), "repeated-key", repeated_property_message(channel, prop, daq, merge, it.first->second));
    }
    if (!daq.empty()) {
      const auto it = names.emplace(daq, channel);
      if (!it.second)
        warning(name.value(), "repeated-key",
                "DAQ name " + quoted(std::string(daq)) + " already used at " + line_of(it.first->second));
    }
  }

  static std::string repeated_property_message(const Node& channel, const Node& prop, std::string_view daq,
                                               const Merge& merge, const Node& first) {
    std::string message =
        "property " + quoted(std::string(prop.text())) + " already described at " + line_of(first) +
        ": a merge or conversion drops " +
        (daq.empty() ? "this channel" : "DAQ name " + quoted(std::string(daq)) + " and the rest of this channel");
    std::vector<std::string> taken;
    for (const Node c : channel.children()) {
      if (c == prop) break;
      if (std::find(merge.merged.begin(), merge.merged.end(), c.name()) != merge.merged.end() &&
          std::find(taken.begin(), taken.end(), c.name()) == taken.end())
        taken.emplace_back(c.name());
    }
    if (taken.empty()) return message;
    message += "; " + merge.merging + " still carries its ";
    for (std::size_t i = 0; i < taken.size(); ++i)
      message += (i == 0 ? "" : i + 1 == taken.size() ? " and " : ", ") + taken[i];
    return message + " over to the first description";
  }

  void chan_descriptions(const Node& root) {
    static const Merge kMerge{{"STREAM", "EVTYPE", "DTYPE"}, "a merge"};
    static const std::vector<std::string> kFields = {"STREAM",  "EVTYPE", "DTYPE", "DB_KEY",   "COUNT",
                                                     "SB_NAME", "PROP",   "NAME",  "SETPOINT", "SUBSYSTEM",
                                                     "UNITS",   "DESC",   "SIZE"};
    std::map<std::string_view, Node> props;
    std::map<std::string_view, Node> names;
    for (const Node ch : root.children()) {
      if (ch.name() != "CHANNEL") continue;
      const Node& c = ch;
      needed(c, "PROP", "it is not read");
      repeated_fields(c, kFields, "PROP");
      repeated_property(c, c.child("PROP"), c.child("NAME"), kMerge, props, names);
      type_range(c.child("EVTYPE"), kMaskEventType, "event type", "as an event-type mask it reads as 0");
      type_range(c.child("DTYPE"), kMaskBlockType, "data type", "as a sub-block-type mask it reads as 0");
      Node name = c.child("NAME");
      if (!name || blank(name.text()))
        warning(name ? name.value() : c.tag(), "missing",
                std::string("channel without a DAQ name: written as '") + qal3::kUndefinedName + "'");
      length(c.child("SB_NAME"), field(&chan_descr_2010::sb_name), "server block name");
      length(c.child("PROP"), field(&chan_descr_2010::prop_name), "property");
      length(name, field(&chan_descr_2010::daq_name), "DAQ name");
      length(c.child("SUBSYSTEM"), field(&chan_descr_2010::subsystem), "subsystem");
      length(c.child("UNITS"), field(&chan_descr_2010::units), "units");
      length(c.child("DESC"), field(&chan_descr_2010::prop_desc), "description");
      numbered(c, "BIT", "bit");
      numbered(c, "DIM", "dimension");
      for (const Node sub : c.children()) {
        if (sub.name() == "BIT") {
          length(sub.child("BIT_NAME"), field(&bit_descr::bit_name), "bit name");
          length(sub.child("BIT_DESCR"), field(&bit_descr::bit_desc), "bit description");
        } else if (sub.name() == "DIM") {
          dimension(sub);
        }
      }
    }
  }

  void dimension(const Node& dim) {
    repeated_fields(dim, {"DIM_NAME", "DIM_UNITS", "DIM_DESCR"}, "");
    length(dim.child("DIM_NAME"), field(&dim_descr::dim_name), "dimension name");
    length(dim.child("DIM_UNITS"), field(&dim_descr::units), "dimension units");
    length(dim.child("DIM_DESCR"), field(&dim_descr::dim_desc), "dimension description");
    numbered(dim, "STAT", "statistic");
    for (const Node st : dim.children()) {
      if (st.name() != "STAT") continue;
      length(st.child("STAT_NAME"), field(&stat_descr::stat_name), "statistic name");
      length(st.child("STAT_UNITS"), field(&stat_descr::units), "statistic units");
      length(st.child("STAT_DESCR"), field(&stat_descr::stat_desc), "statistic description");
    }
  }

  // BIT, DIM and STAT: the number written before the children; repeated
  // numbers in one parent.
  void numbered(const Node& parent, const std::string& element, const std::string& what) {
    std::map<long long, Node> seen;
    for (const Node n : parent.children()) {
      if (n.name() != element) continue;
      long long v = 0;
      if (!parse_integer(n.lead(), v)) {
        error(n.lead().empty() || trim(n.lead()).empty() ? n.tag() : n.value(), "not-a-number",
              what + " number " + quoted(trim(n.lead())) + " is not a number: it reads as 0");
        continue;
      }
      number_once(seen, v, n, n.value(), what);
    }
  }

  void number_once(std::map<long long, Node>& seen, long long v, const Node& n, Position at, const std::string& what) {
    const auto it = seen.emplace(v, n);
    if (!it.second)
      warning(at, "repeated-key",
              what + " " + std::to_string(v) + " already described at " + line_of(it.first->second));
  }

  // --- DAQ variables -----------------------------------------------------------

  void daq_variables(const Node& root) {
    // Every read of this format merges a repeated property.
    static const Merge kMerge{{"evType"}, "reading"};
    // The fields the reader takes (firstIndex and freq it does not read).
    static const std::vector<std::string> kFields = {"evType",      "nexol", "daqName",   "setPoint", "subSystem",
                                                     "description", "units", "lastIndex", "DBKey",    "sbName"};
    std::map<std::string_view, Node> props;
    std::map<std::string_view, Node> names;
    for (const Node ch : root.children()) {
      const Node& c = ch;
      if (c.name() != "DaqFloat" && c.name() != "DaqBits" && c.name() != "DaqFloatMatrix") continue;
      needed(c, "nexol", "it is not read");
      repeated_fields(c, kFields, "nexol");
      repeated_property(c, c.child("nexol"), c.child("daqName"), kMerge, props, names);
      type_range(c.child("evType"), kMaskEventType, "event type", "as an event-type mask it reads as 0");
      length(c.child("nexol"), field(&chan_descr_2010::prop_name), "property");
      length(c.child("daqName"), field(&chan_descr_2010::daq_name), "DAQ name");
      length(c.child("subSystem"), field(&chan_descr_2010::subsystem), "subsystem");
      length(c.child("description"), field(&chan_descr_2010::prop_desc), "description");
      length(c.child("units"), field(&chan_descr_2010::units), "units");
      length(c.child("sbName"), field(&chan_descr_2010::sb_name), "server block name");
      long long first = 0;
      Node fi = c.child("firstIndex");
      if (fi && parse_integer(fi.text(), first) && first != 0)
        warning(fi.value(), "not-read",
                "firstIndex " + std::to_string(first) +
                    " is not read: the number of values is lastIndex + 1, and the writers write 0");
      std::map<long long, Node> bits;
      std::map<long long, Node> dims;
      for (const Node sub : c.children()) {
        if (sub.name() == "bitTitle") {
          bit_title(sub, bits);
        } else if (sub.name() == "dimension") {
          long long id = 0;
          const std::optional<Attribute> a = sub.attribute("id");
          if (a && parse_integer(a->value, id))
            number_once(dims, id, sub, doc_.attribute_position(sub, "id"), "dimension");
          length(sub.child("name"), field(&dim_descr::dim_name), "dimension name");
          length(sub.child("description"), field(&dim_descr::dim_desc), "dimension description");
          length(sub.child("units"), field(&dim_descr::units), "dimension units");
        }
      }
    }
  }

  void bit_title(const Node& bt, std::map<long long, Node>& bits) {
    long long bit = 0;
    const std::optional<Attribute> a = bt.attribute("bit");
    if (!a || !parse_integer(a->value, bit)) return;  // the schema reports it
    number_once(bits, bit, bt, doc_.attribute_position(bt, "bit"), "bit");
    if (blank(bt.text())) warning(bt.tag(), "missing", "bit " + std::to_string(bit) + " has no title");
    length(bt, field(&bit_descr::bit_name), "bit title");
  }

  // --- environment index dictionaries ----------------------------------------

  void env_dict(const Node& root) {
    constexpr Field kProp = field(&qal3_env_dictionary_block_2010::env_prop);
    constexpr Field kOldProp = field(&qal3_env_dictionary_block::env_prop);
    std::map<long long, Node> indexes;
    std::map<std::string_view, Node> props;
    for (const Node ch : root.children()) {
      if (ch.name() != "CHANNEL") continue;
      needed(ch, "INDEX", "it is not read");
      needed(ch, "PROP", "it is not read");
      Node index = ch.child("INDEX");
      long long v = 0;
      if (index && parse_integer(index.text(), v)) {
        const auto it = indexes.emplace(v, ch);
        if (!it.second)
          error(index.value(), "repeated-key",
                "index " + std::to_string(v) + " already used at " + line_of(it.first->second));
      }
      Node prop = ch.child("PROP");
      if (prop && !prop.text().empty()) {
        const auto it = props.emplace(prop.text(), ch);
        if (!it.second)
          warning(prop.value(), "repeated-key",
                  "property " + quoted(std::string(prop.text())) + " already listed at " + line_of(it.first->second));
        if (prop.text().size() >= kProp.size)
          length(prop, kProp, "property");
        else if (prop.text().size() >= kOldProp.size)
          warning(prop.value(), "cut",
                  "property is " + std::to_string(characters(prop.text(), prop.text().size())) +
                      " characters long: readers of the old layout cut it to " +
                      std::to_string(characters(prop.text(), kept_bytes(prop.text(), kOldProp))));
      }
      for (const auto& [delta, what] : {std::pair<const char*, const char*>{"DABS", "absolute"}, {"DREL", "relative"}})
        if (Node n = ch.child(delta)) {
          kept_float(n.value(), delta, n.text());
          negative_delta(n, delta, what);
        }
    }
  }

  // A delta below zero: every change of the value is larger. An infinite
  // one is taken as meant.
  void negative_delta(const Node& n, const std::string& delta, const std::string& what) {
    const std::optional<float> v = number(n.text());
    if (v && std::isfinite(*v) && *v < 0)
      warning(n.value(), "negative",
              delta + " " + trim(n.text()) + " is negative: as the " + what +
                  " change of the value that counts as a change, it lets every value count as changed");
  }

  // A number read into a float: what the float does not keep.
  void kept_float(Position at, const std::string& what, std::string_view raw) {
    const std::string text = trim(raw);
    float v = 0;
    switch (float_fate(text, v)) {
      case FloatFate::kept:
        return;
      case FloatFate::overflow:
        error(at, "float-range",
              what + " " + text + " is beyond the range of a float: it reads as " + (v < 0 ? "-inf" : "inf"));
        return;
      case FloatFate::underflow:
        warning(at, "float-precision",
                what + " " + text + " is too small for a float: it reads as " + (std::signbit(v) ? "-0" : "0"));
        return;
      case FloatFate::rounded:
        warning(
            at, "float-precision",
            what + " " + text + " has more digits than a float keeps: it reads as " + qal3::number::shortest_text(v));
        return;
    }
  }

  // --- camera feature files ---------------------------------------------------------

  // What the feature file reader makes of the file, feature by feature,
  // against what the file says: each element named by a feature type is
  // one feature, in document order.
  void features(const Node& root) {
    using Feature = qal3::records::Description<QAL3GigEFeature>;
    qal3::records::OwnedList<QAL3GigEFeature> read;
    std::string said;  // the reader's first line, when it refuses the file
    int failed = 1;
    {
      auto keep = [&said](const qal3_message& m) noexcept {
        if (said.empty() && m.kind != QAL3_MESSAGE_READER_NOTE) said.assign(m.text, m.length);
      };
      const qal3::ThreadMessageSink sink(keep);
      std::string text(bytes_);
      try {
        failed = Feature::read_text(&text[0], text.size(), &read.items, {});
      } catch (const std::exception& e) {
        said = e.what();
      }
    }
    if (failed) {
      add({0, 0}, Severity::kError, "reader",
          "the feature file reader does not read the file" + (said.empty() ? std::string() : ": " + said));
      return;
    }
    std::vector<Node> elements;
    feature_elements(root, false, elements);
    if (elements.size() != read.items.size()) {
      add({0, 0}, Severity::kError, "reader",
          "the reader finds " + std::to_string(read.items.size()) + " features where the file has " +
              std::to_string(elements.size()) + " feature elements");
      return;
    }
    std::map<std::string, Node> names;
    for (std::size_t i = 0; i < elements.size(); ++i) feature(elements[i], *read.items[i], names);
  }

  static int feature_type(std::string_view element) {
    for (int t = 0; t < FEATURE_TYPE_MAX; ++t)
      if (element == FeatureTags[t]) return t;
    return -1;
  }

  // The feature elements below `n` in document order; an element outside
  // every feature that carries a Name and what a feature's fields are read
  // from is reported as a feature of no type the reader knows.
  void feature_elements(const Node& n, bool inside, std::vector<Node>& out) {
    for (const Node c : n.children()) {
      const bool is_feature = feature_type(c.name()) >= 0;
      if (is_feature)
        out.push_back(c);
      else if (!inside)
        unknown_type(c);
      feature_elements(c, inside || is_feature, out);  // bounded by the tree's depth limit
    }
  }

  void unknown_type(const Node& e) {
    const std::optional<Attribute> name = e.attribute(Attributes[ATTRIBUTE_NAME]);
    if (!name) return;
    bool fields = false;
    for (const char* tag : MoreTags) fields = fields || e.child(tag);
    if (!fields) return;
    std::string types;
    for (const char* t : FeatureTags) types += std::string(types.empty() ? "" : ", ") + t;
    warning(e.tag(), "feature",
            std::string(e.name()) + " " + quoted(std::string(name->value)) + " is no feature type the reader knows (" +
                types + "): it is not read");
  }

  void feature(const Node& e, const QAL3GigEFeature& f, std::map<std::string, Node>& names) {
    const std::string written_type(e.name());
    if (feature_type(written_type) != f.type)
      warning(e.tag(), "feature", written_type + " is read as a feature of type " + std::to_string(f.type));
    const std::optional<Attribute> name = e.attribute(Attributes[ATTRIBUTE_NAME]);
    if (!name) {
      warning(e.tag(), "feature",
              written_type + " without a " + Attributes[ATTRIBUTE_NAME] +
                  ": the feature is read without a name, and the listings leave it out");
    } else {
      const std::string label = written_type + " " + quoted(std::string(name->value));
      if (f.name != name->value)
        warning(doc_.attribute_position(e, *name), "feature", label + " is read with the name " + quoted(f.name));
      const auto it = names.emplace(f.name, e);
      if (!f.name.empty() && !it.second)
        warning(e.tag(), "feature", label + ": a feature of that name is already at " + line_of(it.first->second));
    }
    const std::string what = written_type + (name ? " " + quoted(std::string(name->value)) : std::string());
    text_read(e, MoreTags[MORE_TAGS_TOOLTIP], f.tooltip, what);
    text_read(e, MoreTags[MORE_TAGS_DESCRIPTION], f.description, what);
    // The alternative name: a PvRename's Name, else its text.
    const Node rename = descendant(e, MoreTags[MORE_TAGS_PVRENAME]);
    std::optional<Attribute> rename_name;
    if (rename) rename_name = rename.attribute(Attributes[ATTRIBUTE_NAME]);
    const std::string written = rename_name ? std::string(rename_name->value)
                                : rename    ? std::string(rename.text())
                                            : "";
    if (f.extension != written)
      warning(rename ? rename.tag() : e.tag(), "feature",
              what + ": its " + MoreTags[MORE_TAGS_PVRENAME] + " is read as " + quoted(f.extension) +
                  ", where the file gives " + quoted(written));
  }

  // The text of element `tag` directly inside feature `e`, against `read`.
  void text_read(const Node& e, const char* tag, const std::string& read, const std::string& what) {
    const Node t = e.child(tag);
    const std::string written = t ? std::string(t.text()) : std::string();
    if (read != written)
      warning(t ? t.tag() : e.tag(), "feature",
              what + ": its " + tag + " is read as " + quoted(read) + ", where the file gives " + quoted(written));
  }

  // The first element named `tag` below `n`, not inside a feature nested in it.
  static Node descendant(const Node& n, const char* tag) {
    for (const Node c : n.children()) {
      if (c.name() == tag) return c;
      if (feature_type(c.name()) >= 0) continue;
      if (const Node d = descendant(c, tag)) return d;
    }
    return {};
  }

  // --- trigger lists -------------------------------------------------------------

  void trigger_list(const Node& root) {
    for (const Node t : root.children())
      if (t.name() == kRecordTag) trigger(t);
  }

  void trigger(const Node& t) {
    needed(t, kChan.tag, "its channel name is empty");
    needed(t, kFunction.tag, "it reads as " + default_name(true));
    needed(t, kOperation.tag, "it reads as " + default_name(false));
    text_attribute(t, kChan, field(&qal3_user_case_trigger::channel), "channel name");
    text_attribute(t, kDescription, field(&qal3_user_case_trigger::description), "description");
    text_attribute(t, kGroup, field(&qal3_user_case_trigger::group), "group name");
    if (Node f = t.child(kFunction.tag)) {
      registry_name(f, true);
      parameters(f);
      behaviours(t, f);
    }
    if (Node op = t.child(kOperation.tag)) registry_name(op, false);
    for (const ListElement& limit : {kLowLimit, kUpperLimit})
      if (Node l = t.child(limit.tag))
        if (const std::optional<Attribute> a = l.attribute(limit.value)) float_attribute(l, *a);
    compared(t);
  }

  // A limit or mask as the trigger list reader takes it: the text given,
  // when it is a number, else the value a new record holds.
  struct Compared {
    Node element;                    // the element giving it; none when not given
    std::optional<Attribute> given;  // its attribute, when given
    bool readable = true;            // false when given and no number
    std::string text;                // as the condition shows it
  };

  Compared limit(const Node& t, const ListElement& e, float fresh, float& value) const {
    Compared c;
    c.element = t.child(e.tag);
    if (c.element) c.given = c.element.attribute(e.value);
    value = fresh;
    c.text = qal3::number::shortest_text(fresh);
    if (!c.given) return c;
    const std::optional<float> v = number(c.given->value);
    c.readable = v.has_value();
    if (v) {
      value = *v;
      c.text = trim(c.given->value);
    }
    return c;
  }

  // The built-in operation the reader takes for trigger `t`; null for a
  // site's own, an unknown name (reported as such) or a changed slot.
  const qal3::trigger::BuiltinOperation* operation_of(const Node& t, Node& op) const {
    op = t.child(kOperation.tag);
    int slot = qal3::trigger::kDefaultOperation;
    if (op) {
      const std::optional<Attribute> a = op.attribute(kOperation.value);
      if (!a) return nullptr;
      if (options_.known_names.count(trim(a->value))) return nullptr;
      slot = slot_of(std::string(a->value), false);
    }
    constexpr int kBuiltins = static_cast<int>(std::size(qal3::trigger::kOperations));
    if (slot < 0 || slot >= kBuiltins) return nullptr;
    const qal3::trigger::BuiltinOperation& b = qal3::trigger::kOperations[slot];
    return std::string_view(qal3_get_operation_string(slot)) == b.name ? &b : nullptr;
  }

  // The operation's condition with the trigger's limits and mask in it.
  static std::string condition(const qal3::trigger::BuiltinOperation& op, const std::string& low,
                               const std::string& upper, const std::string& mask) {
    std::string text = op.condition;
    for (const auto& [mark, value] :
         {std::pair<std::string, std::string>{"{LL}", low}, {"{UL}", upper}, {"{mask}", mask}})
      for (std::size_t at = 0; (at = text.find(mark, at)) != std::string::npos; at += value.size())
        text.replace(at, mark.size(), value);
    return std::string(op.name) + " " + text;
  }

  // What the trigger's operation compares against what the file gives: a
  // compared limit not given while the other is, a low limit above the
  // upper one, a mask that tests no bit.
  void compared(const Node& t) {
    Node op_node;
    const qal3::trigger::BuiltinOperation* op = operation_of(t, op_node);
    if (!op) return;
    qal3::records::OwnedList<qal3_user_case_trigger> fresh;
    const qal3_user_case_trigger& made = fresh.add();
    float low = 0, upper = 0;
    const Compared l = limit(t, kLowLimit, made.low, low);
    const Compared u = limit(t, kUpperLimit, made.upper, upper);
    if (!l.readable || !u.readable) return;  // reported as no number
    const Node mask_node = t.child(kBitMask.tag);
    const std::optional<Attribute> mask_attr = mask_node ? mask_node.attribute(kBitMask.value) : std::nullopt;
    unsigned mask = made.bitmask;
    if (mask_attr) {
      const std::string m = trim(mask_attr->value);
      if (m.size() < 3 || m.compare(0, 2, "0x") != 0) return;  // the schema reports the form
      char* end = nullptr;
      mask = static_cast<unsigned>(std::strtoul(m.c_str() + 2, &end, 16));
    }
    char mask_text[16];
    std::snprintf(mask_text, sizeof mask_text, "0x%X", mask);
    const std::string fires = condition(*op, l.text, u.text, mask_text);
    const Position at_op = op_node ? doc_.attribute_position(op_node, kOperation.value) : t.tag();
    if (op->mask && mask == 0) {
      warning(mask_attr ? doc_.attribute_position(mask_node, *mask_attr) : at_op, "mask-empty",
              (mask_attr ? std::string("BitMask ") + mask_text : "no BitMask, so the mask " + std::string(mask_text)) +
                  " tests no bit: " + fires);
      return;
    }
    std::string verdict;
    if (op->low && op->upper && low > upper) {
      // The condition puts the result between the limits, or outside them.
      const std::string_view c = op->condition;
      verdict = c.find("{LL}") < c.find("result") ? ", which no number meets: it never fires"
                                                  : ", which every number meets: it always fires";
    }
    if (unset_limit(op->low, l, u, kLowLimit.tag, fires + verdict) ||
        unset_limit(op->upper, u, l, kUpperLimit.tag, fires + verdict) || verdict.empty())
      return;
    warning(doc_.attribute_position(l.element, *l.given), "limits-crossed",
            "LowLimit " + l.text + " is above UpperLimit " + u.text + ": " + fires + verdict);
  }

  // A limit the operation compares, not given, while the other is: the
  // finding at the other's value.
  bool unset_limit(bool compares, const Compared& self, const Compared& other, const char* name,
                   const std::string& fires) {
    if (!compares || self.given || !other.given) return false;
    warning(doc_.attribute_position(other.element, *other.given), "limit-unset",
            std::string(name) + " is not given, only " + std::string(other.element.name()) + ": " + fires);
    return true;
  }

  // Each parameter is read from the first of its names given; the others
  // are ignored.
  void parameters(const Node& f) {
    for (const auto& names : qal3::trigger::kParameterAliases) {
      std::optional<Attribute> read;
      for (const char* name : names) {
        const std::optional<Attribute> a = *name ? f.attribute(name) : std::nullopt;
        if (!a) continue;
        if (!read) {
          read = a;
          float_attribute(f, *a);
        } else {
          warning(doc_.attribute_position(f, a->name), "not-read",
                  "Function " + std::string(a->name) + " " + trim(a->value) +
                      " is not read: " + std::string(read->name) + " gives the same parameter and is read");
        }
      }
    }
  }

  // What a built-in function does that the file shows and its reader may
  // not expect: a reversed sign, a window that ends before it starts,
  // limits beyond what single-precision squares hold.
  void behaviours(const Node& t, const Node& f) {
    const std::optional<Attribute> name = f.attribute(kFunction.value);
    if (!name || options_.known_names.count(trim(name->value))) return;
    const qal3::trigger::BuiltinFunction* builtin = qal3::trigger::builtin_function(trim(name->value));
    if (!builtin) return;
    if (builtin->reversed)
      warning(doc_.attribute_position(f, *name), "diffsum-sign",
              "function '" + std::string(builtin->name) +
                  "' gives the previous event's sum minus this event's: the opposite sign of the other DIFF functions");
    if (builtin->reads == qal3::trigger::Reads::window) window_order(f);
    if (builtin->squares)
      for (const ListElement& limit : {kLowLimit, kUpperLimit})
        if (const Node l = t.child(limit.tag))
          if (const std::optional<Attribute> a = l.attribute(limit.value)) rms_limit(l, *a, !builtin->diff);
  }

  // Parameter `index` of a Function as the reader takes it (the first of its
  // names given), when it is a number.
  static std::optional<float> parameter(const Node& f, std::size_t index, std::optional<Attribute>& given) {
    for (const char* name : qal3::trigger::kParameterAliases[index]) {
      given = *name ? f.attribute(name) : std::nullopt;
      if (given) return number(given->value);
    }
    return std::nullopt;
  }

  static std::optional<float> number(std::string_view raw) {
    const std::string text = trim(raw);
    char* end = nullptr;
    const float v = qal3::number::to_float(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size()) return std::nullopt;
    return v;
  }

  // The window's end counts from the spectrum's start, whatever the
  // window's own start: an end at or before the start gives an empty window
  // (on a spectrum whose axis starts at 0, as the evaluation selects it) or,
  // on a spectrum that starts past the end, a window that runs to the
  // spectrum's end. A negative end is the usual way to ask for the rest of
  // a spectrum whose axis starts at 0, and is not reported. A parameter the
  // file does not give is the one a new record holds.
  void window_order(const Node& f) {
    std::optional<Attribute> start_attr, end_attr;
    qal3::records::OwnedList<qal3_user_case_trigger> fresh;
    const qal3_user_case_trigger& made = fresh.add();
    float params[qal3::trigger::kParameters];
    static_assert(sizeof params == sizeof made.fparam, "one parameter per attribute row");
    std::copy(std::begin(made.fparam), std::end(made.fparam), params);
    const std::optional<float> start = parameter(f, 0, start_attr);
    const std::optional<float> end = parameter(f, 1, end_attr);
    if ((start_attr && !start) || (end_attr && !end)) return;  // not numbers: reported as such
    if (start) params[0] = *start;
    if (end) params[1] = *end;
    qal3::trigger::Window w;
    if (!(params[1] >= 0) || !(params[1] <= params[0]) ||
        qal3::trigger::select_window(params, 0.0f, 1.0f, INT_MAX, false, w))
      return;
    if (!start_attr && !end_attr) {
      warning(f.tag(), "window",
              "Function gives no window (" + parameter_names(0) + ", " + parameter_names(1) + "): it reads as " +
                  qal3::number::shortest_text(params[0]) + " to " + qal3::number::shortest_text(params[1]) +
                  ", an empty window, and the trigger never fires");
      return;
    }
    if (!start_attr || !end_attr) return;
    const std::string end_text = trim(end_attr->value);
    const std::string relation = params[1] < params[0] ? " is before " : " equals ";
    warning(doc_.attribute_position(f, *end_attr), "window",
            "Function " + std::string(end_attr->name) + " " + end_text + relation + std::string(start_attr->name) +
                " " + trim(start_attr->value) +
                ": the window is empty and the trigger fails, or, on a spectrum that starts past " + end_text +
                ", it runs to the end of the spectrum");
  }

  // The attribute names that give parameter `index`, as "a, b or c".
  static std::string parameter_names(std::size_t index) {
    std::string names;
    for (const char* name : qal3::trigger::kParameterAliases[index])
      if (*name) names += std::string(names.empty() ? "" : "/") + name;
    return names;
  }

  // RMS squares each sample in single precision: a square overflows above
  // sqrt(FLT_MAX) and loses precision below sqrt(FLT_MIN) (`small_too`: a
  // limit of a level, not of a change). STD does not.
  void rms_limit(const Node& l, const Attribute& a, bool small_too) {
    const std::optional<float> v = number(a.value);
    if (!v || !std::isfinite(*v)) return;
    static const float kLargest = std::sqrt(std::numeric_limits<float>::max());
    static const float kSmallest = std::sqrt(std::numeric_limits<float>::min());
    const std::string what = std::string(l.name()) + " " + std::string(a.name) + " " + trim(a.value);
    const std::string why = " squares each sample in single precision (STD does not)";
    if (std::fabs(*v) > kLargest)
      warning(doc_.attribute_position(l, a), "float-range",
              what + " is beyond what RMS gives: it" + why + ", and a sample above 1.8e+19 makes it inf");
    else if (small_too && *v != 0 && std::fabs(*v) < kSmallest)
      warning(doc_.attribute_position(l, a), "float-precision",
              what + " is below what RMS resolves: it" + why +
                  ", and samples below 1.1e-19 lose precision, below 2.6e-23 all of it");
  }

  void text_attribute(const Node& t, const ListElement& e, Field f, const std::string& what) {
    const Node n = t.child(e.tag);
    if (!n) return;
    if (const std::optional<Attribute> a = n.attribute(e.value))
      length_of(a->value, doc_.attribute_position(n, e.value), f, what);
  }

  void float_attribute(const Node& n, const Attribute& a) {
    kept_float(doc_.attribute_position(n, a), std::string(n.name()) + " " + std::string(a.name), a.value);
  }

  void registry_name(const Node& n, bool function) {
    const char* const attr = (function ? kFunction : kOperation).value;
    const std::optional<Attribute> a = n.attribute(attr);
    if (!a) return;  // the schema reports it
    const std::string name = trim(a->value);
    if (name.empty() || options_.known_names.count(name)) return;
    const std::string kind = function ? "function" : "operation";
    const std::string known = " (a site's own " + kind + " is named with --known)";
    const int slot = slot_of(name, function);
    if (slot >= 0 && !qal3::trigger::slot_free(slot, function)) return;
    if (slot >= 0) {
      error(doc_.attribute_position(n, attr), "unknown-name",
            kind + " " + quoted(name) + " names a free registry slot: " +
                (function ? "it always fails, and the trigger never fires" : "the trigger never fires") + known);
      return;
    }
    std::string message =
        kind + " " + quoted(name) + " is not in the registry: the trigger reads as " + default_name(function);
    const std::string suggestion = closest(name, function);
    if (!suggestion.empty()) message += "; did you mean " + quoted(suggestion) + "?";
    error(doc_.attribute_position(n, attr), "unknown-name", message + known);
  }

  // The slot the reader finds for `name`; -1 when none.
  static int slot_of(std::string name, bool function) {
    return function ? qal3_get_function_index(&name[0]) : qal3_get_operation_index(&name[0]);
  }

  // The built-in function (operation) the reader takes when a trigger names none.
  static std::string default_name(bool function) {
    return function ? qal3::trigger::kFunctions[qal3::trigger::kDefaultFunction].name
                    : qal3::trigger::kOperations[qal3::trigger::kDefaultOperation].name;
  }

  // Names of the slots in use.
  static std::vector<std::string> registry(bool function) {
    std::vector<std::string> names;
    for (int i = 0; i < qal3::trigger::kSlots; ++i) {
      const char* name = function ? qal3_get_function_string(i) : qal3_get_operation_string(i);
      if (name && !qal3::trigger::slot_free(i, function)) names.push_back(name);
    }
    return names;
  }

  // A registry name equal to `name` but for case, or for one character
  // more, less or different.
  static std::string closest(const std::string& name, bool function) {
    const std::string u = upper(name);
    const auto names = registry(function);
    for (const std::string& r : names)
      if (r == u) return r;
    for (const std::string& r : names)
      if (one_edit_apart(u, r)) return r;
    return {};
  }

  static bool one_edit_apart(const std::string& a, const std::string& b) {
    const std::string& s = a.size() <= b.size() ? a : b;
    const std::string& l = a.size() <= b.size() ? b : a;
    if (l.size() - s.size() > 1) return false;
    std::size_t i = 0;
    while (i < s.size() && s[i] == l[i]) ++i;
    if (s.size() == l.size()) return s.compare(i + 1, std::string::npos, l, i + 1, std::string::npos) == 0;
    return s.compare(i, std::string::npos, l, i + 1, std::string::npos) == 0;
  }

  const Document& doc_;
  std::string_view bytes_;
  const Options& options_;
  std::vector<Finding>& out_;
  std::vector<Position> superseded_;
};

}  // namespace

std::string trim(std::string_view s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string_view::npos) return {};
  const auto e = s.find_last_not_of(" \t\r\n");
  return std::string(s.substr(b, e - b + 1));
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

void check_rules(const Document& doc, std::string_view bytes, const Options& options, std::vector<Finding>& out) {
  std::vector<Finding> found;
  Checker checker(doc, bytes, options, found);
  checker.run();
  const auto superseded = [&](const Finding& f) {
    if (!f.from_schema) return false;
    for (const Position& p : checker.superseded())
      if (p.line == f.line && p.column == f.column) return true;
    return false;
  };
  out.erase(std::remove_if(out.begin(), out.end(), superseded), out.end());
  out.insert(out.end(), found.begin(), found.end());
}

}  // namespace check
