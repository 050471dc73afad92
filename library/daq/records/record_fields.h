// One description of each record family: its root element, its reader,
// writer and cleaner, and the table of its fields (name as the records spell
// it, kind, bounds, the value a new record holds). The tool's JSON, the
// Python conversions and classes and the checker's limits are made from
// these tables, so that no surface keeps its own copy of a record's fields.
// Not installed.
//
// A field is Field<&R::member> (or Field<&R::block, &Block::member> for a
// member of an embedded block); `of(record)` reaches the member, `type<R>`
// is its type. for_each_field<R>(f) calls f(field) for each field of R
// in the records' order. Each Description<R> also names the record on the
// surfaces (`name`: the Python class and the README's name) and says in one
// line what it is (`doc`).
// Every surface shows every field; a count (is_derived) is shown, never
// taken. visit_value hands a member to the surface's function for its shape.
// A family's record names in `identity` the fields that tell it from the
// other records of its document (has_identity checks that they are fields);
// records of equal identity are told apart by their order.
#ifndef QAL3_RECORD_FIELDS_H
#define QAL3_RECORD_FIELDS_H

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_set>
#include <utility>
#include <vector>

#include "chan_descr_internal.h"
#include "descriptors.h"
#include "document_limits.h"
#include "event_util.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "qal3_families.hpp"
#include "qal3_gige_descr.h"
#include "text_field.h"
#include "trigger_facts.h"
#include "user_case_trigger.h"

