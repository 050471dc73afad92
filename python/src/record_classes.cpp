// Build-time helper: prints the Python source of the qal3 record classes
// (qal3/_record_classes.py), made from the records' descriptions
// (record_fields.h). Each class is a dataclass named and described by its
// record's description, with one attribute per field in the table's order:
// its Python type and default follow from the field's kind, member type and
// initial value (a time field's default is the time the record is made, and
// records compare equal whatever their times, as the tool's diff compares
// them), the field's doc is a trailing comment and a line of the class docstring
// (with its bounds), and a count field is a read-only property counting its
// list. Every class derives from qal3._records.Record; the trigger's
// function parameters are also properties and keyword arguments of the
// constructor (qal3._records._named_parameters) under the names the trigger
// list reader takes for them (trigger_parameters.h). Embedded records come before the
// records that hold them; a class named by several descriptions (the two
// environment layouts) is written once, and must come out the same from each.
//
// Usage: qal3_record_classes [FILE]. Writes FILE whole or not at all
// (through a scratch file renamed over it), standard output without FILE.
// Exit 0 on success, 1 when a count counts no list, a class is described
// twice differently or the file cannot be written, 2 on a usage error.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "record_fields.h"
#include "trigger_parameters.h"

namespace {

using qal3::records::Description;
using qal3::records::Kind;

constexpr std::size_t kWidth = 79;          // docstrings are wrapped to this many columns
constexpr const char* kParagraph = "\x1f";  // a word that starts a docstring paragraph

// `text` made a docstring body: a backslash, and a quote that would close the
// string early, are escaped.
std::string escaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' || (c == '"' && (i + 1 == text.size() || text[i + 1] == '"'))) out += '\\';
    out += c;
  }
  return out;
}

// The docstring of `text` at `indent`, words wrapped to kWidth columns; a
// word kParagraph in `text` starts a paragraph.
std::string docstring(const std::string& text, const std::string& indent) {
  std::istringstream words(escaped(text));
  std::string out;
  std::string line = indent + "\"\"\"";
  bool empty = true;  // no word on `line` yet
  for (std::string word; words >> word; empty = false) {
    if (word == kParagraph) {
      out += line + "\n\n";
      line = indent;
    } else if (line == indent) {
      line += word;
    } else if (!empty && line.size() + 1 + word.size() > kWidth) {
      out += line + "\n";
      line = indent + word;
    } else {
      line += (empty ? "" : " ") + word;
    }
  }
  if (line.size() + 3 > kWidth) {
    out += line + "\n";
    line = indent;
  }
  return out + line + "\"\"\"\n";
}

// `doc` as a sentence: first letter capital, a full stop at the end.
std::string sentence(std::string doc) {
  if (!doc.empty() && doc[0] >= 'a' && doc[0] <= 'z') doc[0] = static_cast<char>(doc[0] - 'a' + 'A');
  if (!doc.empty() && doc.back() != '.') doc += '.';
  return doc;
}

struct Attribute {
  std::string type;
  std::string value;
};

class Generator {
 public:
  // Adds R's class, after the classes of the records it embeds.
  template <class R>
  void add() {
    std::string fields;
    std::string properties;
    std::vector<std::string> described;  // the docstring's paragraphs on the fields
    std::vector<std::string> lists;
    std::vector<std::pair<std::string, std::string>> counts;  // each count and its list
    qal3::records::for_each_field<R>([&](const auto& field) {
      using F = std::decay_t<decltype(field)>;
      using V = typename F::template type<R>;
      const std::string name = field.name;
      described.push_back("``" + name + "``: " + field_text<V>(field.kind, field.doc, field.bounds));
      if (qal3::records::is_derived(field.kind)) {
        counts.emplace_back(name, field.counts);
        properties += count_property(name, field.counts, field.doc);
        return;
      }
      const Attribute a = attribute<V>(field.kind, field.initial);
      if (field.kind == Kind::records || field.kind == Kind::texts) lists.push_back(name);
      fields += "    " + name + ": " + a.type + " = " + a.value;
      if (*field.doc) fields += std::string("  # ") + field.doc;
      fields += "\n";
    });
    std::string decorators;
    if constexpr (std::is_same_v<R, qal3_user_case_trigger>) {
      properties += parameter_properties();
      decorators = "@_named_parameters(" + parameter_names() + ")\n";
      uses_parameters_ = true;
    }
    std::string counted;  // the class's _COUNTS: {list: its count}
    for (const auto& [count, list] : counts) {
      if (std::find(lists.begin(), lists.end(), list) == lists.end())
        fail(Description<R>::name, count, "counts no list field of its record");
      counted += (counted.empty() ? "" : ", ") + ("\"" + list + "\": \"" + count + "\"");
    }
    if (!counted.empty()) properties += "\n    _COUNTS = {" + counted + "}\n";
    const std::string name = Description<R>::name;
    const std::string code = fields + properties;
    const auto [it, fresh] = classes_.emplace(name, Class{Description<R>::doc, described, decorators, code});
    if (fresh) {
      order_.push_back(name);
      return;
    }
    if (it->second.code != code) fail(name, "", "is described twice, differently");
    // Bounds may differ from one description to the other: each is given.
    for (std::size_t i = 0; i < described.size(); ++i)
      if (it->second.described[i] != described[i])
        it->second.described[i] += " Or, in the other layout: " + described[i];
  }

