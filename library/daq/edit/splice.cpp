#include "splice.h"

#include <algorithm>
#include <optional>

#include "attr_tags_functions.h"
#include "trigger_parameters.h"

namespace qal3::edit {

namespace {

using check::Node;
constexpr std::size_t npos = std::string::npos;

bool blank(char c) { return c == ' ' || c == '\t'; }

// The blanks before `tag` when it is the first thing on its line.
std::optional<std::string> indent_before(std::string_view bytes, std::size_t tag) {
  if (tag == npos) return std::nullopt;
  std::size_t b = tag;
  while (b > 0 && blank(bytes[b - 1])) --b;
  if (b > 0 && bytes[b - 1] != '\n') return std::nullopt;
  return std::string(bytes.substr(b, tag - b));
}

std::optional<std::string> indent_of(const Source& s) { return indent_before(s.bytes, s.node.tag_offset()); }

// What one more level of nesting adds under `s`: its first child's indent
// less its own; a tab when neither says.
std::string step_under(const Source& s) {
  const std::optional<std::string> own = indent_of(s);
  for (const Node c : s.node.children()) {
    const std::optional<std::string> child = indent_of({s.bytes, c});
    if (own && child && child->size() >= own->size() && child->compare(0, own->size(), *own) == 0)
      return child->substr(own->size());
    break;
  }
  return "\t";
}

// The writer's spelling of a value (raw). The writers put out ASCII alone
// (xml_escape), which fits a document in any encoding; a value of other
// bytes is escaped from its text (decoded) as they escape it.
std::string portable(std::string_view raw, std::string_view decoded) {
  const bool ascii = std::all_of(raw.begin(), raw.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return ascii ? std::string(raw) : xml_escaped(std::string(decoded).c_str());
}

// The end of an attribute value starting at `value` (its closing quote).
std::size_t value_end(std::string_view bytes, std::size_t value) {
  if (value == npos || value == 0) return npos;
  return bytes.find(bytes[value - 1], value);
}

bool empty_tag(const Source& s) {
  const std::size_t a = s.node.after_start_offset();
  return a != npos && a >= 2 && s.bytes.substr(a - 2, 2) == "/>";
}

// The bytes between the start and the end tag.
std::pair<std::size_t, std::size_t> content(const Source& s) {
  const std::size_t a = s.node.after_start_offset();
  const std::size_t e = s.node.after_end_offset();
  if (a == npos || e == npos || empty_tag(s)) return {a, a};
  return {a, s.bytes.rfind("</", e - 1)};
}

// The attribute names a document may give a value under that the writer
// writes as `name`: the aliases of a trigger function's parameter, first
// the one the writer writes.
std::vector<std::string_view> spellings(std::string_view name) {
  for (const auto& row : qal3::trigger::kParameterAliases)
    if (name == row[0]) {
      std::vector<std::string_view> out;
      for (const char* alias : row)
        if (*alias) out.push_back(alias);
      return out;
    }
  return {name};
}

// The k-th child named `name` of `n`; none when there are fewer.
Node nth_child(const Node& n, std::string_view name, int k) {
  for (const Node c : n.children())
    if (c.name() == name && k-- == 0) return c;
  return {};
}

int occurrence(const Node& parent, const Node& child) {
  int k = 0;
  for (const Node c : parent.children()) {
    if (c == child) return k;
    if (c.name() == child.name()) ++k;
  }
  return k;
}

bool same_tree(const Node& a, const Node& b) {
  if (a.name() != b.name() || a.text() != b.text() || a.attribute_count() != b.attribute_count()) return false;
  for (std::size_t i = 0; i < a.attribute_count(); ++i) {
    const auto other = b.attribute(a.attribute_at(i).name);
    if (!other || other->value != a.attribute_at(i).value) return false;
  }
  auto ca = a.children().begin(), cb = b.children().begin();
  for (; ca != a.children().end() && cb != b.children().end(); ++ca, ++cb)
    if (!same_tree(*ca, *cb)) return false;
  return !(ca != a.children().end()) && !(cb != b.children().end());
}

// `raw` (a writer's element, its first line at the start) laid out with
// each line after the first at `base` plus one `step` per open element,
// its lines ended by `eol`.
std::string laid_out(std::string_view raw, const std::string& base, const std::string& step, const std::string& eol) {
  std::string out;
  int depth = 0;
  bool line_start = false;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (line_start) {
      while (i < raw.size() && blank(raw[i])) ++i;
      if (i >= raw.size()) break;
      const int d = raw.compare(i, 2, "</") == 0 ? depth - 1 : depth;
      out += base;
      for (int k = 0; k < d; ++k) out += step;
      line_start = false;
      --i;
      continue;
    }
    if (c == '\n') {
      out += eol;
      line_start = true;
    } else {
      out += c;
    }
    if (c == '<' && i + 1 < raw.size()) {
      if (raw[i + 1] == '/') {
        --depth;
      } else if (raw[i + 1] != '!' && raw[i + 1] != '?') {
        const std::size_t close = raw.find('>', i);
        if (close != npos && raw[close - 1] != '/') ++depth;
      }
    }
  }
  return out;
}

bool attribute_changes(const Source& at, const Source& was, const Source& now, std::vector<Change>& out,
                       std::string& why) {
  for (std::size_t i = 0; i < now.node.attribute_count(); ++i) {
    const check::Attribute a = now.node.attribute_at(i);
    const std::optional<check::Attribute> w = was.node.attribute(a.name);
    if (w && w->value == a.value) continue;
    if (a.value_offset == npos || value_end(now.bytes, a.value_offset) == npos) {
      why = "attribute " + std::string(a.name) + " not found in the writer's text";
      return false;
    }
    const std::string text =
        portable(now.bytes.substr(a.value_offset, value_end(now.bytes, a.value_offset) - a.value_offset), a.value);
    std::optional<check::Attribute> found;
    for (std::string_view name : spellings(a.name))
      if ((found = at.node.attribute(name))) break;
    if (found) {
      const std::size_t end = value_end(at.bytes, found->value_offset);
      if (end == npos) {
        why = "attribute " + std::string(a.name) + " of " + std::string(at.node.name()) + " not found in the text";
        return false;
      }
      out.push_back({found->value_offset, end, text});
      continue;
    }
    std::size_t close = at.node.after_start_offset();
    if (close == npos) {
      why = "the start tag of " + std::string(at.node.name()) + " not found in the text";
      return false;
    }
    close -= empty_tag(at) ? 2 : 1;
    while (close > 0 && (blank(at.bytes[close - 1]) || at.bytes[close - 1] == '\n' || at.bytes[close - 1] == '\r'))
      --close;
    out.push_back({close, close, " " + std::string(a.name) + "=\"" + text + "\""});
  }
  return true;
}

void text_change(const Source& at, const Source& was, const Source& now, std::vector<Change>& out) {
  if (was.node.text() == now.node.text()) return;
  const auto [nb, ne] = content(now);
  const std::string text = portable(now.bytes.substr(nb, ne - nb), now.node.text());
  const auto [b, e] = content(at);
  if (empty_tag(at)) {
    const std::size_t a = at.node.after_start_offset();
    out.push_back({a - 2, a, ">" + text + "</" + std::string(at.node.name()) + ">"});
  } else {
    out.push_back({b, e, text});
  }
}

// `raw` with its line ends and the blanks that lead its lines taken out.
std::string on_one_line(const std::string& raw) {
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\n') {
      out += raw[i];
      continue;
    }
    while (i + 1 < raw.size() && blank(raw[i + 1])) ++i;
  }
  return out;
}

}  // namespace

