// qal3 diff and qal3 show: documents compared record by record, and the
// canonical form of one document, both made from the record descriptions.
// The records are walked field by field as they are compared or shown: no
// value is kept beyond the line it makes.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
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
using qal3::records::Shape;

// diff(1)'s exit statuses.
enum DiffExit : int { kSame = 0, kDifferent = 1, kTrouble = 2 };

// What a record holds, compared: every field but counts (their lists are
// compared), time stamps (they say when, not what) and fields no document
// holds.
constexpr bool compared(Kind kind) {
  return !qal3::records::is_derived(kind) && kind != Kind::time && kind != Kind::unwritten;
}

// The text of one value as read (numbers as the listings show them, so that
// two spellings of one float are one text; a registry slot by the name
// registered there, or by its number).
template <class V>
std::string value_text(const V& v, Kind kind) {
  constexpr Shape s = qal3::records::shape_of<V>();
  if constexpr (s == Shape::number) {
    if (!qal3::records::is_slot(kind)) return cli::ValueText{kind}.integer(v);
    const int slot = static_cast<int>(v);
    const char* name = kind == Kind::function_slot ? qal3_get_function_string(slot) : qal3_get_operation_string(slot);
    return name && *name ? name : std::to_string(slot);
  } else if constexpr (s == Shape::real) {
    return cli::ValueText{kind}.real(v);
  } else if constexpr (s == Shape::text) {
    return cli::field_text(v);
  } else {
    static_assert(s == Shape::string, "not a single value");
    return v;
  }
}

// Takes the values of a record's fields, each named by its path (a field's
// name; bits[1].bit_name for a field of a list's entry).
struct Sink {
  virtual ~Sink() = default;
  // A value at `path`: its text in the old record and in the new one, null
  // on a side that has no value there (a list of another length).
  virtual void value(const std::string& path, const std::string* old_text, const std::string* new_text) = 0;
};

// Which values a walk hands to its sink: those the old side has (in its
// order, whatever the new side has there), or those only the new side has.
enum class Pass { old_side, new_only };

template <class R>
void walk(const R* a, const R* b, std::string& path, Pass pass, Sink& sink);

// Walks one member, of the old and the new record (null: not there), at
// `path`; `path` is as it was on return.
template <class V>
void walk_value(const V* a, const V* b, Kind kind, std::string& path, Pass pass, Sink& sink) {
  if (!(pass == Pass::old_side ? a : b)) return;
  constexpr Shape s = qal3::records::shape_of<V>();
  const std::size_t at = path.size();
  if constexpr (s == Shape::number || s == Shape::real || s == Shape::text || s == Shape::string) {
    if (pass == Pass::new_only && a) return;
    const std::string old_text = a ? value_text(*a, kind) : std::string();
    const std::string new_text = b ? value_text(*b, kind) : std::string();
    sink.value(path, a ? &old_text : nullptr, b ? &new_text : nullptr);
  } else if constexpr (s == Shape::reals) {
    for (std::size_t i = 0; i < std::extent_v<V>; ++i) {
      path += "[" + std::to_string(i) + "]";
      walk_value(a ? &(*a)[i] : nullptr, b ? &(*b)[i] : nullptr, kind, path, pass, sink);
      path.resize(at);
    }
  } else if constexpr (s == Shape::texts || s == Shape::records) {
    using L = std::remove_cv_t<std::remove_reference_t<decltype(qal3::records::list_in(*a))>>;
    const L* la = a ? &qal3::records::list_in(*a) : nullptr;
    const L* lb = b ? &qal3::records::list_in(*b) : nullptr;
    const std::size_t na = la ? la->size() : 0, nb = lb ? lb->size() : 0;
    for (std::size_t i = 0; i < std::max(na, nb); ++i) {
      path += "[" + std::to_string(i) + "]";
      if constexpr (s == Shape::texts) {
        if (pass == Pass::old_side ? i < na : i >= na) {
          const std::string old_text = i < na && (*la)[i] ? (*la)[i] : "";
          const std::string new_text = i < nb && (*lb)[i] ? (*lb)[i] : "";
          sink.value(path, i < na ? &old_text : nullptr, i < nb ? &new_text : nullptr);
        }
      } else {
        path += '.';
        walk(i < na ? (*la)[i] : nullptr, i < nb ? (*lb)[i] : nullptr, path, pass, sink);  // null: no values
      }
      path.resize(at);
    }
  } else {
    path += '.';
    walk(a, b, path, pass, sink);
    path.resize(at);
  }
}

template <class R>
void walk(const R* a, const R* b, std::string& path, Pass pass, Sink& sink) {
  if (pass == Pass::old_side ? !a : !b) return;
  qal3::records::for_each_field<R>([&](const auto& field) {
    if (!compared(field.kind)) return;
    const std::size_t at = path.size();
    path += field.name;
    walk_value(a ? &field.of(*a) : nullptr, b ? &field.of(*b) : nullptr, field.kind, path, pass, sink);
    path.resize(at);
  });
}