namespace qal3::records {

// The number kinds come first, then one kind for each other Shape, in its
// order.
enum class Kind {
  integer,           // signed number
  unsigned_integer,  // unsigned number
  type_code,         // unsigned 32 bits, written signed ("%d") and given signed everywhere
  count,             // number of entries of a list field of the same record
  unwritten,         // held by no document: a record read holds 0, the writers leave it out
  function_slot,     // slot of the trigger function registry; surfaces that take names also take its name
  operation_slot,    // slot of the trigger operation registry, as function_slot
  time,              // time_t, when the record was made: a new record holds the calling thread's clock
                     // (qal3_get_thread_clock) as the reader stamps each record it makes
  real,              // float
  reals,             // array of floats
  text,              // char array: NUL-terminated text, at most size - 1 bytes
  string,            // std::string
  texts,             // list of C strings
  record,            // embedded record with its own description
  records,           // list of records with their own description
};

// Whether `kind` is a slot of one of the trigger registries.
constexpr bool is_slot(Kind kind) { return kind == Kind::function_slot || kind == Kind::operation_slot; }

// Whether a field of `kind` follows from the others: the surfaces show it
// and never take it (a count counts its list).
constexpr bool is_derived(Kind kind) { return kind == Kind::count; }

// What a member holds, from its C++ type: every number kind is a number.
enum class Shape { number, real, reals, text, string, texts, record, records };

constexpr Shape shape(Kind kind) {
  return kind < Kind::real ? Shape::number : static_cast<Shape>(static_cast<int>(kind) - static_cast<int>(Kind::time));
}
static_assert(shape(Kind::records) == Shape::records && shape(Kind::time) == Shape::number);

// The record type a record or records field holds, through pointers and
// vectors.
template <class V>
struct held {
  using type = V;
};
template <class V>
struct held<V*> : held<V> {};
template <class V>
struct held<std::vector<V>> : held<V> {};

// The shape of a member of type V; a list may be held by pointer.
template <class V>
constexpr Shape shape_of() {
  using L = std::remove_pointer_t<V>;
  if constexpr (std::is_same_v<V, float>)
    return Shape::real;
  else if constexpr (std::is_integral_v<V> || std::is_enum_v<V>)
    return Shape::number;
  else if constexpr (std::is_array_v<V> && std::is_same_v<std::remove_extent_t<V>, char>)
    return Shape::text;
  else if constexpr (std::is_array_v<V> && std::is_same_v<std::remove_extent_t<V>, float>)
    return Shape::reals;
  else if constexpr (std::is_same_v<V, std::string>)
    return Shape::string;
  else if constexpr (std::is_same_v<L, std::vector<char*>>)
    return Shape::texts;
  else if constexpr (!std::is_same_v<typename held<L>::type, L>)
    return Shape::records;  // a vector
  else
    return Shape::record;
}

// What a text's bounds count.
enum class Unit {
  bytes,  // bytes of UTF-8
  utf16,  // UTF-16 units, as the XML parser counts a text: one per character, two past U+FFFF
};

// What a field's value must keep to be written and read back the same:
// for numbers the least and the greatest value, for texts (text, string,
// and each entry of texts) the fewest and the most `unit`s. A bound left
// unset is the member's own: the range of its type, or its size less the
// terminating NUL in bytes. A `named` text is what its reader needs to
// keep the record (or, in a list of texts, the entry): a blank one
// (is_blank) counts as none.
struct Bounds {
  static constexpr long long kUnset = std::numeric_limits<long long>::min();
  long long lo = kUnset;
  long long hi = kUnset;
  Unit unit = Unit::bytes;
  bool named = false;
};

// A text of `least` and at most as many UTF-16 units as the readers take
// in an element's text or an attribute's value.
constexpr Bounds reader_text(long long least) {
  return {least, static_cast<long long>(qal3::limits::kMaxTextUnits), Unit::utf16};
}

// The name of a record: without it (empty or blank) the reader drops the
// record.
constexpr Bounds kRecordName{1, Bounds::kUnset, Unit::bytes, true};

// The characters of a blank text: the pull readers take an element whose
// text holds only these for one without text (pull_handler.cpp). A carriage return is no blank: a
// document holds one only as a reference (&#13;, as the writers write it),
// which the reader keeps.
constexpr char kBlank[] = " \t\n";

// Whether the n bytes at `text` are blank: none, or only kBlank characters.
inline bool is_blank(const char* text, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (!std::memchr(kBlank, text[i], sizeof kBlank - 1)) return false;
  return true;
}

// The numbers an event-type mask and a sub-block-type mask are made of, as
// the readers shift them; a number outside reads as an empty mask.
constexpr Bounds kMaskEventType{0, 31};
constexpr Bounds kMaskBlockType{0, 62};

// Calls f(code, bytes) for each character of the n bytes at `text` as the
// writers write them: a well-formed UTF-8 sequence is its character, any
// other byte the ISO-8859-1 character it stands for.
template <class F>
void for_each_character(const char* text, std::size_t n, F&& f) {
  static constexpr unsigned kLeast[] = {0, 0, 0x80, 0x800, 0x10000};  // by sequence length
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  for (std::size_t i = 0; i < n;) {
    const unsigned c = s[i];
    const std::size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 1;
    unsigned cp = c & (0x7Fu >> len);
    std::size_t k = 1;
    while (k < len && i + k < n && (s[i + k] & 0xC0u) == 0x80u) cp = cp << 6 | (s[i + k++] & 0x3Fu);
    const bool whole = len > 1 && k == len && cp >= kLeast[len] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    const std::size_t used = whole ? len : 1;
    f(whole ? cp : c, used);
    i += used;
  }
}

// The length in `unit` of the n bytes at `text` as the writers write them
// (for_each_character): one UTF-16 unit a character, two past U+FFFF.
inline std::size_t text_length(Unit unit, const char* text, std::size_t n) {
  if (unit == Unit::bytes) return n;
  std::size_t units = 0;
  for_each_character(text, n, [&](unsigned code, std::size_t) { units += code > 0xFFFF ? 2 : 1; });
  return units;
}

// Whether an XML 1.0 document can hold the character `code`: the writers
// put '?' in place of any other (control characters but tab, line feed and
// carriage return; U+FFFE and U+FFFF).
constexpr bool xml_character(unsigned code) {
  return code >= 0x20 ? code != 0xFFFE && code != 0xFFFF : code == '\t' || code == '\n' || code == '\r';
}

// The byte offset in the n bytes at `text` of the first character an XML
// 1.0 document cannot hold; n when there is none.
inline std::size_t first_unwritable(const char* text, std::size_t n) {
  std::size_t at = 0, found = n;
  for_each_character(text, n, [&](unsigned code, std::size_t len) {
    if (found == n && !xml_character(code)) found = at;
    at += len;
  });
  return found;
}

// Whether the float a real field holds loses the number `v`: a finite
// number beyond the float's range becomes infinite, one other than 0 below
// its least value becomes 0. Every float (infinities and NaN too) is
// written so that it reads back as itself.
inline bool float_loses(double v) {
  const float f = static_cast<float>(v);
  return std::isfinite(v) && (!std::isfinite(f) || (f == 0 && v != 0));
}

// A new zero-filled C heap record, as free() releases it.
template <class T>
T* zeroed() {
  if (auto* t = static_cast<T*>(std::calloc(1, sizeof(T)))) return t;
  throw std::bad_alloc();
}

// A number field's value as every surface gives it: a type code in the
// sign the writers write it ("%d").
template <class V>
constexpr long long number_value(Kind kind, V v) {
  return kind == Kind::type_code ? static_cast<std::int32_t>(v) : static_cast<long long>(v);
}

template <auto... Path>
struct Field {
  const char* name;
  Kind kind;
  const char* doc = "";  // one line for the surfaces' record descriptions; may be empty
  Bounds bounds = {};
  long long initial = 0;    // a number field's value in a new record (what a document without it reads as);
                            // a time field's is the clock's (Kind::time)
  const char* counts = "";  // a count's list: the name of the field of its record that it counts