std::string element_text(const Source& s) {
  const std::size_t b = s.node.tag_offset(), e = s.node.after_end_offset();
  return b == npos || e == npos ? std::string() : std::string(s.bytes.substr(b, e - b));
}

Change removal(const Source& at) {
  std::size_t from = at.node.tag_offset(), to = at.node.after_end_offset();
  if (from == npos || to == npos || to > at.bytes.size()) return {npos, npos, {}};  // refused by applied()
  std::size_t b = from;
  while (b > 0 && blank(at.bytes[b - 1])) --b;
  std::size_t e = to;
  while (e < at.bytes.size() && (blank(at.bytes[e]) || at.bytes[e] == '\r')) ++e;
  if ((b == 0 || at.bytes[b - 1] == '\n') && (e == at.bytes.size() || at.bytes[e] == '\n')) {
    from = b;
    to = e < at.bytes.size() ? e + 1 : e;
  }
  return {from, to, {}};
}

std::string line_end(std::string_view bytes) {
  const std::size_t n = bytes.find('\n');
  return n != npos && n > 0 && bytes[n - 1] == '\r' ? "\r\n" : "\n";
}

Change insertion(const Source& beside, const std::string& raw, bool before) {
  const std::optional<std::string> indent = indent_of(beside);
  const std::string eol = line_end(beside.bytes);
  if (!indent) {
    const std::size_t at = before ? beside.node.tag_offset() : beside.node.after_end_offset();
    return {at, at, raw};
  }
  // The writer's element as the document lays out `beside`: on one line
  // when its children share its line, else nested by the document's step.
  const bool one_line = beside.node.has_children() && !indent_of({beside.bytes, *beside.node.children().begin()});
  const std::string text = one_line ? on_one_line(raw) : laid_out(raw, *indent, step_under(beside), eol);
  if (before) return {beside.node.tag_offset(), beside.node.tag_offset(), text + eol + *indent};
  // After the element's line end, so that a line ended by CR LF stays whole.
  std::size_t at = beside.node.after_end_offset();
  if (at == npos) return {at, at, {}};
  std::size_t e = at;
  while (e < beside.bytes.size() && blank(beside.bytes[e])) ++e;
  if (beside.bytes.compare(e, eol.size(), eol) == 0) return {e + eol.size(), e + eol.size(), *indent + text + eol};
  return {at, at, eol + *indent + text};
}