  // The module's source.
  std::string source() const {
    std::string out =
        "# The record classes of the qal3 package, made at build time from the\n"
        "# libraries' record descriptions by qal3_record_classes: not to be edited.\n"
        "\"\"\"The records of the configuration documents, as the readers return them\n"
        "and the writers take them; attribute names are the records' own field\n"
        "names. qal3._records re-exports them.\"\"\"\n\n";
    out += "from dataclasses import dataclass";
    out += uses_field_ ? ", field\n" : "\n";
    if (uses_list_ || uses_union_) {
      out += "from typing import ";
      out += uses_list_ && uses_union_ ? "List, Union\n" : uses_list_ ? "List\n" : "Union\n";
    }
    out +=
        uses_parameters_ ? "\nfrom ._records import Record, _named_parameters\n" : "\nfrom ._records import Record\n";
    out += "\n__all__ = [";
    for (const std::string& name : order_) out += "\"" + name + (&name == &order_.back() ? "\"]\n" : "\", ");
    for (const std::string& name : order_) {
      const Class& c = classes_.at(name);
      std::string doc = c.doc;
      for (const std::string& d : c.described) doc += std::string(" ") + kParagraph + " " + d;
      out += "\n\n" + c.decorators + "@dataclass\nclass " + name + "(Record):\n" + docstring(doc, "    ") + c.code;
    }
    return out;
  }

 private:
  [[noreturn]] static void fail(const std::string& record, const std::string& field, const std::string& what) {
    throw std::runtime_error(record + (field.empty() ? "" : "." + field) + " " + what);
  }

  static std::string count_property(const std::string& name, const std::string& list, const char* doc) {
    const std::string text = *doc ? sentence(doc) : "The number of entries of " + list + ".";
    return "\n    @property\n    def " + name + "(self) -> int:\n" + docstring(text, "        ") +
           "        return len(self." + list + ")\n";
  }

  // The docstring text of a field whose member is a V: its doc, bounds and
  // what it holds.
  template <class V>
  static std::string field_text(Kind kind, const char* doc, const qal3::records::Bounds& b) {
    using qal3::records::Bounds;
    using qal3::records::Shape;
    constexpr Shape shape = qal3::records::shape_of<V>();
    std::string out = *doc ? sentence(doc) : "";
    auto add = [&out](const std::string& s) { out += (out.empty() ? "" : " ") + s; };
    using T = typename qal3::records::held<V>::type;
    if constexpr (shape == Shape::number) {
      if (!qal3::records::is_slot(kind)) add("An integer.");
    } else if constexpr (shape == Shape::texts) {
      add("A list of texts; each:");
    } else if constexpr (shape == Shape::records) {
      add(std::string("A list of ") + Description<T>::name + " records.");
    } else if constexpr (shape == Shape::record) {
      add(std::string("A ") + Description<V>::name + " record.");
    }
    if (qal3::records::is_slot(kind))
      add(std::string("A name of the ") + (kind == Kind::function_slot ? "function registry" : "operation registry") +
          ", or its slot number.");
    if (qal3::records::is_derived(kind)) add("Read only.");
    if (kind == Kind::unwritten) add("Held by no document: written by no writer, 0 when read.");
    if constexpr (shape == Shape::real || shape == Shape::reals)
      add(std::string(shape == Shape::reals ? "Float32 values: each" : "A float32 value: it") +
          " reads back as the nearest float32 (0.1 as 0.10000000149011612).");
    if constexpr (shape == Shape::text) add("At most " + std::to_string(std::extent_v<V> - 1) + " bytes of UTF-8.");
    const bool text = shape == Shape::text || shape == Shape::string || shape == Shape::texts;
    const std::string unit = !text ? "" : b.unit == qal3::records::Unit::bytes ? " bytes" : " UTF-16 units";
    if (kind == Kind::time)
      add("A new record holds the time it is made, as a record read holds the time it was read; records "
          "compare equal whatever their times.");
    if (b.named) add("Not blank (only spaces, tabs and line feeds): the reader takes a blank one for none.");
    if (b.lo != Bounds::kUnset && b.hi != Bounds::kUnset)
      add((text ? "Length " : "From ") + std::to_string(b.lo) + " to " + std::to_string(b.hi) + unit + ".");
    else if (b.lo != Bounds::kUnset)
      add("At least " + std::to_string(b.lo) + unit + ".");
    else if (b.hi != Bounds::kUnset)
      add("At most " + std::to_string(b.hi) + unit + ".");
    return out;
  }

