#include "chan_selector.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "messages.h"
#include "name_map.h"
#include "parse_chan_descr.h"

namespace msg = qal3::messages;

namespace {

constexpr int kEventTypes = 32;
// Event types BOR, EOR, ENV and UPD.
constexpr std::uint32_t kSlowMask = 0x3c;

// A name as held in a fixed, terminated record array.
template <std::size_t N>
std::string_view field(const char (&text)[N]) {
  return std::string_view(text, strnlen(text, N));
}

bool bit_set(std::uint32_t mask, int bit) { return (mask >> bit) & 1u; }

// Event types whose channels are known by their DAQ name only.
bool matched_by_daq_name(int ev_type) {
  const int kind = get_event_struct_type(ev_type);
  return kind == QAL3_EV_STRUCT_LOCAL || kind == QAL3_EV_STRUCT_ML;
}

// Mask of the event types whose channels are also known by their property.
std::uint32_t prop_matched_types() {
  std::uint32_t mask = 0;
  for (int i = 0; i < kEventTypes; ++i)
    if (!matched_by_daq_name(i)) mask |= 1u << i;
  return mask;
}

// For one name, the positions in the list of the first description that
//  - has it as DAQ name (daq_any), and also has an event type (daq_typed);
//  - has it as property (prop_any), and also has an event type matched by
//    property (prop_typed).
// -1 where there is none. These answer every lookup of the selector exactly
// as a front-to-back scan of the list does.
struct FirstMatches {
  int daq_any = -1;
  int daq_typed = -1;
  int prop_any = -1;
  int prop_typed = -1;

  void add_daq(int pos, const chan_descr_2010& d) {
    if (daq_any < 0) daq_any = pos;
    if (daq_typed < 0 && d.ev_type != 0) daq_typed = pos;
  }
  void add_prop(int pos, const chan_descr_2010& d, std::uint32_t prop_types) {
    if (prop_any < 0) prop_any = pos;
    if (prop_typed < 0 && (d.ev_type & prop_types) != 0) prop_typed = pos;
  }
};

FirstMatches scan_first_matches(const std::vector<chan_descr_2010*>& list, std::string_view name) {
  FirstMatches m;
  const std::uint32_t prop_types = prop_matched_types();
  for (std::size_t i = 0; i < list.size(); ++i) {
    const chan_descr_2010* d = list[i];
    if (d == nullptr) continue;
    if (field(d->daq_name) == name) m.add_daq(static_cast<int>(i), *d);
    if (field(d->prop_name) == name) m.add_prop(static_cast<int>(i), *d, prop_types);
  }
  return m;
}

}  // namespace

// What a lookup of one name answers.
struct chan_selector::answers {
  bool daq_known = false;   // some description has the name as DAQ name
  bool prop_known = false;  // some description has it as property
  int ev_pos = -1;          // description answering get_event_type, or -1
  std::uint32_t ev_type = 0;
  std::uint32_t dtype = 0;  // data type of the first with this DAQ name

  static answers of(const std::vector<chan_descr_2010*>& list, const FirstMatches& m) {
    answers a;
    a.daq_known = m.daq_any >= 0;
    a.prop_known = m.prop_any >= 0;
    a.ev_pos = m.daq_typed;
    if (m.prop_typed >= 0 && (a.ev_pos < 0 || m.prop_typed < a.ev_pos)) a.ev_pos = m.prop_typed;
    if (a.ev_pos >= 0) a.ev_type = list[static_cast<std::size_t>(a.ev_pos)]->ev_type;
    if (m.daq_any >= 0) a.dtype = list[static_cast<std::size_t>(m.daq_any)]->dtype;
    return a;
  }
};

// Index from every DAQ and property name of the list to the answers of the
// lookups, so that a query costs the same however many descriptions are
// loaded: a query reads one slot of the name map, which holds the answers
// themselves. It is rebuilt whenever the list changes; when it cannot be
// built (out of memory) lookups fall back to scanning the list.
class chan_selector::name_index {
 public:
  void build(const std::vector<chan_descr_2010*>& list) {
    valid_ = false;
    try {
      // The first matches of every name, then the answers alone: the map
      // that queries read keeps its slots small.
      qal3::NameMap<FirstMatches> matches;
      matches.reserve(list.size() * 2);  // two names per description
      const std::uint32_t prop_types = prop_matched_types();
      for (std::size_t i = 0; i < list.size(); ++i) {
        const chan_descr_2010* d = list[i];
        if (d == nullptr) continue;
        matches.try_emplace(field(d->daq_name)).first->add_daq(static_cast<int>(i), *d);
        matches.try_emplace(field(d->prop_name)).first->add_prop(static_cast<int>(i), *d, prop_types);
      }
      map_ = qal3::NameMap<answers>();
      map_.reserve(matches.size());
      matches.for_each(
          [&](std::string_view name, const FirstMatches& m) { *map_.try_emplace(name).first = answers::of(list, m); });
      valid_ = true;
    } catch (...) {
      map_ = qal3::NameMap<answers>();
    }
  }