bool record_changes(const Source& at, const Source& was, const Source& now, std::vector<Change>& out,
                    std::string& why) {
  if (!attribute_changes(at, was, now, out, why)) return false;
  if (!now.node.has_children() && !was.node.has_children()) {
    text_change(at, was, now, out);
    return true;
  }
  Node last_present;          // the last child of `at` met in the writer's order
  std::vector<Node> pending;  // the writer's children that go before the first of `at`
  for (const Node c : now.node.children()) {
    const int k = occurrence(now.node, c);
    const Node w = nth_child(was.node, c.name(), k);
    const Node s = nth_child(at.node, c.name(), k);
    if (s && w) {
      if (!record_changes({at.bytes, s}, {was.bytes, w}, {now.bytes, c}, out, why)) return false;
      last_present = s;
      continue;
    }
    if (s) {  // the document holds it and the old text not: replace it whole
      out.push_back({s.tag_offset(), s.after_end_offset(), element_text({now.bytes, c})});
      last_present = s;
      continue;
    }
    if (w && same_tree(w, c)) continue;  // left out of the document and unchanged
    if (last_present) {
      out.push_back(insertion({at.bytes, last_present}, element_text({now.bytes, c}), false));
    } else {
      pending.push_back(c);
    }
  }
  for (const Node p : pending) {
    const Node first = at.node.has_children() ? *at.node.children().begin() : Node();
    if (!first) {
      why = "no element in " + std::string(at.node.name()) + " to place " + std::string(p.name()) + " beside";
      return false;
    }
    out.push_back(insertion({at.bytes, first}, element_text({now.bytes, p}), true));
  }
  for (const Node w : was.node.children()) {
    const int k = occurrence(was.node, w);
    if (nth_child(now.node, w.name(), k)) continue;
    const Node s = nth_child(at.node, w.name(), k);
    if (s) out.push_back(removal({at.bytes, s}));
  }
  return true;
}

bool applied(std::string_view bytes, std::vector<Change> changes, std::string& out) {
  std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) { return a.from < b.from; });
  out.clear();
  out.reserve(bytes.size());
  std::size_t at = 0;
  for (const Change& c : changes) {
    if (c.from < at || c.to < c.from || c.to > bytes.size()) return false;
    out.append(bytes.substr(at, c.from - at));
    out += c.text;
    at = c.to;
  }
  out.append(bytes.substr(at));
  return true;
}

}  // namespace qal3::edit