  // Properties for the trigger's function parameters, under each name the
  // trigger list reader takes for them.
  static std::string parameter_properties() {
    using qal3::trigger::kParameterAliases;
    std::string out;
    for (int p = 0; p < qal3::trigger::kParameters; ++p)
      for (const char* alias : kParameterAliases[p]) {
        if (!*alias) continue;
        const std::string at = std::to_string(p);
        out += "\n    @property\n    def " + std::string(alias) + "(self) -> float:\n" +
               docstring("Function parameter " + at + " (fparam[" + at + "]), the trigger list's attribute " + alias +
                             "; a float32 value.",
                         "        ") +
               "        return self._parameter(" + at + ")\n\n    @" + alias + ".setter\n    def " + alias +
               "(self, value: float) -> None:\n        self._set_parameter(" + at + ", value, \"" + alias + "\")\n";
      }
    return out;
  }

  // The trigger's parameter names as a Python dict {name: parameter}, in
  // the order of trigger_parameters.h.
  static std::string parameter_names() {
    using qal3::trigger::kParameterAliases;
    std::string out;
    for (int p = 0; p < qal3::trigger::kParameters; ++p)
      for (const char* alias : kParameterAliases[p])
        if (*alias) out += std::string(out.empty() ? "" : ", ") + "\"" + alias + "\": " + std::to_string(p);
    return "{" + out + "}";
  }

  // The Python type and default of a field of kind `kind` whose member is a V.
  template <class V>
  Attribute attribute(Kind kind, long long initial) {
    using qal3::records::Shape;
    using T = typename qal3::records::held<V>::type;
    constexpr Shape shape = qal3::records::shape_of<V>();
    if constexpr (shape == Shape::texts) {
      return list("str");
    } else if constexpr (shape == Shape::records) {
      add<T>();
      return list(Description<T>::name);
    } else if constexpr (shape == Shape::text || shape == Shape::string) {
      return {"str", "\"\""};
    } else if constexpr (shape == Shape::reals) {
      uses_list_ = uses_field_ = true;
      return {"List[float]", "field(default_factory=lambda: [0.0] * " + std::to_string(std::extent_v<V>) + ")"};
    } else if constexpr (shape == Shape::real) {
      return {"float", "0.0"};
    } else if constexpr (shape == Shape::number) {
      if (kind == Kind::time) {
        uses_field_ = true;
        return {"int", "field(default_factory=Record._now, compare=False)"};
      }
      if (!qal3::records::is_slot(kind)) return {"int", std::to_string(initial)};
      uses_union_ = true;
      return {"Union[int, str]", std::to_string(initial)};
    } else {
      add<V>();
      uses_field_ = true;
      return {Description<V>::name, std::string("field(default_factory=") + Description<V>::name + ")"};
    }
  }

  Attribute list(const std::string& of) {
    uses_list_ = uses_field_ = true;
    return {"List[" + of + "]", "field(default_factory=list)"};
  }

  struct Class {
    std::string doc;                     // the record's description
    std::vector<std::string> described;  // its fields'
    std::string decorators;              // lines before @dataclass
    std::string code;                    // attributes and properties
  };
  std::map<std::string, Class> classes_;
  std::vector<std::string> order_;  // names, each after those it uses
  bool uses_field_ = false;
  bool uses_list_ = false;
  bool uses_union_ = false;
  bool uses_parameters_ = false;  // a class takes named parameters (_named_parameters)
};

// Writes `text` to `path` whole or not at all; 0, or the errno of the failure.
int write_file(const std::string& path, const std::string& text) {
  const std::string scratch = path + ".tmp";
  std::ofstream out(scratch, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  int error = 0;
  if (!out)
    error = errno ? errno : EIO;
  else if (std::rename(scratch.c_str(), path.c_str()) != 0)
    error = errno;
  if (error) std::remove(scratch.c_str());
  return error;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2) {
    std::cerr << "usage: qal3_record_classes [FILE]\n";
    return 2;
  }
  std::string source;
  try {
    Generator g;
    qal3::records::for_each_family_record([&](auto tag) { g.add<typename decltype(tag)::type>(); });
    source = g.source();
  } catch (const std::runtime_error& e) {
    std::cerr << "qal3_record_classes: " << e.what() << "\n";
    return 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "-") != 0) {
    const int error = write_file(argv[1], source);
    if (!error) return 0;
    std::cerr << "qal3_record_classes: " << argv[1] << ": " << std::strerror(error) << "\n";
    return 1;
  }
  std::cout << source << std::flush;
  return std::cout ? 0 : 1;
}
