// The one reading loop of every SAX-based reader: parser set-up over a
// document in memory or in a file, start, root check, the pull loop over the
// steps that name an element, and the error sum. Each reader gives only its
// root check and what it does per element. Not installed.
#ifndef QAL3_PULL_READER_H
#define QAL3_PULL_READER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "SAX_File_Parser.h"
#include "SAX_Memory_Parser.h"
#include "messages.h"
#include "sax_pull_common.h"
#include "text_field.h"

namespace qal3 {
namespace reader {

// Where a document comes from: NUL-terminated text in memory, or a file path.
struct Document {
  enum class Kind { memory, file };
  Kind kind;
  char* source;

  static Document in_memory(char* xml) { return {Kind::memory, xml}; }
  static Document in_file(char* path) { return {Kind::file, path}; }
};

// The element names a reader acts on, each with the value the reader
// dispatches on; a constant of the reader's file, built when the library is
// loaded (a lookup then tests no guard of a function-local static). A lookup
// compares only the names of the tag's first character and length, exact
// and case-sensitive; `other` answers every name not in the table. The names
// must outlive the table (string literals or the tag table).
template <class E>
class ElementNames {
 public:
  struct Entry {
    const char* name;
    E element;
  };

  template <std::size_t N>
  ElementNames(const Entry (&entries)[N], E other) : other_(other) {
    static_assert(N <= kMaxNames, "too many names for one table");
    // The names sorted by slot (a counting sort): slot s holds
    // names_[start_[s]] up to names_[start_[s + 1]].
    std::size_t lengths[N];
    for (std::size_t i = 0; i < N; ++i) {
      lengths[i] = std::strlen(entries[i].name);
      ++start_[slot(entries[i].name[0], lengths[i]) + 1];
    }
    for (std::size_t s = 0; s < kSlots; ++s) start_[s + 1] += start_[s];
    unsigned char next[kSlots];
    for (std::size_t s = 0; s < kSlots; ++s) next[s] = start_[s];
    for (std::size_t i = 0; i < N; ++i) {
      const std::size_t length = lengths[i];
      names_[next[slot(entries[i].name[0], length)]++] = {entries[i].name, length, key(entries[i].name, length),
                                                          entries[i].element};
    }
  }

  E operator()(const char* tag) const {
    const std::size_t length = std::strlen(tag);
    const std::size_t s = slot(tag[0], length);
    const Key k = key(tag, length);
    for (std::size_t i = start_[s], end = start_[s + 1]; i < end; ++i) {
      const Name& n = names_[i];
      if (n.length == length && n.key.a == k.a && n.key.b == k.b &&
          (length <= kKeyBytes || std::memcmp(n.name, tag, length) == 0))
        return n.element;
    }
    return other_;
  }

 private:
  static constexpr std::size_t kMaxNames = 32;
  // Two words of a name, read within its `length` bytes: its first and its
  // last eight bytes (four when shorter; its first, middle and last byte
  // when shorter still). Up to kKeyBytes, names of one length are equal
  // exactly when their keys are; longer ones are compared whole.
  static constexpr std::size_t kKeyBytes = 16;
  struct Key {
    std::uint64_t a, b;
  };
  static Key key(const char* s, std::size_t length) {
    if (length >= 8) {
      std::uint64_t a, b;
      std::memcpy(&a, s, 8);
      std::memcpy(&b, s + length - 8, 8);
      return {a, b};
    }
    if (length >= 4) {
      std::uint32_t a, b;
      std::memcpy(&a, s, 4);
      std::memcpy(&b, s + length - 4, 4);
      return {a, b};
    }
    if (length == 0) return {0, 0};
    const auto byte = [s](std::size_t i) { return static_cast<std::uint64_t>(static_cast<unsigned char>(s[i])); };
    return {byte(0) | byte(length / 2) << 8 | byte(length - 1) << 16, 0};
  }
  struct Name {
    const char* name;
    std::size_t length;
    Key key;
    E element;
  };
  static constexpr std::size_t kSlots = 64;
  static std::size_t slot(char first, std::size_t length) {
    return (static_cast<unsigned char>(first) * 5u + length) & (kSlots - 1);
  }

  Name names_[kMaxNames] = {};
  unsigned char start_[kSlots + 1] = {};
  E other_;
};

// strcmp(tag, name) == 0, with the first characters compared inline: most
// tags that are not `name` differ there.
inline bool is_named(const char* tag, const char* name) { return tag[0] == name[0] && std::strcmp(tag, name) == 0; }

// One pull step that named an element: its name, its text (or null), and
// the attributes of the most recent start tag.
class Step {
 public:
  const char* tag = nullptr;
  const char* value = nullptr;

  // Attribute `name`, or null when absent (or after a counted parser error);
  // as the parser's get_attr.
  const char* attr(const char* name) const {
    using qal3::pull::HandlerAccess;
    return name && HandlerAccess::errors(*handler_) == 0 ? HandlerAccess::attr(*handler_, name) : nullptr;
  }

