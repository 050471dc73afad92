// One description of each record family: its root element, its reader,
// writer and cleaner, and the table of its fields (name as the records spell
// it, kind, size from sizeof). The tool's JSON, the Python conversions and
// the checker's limits are made from these tables, so that no surface keeps
// its own copy of a record's fields. Not installed.
//
// A field is Field<&R::member> (or Field<&R::block, &Block::member> for a
// member of an embedded block); `of(record)` reaches the member, `size` is
// sizeof the member. for_each_field<R>(f) calls f(field) for each field of R
// in the records' order. Each Description<R> also names the record on the
// surfaces (`name`: the Python class and the README's name) and says in one
// line what it is (`doc`).
#ifndef QAL3_RECORD_FIELDS_H
#define QAL3_RECORD_FIELDS_H

#include <cstddef>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "event_util.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "qal3_gige_descr.h"
#include "user_case_trigger.h"
#include "document_limits.h"

namespace qal3::records {

enum class Kind {
  integer,           // signed number
  unsigned_integer,  // unsigned number
  type_code,         // unsigned 32 bits, written signed ("%d") and given signed everywhere
  count,             // number of entries of a list field of the same record
  state,             // set by the reader, never written to a document
  function_slot,     // slot of the trigger function registry; surfaces that take names also take its name
  operation_slot,    // slot of the trigger operation registry, as function_slot
  real,              // float
  reals,             // array of floats
  time,              // time_t
  text,              // char array: NUL-terminated text, at most size - 1 bytes
  string,            // std::string
  texts,             // list of C strings
  record,            // embedded record with its own description
  records,           // list of records with their own description
};

// What a field's value must keep to be written and read back the same:
// for numbers the least and the greatest value, for texts (text, string,
// and each entry of texts) the fewest and the most bytes. A bound left
// unset is the member's own: the range of its type, or its size less the
// terminating NUL.
struct Bounds {
  static constexpr long long kUnset = std::numeric_limits<long long>::min();
  long long lo = kUnset;
  long long hi = kUnset;
};

// Whether `kind` is a slot of one of the trigger registries.
constexpr bool is_slot(Kind kind) { return kind == Kind::function_slot || kind == Kind::operation_slot; }

template <auto... Path>
struct Field {
  const char* name;
  Kind kind;
  const char* doc = "";  // one line for the surfaces' record descriptions; may be empty
  Bounds bounds = {};
  long long initial = 0;  // a number field's value in a new record (what a document without it reads as)