  template <class R>
  static constexpr decltype(auto) of(R& r) {
    return (r.*....*Path);
  }
  template <class R>
  using type = std::remove_reference_t<decltype(of(std::declval<R&>()))>;
};

// What a family's reader and writer take besides the document; each family
// looks at its own.
struct Options {
  bool shift = false;    // channel descriptions: shift event types as the selector does
  bool merge = false;    // channel descriptions: merge repeated properties
  bool daqvars = false;  // channel descriptions: write the DAQvariables format
};

// A field that a document format does not hold for every record: `field`
// names it as the records do (a field of a listed or embedded record after
// the list's name and a '.', as "dims.stats"), `where` which values or
// records ("" for all; read after the field's name), `loses` whether the
// record holds something there that a document of the format drops or reads
// back otherwise.
template <class R>
struct Unheld {
  const char* field;
  const char* where;
  bool (*loses)(const R&);
};

// What a document format of a family holds: its name (the root element),
// how messages name one record, and the fields it does not hold for every
// record (`count` entries at `unheld`; none: it holds every field).
template <class R>
struct Holding {
  const char* format;
  const char* record;
  const Unheld<R>* unheld;
  std::size_t count;
};

// What a family's description takes from the public qal3::Family<R>, so
// that the two never part: the cleaner, and the readers and the document
// writer over Options. A family whose readers take options, or whose
// records are read from files only, gives its own readers.
template <class R>
struct FromFamily {
  using Public = qal3::Family<R>;
  static constexpr const char* other_root = nullptr;  // the root of a second format, if any
  static void clean(std::vector<R*>* list) { Public::release(*list); }
  static int read_text(char* text, std::size_t, std::vector<R*>* list, const Options&) {
    return Public::read_text(text, list);
  }
  static int read_file(char* path, std::vector<R*>* list, const Options&) { return Public::read_file(path, list); }
  static int write_text(std::vector<R*>* list, std::string* doc, const Options&) {
    return Public::write(*list, nullptr, doc);
  }
};

// Specialised for each record below. A family's record also has, from
// FromFamily, the entry points over a list of records of the family:
//   int read_text(char* text, std::size_t length, std::vector<R*>*, const Options&)
//   int read_file(char* path, std::vector<R*>*, const Options&)
//   int write_text(std::vector<R*>*, std::string* document, const Options&)
//   void clean(std::vector<R*>*)
// (0 on success, else the reader's or writer's error code), and `write`
// (the writer with all its destinations and forms), `make` (a new record,
// as `clean` releases it), `root` and `document` (what the family's
// documents are called in messages).
template <class R>
struct Description;

// Whether every name in Description<R>::identity names a field of R.
constexpr bool same_name(const char* a, const char* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}
template <class R>
constexpr bool has_identity() {
  for (const char* id : Description<R>::identity)
    if (!std::apply([&](const auto&... f) { return (same_name(f.name, id) || ...); }, Description<R>::fields))
      return false;
  return true;
}

// Whether each field's kind fits its member, and only numbers have an
// initial value.
template <class R>
constexpr bool kinds_fit() {
  return std::apply(
      [](const auto&... f) {
        return ((shape(f.kind) == shape_of<typename std::decay_t<decltype(f)>::template type<R>>() &&
                 (f.initial == 0 || shape(f.kind) == Shape::number)) &&
                ...);
      },
      Description<R>::fields);
}

template <class R, class F>
void for_each_field(F&& f) {
  static_assert(kinds_fit<R>(), "a field's kind does not fit its member");
  std::apply([&](const auto&... field) { (f(field), ...); }, Description<R>::fields);
}

// Sets the count field of `record` that counts its list field `list` to
// `n`, if there is one.
template <class R>
void set_count(R& record, std::string_view list, std::size_t n) {
  for_each_field<R>([&](const auto& field) {
    if constexpr (std::is_same_v<std::remove_reference_t<decltype(field.of(record))>, int>)
      if (field.kind == Kind::count && list == field.counts) field.of(record) = static_cast<int>(n);
  });
}

// The list a list field `v` holds, directly or by pointer: a null pointer
// reads as an empty list and is given a new list (new, as the cleaners
// release it) when the list is to be filled.
template <class V>
decltype(auto) list_in(V& v) {
  using L = std::remove_pointer_t<std::remove_const_t<V>>;
  if constexpr (!std::is_pointer_v<std::remove_const_t<V>>) {
    return (v);
  } else if constexpr (std::is_const_v<V>) {
    static const L kNone;
    return v ? *v : kNone;
  } else {
    if (!v) v = new L();
    return *v;
  }
}

// Hands the member `v` to the one of `to`'s functions that takes its shape:
// to.integer(v) (any number), real, reals (a float array), text (a char
// array), string, texts (a std::vector<char*>), records (a
// std::vector<T*>) or record. Lists come as list_in gives them.
template <class V, class To>
decltype(auto) visit_value(V& v, To&& to) {
  constexpr Shape s = shape_of<std::remove_const_t<V>>();
  if constexpr (s == Shape::number)
    return to.integer(v);
  else if constexpr (s == Shape::real)
    return to.real(v);
  else if constexpr (s == Shape::reals)
    return to.reals(v);
  else if constexpr (s == Shape::text)
    return to.text(v);
  else if constexpr (s == Shape::string)
    return to.string(v);
  else if constexpr (s == Shape::texts)
    return to.texts(list_in(v));
  else if constexpr (s == Shape::records)
    return to.records(list_in(v));
  else
    return to.record(v);
}

// `record`, just allocated by its family (zero-filled or value-initialised),
// given in each number field what a document without the field reads as:
// the field's `initial` value, the calling thread's clock in a time field.
// Returns `record`. Every family's `make` ends with it.
template <class R>
R* with_initial_values(R* record) {
  for_each_field<R>([record](const auto& field) {
    using V = typename std::decay_t<decltype(field)>::template type<R>;
    if constexpr (shape_of<V>() == Shape::number) {
      if (field.kind == Kind::time) {
        time_t now = 0;
        qal3_get_thread_clock(&now);
        field.of(*record) = static_cast<V>(now);
      } else if (field.initial != 0) {
        field.of(*record) = static_cast<V>(field.initial);
      }
    }
  });
  return record;
}

// --- event lists -----------------------------------------------------------

template <>
struct Description<time_stamp> {
  static constexpr const char* name = "TimeStamp";
  static constexpr const char* doc = "The shortest time between two events of a type.";
  static constexpr auto fields =
      std::make_tuple(Field<&time_stamp::timeup>{"timeup", Kind::unsigned_integer, "seconds"},
                      Field<&time_stamp::timelow>{"timelow", Kind::unsigned_integer, "microseconds"});
};

// A server block name is neither empty nor blank (the reader skips such a
// block, and gives its channels to the block before) and at most 254 bytes:
// the reader keeps one less than the field holds. A channel name is neither
// empty nor blank (the reader skips such a channel) and within the reader's
// text limit.
template <>
struct Description<qal3_ev_sb_list> {
  static constexpr const char* name = "EvSbList";
  static constexpr const char* doc = "One server block of an event list entry; no channels means all.";
  static constexpr auto fields = std::make_tuple(
      Field<&qal3_ev_sb_list::sb_list>{
          "sb_list", Kind::text, "", {1, sizeof(qal3_ev_sb_list::sb_list) - 2, Unit::bytes, true}},
      Field<&qal3_ev_sb_list::ch_list>{
          "ch_list", Kind::texts, "", {1, static_cast<long long>(qal3::limits::kMaxTextUnits), Unit::utf16, true}});
};

template <>
struct Description<qal3_ev_entry> : FromFamily<qal3_ev_entry> {
  static constexpr const char* name = "EvEntry";
  static constexpr const char* doc = "One wanted event type; no server blocks means the full event.";
  static constexpr const char* root = "BMR";
  static constexpr const char* document = "event list";
  using E = qal3_ev_entry;
  static constexpr auto write = &qal3_write_ev_list;
  static E* make() { return with_initial_values(new E()); }
  static constexpr const char* identity[] = {"evtype"};
  static constexpr auto fields =
      std::make_tuple(Field<&qal3_ev_entry::evtype>{"evtype", Kind::integer, "", {0, QAL3_EV_EVMAX}},
                      Field<&qal3_ev_entry::sb_list>{"sb_list", Kind::records},
                      Field<&qal3_ev_entry::min_ev_time>{"min_ev_time", Kind::record},
                      Field<&qal3_ev_entry::tmask>{"tmask", Kind::unsigned_integer},
                      Field<&qal3_ev_entry::priority>{"priority", Kind::unsigned_integer});
};

// --- channel descriptions ----------------------------------------------------

template <>
struct Description<bit_descr> {
  static constexpr const char* name = "BitDescr";
  static constexpr const char* doc = "One bit of a channel's status word.";
  static constexpr auto fields =
      std::make_tuple(Field<&bit_descr::bit>{"bit", Kind::integer}, Field<&bit_descr::bit_name>{"bit_name", Kind::text},
                      Field<&bit_descr::bit_desc>{"bit_desc", Kind::text});
};

template <>
struct Description<stat_descr> {
  static constexpr const char* name = "StatDescr";
  static constexpr const char* doc = "A statistic of a dimension.";
  static constexpr auto fields = std::make_tuple(
      Field<&stat_descr::stat>{"stat", Kind::integer}, Field<&stat_descr::stat_name>{"stat_name", Kind::text},
      Field<&stat_descr::stat_desc>{"stat_desc", Kind::text}, Field<&stat_descr::units>{"units", Kind::text});
};

template <>
struct Description<dim_descr> {
  static constexpr const char* name = "DimDescr";
  static constexpr const char* doc = "A dimension of a channel, with its statistics.";
  static constexpr auto fields = std::make_tuple(
      Field<&dim_descr::dim>{"dim", Kind::integer}, Field<&dim_descr::dim_name>{"dim_name", Kind::text},
      Field<&dim_descr::dim_desc>{"dim_desc", Kind::text}, Field<&dim_descr::units>{"units", Kind::text},
      Field<&dim_descr::nstats>{"nstats", Kind::count, "the number of statistics", {}, 0, "stats"},
      Field<&dim_descr::stats>{"stats", Kind::records});
};

// Root CHANDESCRIPTIONS, or DAQvariables in the other format.
template <>
struct Description<chan_descr_2010> : FromFamily<chan_descr_2010> {
  static constexpr const char* name = "ChanDescr";
  static constexpr const char* doc =
      "A channel description. Read with shift, ``ev_type`` and ``dtype`` are the masks their numbers "
      "stand for (``dtype`` signed: a masked data type is negative), which the writers refuse.";
  static constexpr const char* root = "CHANDESCRIPTIONS";
  static constexpr const char* document = "channel descriptions";
  using C = chan_descr_2010;
  static int read_text(char* text, std::size_t, std::vector<C*>* list, const Options& o) {
    return Public::read_text(text, list, o.shift, o.merge);
  }
  static int read_file(char* path, std::vector<C*>* list, const Options& o) {
    return Public::read_file(path, list, o.shift, o.merge);
  }
  static constexpr auto write =
      static_cast<int (*)(std::vector<C*>*, char*, int, int, int, std::string*, std::vector<dim_params*>*)>(
          &dump_chan_desr);
  static int write_text(std::vector<C*>* list, std::string* doc, const Options& o) {
    return Public::write(*list, nullptr, doc, o.daqvars);
  }
  static C* make() { return with_initial_values(new C()); }
  static constexpr const char* other_root = qal3::chan::kDaqRoot;  // DAQvariables
  static constexpr const char* identity[] = {"prop_name"};
  static constexpr auto fields =
      std::make_tuple(Field<&C::stream>{"stream", Kind::integer},
                      Field<&C::ev_type>{"ev_type", Kind::unsigned_integer, "the event type's number", kMaskEventType},
                      Field<&C::count>{"count", Kind::integer},
                      Field<&C::dtype>{"dtype", Kind::type_code, "the data type's number", kMaskBlockType},
                      Field<&C::db_key>{"db_key", Kind::integer, "", {}, -1},
                      Field<&C::prop_name>{"prop_name", Kind::text, "", kRecordName},
                      Field<&C::daq_name>{"daq_name", Kind::text}, Field<&C::prop_desc>{"prop_desc", Kind::text},
                      Field<&C::units>{"units", Kind::text}, Field<&C::max_size>{"max_size", Kind::integer, "", {}, 1},
                      Field<&C::nbits>{"nbits", Kind::count, "the number of described bits", {}, 0, "bits"},
                      Field<&C::bits>{"bits", Kind::records},
                      Field<&C::ndims>{"ndims", Kind::count, "the number of dimensions", {}, 0, "dims"},
                      Field<&C::dims>{"dims", Kind::records}, Field<&C::sb_name>{"sb_name", Kind::text},
                      Field<&C::set_point>{"set_point", Kind::integer}, Field<&C::subsystem>{"subsystem", Kind::text});