  explicit Step(const QAL3PullHandler& handler) : handler_(&handler) {}

 private:
  const QAL3PullHandler* handler_;
};

// Result of one read.
struct Outcome {
  bool init_failed = false;  // the parser could not be built
  int structural = 0;        // 1: start, first step or root check failed
  int parser_errors = 0;     // the parser's error count at the end

  // The readers' usual result: 1 without a parser, else the error sum.
  int sum() const { return init_failed ? 1 : structural + parser_errors; }
};

namespace detail {

template <class Parser, class Start, class Root, class Element>
Outcome run(Parser& parser, Start start, Root& root, Element& element) {
  Outcome out;
  if (!parser.init_ok()) {
    out.init_failed = true;
    return out;
  }
  char* tag = nullptr;
  char* value = nullptr;
  if (start() || parser.parse(&tag, &value) != 0 || !root(static_cast<const char*>(tag))) {
    out.structural = 1;
  } else {
    Step step(qal3::pull::HandlerAccess::handler(parser));
    // parser.parse_element: inside libQAL3XML the step inlined into this
    // loop, elsewhere the exported call. (Each instantiation of run belongs
    // to one reader's or program's own element type, so no two of them
    // differ by this choice.) The inline step saves 1.0 to 1.8 % of a
    // reader's instructions (bench/ir_ratios.sh; event list, large: 297.6
    // million against 302.2 with the call).
#ifdef QAL3_XML_INSIDE
    while (qal3::pull::HandlerAccess::next_element(parser, &tag, &value) == 0) {
#else
    while (parser.parse_element(&tag, &value) == 0) {
#endif
      step.tag = tag;
      step.value = value;
      if (!element(step)) break;
    }
  }
  out.parser_errors = parser.get_error_counter();
  return out;
}

}  // namespace detail

// Reads `doc`. `root(tag)` sees the first element's name (null when the first
// step named none) and returns whether the document is of the right kind,
// printing its own message when not. `element(step)` is called for every
// later step that names an element and returns false to stop reading.
template <class Root, class Element>
Outcome read(const Document& doc, Root&& root, Element&& element) {
  if (doc.kind == Document::Kind::memory) {
    SAX_Memory_Parser parser(doc.source);
    return detail::run(
        parser, [&] { return parser.start(); }, root, element);
  }
  SAX_File_Parser parser;
  return detail::run(
      parser, [&] { return parser.start(doc.source); }, root, element);
}

// How many bytes of the text `src` a field of `cap` bytes keeps.
using qal3::text::fitting_length;

// Copies what a field of N bytes keeps of `src` (fitting_length) into `dst`
// and terminates it. Reads no further than that, so `src` may be a full field.
template <std::size_t N>
void copy_text(char (&dst)[N], const char* src) {
  const std::size_t n = fitting_length(src, N);
  if (n) std::memcpy(dst, src, n);
  dst[n] = '\0';
}

// The reader's note of a text of `what` (an element's name, or "attribute
// NAME of ELEMENT") of which a field of `cap` bytes keeps `kept` bytes: the
// lengths and the start of the text.
__attribute__((noinline, cold)) inline void note_cut(const char* what, std::size_t cap, const char* src,
                                                     std::size_t kept) {
  if (!qal3::messages::sink_in_force()) return;
  constexpr std::size_t kQuoted = 32;
  const std::size_t length = std::strlen(src);
  const std::size_t shown = fitting_length(src, kQuoted + 1);
  qal3::messages::note("%s: text of %zu bytes cut to %zu (a field of %zu bytes): '%.*s%s'", what, length, kept, cap,
                       static_cast<int>(shown), src, shown < length ? "..." : "");
}

// copy_text of a text of the document, noting a cut (note_cut) with `what`.
template <std::size_t N>
void copy_text(char (&dst)[N], const char* src, const char* what) {
  const std::size_t n = fitting_length(src, N);
  if (n) std::memcpy(dst, src, n);
  dst[n] = '\0';
  if (src && src[n] != '\0') note_cut(what, N, src, n);
}

// The usual wrong-root message: the tag found, then the root expected.
constexpr const char* kWrongRoot = "WRONG root tag: '%s' must be '%s'\n";

// The root check of a family whose documents have the root `expected`: true
// for it, else false after the wrong-root message (`message`, as
// kWrongRoot) on standard error.
inline auto root_is(const char* expected, const char* message = kWrongRoot) {
  return [expected, message](const char* tag) {
    if (tag && std::strcmp(tag, expected) == 0) return true;
    qal3::messages::print(qal3::messages::err, qal3::messages::error, qal3::messages::flush, message, tag ? tag : "",
                          expected);
    return false;
  };
}

}  // namespace reader
}  // namespace qal3

#endif  // QAL3_PULL_READER_H
