// qal3 diff and qal3 show: documents compared record by record, and the
// canonical form of one document, both made from the record descriptions.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <string>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cli_commands.h"
#include "cli_forms.h"
#include "cli_input.h"
#include "cli_output.h"
#include "record_fields.h"
#include "record_text.h"
#include "user_case_trigger.h"

namespace {

using qal3::records::Description;
using qal3::records::Kind;

// diff(1)'s exit statuses.
enum DiffExit : int { kSame = 0, kDifferent = 1, kTrouble = 2 };

// One value of a record: where it is (a field's name, bits[1].bit_name for
// a field of a list's entry) and its text as read (numbers as the listings
// show them, so that two spellings of one float are one text).
struct Leaf {
  std::string path;
  std::string text;
};

// What a record holds, compared: every field but counts (their lists are
// compared), time stamps (they say when, not what) and fields no document
// holds.
constexpr bool compared(Kind kind) {
  return !qal3::records::is_derived(kind) && kind != Kind::time && kind != Kind::unwritten;
}

template <class R>
void leaves_of(const R& record, const std::string& prefix, std::vector<Leaf>& out);

// Appends the leaves of one member, named `path`, to `out`.
struct Leaves {
  std::string path;
  Kind kind;
  std::vector<Leaf>& out;

  void add(std::string text) const { out.push_back({path, std::move(text)}); }
  std::string at(std::size_t i) const { return path + "[" + std::to_string(i) + "]"; }
  template <class V>
  void integer(V v) const {
    add(qal3::records::is_slot(kind) ? slot_text(static_cast<int>(v)) : cli::ValueText{kind}.integer(v));
  }
  // A registry slot by the name registered there, or by its number.
  std::string slot_text(int slot) const {
    const char* name =
        kind == Kind::function_slot ? qal3_get_function_string(slot) : qal3_get_operation_string(slot);
    return name && *name ? name : std::to_string(slot);
  }
  void real(float v) const { add(cli::ValueText{kind}.real(v)); }
  template <std::size_t N>
  void reals(const float (&v)[N]) const {
    for (std::size_t i = 0; i < N; ++i) Leaves{at(i), kind, out}.real(v[i]);
  }
  template <std::size_t N>
  void text(const char (&v)[N]) const {
    add(cli::field_text(v));
  }
  void string(const std::string& v) const { add(v); }
  void texts(const std::vector<char*>& v) const {
    for (std::size_t i = 0; i < v.size(); ++i) Leaves{at(i), kind, out}.add(v[i] ? v[i] : "");
  }
  template <class T>
  void records(const std::vector<T*>& v) const {
    for (std::size_t i = 0; i < v.size(); ++i)
      if (v[i]) leaves_of(*v[i], at(i) + ".", out);
  }
  template <class T>
  void record(const T& v) const {
    leaves_of(v, path + ".", out);
  }
};

template <class R>
void leaves_of(const R& record, const std::string& prefix, std::vector<Leaf>& out) {
  qal3::records::for_each_field<R>([&](const auto& field) {
    if (compared(field.kind))
      qal3::records::visit_value(field.of(record), Leaves{prefix + field.name, field.kind, out});
  });
}

// A record as compared: what identifies it ("prop_name=X") and its leaves.
struct Record {
  std::string identity;
  std::vector<Leaf> leaves;
};

// A document read: its family (as messages call it) and its records.
struct Document {
  std::string name;  // as the user gave it
  const char* family = nullptr;
  std::vector<Record> records;
};

template <class R>
std::string identity_of(const std::vector<Leaf>& leaves) {
  static_assert(qal3::records::has_identity<R>(), "an identity field is not a field");
  std::string id;
  for (const char* name : Description<R>::identity)
    for (const Leaf& leaf : leaves)
      if (leaf.path == name) id += (id.empty() ? "" : " ") + leaf.path + "=" + leaf.text;
  return id;
}

// Whether `root` is a root element of the family of R.
template <class D, class = void>
struct OtherRoot {
  static bool is(const std::string&) { return false; }
};
template <class D>
struct OtherRoot<D, std::void_t<decltype(D::other_root)>> {
  static bool is(const std::string& root) { return root == D::other_root; }
};
template <class R>
bool of_family(const std::string& root) {
  using D = Description<R>;
  return root == D::root || OtherRoot<D>::is(root);
}

template <class R>
bool read_records(cli::Input& in, Document& doc) {
  using D = Description<R>;
  qal3::records::OwnedList<R> list;
  doc.family = D::document;
  // A named file is read by the file reader, as the chan commands read it.
  const auto file = [&](char* path) { return D::read_file(path, &list.items, {}); };
  const auto text = [&](char* xml) { return D::read_text(xml, std::strlen(xml), &list.items, {}); };
  if (!(in.from_stdin ? cli::parse_input(in, D::document, text, file) : cli::parse_input(in, D::document, file)))
    return false;
  doc.records.reserve(list.items.size());
  for (const R* r : list.items) {
    if (!r) continue;
    Record record;
    leaves_of(*r, "", record.leaves);
    record.identity = identity_of<R>(record.leaves);
    doc.records.push_back(std::move(record));
  }
  return true;
}

// Reads the document `in` by the family its root element names; false
// (message printed) when it is of none or cannot be read.
bool read_document(cli::Input& in, Document& doc) {
  doc.name = in.name;
  std::size_t at = 0;
  const std::string root = cli::root_element(in.text, &at);
  bool found = false;
  bool ok = false;
  std::apply(
      [&](auto... family) {
        ((!found && of_family<typename decltype(family)::type>(root)
              ? (found = true, ok = read_records<typename decltype(family)::type>(in, doc))
              : false),
         ...);
      },
      qal3::records::Families{});
  if (!found)
    cli::document_error(in, at,
                        root.empty() ? "no root element: not a configuration document"
                                     : "root element '" + root + "' is of no configuration document family");
  return ok;
}

// The records of each identity, in document order, of the old (first) and
// the new (second) document, by identity.
using Matches = std::map<std::string, std::pair<std::vector<const Record*>, std::vector<const Record*>>>;

Matches match(const Document& old_doc, const Document& new_doc) {
  Matches m;
  for (const Record& r : old_doc.records) m[r.identity].first.push_back(&r);
  for (const Record& r : new_doc.records) m[r.identity].second.push_back(&r);
  return m;
}

// The name of the k-th (from 0) record of an identity that `n` records share.
std::string label(const std::string& identity, std::size_t k, std::size_t n) {
  return n > 1 ? identity + " #" + std::to_string(k + 1) : identity;
}

// One field that differs; a side that lacks the field (a list of another
// length) is null.
struct Change {
  std::string path;
  const std::string* old_text;
  const std::string* new_text;
};

std::vector<Change> changes(const Record& a, const Record& b) {
  std::unordered_map<std::string, const std::string*> in_new;
  for (const Leaf& leaf : b.leaves) in_new.emplace(leaf.path, &leaf.text);
  std::vector<Change> out;
  for (const Leaf& leaf : a.leaves) {
    const auto it = in_new.find(leaf.path);
    const std::string* now = it == in_new.end() ? nullptr : it->second;
    if (!now || *now != leaf.text) out.push_back({leaf.path, &leaf.text, now});
    if (it != in_new.end()) in_new.erase(it);
  }
  for (const Leaf& leaf : b.leaves)
    if (in_new.count(leaf.path)) out.push_back({leaf.path, nullptr, &leaf.text});
  return out;
}

constexpr char kNone[] = "(none)";

// Compares the documents and prints the differences; true when there are
// some.
bool report(const Document& old_doc, const Document& new_doc, bool json) {
  nlohmann::json added = nlohmann::json::array(), removed = nlohmann::json::array(), changed = nlohmann::json::array();
  std::string lines;
  for (const auto& [identity, sides] : match(old_doc, new_doc)) {
    const std::size_t n = std::max(sides.first.size(), sides.second.size());
    for (std::size_t k = 0; k < n; ++k) {
      const std::string name = label(identity, k, n);
      if (k >= sides.second.size()) {
        removed.push_back(name);
        lines += "removed\t" + cli::one_line(name) + "\n";
      } else if (k >= sides.first.size()) {
        added.push_back(name);
        lines += "added\t" + cli::one_line(name) + "\n";
      } else {
        nlohmann::json fields = nlohmann::json::array();
        for (const Change& c : changes(*sides.first[k], *sides.second[k])) {
          const auto value = [](const std::string* t) { return t ? nlohmann::json(*t) : nlohmann::json(); };
          const auto cell = [](const std::string* t) { return t ? cli::one_line(*t) : std::string(kNone); };
          fields.push_back({{"field", c.path}, {"old", value(c.old_text)}, {"new", value(c.new_text)}});
          lines += "changed\t" + cli::one_line(name) + "\t" + c.path + "\t" + cell(c.old_text) + "\t" +
                   cell(c.new_text) + "\n";
        }
        if (!fields.empty()) changed.push_back({{"record", name}, {"fields", fields}});
      }
    }
  }
  const bool different = !added.empty() || !removed.empty() || !changed.empty();
  if (json)
    cli::print_json({{"old", old_doc.name},
                     {"new", new_doc.name},
                     {"family", old_doc.family},
                     {"same", !different},
                     {"added", added},
                     {"removed", removed},
                     {"changed", changed}});
  else
    cli::put(lines);
  return different;
}

int diff(const cli::CommandInfo& command_info, int argc, char** argv) {
  cli::Args args;
  const int st = cli::parse(command_info, argc, argv, args);
  if (st >= 0) return st;
  if (args.operands.size() != 2) return cli::usage_error(command_info.name, "give two documents: OLD and NEW");
  if (cli::stdin_once(command_info.name, args.operands) >= 0) return cli::kUsage;
  Document docs[2];
  for (int i = 0; i < 2; ++i) {
    cli::Input in;
    if (!cli::read_input(args.operands[i], args.max_input, in) || !read_document(in, docs[i])) return kTrouble;
  }
  if (std::strcmp(docs[0].family, docs[1].family) != 0) {
    cli::flush_stdout();
    std::fprintf(stderr, "qal3 diff: %s is %s and %s %s: documents of different families are not compared\n",
                 docs[0].name.c_str(), docs[0].family, docs[1].name.c_str(), docs[1].family);
    return kTrouble;
  }
  return report(docs[0], docs[1], args.json) ? kDifferent : kSame;
}

}  // namespace

