// The Python module's record conversions, on their C++ side. The module's
// bindings only move values between Python objects and the libraries'
// records, so this target runs what lies beneath them without an
// interpreter:
//  - event lists and camera feature files: the input is read (memory
//    reader; the camera reader through a memory file, as the module does),
//    the records the module would accept are written by the family's writer
//    (as its record description names it), read back, and must be the same
//    as far as the documents carry them;
//  - every family (records::Families): each text field of a record read
//    must end within its field, so that the module can turn it into a str
//    (and back: it refuses texts that fill the field).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "fuzz_common.h"
#include "record_fields.h"

namespace {

using qal3::records::Description;

[[noreturn]] void fault(const char* what, const std::string& doc) {
  std::fprintf(stderr, "record conversion: %s\n--- document:\n%s\n", what, doc.c_str());
  std::abort();
}

template <class R, class Leaf>
void walk(const R& record, Leaf& leaf);

// Hands `v`, the value of `field`, to `leaf`, or walks the records it holds.
template <class V, class F, class Leaf>
void visit(const V& v, const F& field, Leaf& leaf) {
  using qal3::records::Shape;
  constexpr Shape shape = qal3::records::shape_of<V>();
  if constexpr (shape == Shape::records) {
    for (const auto* x : qal3::records::list_in(v))
      if (x) walk(*x, leaf);
  } else if constexpr (shape == Shape::record) {
    walk(v, leaf);
  } else {
    leaf(qal3::records::list_in(v), field);
  }
}

// Calls leaf(value, field) for every field of `record` and of the records
// it holds that holds no record itself; made from the record descriptions.
template <class R, class Leaf>
void walk(const R& record, Leaf& leaf) {
  qal3::records::for_each_field<R>([&](const auto& field) { visit(field.of(record), field, leaf); });
}

// Every text field of `record` ends within its field, so that the module
// can turn it into a str.
template <class R>
void texts_end_within(const R& record, const std::string& doc) {
  auto leaf = [&](const auto& v, const auto& field) {
    using V = std::decay_t<decltype(v)>;
    if constexpr (std::is_array_v<V> && std::is_same_v<std::remove_extent_t<V>, char>)
      if (strnlen(v, sizeof v) == sizeof v) fault(field.name, doc);
  };
  walk(record, leaf);
}

// True when `record` keeps to the bounds of its description, as the module
// demands of what it writes: numbers within their bounds, texts of the
// length their bounds allow and without NUL.
template <class R>
bool within_bounds(const R& record) {
  using qal3::records::Bounds;
  bool ok = true;
  const auto text_within = [](const Bounds& b, const char* s, std::size_t n, std::size_t most) {
    const auto length = static_cast<long long>(qal3::records::text_length(b.unit, s, n));
    return n <= most && std::find(s, s + n, '\0') == s + n && (b.lo == Bounds::kUnset || length >= b.lo) &&
           (b.hi == Bounds::kUnset || length <= b.hi);
  };
  auto leaf = [&](const auto& v, const auto& field) {
    using V = std::decay_t<decltype(v)>;
    const Bounds& b = field.bounds;
    if constexpr (std::is_integral_v<V> || std::is_enum_v<V>) {
      const long long n = static_cast<long long>(v);
      ok = ok && (b.lo == Bounds::kUnset || n >= b.lo) && (b.hi == Bounds::kUnset || n <= b.hi);
    } else if constexpr (std::is_array_v<V> && std::is_same_v<std::remove_extent_t<V>, char>) {
      ok = ok && text_within(b, v, strnlen(v, sizeof v), sizeof v - 1);
    } else if constexpr (std::is_same_v<V, std::string>) {
      ok = ok && text_within(b, v.data(), v.size(), std::string::npos);
    } else if constexpr (std::is_same_v<V, std::vector<char*>>) {
      for (const char* c : v) ok = ok && text_within(b, c, std::strlen(c), std::string::npos);
    }
  };
  walk(record, leaf);
  return ok;
}

// True when every record of `list` keeps to its bounds.
template <class R>
bool all_within_bounds(const std::vector<R*>& list) {
  return std::all_of(list.begin(), list.end(), [](const R* r) { return within_bounds(*r); });
}

// Records of a family, released by its cleaner.
template <class R>
using List = qal3::records::OwnedList<R>;

// The family's document of `list`, by its writer.
template <class R>
std::string write(List<R>& list) {
  std::string doc;
  if (Description<R>::write_text(&list.items, &doc, {}) != 0) fault("records not written", doc);
  return doc;
}

// Reads `doc` into `list` as the module reads a document given as text.
template <class R>
bool read(std::string doc, List<R>& list, const qal3::records::Options& o = {}) {
  return Description<R>::read_text(&doc[0], doc.size(), &list.items, o) == 0;
}

// --- event lists

void evlist_round_trip(const std::string& input) {
  List<qal3_ev_entry> list;
  if (!read(input, list)) return;
  for (const qal3_ev_entry* e : list.items) texts_end_within(*e, input);
  if (!all_within_bounds(list.items)) return;
  const std::string written = write(list);
  List<qal3_ev_entry> back;
  if (!read(written, back)) fault("written event list does not read back", written);
  if (back.items.size() != list.items.size()) fault("event list: entries differ", written);
  for (size_t i = 0; i < list.items.size(); ++i) {
    const qal3_ev_entry& a = *list.items[i];
    const qal3_ev_entry& b = *back.items[i];
    if (a.evtype != b.evtype || a.tmask != b.tmask || a.min_ev_time.timeup != b.min_ev_time.timeup ||
        a.min_ev_time.timelow != b.min_ev_time.timelow || a.priority != b.priority ||
        a.sb_list->size() != b.sb_list->size())
      fault("event list: entry fields differ", written);
    for (size_t k = 0; k < a.sb_list->size(); ++k) {
      const qal3_ev_sb_list& x = *(*a.sb_list)[k];
      const qal3_ev_sb_list& y = *(*b.sb_list)[k];
      if (fuzz::as_written(x.sb_list) != y.sb_list || x.ch_list->size() != y.ch_list->size())
        fault("event list: server block differs", written);
      for (size_t c = 0; c < x.ch_list->size(); ++c)
        if (fuzz::as_written((*x.ch_list)[c]) != (*y.ch_list)[c]) fault("event list: channel differs", written);
    }
  }
}

// --- camera feature files

void gige_round_trip(const std::string& input) {
  List<QAL3GigEFeature> list;
  if (!read(input, list) || !all_within_bounds(list.items)) return;
  const std::string written = write(list);
  List<QAL3GigEFeature> back;
  if (!read(written, back)) fault("written feature file does not read back", written);
  if (back.items.size() != list.items.size()) fault("feature file: feature count", written);
  for (size_t i = 0; i < list.items.size(); ++i) {
    const QAL3GigEFeature& a = *list.items[i];
    const QAL3GigEFeature& b = *back.items[i];
    if (a.type != b.type) fault("feature file: type", written);
    if (fuzz::as_written(a.name.c_str()) != b.name) fault("feature file: name", written);
    if (fuzz::carried(a.extension.c_str()) != b.extension) fault("feature file: extension", written);
    if (fuzz::carried(a.tooltip.c_str()) != b.tooltip) fault("feature file: tooltip", written);
    if (fuzz::carried(a.description.c_str()) != b.description) fault("feature file: description", written);
  }
}

// --- every family: texts end within their fields

// Reads `input` and checks the texts of every record read.
template <class R>
void texts_of(const std::string& input, const qal3::records::Options& o = {}) {
  List<R> list;
  read(input, list, o);
  for (const R* r : list.items)
    if (r) texts_end_within(*r, input);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The module hands the readers a str's UTF-8 bytes: a C string.
  const std::string input = fuzz::text(data, size);
  evlist_round_trip(input);
  gige_round_trip(input);
  std::apply(
      [&](auto... family) { (texts_of<typename decltype(family)::type>(input, {(input.size() & 1) != 0}), ...); },
      qal3::records::Families{});
  return 0;
}
