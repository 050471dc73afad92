#include "check_folder.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>

#include "check_rules.h"
#include "number_text.h"
#include "trigger_parameters.h"

namespace check {

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// The trimmed text of child `name` of `n`, with its position.
std::string child_text(const Node& n, const char* name, Position& at) {
  const Node c = n.child(name);
  if (!c) return {};
  at = c.value();
  return trim(c.text());
}

// A DB key as the channel readers read it: -1 when there is none.
std::string db_key_of(const std::string& text) {
  if (text.empty()) return "-1";
  return std::to_string(qal3::number::clamp_to_int(qal3::number::to_long(text.c_str(), nullptr)));
}

void flatten(const Node& n, std::vector<Node>& out) {
  for (const Node c : n.children()) {
    out.push_back(c);
    flatten(c, out);  // bounded by the tree's depth limit
  }
}

}  // namespace

void Folder::add(const std::string& file, const Document& doc) {
  const Node root = doc.root();
  if (!root) return;
  const std::size_t index = files_.size();
  files_.push_back(file);
  const auto place = [index](Position at) { return Place{index, at}; };
  switch (doc.family()) {
    case Family::kChanDescriptions:
    case Family::kDaqVariables: {
      const bool chan = doc.family() == Family::kChanDescriptions;
      for (const Node c : root.children()) {
        if (chan ? c.name() != "CHANNEL"
                 : c.name() != "DaqFloat" && c.name() != "DaqBits" && c.name() != "DaqFloatMatrix")
          continue;
        Described d;
        Position prop_at, name_at, key_at;
        d.property = child_text(c, chan ? "PROP" : "nexol", prop_at);
        d.daq_name = child_text(c, chan ? "NAME" : "daqName", name_at);
        d.db_key = db_key_of(child_text(c, chan ? "DB_KEY" : "DBKey", key_at));
        if (d.property.empty()) continue;  // not read
        d.place = place(prop_at);
        if (!descriptions_) first_description_ = d.place;
        descriptions_ = true;
        describe(d);
        if (!d.daq_name.empty()) {
          Described n = d;
          n.place = place(name_at);
          const auto it = daq_names_.emplace(d.daq_name, n);
          if (!it.second && it.first->second.place.file != index && it.first->second.property != d.property)
            shared_names_.emplace_back(it.first->second, n);
          know(d.daq_name, n.place);
        }
      }
      break;
    }
    case Family::kTriggerList:
      for (const Node t : root.children()) {
        namespace names = qal3::trigger::names;
        const Node chan = t.name() == names::kRecordTag ? t.child(names::kChan.tag) : Node();
        const std::optional<Attribute> a = chan ? chan.attribute(names::kChan.value) : std::nullopt;
        if (a) refer(Kind::trigger, place(doc.attribute_position(chan, *a)), trim(a->value));
      }
      break;
    case Family::kEventList: {
      std::vector<Node> all;
      flatten(root, all);
      for (const Node n : all)
        if (n.name() == "CHAN") refer(Kind::event_list, place(n.value()), trim(n.text()));
      break;
    }
    case Family::kEnvDict:
      for (const Node c : root.children()) {
        Position at;
        const std::string prop = c.name() == "CHANNEL" ? child_text(c, "PROP", at) : std::string();
        if (!prop.empty()) refer(Kind::dictionary, place(at), prop);
      }
      break;
    case Family::kGigE:
    case Family::kUnknown:
      break;
  }
}

// The first description of a property is kept; a later one in another file
// that gives it another DAQ name or DB key is remembered with it. Repeats
// in one file are the file's own finding.
void Folder::describe(const Described& d) {
  const auto it = properties_.emplace(d.property, d);
  know(d.property, d.place);
  if (it.second) return;
  const Described& first = it.first->second;
  if (first.place.file == d.place.file) return;
  if (first.daq_name != d.daq_name || first.db_key != d.db_key) differing_.emplace_back(first, d);
}

void Folder::know(const std::string& name, const Place& place) {
  if (known_.emplace(name, place).second) known_order_.push_back(name);
}

Folder::NearIndex Folder::near_index() const {
  NearIndex index;
  for (const std::string& name : known_order_) {
    const Place& place = known_.at(name);
    const std::string u = upper(name);
    index.upper.emplace(u, std::make_pair(name, place));
    for (std::size_t i = 0; i < u.size(); ++i)
      index.shortened.emplace(std::string(u).erase(i, 1), std::make_pair(name, place));
  }
  return index;
}