int cmd_show(const cli::CommandInfo& command_info, int argc, char** argv) {
  cli::Args args;
  const int st = cli::parse(command_info, argc, argv, args);
  if (st >= 0) return st;
  if (args.operands.size() != 1) return cli::usage_error(command_info.name, "give one document");
  cli::Input in;
  if (!cli::read_input(args.operands[0], args.max_input, in)) return cli::kBadDocument;
  Document doc;
  // Anything else is shown as it is, so that a textconv never fails.
  if (!read_document(in, doc)) return cli::put(in.text), cli::kOk;
  std::string lines;
  for (const auto& [identity, sides] : match(doc, Document{})) {
    for (std::size_t k = 0; k < sides.first.size(); ++k) {
      const std::string name = cli::one_line(label(identity, k, sides.first.size())) + "\t";
      for (const Leaf& leaf : sides.first[k]->leaves)
        lines += name + leaf.path + "\t" + cli::one_line(leaf.text) + "\n";
    }
  }
  cli::put(lines);
  return cli::kOk;
}

int cmd_diff(const cli::CommandInfo& command_info, int argc, char** argv) {
  try {
    return diff(command_info, argc, argv);
  } catch (const std::exception& e) {
    cli::flush_stdout();
    std::fprintf(stderr, "qal3 diff: %s\n", e.what());
    return kTrouble;
  }
}