  // Whether a bit's name is other than what a DAQvariables document gives
  // back for it: its one title, written from bit_desc, cut to the name.
  static bool title_apart(const bit_descr& b) {
    const std::size_t n = qal3::text::fitting_length(b.bit_desc, sizeof b.bit_name);
    return strnlen(b.bit_name, sizeof b.bit_name) != n || std::memcmp(b.bit_name, b.bit_desc, n) != 0;
  }
  // Whether `list` holds a record (not null) for which `test` is true.
  template <class T, class F>
  static bool any(const std::vector<T*>& list, F&& test) {
    for (const T* t : list)
      if (t && test(*t)) return true;
    return false;
  }
  static constexpr auto kAll = [](const auto&) { return true; };

  // What a DAQvariables document does not hold: stream, count, data type
  // and statistics at all; a size below 1 (it reads back as 1); bits but in
  // a channel of size 1 (a DaqBits), dimensions but in a channel of another
  // size (a DaqFloatMatrix); of a bit its title alone, its bit_desc, read
  // back as its name too. A CHANDESCRIPTIONS document holds every field.
  static constexpr Unheld<C> kDaqvarsUnheld[] = {
      {"stream", "", [](const C& c) { return c.stream != 0; }},
      {"count", "", [](const C& c) { return c.count != 0; }},
      {"dtype", "", [](const C& c) { return c.dtype != 0; }},
      {"max_size", "below 1", [](const C& c) { return c.max_size < 1; }},
      {"bits", "in a channel whose max_size is not 1", [](const C& c) { return c.max_size != 1 && any(c.bits, kAll); }},
      {"bits.bit_name", "other than its bit_desc",
       [](const C& c) { return c.max_size == 1 && any(c.bits, title_apart); }},
      {"dims", "in a channel whose max_size is 1", [](const C& c) { return c.max_size == 1 && any(c.dims, kAll); }},
      {"dims.stats", "", [](const C& c) {
         return c.max_size != 1 && any(c.dims, [](const dim_descr& d) { return any(d.stats, kAll); });
       }}};