// What identifies a record ("prop_name=X"): its identity fields that hold
// one value, in the description's order.
template <class R>
std::string identity_of(const R& record) {
  static_assert(qal3::records::has_identity<R>(), "an identity field is not a field");
  std::string id;
  for (const char* name : Description<R>::identity)
    qal3::records::for_each_field<R>([&](const auto& field) {
      using V = std::remove_cv_t<std::remove_reference_t<decltype(field.of(record))>>;
      constexpr Shape s = qal3::records::shape_of<V>();
      if constexpr (s == Shape::number || s == Shape::real || s == Shape::text || s == Shape::string)
        if (compared(field.kind) && std::strcmp(field.name, name) == 0)
          id += (id.empty() ? "" : " ") + std::string(name) + "=" + value_text(field.of(record), field.kind);
    });
  return id;
}

// The name of the k-th (from 0) record of an identity that `n` records share.
std::string label(const std::string& identity, std::size_t k, std::size_t n) {
  return n > 1 ? identity + " #" + std::to_string(k + 1) : identity;
}

// Standard output in pieces, so that a long listing is not held whole.
class Lines {
 public:
  ~Lines() { flush(); }
  void add(const std::string& s) {
    text_ += s;
    if (text_.size() >= kPiece) flush();
  }
  void flush() {
    if (!text_.empty()) cli::put(text_);
    text_.clear();
  }

 private:
  static constexpr std::size_t kPiece = std::size_t{1} << 16;
  std::string text_;
};

constexpr char kNone[] = "(none)";

// The changes of one pair of records, as lines and as JSON.
struct Changes : Sink {
  const std::string& name;  // the record's label
  bool json;
  Lines& lines;
  nlohmann::json fields = nlohmann::json::array();
  bool any = false;
  Changes(const std::string& n, bool j, Lines& l) : name(n), json(j), lines(l) {}

  void value(const std::string& path, const std::string* old_text, const std::string* new_text) override {
    if (old_text && new_text && *old_text == *new_text) return;
    any = true;
    if (json) {
      const auto value = [](const std::string* t) { return t ? nlohmann::json(*t) : nlohmann::json(); };
      fields.push_back({{"field", path}, {"old", value(old_text)}, {"new", value(new_text)}});
      return;
    }
    const auto cell = [](const std::string* t) { return t ? cli::one_line(*t) : std::string(kNone); };
    lines.add("changed\t" + cli::one_line(name) + "\t" + path + "\t" + cell(old_text) + "\t" + cell(new_text) + "\n");
  }
};

// The values of one record as show lists them.
struct Shown : Sink {
  const std::string& name;  // the record's label, on one line, with its tab
  Lines& lines;
  Shown(const std::string& n, Lines& l) : name(n), lines(l) {}
  void value(const std::string& path, const std::string* old_text, const std::string*) override {
    lines.add(name + path + "\t" + cli::one_line(*old_text) + "\n");
  }
};

// A document read: its name, its family (as messages call it) and records.
struct Document {
  std::string name;  // as the user gave it
  virtual ~Document() = default;
  virtual const char* family() const = 0;
  // Compares this (old) document with `newer`, of the same family, and
  // prints the differences; true when there are some.
  virtual bool report(const Document& newer, bool json) const = 0;
  // Prints every record's values, by identity.
  virtual void show() const = 0;
};

template <class R>
struct DocumentOf : Document {
  // A record and its identity; kept in the order of identities, records of
  // one identity in document order.
  struct Keyed {
    std::string identity;
    const R* record;
  };
  qal3::records::OwnedList<R> list;
  std::vector<Keyed> keyed;

  const char* family() const override { return Description<R>::document; }