  template <class R>
  static constexpr decltype(auto) of(R& r) {
    return (r .* ... .* Path);
  }
  template <class R>
  using type = std::remove_reference_t<decltype(of(std::declval<R&>()))>;
  // sizeof the member in the record R.
  template <class R>
  static constexpr std::size_t size() {
    return sizeof(type<R>);
  }
};

// Specialised for each record below.
template <class R>
struct Description;

template <class R, class F>
void for_each_field(F&& f) {
  std::apply([&](const auto&... field) { (f(field), ...); }, Description<R>::fields);
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

// A server block name is never empty (the reader skips an empty one) and
// at most 254 bytes: the reader keeps one less than the field holds. A
// channel name is not empty and at most the reader's text limit.
template <>
struct Description<qal3_ev_sb_list> {
  static constexpr const char* name = "EvSbList";
  static constexpr const char* doc = "One server block of an event list entry; no channels means all.";
  static constexpr auto fields = std::make_tuple(
      Field<&qal3_ev_sb_list::sb_list>{"sb_list", Kind::text, "", {1, sizeof(qal3_ev_sb_list::sb_list) - 2}},
      Field<&qal3_ev_sb_list::ch_list>{"ch_list", Kind::texts, "", {1, static_cast<long long>(qal3::limits::kMaxTextUnits)}});
};

template <>
struct Description<qal3_ev_entry> {
  static constexpr const char* name = "EvEntry";
  static constexpr const char* doc = "One wanted event type; no server blocks means the full event.";
  static constexpr const char* root = "BMR";
  static constexpr auto read = &qal3_parse_ev_list_read;
  static constexpr auto readf = &qal3_parse_ev_list_readf;
  static constexpr auto write = &qal3_write_ev_list;
  static constexpr auto clean = &qal3_clean_ev_list;
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
  static constexpr auto fields = std::make_tuple(Field<&bit_descr::bit>{"bit", Kind::integer},
                                                 Field<&bit_descr::bit_name>{"bit_name", Kind::text},
                                                 Field<&bit_descr::bit_desc>{"bit_desc", Kind::text});
};

template <>
struct Description<stat_descr> {
  static constexpr const char* name = "StatDescr";
  static constexpr const char* doc = "A statistic of a dimension.";
  static constexpr auto fields = std::make_tuple(Field<&stat_descr::stat>{"stat", Kind::integer},
                                                 Field<&stat_descr::stat_name>{"stat_name", Kind::text},
                                                 Field<&stat_descr::stat_desc>{"stat_desc", Kind::text},
                                                 Field<&stat_descr::units>{"units", Kind::text});
};

template <>
struct Description<dim_descr> {
  static constexpr const char* name = "DimDescr";
  static constexpr const char* doc = "A dimension of a channel, with its statistics.";
  static constexpr auto fields = std::make_tuple(
      Field<&dim_descr::dim>{"dim", Kind::integer}, Field<&dim_descr::dim_name>{"dim_name", Kind::text},
      Field<&dim_descr::dim_desc>{"dim_desc", Kind::text}, Field<&dim_descr::units>{"units", Kind::text},
      Field<&dim_descr::nstats>{"nstats", Kind::count, "the number of statistics"},
      Field<&dim_descr::stats>{"stats", Kind::records});
};

// Root CHANDESCRIPTIONS, or DAQvariables in the other format.
template <>
struct Description<chan_descr_2010> {
  static constexpr const char* name = "ChanDescr";
  static constexpr const char* doc =
      "A channel description. ``dtype`` is signed (a masked data type is negative), as the channel "
      "description writer writes it; the writers also take its unsigned form.";
  static constexpr const char* root = "CHANDESCRIPTIONS";
  static constexpr auto read = &parse_descr_list_read;
  static constexpr auto readf = &parse_descr_list_readf;
  static constexpr auto write = static_cast<int (*)(std::vector<chan_descr_2010*>*, char*, int, int, int,
                                                    std::string*, std::vector<dim_params*>*)>(&dump_chan_desr);
  static constexpr auto clean = &clean_chan_desr_list;
  using C = chan_descr_2010;
  static constexpr auto fields = std::make_tuple(
      Field<&C::stream>{"stream", Kind::integer}, Field<&C::ev_type>{"ev_type", Kind::unsigned_integer},
      Field<&C::count>{"count", Kind::integer}, Field<&C::dtype>{"dtype", Kind::type_code},
      Field<&C::db_key>{"db_key", Kind::integer, "", {}, -1}, Field<&C::prop_name>{"prop_name", Kind::text},
      Field<&C::daq_name>{"daq_name", Kind::text}, Field<&C::prop_desc>{"prop_desc", Kind::text},
      Field<&C::units>{"units", Kind::text}, Field<&C::max_size>{"max_size", Kind::integer, "", {}, 1},
      Field<&C::nbits>{"nbits", Kind::count, "the number of described bits"},
      Field<&C::bits>{"bits", Kind::records},
      Field<&C::ndims>{"ndims", Kind::count, "the number of dimensions"}, Field<&C::dims>{"dims", Kind::records},
      Field<&C::sb_name>{"sb_name", Kind::text}, Field<&C::set_point>{"set_point", Kind::integer},
      Field<&C::subsystem>{"subsystem", Kind::text});
};

// --- environment index dictionary, both layouts ---------------------------------

template <class Entry>
struct EnvDescription {
  static constexpr const char* name = "EnvIndexEntry";
  static constexpr const char* doc =
      "One numbered environment channel; ``env_prop`` and the deltas are the fields of the entry's data "
      "block.";
  static constexpr const char* root = "ENVINDEXDICT";
  static void clean(std::vector<Entry*>* list) {
    for (Entry* e : *list) std::free(e);
    list->clear();
  }
  static constexpr auto fields = std::make_tuple(
      Field<&Entry::index>{"index", Kind::integer},
      Field<&Entry::data, &decltype(Entry::data)::env_prop>{"env_prop", Kind::text},
      Field<&Entry::data, &decltype(Entry::data)::env_ch_abs_delta>{"env_ch_abs_delta", Kind::real},
      Field<&Entry::data, &decltype(Entry::data)::env_ch_rel_delta>{"env_ch_rel_delta", Kind::real});
};

// Entries are malloc'ed; `clean` frees them and empties the list.
template <>
struct Description<qal3_env_index_dictionary_entry> : EnvDescription<qal3_env_index_dictionary_entry> {
  static constexpr auto read = &parse_env_index_dict_list_read;
  static constexpr auto readf = &parse_env_index_dict_readf;
  static constexpr auto write = static_cast<int (*)(std::vector<qal3_env_index_dictionary_entry*>*, char*, int,
                                                    int, std::string*)>(&dump_env_index_dict);
};

template <>
struct Description<qal3_env_index_dictionary_entry_2010> : EnvDescription<qal3_env_index_dictionary_entry_2010> {
  static constexpr auto read = &parse_env_index_dict_list_read_2010;
  static constexpr auto readf = &parse_env_index_dict_readf_2010;
  static constexpr auto write = static_cast<int (*)(std::vector<qal3_env_index_dictionary_entry_2010*>*, char*,
                                                    int, int, std::string*)>(&dump_env_index_dict_2010);
};

// --- trigger lists -------------------------------------------------------------

// Triggers are released with QAL3_FREE_USER (`clean` releases a list's
// and empties it).
template <>
struct Description<qal3_user_case_trigger> {
  static constexpr const char* name = "Trigger";
  static constexpr const char* doc =
      "A user-case trigger. ``function`` and ``operation`` are registry slots; the writers and the replay "
      "also take their names. A name of a free slot (nothing registered there, as \"FUNC20\") is refused "
      "with ValueError.";
  static constexpr const char* root = "QAL3USERTRIGGERLIST";
  static constexpr auto read = &parse_trigger_list_read;
  static constexpr auto readf = &parse_trigger_list_readf;
  static constexpr auto write = &dump_user_trigger_list;
  static void clean(std::vector<qal3_user_case_trigger*>* list) {
    for (qal3_user_case_trigger* t : *list) QAL3_FREE_USER(t);
    list->clear();
  }
  using T = qal3_user_case_trigger;
  static constexpr auto fields = std::make_tuple(
      Field<&T::channel>{"channel", Kind::text}, Field<&T::subchannel>{"subchannel", Kind::integer},
      Field<&T::function>{"function", Kind::function_slot}, Field<&T::fparam>{"fparam", Kind::reals},
      Field<&T::low>{"low", Kind::real}, Field<&T::upper>{"upper", Kind::real},
      Field<&T::bitmask>{"bitmask", Kind::unsigned_integer}, Field<&T::operation>{"operation", Kind::operation_slot},
      Field<&T::time>{"time", Kind::time}, Field<&T::description>{"description", Kind::text},
      Field<&T::pre_mode>{"pre_mode", Kind::integer}, Field<&T::group>{"group", Kind::text},
      Field<&T::post_mode>{"post_mode", Kind::integer}, Field<&T::valid>{"valid", Kind::state});
};

// --- GigE camera features ----------------------------------------------------------

template <>
struct Description<QAL3GigEFeature> {
  static constexpr const char* name = "GigEFeature";
  static constexpr const char* doc = "One feature of a GigE camera feature file.";
  static constexpr const char* root = "RegisterDescription";
  static constexpr auto read = &qal3_fill_gige_descr;
  static constexpr auto write = &qal3_write_gige_descr;
  static constexpr auto clean = &qal3_clean_gige_descr;
  using G = QAL3GigEFeature;
  // The reader refuses a file with a longer text or attribute value.
  static constexpr long long kText = static_cast<long long>(qal3::limits::kMaxTextUnits);
  static constexpr auto fields = std::make_tuple(
      Field<&G::type>{"type", Kind::integer, "FEATURE_TYPES index: 1 Integer, 2 Float, ...",
                      {0, FEATURE_TYPE_MAX - 1}},
      Field<&G::name>{"name", Kind::string, "", {0, kText}},
      Field<&G::extension>{"extension", Kind::string, "", {0, kText}},
      Field<&G::tooltip>{"tooltip", Kind::string, "", {0, kText}},
      Field<&G::description>{"description", Kind::string, "", {0, kText}});
};

// --- owning records ----------------------------------------------------------------

// A list of records of R, released as their family releases them (the
// description's clean) when the list goes.
template <class R>
struct OwnedList {
  std::vector<R*> v;
  OwnedList() = default;
  OwnedList(const OwnedList&) = delete;
  OwnedList& operator=(const OwnedList&) = delete;
  ~OwnedList() { Description<R>::clean(&v); }
};

// --- every record ---------------------------------------------------------------

// The record of each family; each brings the records its fields hold.
template <class... R>
struct Records {};
using Families = Records<qal3_ev_entry, chan_descr_2010, qal3_env_index_dictionary_entry_2010,
                         qal3_env_index_dictionary_entry, qal3_user_case_trigger, QAL3GigEFeature>;

// Names the record type R for a generic callable.
template <class R>
struct Tag {
  using type = R;
};

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

// Whether R has a description.
template <class R, class = void>
struct is_described : std::false_type {};
template <class R>
struct is_described<R, std::void_t<decltype(Description<R>::fields)>> : std::true_type {};

// Calls f(Tag<T>{}) for every record T a field of R holds (before the
// records that hold it), then for R. A record held in two places is
// visited twice.
template <class R, class F>
void for_each_record(F&& f) {
  for_each_field<R>([&](const auto& field) {
    using T = typename held<typename std::decay_t<decltype(field)>::template type<R>>::type;
    if constexpr (is_described<T>::value) for_each_record<T>(f);
  });
  f(Tag<R>{});
}

// for_each_record over each of the records R.
template <class F, class... R>
void for_each_record_of(F&& f, Records<R...>) {
  (for_each_record<R>(f), ...);
}

// for_each_record over every family (the two dictionary layouts give
// records of the same name).
template <class F>
void for_each_family_record(F&& f) {
  for_each_record_of(f, Families{});
}

}  // namespace qal3::records

#endif  // QAL3_RECORD_FIELDS_H