  // The format the writers write with `o`.
  static Holding<C> holding(const Options& o) {
    if (!o.daqvars) return {root, "channel", nullptr, 0};
    return {other_root, "channel", kDaqvarsUnheld, sizeof kDaqvarsUnheld / sizeof *kDaqvarsUnheld};
  }

  // Calls f(i, record) for each record of `list` (at i) that the writers
  // write: not null, and the first of its property.
  template <class F>
  static void for_each_written(const std::vector<C*>& list, F&& f) {
    std::unordered_set<std::string_view> seen;
    seen.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
      const C* c = list[i];
      if (c && seen.emplace(c->prop_name, strnlen(c->prop_name, sizeof c->prop_name)).second) f(i, *c);
    }
  }
};

// --- environment index dictionary, both layouts ---------------------------------

// Entries are calloc'ed; `clean` frees them and empties the list. Each
// layout has its writer `Write`.
template <class Entry, int (*Write)(std::vector<Entry*>*, char*, int, int, std::string*)>
struct EnvDescription : FromFamily<Entry> {
  static constexpr const char* name = "EnvIndexEntry";
  static constexpr const char* doc =
      "One numbered environment channel; ``env_prop`` and the deltas are the fields of the entry's data "
      "block.";
  static constexpr const char* root = "ENVINDEXDICT";
  static constexpr const char* document = "environment index dictionary";
  static constexpr auto write = Write;
  static Entry* make() { return with_initial_values(zeroed<Entry>()); }
  static constexpr const char* identity[] = {"index"};
  static constexpr auto fields =
      std::make_tuple(Field<&Entry::index>{"index", Kind::integer, "", {0}},
                      Field<&Entry::data, &decltype(Entry::data)::env_prop>{"env_prop", Kind::text, "", kRecordName},
                      Field<&Entry::data, &decltype(Entry::data)::env_ch_abs_delta>{"env_ch_abs_delta", Kind::real},
                      Field<&Entry::data, &decltype(Entry::data)::env_ch_rel_delta>{"env_ch_rel_delta", Kind::real});
};