  answers lookup(const std::vector<chan_descr_2010*>& list, std::string_view name) const {
    if (!valid_) return answers::of(list, scan_first_matches(list, name));
    const answers* a = map_.find(name);
    return a ? *a : answers{};
  }

 private:
  qal3::NameMap<answers> map_;
  bool valid_ = false;
};

chan_selector::chan_selector() : ev_types(0), shift(true), index_(new (std::nothrow) name_index) {}

chan_selector::~chan_selector() { clean_chan_desr_list(&descr); }

int chan_selector::size() { return static_cast<int>(descr.size()); }

void chan_selector::set_shift(bool s) { shift = s; }

bool chan_selector::change_mode(int m) { return set_mode(m); }

void chan_selector::reindex() {
  if (index_) index_->build(descr);
}

chan_selector::answers chan_selector::lookup(const char* chan) const {
  if (index_) return index_->lookup(descr, chan);
  return answers::of(descr, scan_first_matches(descr, chan));
}

bool chan_selector::set_descriptions(std::vector<char*>* source, int* total) {
  const bool failed = get_descriptions(source, total, &descr, shift);
  // Readers keep what they read before a failure, and merging may change
  // the event types of records loaded earlier: index the whole list again.
  reindex();
  if (failed) return true;
  std::uint32_t types = static_cast<std::uint32_t>(ev_types);
  for (const chan_descr_2010* d : descr)
    if (d != nullptr) types |= d->ev_type;
  ev_types = static_cast<int>(types);
  return false;
}

bool chan_selector::find_channel(int ev_type, char* chan) {
  if (descr.empty()) return true;
  if (ev_type < 0 || ev_type >= kEventTypes) return false;
  if (!bit_set(static_cast<std::uint32_t>(ev_types), ev_type)) return false;
  if (chan == nullptr) return false;
  const answers a = lookup(chan);
  return matched_by_daq_name(ev_type) ? a.daq_known : a.prop_known;
}

bool chan_selector::set_counter(int num, int cnt) {
  if (num < 0 || num >= size() || descr[num] == nullptr) return true;
  descr[num]->count = cnt;
  return false;
}

int chan_selector::get_event_type(char* chan) {
  if (descr.empty()) {
    msg::print(msg::out, msg::error, msg::keep, "get_event_type() No descroption !!!!\n");
    return 0;
  }
  if (chan != nullptr) {
    const answers a = lookup(chan);
    if (a.ev_pos >= 0) return static_cast<int>(a.ev_type);
  }
  msg::print(msg::out, msg::info, msg::keep, "CHANNEL %s NOT FOUND\n", chan != nullptr ? chan : "(null)");
  return 0;
}

int chan_selector::get_data_type(char* chan) {
  if (descr.empty()) {
    msg::print(msg::out, msg::error, msg::keep, "get_event_type() No descroption !!!!\n");
    return 0;
  }
  if (chan == nullptr) return 0;
  return static_cast<int>(lookup(chan).dtype);
}

char* chan_selector::get_channel(int num) {
  if (num < 0 || num >= size() || descr[num] == nullptr) return nullptr;
  return descr[num]->daq_name;
}

char* chan_selector::get_prop(int num) {
  if (num < 0 || num >= size() || descr[num] == nullptr) return nullptr;
  return descr[num]->prop_name;
}

int chan_selector::is_channel_slow(int num) {
  char* name = get_channel(num);
  if (name == nullptr) return -1;
  const std::uint32_t mask = static_cast<std::uint32_t>(get_event_type(name));
  if (mask == 0) return -1;
  return (mask & kSlowMask) != 0 ? 1 : 0;
}

int chan_selector::is_channel_ml(int num) {
  char* name = get_channel(num);
  if (name == nullptr) return -1;
  const std::uint32_t mask = static_cast<std::uint32_t>(get_event_type(name));
  if (mask == 0) return -1;
  const bool ml_name = field(descr[num]->daq_name).find(".ML") != std::string_view::npos;
  for (int i = 0; i < kEventTypes; ++i) {
    if (!bit_set(mask, i)) continue;
    const int kind = get_event_struct_type(i);
    // Codes 10 to 15 are the further ML layouts an event-utility library may report; the bundled one reports only 3.
    if (kind == QAL3_EV_STRUCT_ML || (kind >= 10 && kind <= 15) || ml_name) return 1;
  }
  return 0;
}

int chan_selector::get_subchannels(int num) {
  const int slow = is_channel_slow(num);
  if (slow == 1) return 1;
  if (slow == -1) return 0;
  return static_cast<int>(descr[num]->dims.size());
}

void chan_selector::dump(char* file, int dump_mode, int format) {
  dump_chan_desr(&descr, file, dump_mode, format, -1, nullptr, nullptr);  // never throws
}
