#include "check_rules.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "user_case_trigger.h"

namespace check {

namespace {

// Highest event type a record or mask holds, and highest sub-block type.
constexpr long long kMaxEventType = 31;
constexpr long long kMaxEventListType = 32;
constexpr long long kMaxBlockType = 62;

// Field sizes of the records, without the terminating NUL.
constexpr std::size_t kLongText = 255;
constexpr std::size_t kNameText = 63;
constexpr std::size_t kDescText = 79;
constexpr std::size_t kUnitsText = 15;
constexpr std::size_t kServerBlockText = 254;
constexpr std::size_t kOldEnvPropText = 79;

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// A whole decimal integer (white space around it allowed); false otherwise.
bool parse_integer(const std::string& text, long long& out) {
  std::string t = trim(text);
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  if (t.empty()) return false;
  const auto r = std::from_chars(t.data(), t.data() + t.size(), out);
  return r.ec == std::errc() && r.ptr == t.data() + t.size();
}

// A whole floating point number; false otherwise.
bool parse_number(const std::string& text, double& out) {
  const std::string t = trim(text);
  if (t.empty()) return false;
  char* end = nullptr;
  out = std::strtod(t.c_str(), &end);
  return end == t.c_str() + t.size();
}

// How the writers put out a float ("%f"), and whether reading that text
// back gives the same float.
bool float_survives(double value, std::string& written) {
  const float f = static_cast<float>(value);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%f", static_cast<double>(f));
  written = buf;
  return std::strtof(buf, nullptr) == f || std::isnan(f);
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The findings of one document, with the positions of its nodes.
class Checker {
 public:
  Checker(const Document& doc, const Options& options, std::vector<Finding>& out)
      : doc_(doc), options_(options), out_(out) {}

  void run() {
    const Node* root = doc_.root();
    if (!root) return;
    switch (doc_.family()) {
      case Family::kEventList: event_list(*root); break;
      case Family::kChanDescriptions: chan_descriptions(*root); break;
      case Family::kDaqVariables: daq_variables(*root); break;
      case Family::kEnvDict: env_dict(*root); break;
      case Family::kTriggerList: trigger_list(*root); break;
      case Family::kUnknown: break;
    }
  }

 private:
  void add(Position at, Severity severity, const std::string& message) {
    out_.push_back({at.line, at.column, severity, message, false});
  }
  void error(Position at, const std::string& message) { add(at, Severity::kError, message); }
  void warning(Position at, const std::string& message) { add(at, Severity::kWarning, message); }

  static std::string line_of(const Node& n) { return "line " + std::to_string(n.tag.line); }

  // Text of element `name` in `parent` longer than `limit` characters.
  void length(const Node* n, std::size_t limit, const std::string& what) {
    if (n) length_of(n->text, n->value, limit, what);
  }
  void length_of(const std::string& text, Position at, std::size_t limit, const std::string& what) {
    if (text.size() > limit)
      warning(at, what + " is " + std::to_string(text.size()) + " characters long: it is cut to " +
                      std::to_string(limit) + " when read");
  }

  // Integer text of `n` within [lo, hi]; what lies outside is reported.
  void type_range(const Node* n, long long hi, const std::string& what, const std::string& consequence) {
    long long v = 0;
    if (!n || !parse_integer(n->text, v)) return;  // the schema reports the form
    if (v < 0 || v > hi)
      error(n->value, what + " " + std::to_string(v) + " is out of range 0 to " + std::to_string(hi) + ": " +
                          consequence);
  }

  // --- event lists ---------------------------------------------------------

  void event_list(const Node& root) {
    for (const auto& ev : root.children)
      if (ev->name == "EVENT") event(*ev);
  }

  void event(const Node& ev) {
    // The reader walks the elements of an EVENT in document order whatever
    // their nesting; so does this check.
    std::vector<const Node*> flat;
    flatten(ev, flat);
    bool block_open = false;
    bool list_open = false;
    for (const Node* n : flat) {
      if (n->name == "TYPE") {
        type_range(n, kMaxEventListType, "event type",
                   "no entry is made and what follows up to the next TYPE is ignored");
        block_open = list_open = false;
      } else if (n->name == "SBLOCK") {
        server_block(*n);
        block_open = !trim(n->lead()).empty() || !n->lead().empty();
        list_open = false;
      } else if (n->name == "CHLIST") {
        if (!block_open) warning(n->tag, "channel list without a server block before it: ignored");
        list_open = block_open;
      } else if (n->name == "CHAN") {
        if (!list_open) warning(n->tag, "channel " + quoted(trim(n->text)) + " outside a channel list: ignored");
      } else if (n->name == "TMASK" || n->name == "MINTIMESEC" || n->name == "MINTIMEUSEC" ||
                 n->name == "PRIORITY") {
        unsigned_number(*n);
      }
    }
  }

  static void flatten(const Node& n, std::vector<const Node*>& out) {
    for (const auto& c : n.children) {
      out.push_back(c.get());
      flatten(*c, out);  // bounded by the tree's depth limit
    }
  }

  void server_block(const Node& sb) {
    if (sb.lead().empty()) {
      error(sb.tag, "server block without a name directly after its start tag: it is ignored");
      return;
    }
    if (trim(sb.lead()).empty()) {
      error(sb.tag, "server block name is only white space: write the name directly after <SBLOCK>");
    } else if (sb.lead() != trim(sb.lead()) && !sb.children.empty()) {
      warning(sb.value, "white space around the server block name " + quoted(trim(sb.lead())) +
                            " becomes part of the name");
    }
    length_of(sb.lead(), sb.value, kServerBlockText, "server block name");
  }

  void unsigned_number(const Node& n) {
    const std::string t = trim(n.text);
    if (t.size() > 2 && t[0] == '0' && t[1] == 'x') return;  // eight hex digits at most (schema)
    long long v = 0;
    if (parse_integer(t, v) && v > 0xFFFFFFFFLL)
      error(n.value, n.name + " " + t + " does not fit in 32 bits");
  }

  // --- channel descriptions --------------------------------------------------

  struct Seen {
    const Node* node;
    std::string daq_name;
  };

  void repeated_property(const Node& channel, const Node* prop, const Node* name,
                         std::map<std::string, Seen>& props, std::map<std::string, const Node*>& names) {
    const std::string daq = name ? name->text : "";
    if (prop && !prop->text.empty()) {
      const auto it = props.find(prop->text);
      if (it != props.end()) {
        const std::string what = daq.empty() ? "this channel" : "DAQ name " + quoted(daq);
        warning(prop->value, "property " + quoted(prop->text) + " already described at " +
                                 line_of(*it->second.node) + ": a merge or conversion drops " + what +
                                 ", keeping of this channel only its event type, stream and data type");
      } else {
        props.emplace(prop->text, Seen{&channel, daq});
      }
    }
    if (!daq.empty()) {
      const auto it = names.find(daq);
      if (it != names.end())
        warning(name->value, "DAQ name " + quoted(daq) + " already used at " + line_of(*it->second));
      else
        names.emplace(daq, &channel);
    }
  }

  void chan_descriptions(const Node& root) {
    std::map<std::string, Seen> props;
    std::map<std::string, const Node*> names;
    for (const auto& ch : root.children) {
      if (ch->name != "CHANNEL") continue;
      const Node& c = *ch;
      repeated_property(c, c.child("PROP"), c.child("NAME"), props, names);
      type_range(c.child("EVTYPE"), kMaxEventType, "event type", "as an event-type mask it reads as 0");
      type_range(c.child("DTYPE"), kMaxBlockType, "data type", "as a sub-block-type mask it reads as 0");
      const Node* name = c.child("NAME");
      if (!name || trim(name->text).empty())
        warning(name ? name->value : c.tag, "channel without a DAQ name: written as '!!!UNDEFINED!!!'");
      length(c.child("SB_NAME"), kLongText, "server block name");
      length(c.child("PROP"), kLongText, "property");
      length(name, kLongText, "DAQ name");
      length(c.child("SUBSYSTEM"), kNameText, "subsystem");
      length(c.child("UNITS"), kUnitsText, "units");
      length(c.child("DESC"), kLongText, "description");
      numbered(c, "BIT", "bit");
      numbered(c, "DIM", "dimension");
      for (const auto& sub : c.children) {
        if (sub->name == "BIT") {
          length(sub->child("BIT_NAME"), kNameText, "bit name");
          length(sub->child("BIT_DESCR"), kDescText, "bit description");
        } else if (sub->name == "DIM") {
          length(sub->child("DIM_NAME"), kNameText, "dimension name");
          length(sub->child("DIM_UNITS"), kUnitsText, "dimension units");
          length(sub->child("DIM_DESCR"), kDescText, "dimension description");
          numbered(*sub, "STAT", "statistic");
          for (const auto& st : sub->children) {
            if (st->name != "STAT") continue;
            length(st->child("STAT_NAME"), kNameText, "statistic name");
            length(st->child("STAT_UNITS"), kUnitsText, "statistic units");
            length(st->child("STAT_DESCR"), kDescText, "statistic description");
          }
        }
      }
    }
  }

  // BIT, DIM and STAT: the number written before the children; repeated
  // numbers in one parent.
  void numbered(const Node& parent, const std::string& element, const std::string& what) {
    std::map<long long, const Node*> seen;
    for (const auto& n : parent.children) {
      if (n->name != element) continue;
      long long v = 0;
      if (!parse_integer(n->lead(), v)) {
        error(n->lead().empty() || trim(n->lead()).empty() ? n->tag : n->value,
              what + " number " + quoted(trim(n->lead())) + " is not a number: it reads as 0");
        continue;
      }
      number_once(seen, v, *n, n->value, what);
    }
  }

  void number_once(std::map<long long, const Node*>& seen, long long v, const Node& n, Position at,
                   const std::string& what) {
    const auto it = seen.find(v);
    if (it != seen.end())
      warning(at, what + " " + std::to_string(v) + " already described at " + line_of(*it->second));
    else
      seen.emplace(v, &n);
  }

  // --- DAQ variables -----------------------------------------------------------

  void daq_variables(const Node& root) {
    std::map<std::string, Seen> props;
    std::map<std::string, const Node*> names;
    for (const auto& ch : root.children) {
      const Node& c = *ch;
      if (c.name != "DaqFloat" && c.name != "DaqBits" && c.name != "DaqFloatMatrix") continue;
      repeated_property(c, c.child("nexol"), c.child("daqName"), props, names);
      type_range(c.child("evType"), kMaxEventType, "event type", "as an event-type mask it reads as 0");
      length(c.child("nexol"), kLongText, "property");
      length(c.child("daqName"), kLongText, "DAQ name");
      length(c.child("subSystem"), kNameText, "subsystem");
      length(c.child("description"), kLongText, "description");
      length(c.child("units"), kUnitsText, "units");
      long long first = 0;
      const Node* fi = c.child("firstIndex");
      if (fi && parse_integer(fi->text, first) && first != 0)
        warning(fi->value, "firstIndex " + std::to_string(first) +
                               " is not read: the number of values is lastIndex + 1, and the writers write 0");
      std::map<long long, const Node*> bits;
      std::map<long long, const Node*> dims;
      for (const auto& sub : c.children) {
        if (sub->name == "bitTitle") {
          bit_title(*sub, bits);
        } else if (sub->name == "dimension") {
          long long id = 0;
          const Attribute* a = sub->attribute("id");
          if (a && parse_integer(a->value, id)) number_once(dims, id, *sub, doc_.attribute_position(*sub, "id"), "dimension");
          length(sub->child("name"), kNameText, "dimension name");
          length(sub->child("description"), kDescText, "dimension description");
          length(sub->child("units"), kUnitsText, "dimension units");
        }
      }
    }
  }

  void bit_title(const Node& bt, std::map<long long, const Node*>& bits) {
    long long bit = 0;
    const Attribute* a = bt.attribute("bit");
    if (!a || !parse_integer(a->value, bit)) return;  // the schema reports it
    number_once(bits, bit, bt, doc_.attribute_position(bt, "bit"), "bit");
    if (trim(bt.text).empty()) warning(bt.tag, "bit " + std::to_string(bit) + " has no title");
    length(&bt, kNameText, "bit title");
  }

  // --- environment index dictionaries ----------------------------------------

  void env_dict(const Node& root) {
    std::map<long long, const Node*> indexes;
    std::map<std::string, const Node*> props;
    for (const auto& ch : root.children) {
      if (ch->name != "CHANNEL") continue;
      const Node* index = ch->child("INDEX");
      long long v = 0;
      if (index && parse_integer(index->text, v)) {
        const auto it = indexes.find(v);
        if (it != indexes.end())
          error(index->value, "index " + std::to_string(v) + " already used at " + line_of(*it->second));
        else
          indexes.emplace(v, ch.get());
      }
      const Node* prop = ch->child("PROP");
      if (prop && !prop->text.empty()) {
        const auto it = props.find(prop->text);
        if (it != props.end())
          warning(prop->value, "property " + quoted(prop->text) + " already listed at " + line_of(*it->second));
        else
          props.emplace(prop->text, ch.get());
        if (prop->text.size() > kLongText)
          length(prop, kLongText, "property");
        else if (prop->text.size() > kOldEnvPropText)
          warning(prop->value, "property is " + std::to_string(prop->text.size()) +
                                   " characters long: readers of the old layout cut it to 79");
      }
      for (const char* delta : {"DABS", "DREL"}) kept_float(ch->child(delta), delta);
    }
  }

  // A number the writers put out with six decimals.
  void kept_float(const Node* n, const std::string& what) {
    double v = 0;
    if (!n || !parse_number(n->text, v)) return;
    kept_float_value(v, n->value, what, trim(n->text));
  }
  void kept_float_value(double v, Position at, const std::string& what, const std::string& text) {
    std::string written;
    if (!float_survives(v, written))
      warning(at, what + " " + text + " is written back as " + written + " (six decimals)");
  }

  // --- trigger lists -------------------------------------------------------------

  void trigger_list(const Node& root) {
    for (const auto& t : root.children)
      if (t->name == "USERTRIGGER") trigger(*t);
  }

  void trigger(const Node& t) {
    if (const Node* chan = t.child("Chan")) text_attribute(*chan, "name", "channel name");
    if (const Node* d = t.child("Description")) text_attribute(*d, "text", "description");
    if (const Node* g = t.child("Group")) text_attribute(*g, "name", "group name");
    if (const Node* f = t.child("Function")) {
      registry_name(*f, true);
      for (const Attribute& a : f->attributes)
        if (a.name != "name") float_attribute(*f, a);
    }
    if (const Node* op = t.child("Operation")) registry_name(*op, false);
    for (const char* limit : {"LowLimit", "UpperLimit"})
      if (const Node* l = t.child(limit))
        if (const Attribute* a = l->attribute("value")) float_attribute(*l, *a);
  }

  void text_attribute(const Node& n, const std::string& attr, const std::string& what) {
    if (const Attribute* a = n.attribute(attr))
      length_of(a->value, doc_.attribute_position(n, attr), kLongText, what);
  }

  void float_attribute(const Node& n, const Attribute& a) {
    double v = 0;
    if (parse_number(a.value, v))
      kept_float_value(v, doc_.attribute_position(n, a), n.name + " " + a.name, trim(a.value));
  }

  void registry_name(const Node& n, bool function) {
    const Attribute* a = n.attribute("name");
    if (!a) return;  // the schema reports it
    const std::string name = trim(a->value);
    if (name.empty() || registered(name, function) || options_.known_names.count(name)) return;
    const std::string kind = function ? "function" : "operation";
    std::string message = kind + " " + quoted(name) + " is not in the registry: the trigger reads as " +
                          (function ? "MEAN" : "GT");
    const std::string suggestion = closest(name, function);
    if (!suggestion.empty()) message += "; did you mean " + quoted(suggestion) + "?";
    message += " (a site's own " + kind + " is named with --known)";
    error(doc_.attribute_position(n, "name"), message);
  }

  // Names of the slots in use: a free slot's help text is "undefined".
  static std::vector<std::string> registry(bool function) {
    std::vector<std::string> names;
    for (int i = 0; i < 32; ++i) {
      const char* help = function ? qal3_get_function_help(i) : qal3_get_operation_help(i);
      const char* name = function ? qal3_get_function_string(i) : qal3_get_operation_string(i);
      if (!help || !name) continue;
      const std::string h = help;
      static const std::string kFree = " : undefined";
      if (h.size() >= kFree.size() && h.compare(h.size() - kFree.size(), kFree.size(), kFree) == 0) continue;
      names.push_back(name);
    }
    return names;
  }

  static bool registered(const std::string& name, bool function) {
    const auto names = registry(function);
    return std::find(names.begin(), names.end(), name) != names.end();
  }

  // A registry name equal to `name` but for case, or for one character
  // more, less or different.
  static std::string closest(const std::string& name, bool function) {
    const std::string u = upper(name);
    for (const std::string& r : registry(function))
      if (r == u) return r;
    for (const std::string& r : registry(function))
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
  const Options& options_;
  std::vector<Finding>& out_;
};

}  // namespace

void check_rules(const Document& doc, const Options& options, std::vector<Finding>& out) {
  Checker(doc, options, out).run();
}

std::size_t Report::errors() const {
  return static_cast<std::size_t>(std::count_if(findings.begin(), findings.end(),
                                                [](const Finding& f) { return f.severity == Severity::kError; }));
}

std::size_t Report::warnings() const { return findings.size() - errors(); }

Report check_document(const std::string& file, const std::string& bytes, const std::string& schema_dir,
                      const Options& options) {
  Report report;
  Document doc(file, bytes);
  const bool readable = doc.read(schema_dir, report.findings);
  report.family = doc.family();
  if (readable) check_rules(doc, options, report.findings);
  std::stable_sort(report.findings.begin(), report.findings.end(), [](const Finding& a, const Finding& b) {
    return a.line != b.line ? a.line < b.line : a.column < b.column;
  });
  if (options.strict)
    for (Finding& f : report.findings) f.severity = Severity::kError;
  return report;
}

std::size_t warn_dropped(const std::string& file, const std::string& bytes, bool strict, bool quiet) {
  Options options;
  const Report report = check_document(file, bytes, schema_directory(), options);
  if (quiet && !strict) return report.findings.size();
  std::fflush(stdout);
  for (Finding f : report.findings) {
    f.severity = strict ? Severity::kError : Severity::kWarning;
    std::fprintf(stderr, "%s\n", format_finding(file, f).c_str());
  }
  return report.findings.size();
}

bool warn_dropped_inputs(const std::vector<cli::Input>& inputs, bool strict, bool quiet) {
  std::size_t found = 0;
  for (const cli::Input& in : inputs) found += warn_dropped(in.name, in.text, strict, quiet);
  return strict && found > 0;
}

bool parse_name_list(const std::string& text, std::set<std::string>& out) {
  std::string::size_type begin = 0;
  for (;;) {
    const auto comma = text.find(',', begin);
    const std::string name = trim(text.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin));
    if (name.empty()) return false;
    out.insert(name);
    if (comma == std::string::npos) return true;
    begin = comma + 1;
  }
}

}  // namespace check