template <>
struct Description<qal3_env_index_dictionary_entry>
    : EnvDescription<qal3_env_index_dictionary_entry, dump_env_index_dict> {};

template <>
struct Description<qal3_env_index_dictionary_entry_2010>
    : EnvDescription<qal3_env_index_dictionary_entry_2010, dump_env_index_dict_2010> {};

// --- trigger lists -------------------------------------------------------------

// Triggers are zero-filled C heap records released with QAL3_FREE_USER
// (`clean` releases a list's and empties it).
template <>
struct Description<qal3_user_case_trigger> : FromFamily<qal3_user_case_trigger> {
  static constexpr const char* name = "Trigger";
  static constexpr const char* doc =
      "A user-case trigger. ``function`` and ``operation`` are registry slots; the writers and the replay "
      "also take their names. A name of a free slot (nothing registered there, as \"FUNC20\") is refused "
      "with ValueError.";
  static constexpr const char* root = "QAL3USERTRIGGERLIST";
  static constexpr const char* document = "trigger list";
  using T = qal3_user_case_trigger;
  static constexpr auto write = &dump_user_trigger_list;
  static T* make() { return with_initial_values(zeroed<T>()); }
  // No field is unique: triggers of one channel, subchannel and function
  // are told apart by their order.
  static constexpr const char* identity[] = {"channel", "subchannel", "function"};
  static constexpr auto fields = std::make_tuple(
      Field<&T::channel>{"channel", Kind::text, "the channel the trigger watches"},
      Field<&T::subchannel>{"subchannel", Kind::integer, "the subchannel of the channel's data it reads"},
      Field<&T::function>{"function",
                          Kind::function_slot,
                          "what the trigger computes over the channel's data",
                          {},
                          trigger::kDefaultFunction},
      Field<&T::fparam>{"fparam", Kind::reals,
                        "the function's parameters: a window function reads 0 start and 1 end (microseconds on the "
                        "axis) and 2 the increment (samples), VALUE 0 the position; the properties named after them "
                        "(start, end, incr, ...) read and set the same values"},
      Field<&T::low>{"low", Kind::real, "the low limit (LL) an operation compares the value with"},
      Field<&T::upper>{"upper", Kind::real, "the upper limit (UL) an operation compares the value with"},
      Field<&T::bitmask>{"bitmask", Kind::unsigned_integer, "the bit mask of the operations AND and BITS"},
      Field<&T::operation>{"operation",
                           Kind::operation_slot,
                           "how the value is compared with the limits or the mask",
                           {},
                           trigger::kDefaultOperation},
      Field<&T::time>{"time", Kind::time, "when the trigger was made, in seconds since 1970-01-01 UTC"},
      Field<&T::description>{"description", Kind::text, "free text"},
      Field<&T::pre_mode>{"pre_mode", Kind::integer,
                          "a number of events kept for the application (PreMode); the evaluation does not use it"},
      Field<&T::group>{"group", Kind::text, "the name of the trigger's group"},
      Field<&T::post_mode>{"post_mode", Kind::integer,
                           "a number of events kept for the application (PostMode); the evaluation does not use it"},
      Field<&T::valid>{"valid", Kind::unwritten,
                       "a flag kept for the application while the record lives; the evaluation does not use it"});
};