  void sort() {
    keyed.reserve(list.items.size());
    for (const R* r : list.items)
      if (r) keyed.push_back({identity_of(*r), r});
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const Keyed& x, const Keyed& y) { return x.identity < y.identity; });
  }

  // The end of the run of one identity that starts at `from`.
  static std::size_t run_end(const std::vector<Keyed>& v, std::size_t from) {
    std::size_t to = from;
    while (to < v.size() && v[to].identity == v[from].identity) ++to;
    return to;
  }

  bool report(const Document& newer, bool json) const override {
    const std::vector<Keyed>& old_keyed = keyed;
    const std::vector<Keyed>& new_keyed = static_cast<const DocumentOf<R>&>(newer).keyed;
    nlohmann::json added = nlohmann::json::array(), removed = nlohmann::json::array(),
                   changed = nlohmann::json::array();
    bool different = false;
    Lines lines;
    std::string path;
    std::size_t i = 0, j = 0;
    while (i < old_keyed.size() || j < new_keyed.size()) {
      // The next identity of either document, with its records in each.
      const bool in_old =
          i < old_keyed.size() && (j >= new_keyed.size() || old_keyed[i].identity <= new_keyed[j].identity);
      const bool in_new =
          j < new_keyed.size() && (i >= old_keyed.size() || new_keyed[j].identity <= old_keyed[i].identity);
      const std::string& identity = in_old ? old_keyed[i].identity : new_keyed[j].identity;
      const std::size_t old_end = in_old ? run_end(old_keyed, i) : i;
      const std::size_t new_end = in_new ? run_end(new_keyed, j) : j;
      const std::size_t n_old = old_end - i, n_new = new_end - j, n = std::max(n_old, n_new);
      for (std::size_t k = 0; k < n; ++k) {
        const std::string name = label(identity, k, n);
        if (k >= n_new) {
          different = true;
          if (json)
            removed.push_back(name);
          else
            lines.add("removed\t" + cli::one_line(name) + "\n");
        } else if (k >= n_old) {
          different = true;
          if (json)
            added.push_back(name);
          else
            lines.add("added\t" + cli::one_line(name) + "\n");
        } else {
          Changes c(name, json, lines);
          for (const Pass pass : {Pass::old_side, Pass::new_only})
            walk(old_keyed[i + k].record, new_keyed[j + k].record, path, pass, c);
          different = different || c.any;
          if (!c.fields.empty()) changed.push_back({{"record", name}, {"fields", std::move(c.fields)}});
        }
      }
      i = old_end;
      j = new_end;
    }
    lines.flush();
    if (json)
      cli::print_json({{"old", name},
                       {"new", newer.name},
                       {"family", family()},
                       {"same", !different},
                       {"added", std::move(added)},
                       {"removed", std::move(removed)},
                       {"changed", std::move(changed)}});
    return different;
  }

  void show() const override {
    Lines lines;
    std::string path;
    for (std::size_t i = 0; i < keyed.size();) {
      const std::size_t end = run_end(keyed, i);
      for (std::size_t k = i; k < end; ++k) {
        const std::string name = cli::one_line(label(keyed[k].identity, k - i, end - i)) + "\t";
        Shown s(name, lines);
        walk<R>(keyed[k].record, nullptr, path, Pass::old_side, s);
      }
      i = end;
    }
  }
};

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
std::unique_ptr<Document> read_records(cli::Input& in) {
  using D = Description<R>;
  auto doc = std::make_unique<DocumentOf<R>>();
  doc->name = in.name;
  auto& list = doc->list;
  // A named file is read by the file reader, as the chan commands read it.
  const auto file = [&](char* path) { return D::read_file(path, &list.items, {}); };
  const auto text = [&](char* xml) { return D::read_text(xml, std::strlen(xml), &list.items, {}); };
  if (!(in.from_stdin ? cli::parse_input(in, D::document, text, file) : cli::parse_input(in, D::document, file)))
    return nullptr;
  doc->sort();
  return doc;
}

// Reads the document `in` by the family the library finds its root element
// to name; null (message printed) when it is of none or cannot be read.
std::unique_ptr<Document> read_document(cli::Input& in) {
  const cli::Root root = cli::root_of(in);
  bool found = false;
  std::unique_ptr<Document> doc;
  std::apply(
      [&](auto... family) {
        ((!found && root.family != QAL3_FAMILY_UNKNOWN && of_family<typename decltype(family)::type>(root.name)
              ? (found = true, doc = read_records<typename decltype(family)::type>(in), true)
              : false),
         ...);
      },
      qal3::records::Families{});
  if (!found)
    cli::root_error(in, root,
                    root.name.empty() ? "no root element: not a configuration document"
                                      : "root element '" + root.name + "' is of no configuration document family");
  return doc;
}

int diff(const cli::CommandInfo& command_info, int argc, char** argv) {
  cli::Args args;
  const int st = cli::parse(command_info, argc, argv, args);
  if (st >= 0) return st;
  if (args.operands.size() != 2) return cli::usage_error(command_info.name, "give two documents: OLD and NEW");
  if (cli::stdin_once(command_info.name, args.operands) >= 0) return cli::kUsage;
  std::unique_ptr<Document> docs[2];
  for (int i = 0; i < 2; ++i) {
    cli::Input in;
    if (!cli::read_input(args.operands[i], args.max_input, in) || !(docs[i] = read_document(in))) return kTrouble;
  }
  if (std::strcmp(docs[0]->family(), docs[1]->family()) != 0) {
    cli::flush_stdout();
    std::fprintf(stderr, "qal3 diff: %s is %s and %s %s: documents of different families are not compared\n",
                 cli::one_line(docs[0]->name).c_str(), docs[0]->family(), cli::one_line(docs[1]->name).c_str(),
                 docs[1]->family());
    return kTrouble;
  }
  return docs[0]->report(*docs[1], args.json) ? kDifferent : kSame;
}

}  // namespace

int cmd_show(const cli::CommandInfo& command_info, int argc, char** argv) {
  cli::Args args;
  const int st = cli::parse(command_info, argc, argv, args);
  if (st >= 0) return st;
  if (args.operands.size() != 1) return cli::usage_error(command_info.name, "give one document");
  cli::Input in;
  if (!cli::read_input(args.operands[0], args.max_input, in)) return cli::kBadDocument;
  const std::unique_ptr<Document> doc = read_document(in);
  // Anything else is shown as it is, so that a textconv never fails.
  if (!doc) return cli::put(in.text), cli::kOk;
  in.text = std::string();
  doc->show();
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