// A name is reported once for each kind of reference, at its first place.
void Folder::refer(Kind kind, const Place& place, std::string name) {
  if (name.empty()) return;
  const auto it =
      referred_.emplace(std::string(1, static_cast<char>('0' + static_cast<int>(kind))) + name, references_.size());
  if (it.second)
    references_.emplace_back(kind, Reference{place, std::move(name)});
  else
    ++references_[it.first->second].second.times;
}

std::string Folder::where(const Place& p) const {
  return files_[p.file] + ":" + std::to_string(p.at.line) + ":" + std::to_string(p.at.column);
}

const std::pair<std::string, Folder::Place>* Folder::near(const NearIndex& index, const std::string& name) {
  const std::string u = upper(name);
  for (const auto* map : {&index.upper, &index.shortened}) {  // another case; a character left out
    const auto it = map->find(u);
    if (it != map->end()) return &it->second;
  }
  for (std::size_t i = 0; i < u.size(); ++i) {  // a character more; one different or swapped
    const std::string shorter = std::string(u).erase(i, 1);
    for (const auto* map : {&index.upper, &index.shortened}) {
      const auto it = map->find(shorter);
      if (it != map->end()) return &it->second;
    }
  }
  return nullptr;
}

Finding Folder::unknown(Kind kind, const Reference& r, const std::pair<std::string, Place>* n) const {
  static const char* const kWhat[] = {"trigger channel", "event list channel", "dictionary property"};
  static const char* const kConsequence[] = {
      "the trigger reads a channel no description names",
      "the event list asks for a channel no description names",
      "the dictionary numbers a property no description names",
  };
  const int k = static_cast<int>(kind);
  std::string message = std::string(kWhat[k]) + " " + quoted(r.name) +
                        (r.times > 1 ? " (" + std::to_string(r.times) + " times, the first here)" : "") +
                        " is no property or DAQ name of the channel descriptions checked" +
                        (n ? std::string() : " (the first at " + where(first_description_) + ")") + ": " +
                        kConsequence[k];
  if (n) message += "; did you mean " + quoted(n->first) + " (" + where(n->second) + ")?";
  return {r.place.at.line, r.place.at.column, Severity::kWarning, message, false, "undescribed"};
}

std::vector<std::pair<std::string, Finding>> Folder::findings() const {
  std::vector<std::pair<Place, Finding>> found;
  const auto add = [&found](const Place& p, const char* code, std::string message) {
    found.push_back({p, Finding{p.at.line, p.at.column, Severity::kWarning, std::move(message), false, code}});
  };
  for (const auto& [first, again] : differing_) {
    std::string what = "DAQ name " + quoted(again.daq_name);
    if (first.db_key != again.db_key) what += " and DB key " + quoted(again.db_key);
    add(again.place, "described-differently",
        "property " + quoted(again.property) + " is described at " + where(first.place) + " with DAQ name " +
            quoted(first.daq_name) + (first.db_key != again.db_key ? " and DB key " + quoted(first.db_key) : "") +
            ", here with " + what + ": a merge keeps the description of the file given first and drops the other");
  }
  for (const auto& [first, again] : shared_names_)
    add(again.place, "shared-daq-name",
        "DAQ name " + quoted(again.daq_name) + " names property " + quoted(again.property) + " here and property " +
            quoted(first.property) + " at " + where(first.place) + ": a merge keeps both under one DAQ name");
  std::optional<NearIndex> index;
  if (descriptions_)
    for (const auto& [kind, r] : references_) {
      if (known_.count(r.name)) continue;
      if (!index) index = near_index();
      const auto* n = near(*index, r.name);
      // A dictionary numbers environment channels that descriptions need
      // not describe: only a name a description nearly has is a mistake.
      if (kind == Kind::dictionary && !n) continue;
      found.push_back({r.place, unknown(kind, r, n)});
    }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    const Place &x = a.first, &y = b.first;
    if (x.file != y.file) return x.file < y.file;
    return x.at.line != y.at.line ? x.at.line < y.at.line : x.at.column < y.at.column;
  });
  std::vector<std::pair<std::string, Finding>> out;
  out.reserve(found.size());
  for (auto& f : found) out.emplace_back(files_[f.first.file], std::move(f.second));
  return out;
}

}  // namespace check