// --- GigE camera features ----------------------------------------------------------

template <>
struct Description<QAL3GigEFeature> : FromFamily<QAL3GigEFeature> {
  static constexpr const char* name = "GigEFeature";
  static constexpr const char* doc = "One feature of a GigE camera feature file.";
  static constexpr const char* root = "RegisterDescription";
  static constexpr const char* document = "GigE feature file";
  using G = QAL3GigEFeature;
  // The reader reads files only: a text is read through an anonymous
  // memory file, which its lines name /proc/self/fd/N.
  static int read_text(char* text, std::size_t length, std::vector<G*>* list, const Options& o) {
    const io::MemoryDocument doc(text, length);
    if (!doc.ok()) {
      const int e = errno;
      throw std::runtime_error(e == ENOENT
                                   ? std::string(io::kNoDescriptorPaths)
                                   : "document could not be put in a memory file: " + std::string(std::strerror(e)));
    }
    std::string path = doc.path();
    return read_file(&path[0], list, o);
  }
  static constexpr auto write = &qal3_write_gige_descr;
  static G* make() { return with_initial_values(new G()); }
  static constexpr const char* identity[] = {"name"};
  // The reader refuses a file with a longer text or attribute value.
  static constexpr auto fields = std::make_tuple(
      Field<&G::type>{"type", Kind::integer, "FEATURE_TYPES index: 1 Integer, 2 Float, ...", {0, FEATURE_TYPE_MAX - 1}},
      Field<&G::name>{"name", Kind::string, "", reader_text(0)},
      Field<&G::extension>{"extension", Kind::string, "", reader_text(0)},
      Field<&G::tooltip>{"tooltip", Kind::string, "", reader_text(0)},
      Field<&G::description>{"description", Kind::string, "", reader_text(0)});
};

// --- what the formats hold --------------------------------------------------

// Whether the first n characters of `path` are the name `name`.
constexpr bool names(const char* path, std::size_t n, const char* name) {
  for (std::size_t i = 0; i < n; ++i)
    if (path[i] != name[i]) return false;
  return name[n] == '\0';
}

template <class R>
constexpr bool has_field(const char* path);

template <class R, class F>
constexpr bool field_has(const F& f, const char* path, std::size_t n) {
  if (!names(path, n, f.name)) return false;
  if (path[n] == '\0') return true;
  using V = typename F::template type<R>;
  if constexpr (shape_of<V>() == Shape::record || shape_of<V>() == Shape::records)
    return has_field<typename held<V>::type>(path + n + 1);
  else
    return false;
}

// Whether `path` names a field of R, as Unheld::field does.
template <class R>
constexpr bool has_field(const char* path) {
  std::size_t n = 0;
  while (path[n] && path[n] != '.') ++n;
  return std::apply([&](const auto&... f) { return (field_has<R>(f, path, n) || ...); }, Description<R>::fields);
}

static_assert(
    [] {
      for (const auto& u : Description<chan_descr_2010>::kDaqvarsUnheld)
        if (!has_field<chan_descr_2010>(u.field)) return false;
      return true;
    }(),
    "a field DAQvariables does not hold is no field of the channel descriptions");

// Whether R's family has more than one document format (Description<R>::holding).
template <class R, class = void>
struct has_formats : std::false_type {};
template <class R>
struct has_formats<R, std::void_t<decltype(Description<R>::holding(Options{}))>> : std::true_type {};

// A field the format a writer writes in does not hold for every record,
// and how many records lose it.
struct Loss {
  const char* field;  // as Unheld::field
  const char* where;  // as Unheld::where
  std::size_t records;
};

// What the records of `list` from `first` up to `last` (at most the list's
// end) lose when they are written with `o`: for each field the format does
// not hold for every record (Holding), in the order of its entries, how
// many of the records the writer writes (for_each_written) lose it; a field
// none loses is left out. Empty for a family of one format.
template <class R>
std::vector<Loss> losses(const std::vector<R*>& list, const Options& o, std::size_t first = 0,
                         std::size_t last = std::numeric_limits<std::size_t>::max()) {
  std::vector<Loss> out;
  if constexpr (has_formats<R>::value) {
    const Holding<R> h = Description<R>::holding(o);
    if (h.count == 0) return out;
    std::vector<std::size_t> lost(h.count);
    Description<R>::for_each_written(list, [&](std::size_t i, const R& r) {
      if (i < first || i >= last) return;
      for (std::size_t k = 0; k < h.count; ++k) lost[k] += h.unheld[k].loses(r) ? 1 : 0;
    });
    for (std::size_t k = 0; k < h.count; ++k)
      if (lost[k] > 0) out.push_back({h.unheld[k].field, h.unheld[k].where, lost[k]});
  }
  return out;
}

// The line that says `loss` of the format written with `o`, as the tool and
// the Python module give it: "DAQvariables cannot hold stream: 6 channels
// lose it".
template <class R>
std::string loss_line(const Loss& loss, const Options& o) {
  static_assert(has_formats<R>::value, "a family of one format loses nothing");
  const Holding<R> h = Description<R>::holding(o);
  std::string line = std::string(h.format) + " cannot hold " + loss.field;
  if (*loss.where) line += std::string(" ") + loss.where;
  const bool one = loss.records == 1;
  return line + ": " + std::to_string(loss.records) + " " + h.record + (one ? " loses it" : "s lose it");
}

// --- owning records ----------------------------------------------------------------

// A list of records of R, released as their family releases them (the
// description's clean) when the list goes.
template <class R>
struct OwnedList {
  std::vector<R*> items;
  OwnedList() = default;
  OwnedList(const OwnedList&) = delete;
  OwnedList& operator=(const OwnedList&) = delete;
  ~OwnedList() { Description<R>::clean(&items); }
  // A new record (the family's make) at the end of the list.
  R& add() {
    items.reserve(items.size() + 1);  // so that the record, once made, goes in
    items.push_back(Description<R>::make());
    return *items.back();
  }
};

// --- every record ---------------------------------------------------------------

// Names the record type R for a generic callable.
template <class R>
struct Tag {
  using type = R;
};

// The record of each family; each brings the records its fields hold.
using Families = std::tuple<Tag<qal3_ev_entry>, Tag<chan_descr_2010>, Tag<qal3_env_index_dictionary_entry_2010>,
                            Tag<qal3_env_index_dictionary_entry>, Tag<qal3_user_case_trigger>, Tag<QAL3GigEFeature>>;

// Calls f(Tag<T>{}) for every record T a field of R holds (before the
// records that hold it), then for R. A record held in two places is
// visited twice.
template <class R, class F>
void for_each_record(F&& f) {
  for_each_field<R>([&](const auto& field) {
    using V = typename std::decay_t<decltype(field)>::template type<R>;
    constexpr Shape shape = shape_of<V>();
    if constexpr (shape == Shape::record || shape == Shape::records) for_each_record<typename held<V>::type>(f);
  });
  f(Tag<R>{});
}

// for_each_record over every family (the two dictionary layouts give
// records of the same name).
template <class F>
void for_each_family_record(F&& f) {
  std::apply([&](auto... family) { (for_each_record<typename decltype(family)::type>(f), ...); }, Families{});
}

}  // namespace qal3::records

#endif  // QAL3_RECORD_FIELDS_H
