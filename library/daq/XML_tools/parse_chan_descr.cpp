// Channel descriptions, and the declaration and time stamp helpers.
#include "parse_chan_descr.h"

#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "float_text.h"
#include "number_text.h"
#include "pull_reader.h"
#include "xml_output.h"

void set_xml_header(std::string& str) {
  str.assign("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n");
}

void create_isodate(char* isodate_str, time_t* t) {
  if (!isodate_str) return;
  const time_t when = t ? *t : time(nullptr);
  struct tm local {};
  if (!localtime_r(&when, &local)) {
    isodate_str[0] = '\0';
    return;
  }
  if (strftime(isodate_str, 40, "%FT%T", &local) == 0) isodate_str[0] = '\0';
}

void create_isodate(char* isodate_str) {
  if (!isodate_str) return;
  time_t now = time(nullptr);
  create_isodate(isodate_str, &now);
}

void add_iso_date(std::string& str) {
  char date[64] = {0};
  create_isodate(date);
  char line[80];
  std::snprintf(line, sizeof line, "\t<isodate>%.*s</isodate>\n", 58, date);
  str += line;
}


// ===========================================================================
// The tag table.

const char* const tags[QAL3_CHAN_DESCR_TAG_ROWS][QAL3_CHAN_DESCR_TAG_COLS] = {
    {"CHANDESCRIPTIONS", nullptr, nullptr},
    {"CHANNEL", nullptr, nullptr},
    {"EVTYPE", nullptr, nullptr},
    {"STREAM", nullptr, nullptr},
    {"PROP", nullptr, nullptr},
    {"NAME", nullptr, nullptr},
    {"DESC", nullptr, nullptr},
    {"UNITS", "DIM_UNITS", "STAT_UNITS"},
    {"SIZE", nullptr, nullptr},
    {"BIT", "DIM", "STAT"},
    {"BIT_NAME", "DIM_NAME", "STAT_NAME"},
    {"BIT_DESCR", "DIM_DESCR", "STAT_DESCR"},
    {"SB_NAME", nullptr, nullptr},
    {"DTYPE", nullptr, nullptr},
    {"COUNT", nullptr, nullptr},
    {"SETPOINT", nullptr, nullptr},
    {"SUBSYSTEM", nullptr, nullptr},
    {"DB_KEY", nullptr, nullptr},
};

namespace {

// Rows of `tags`.
enum TagRow {
  T_ROOT = 0,
  T_CHANNEL = 1,
  T_EVTYPE = 2,
  T_STREAM = 3,
  T_PROP = 4,
  T_NAME = 5,
  T_DESC = 6,
  T_UNITS = 7,
  T_SIZE = 8,
  T_BIT = 9,
  T_BIT_NAME = 10,
  T_BIT_DESCR = 11,
  T_SB_NAME = 12,
  T_DTYPE = 13,
  T_COUNT = 14,
  T_SETPOINT = 15,
  T_SUBSYSTEM = 16,
  T_DB_KEY = 17
};
// Columns of `tags`.
enum TagCol { C_BIT = 0, C_DIM = 1, C_STAT = 2 };

const char* tag(int row, int col = 0) { return tags[row][col]; }

// The element names of a CHANDESCRIPTIONS channel that the reader acts on.
enum class ChanElement {
  channel, evtype, stream, prop, sb_name, dtype, db_key, count, setpoint, name, subsystem, desc,
  dim_descr, stat_descr, units, dim_units, stat_units, size, bit, bit_name, bit_descr, dim,
  dim_name, stat, stat_name, other
};

// Which of them `t` names (exact, case-sensitive), as a chain of strcmp
// calls in the order of kChanElements would answer; only the names of t's
// length and first character are compared.
ChanElement chan_element(const char* t) {
  struct Name {
    int row, col;
    ChanElement element;
  };
  static constexpr Name kChanElements[] = {
      {T_CHANNEL, 0, ChanElement::channel},
      {T_EVTYPE, 0, ChanElement::evtype},
      {T_STREAM, 0, ChanElement::stream},
      {T_PROP, 0, ChanElement::prop},
      {T_SB_NAME, 0, ChanElement::sb_name},
      {T_DTYPE, 0, ChanElement::dtype},
      {T_DB_KEY, 0, ChanElement::db_key},
      {T_COUNT, 0, ChanElement::count},
      {T_SETPOINT, 0, ChanElement::setpoint},
      {T_NAME, 0, ChanElement::name},
      {T_SUBSYSTEM, 0, ChanElement::subsystem},
      {T_DESC, 0, ChanElement::desc},
      {T_BIT_DESCR, C_DIM, ChanElement::dim_descr},
      {T_BIT_DESCR, C_STAT, ChanElement::stat_descr},
      {T_UNITS, 0, ChanElement::units},
      {T_UNITS, C_DIM, ChanElement::dim_units},
      {T_UNITS, C_STAT, ChanElement::stat_units},
      {T_SIZE, 0, ChanElement::size},
      {T_BIT, C_BIT, ChanElement::bit},
      {T_BIT_NAME, C_BIT, ChanElement::bit_name},
      {T_BIT_DESCR, C_BIT, ChanElement::bit_descr},
      {T_BIT, C_DIM, ChanElement::dim},
      {T_BIT_NAME, C_DIM, ChanElement::dim_name},
      {T_BIT, C_STAT, ChanElement::stat},
      {T_BIT_NAME, C_STAT, ChanElement::stat_name},
  };
  constexpr std::size_t kCount = sizeof kChanElements / sizeof kChanElements[0];
  struct Candidate {
    const char* name;
    std::size_t length;
    ChanElement element;
  };
  // Names by a hash of first character and length, each bucket in the
  // order above (so that the first equal name wins, as in the chain).
  struct Bucket {
    std::size_t size = 0;
    std::array<std::uint8_t, kCount> items{};
  };
  struct Index {
    std::array<Candidate, kCount> names{};
    std::array<Bucket, 64> buckets{};
  };
  const auto slot = [](char first, std::size_t length) {
    return (static_cast<unsigned char>(first) * 5u + length) & 63u;
  };
  static const Index index = [&] {
    Index x;
    for (std::size_t i = 0; i < kCount; ++i) {
      const char* name = tag(kChanElements[i].row, kChanElements[i].col);
      x.names[i] = {name, std::strlen(name), kChanElements[i].element};
      Bucket& into = x.buckets[slot(name[0], x.names[i].length)];
      into.items[into.size++] = static_cast<std::uint8_t>(i);
    }
    return x;
  }();
  std::size_t length = 0;
  while (t[length] != '\0') ++length;
  const Bucket& bucket = index.buckets[slot(t[0], length)];
  for (std::size_t k = 0; k < bucket.size; ++k) {
    const Candidate& c = index.names[bucket.items[k]];
    if (c.length != length) continue;
    std::size_t i = 0;
    while (i < length && t[i] == c.name[i]) ++i;
    if (i == length) return c.element;
  }
  return ChanElement::other;
}

const char* const kDaqRoot = "DAQvariables";
const char* const kUndefinedName = "!!!UNDEFINED!!!";

// ---------------------------------------------------------------------------
// Record helpers.

// Copies at most N - 1 bytes of `src` into `dst`, without splitting a UTF-8
// character, and terminates it.
template <std::size_t N>
void copy_text(char (&dst)[N], const char* src) {
  const std::size_t n = qal3::reader::fitting_length(src, N);
  if (n) std::memcpy(dst, src, n);
  dst[n] = '\0';
}

// Base-10 strtol semantics, clamped to the 32-bit range (so that 64-bit and
// 32-bit hosts read the same number).
long long read_number(const char* text) {
  if (!text) return 0;
  const long v = qal3::number::to_long(text, nullptr);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return v;
}

int read_int(const char* text) { return static_cast<int>(read_number(text)); }

// Event type as stored: the number, or with `shift` the event-type mask
// (1 << n for n in 0..31, else 0).
unsigned int event_type_value(const char* text, bool shift) {
  const long long n = read_number(text);
  if (!shift) return static_cast<unsigned int>(static_cast<int>(n));
  if (n < 0 || n > 31) return 0;
  return 1u << n;
}

// Data type as stored: the number, or with `shift` the sub-block-type mask
// (1 << n for 0..31; bit 31 plus 1 << (n - 32) for 32..62; else 0).
unsigned int data_type_value(const char* text, bool shift) {
  const long long n = read_number(text);
  if (!shift) return static_cast<unsigned int>(static_cast<int>(n));
  if (n >= 0 && n <= 31) return 1u << n;
  if (n >= 32 && n <= 62) return 0x80000000u | (1u << (n - 32));
  return 0;
}

// A new description with the reader defaults.
chan_descr_2010* new_description() {
  chan_descr_2010* d = new chan_descr_2010();
  d->db_key = -1;
  d->max_size = 1;
  return d;
}

// Releases a description the reader made and never appended (its vectors
// are consistent with its counts, so the vectors decide).
void delete_description(chan_descr_2010* d) {
  if (!d) return;
  for (bit_descr* b : d->bits) delete b;
  for (dim_descr* dm : d->dims) {
    if (!dm) continue;
    for (stat_descr* st : dm->stats) delete st;
    delete dm;
  }
  delete d;
}

struct DescriptionDeleter {
  void operator()(chan_descr_2010* d) const { delete_description(d); }
};
using OwnedDescription = std::unique_ptr<chan_descr_2010, DescriptionDeleter>;

// Step 2 of clean_chan_desr_list for one description: releases its dimension
// records as the counts allow, naming `prop` in the messages. Leaves `dims`
// empty when the records were released.
void release_dimensions(chan_descr_2010* d, const char* prop) {
  if (d->ndims != 0) {
    for (dim_descr* dm : d->dims) {
      if (!dm) continue;
      if (dm->nstats != 0) {
        for (stat_descr* st : dm->stats) delete st;
      } else if (!dm->stats.empty()) {
        std::printf("ERROR: nstats = 0, but stats.size() > 0 (%d) prop: %s\n",
                    static_cast<int>(dm->stats.size()), prop);
      }
      delete dm;
    }
    d->dims.clear();
  } else if (!d->dims.empty()) {
    std::printf("ERROR: ndims = 0, but dims.size() > 0 prop: %s\n", prop);
  }
}

// ---------------------------------------------------------------------------
// A name index: NUL-terminated names (owned by the records they name) to the
// first value entered under each name. Open addressing over a flat array of
// (hash, name, value) slots, so a lookup touches one slot array and compares
// a record's name only when the full hash matches; growing the array never
// touches the records.
template <class V>
class NameIndex {
 public:
  // The value entered first under `name`, or null.
  V find(const char* name) const {
    if (slots_.empty()) return nullptr;
    const std::size_t h = hash(name);
    for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
      const Slot& s = slots_[i];
      if (!s.name) return nullptr;
      if (s.hash == h && std::strcmp(s.name, name) == 0) return s.value;
    }
  }

  // Enters `value` under `name` unless the name is already present (the
  // first one wins). `name` must stay valid and unchanged while indexed.
  // Returns false when the name was present.
  bool insert(const char* name, V value) {
    if ((count_ + 1) * 2 > slots_.size()) grow();
    const std::size_t h = hash(name);
    for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (!s.name) {
        s = Slot{h, name, value};
        ++count_;
        return true;
      }
      if (s.hash == h && std::strcmp(s.name, name) == 0) return false;
    }
  }

  void reserve(std::size_t n) {
    while ((n + 1) * 2 > slots_.size()) grow();
  }

 private:
  struct Slot {
    std::size_t hash;
    const char* name;
    V value;
  };

  static std::size_t hash(const char* name) {
    return std::hash<std::string_view>()(std::string_view(name));
  }

  void grow() {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{0, nullptr, nullptr});
    mask_ = slots_.size() - 1;
    for (const Slot& s : old) {
      if (!s.name) continue;
      std::size_t i = s.hash & mask_;
      while (slots_[i].name) i = (i + 1) & mask_;
      slots_[i] = s;
    }
  }

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t count_ = 0;
};

// The property index of one read: name -> first description in the list
// with that prop_name, exactly the answer of find_chan_entry, kept up to date
// as the reader appends. Built on first use, so reads that never look a
// property up (CHANDESCRIPTIONS without delete_duplicated) pay nothing.
class PropertyIndex {
 public:
  explicit PropertyIndex(std::vector<chan_descr_2010*>& list) : list_(list) {}

  chan_descr_2010* find(const char* prop) {
    if (!built_) build();
    return index_.find(prop);
  }

  // `d` was just appended to the list.
  void appended(chan_descr_2010* d) {
    if (built_) index_.insert(d->prop_name, d);
  }

 private:
  void build() {
    index_.reserve(list_.size() + 1024);
    for (chan_descr_2010* d : list_) {
      if (d) index_.insert(d->prop_name, d);  // first one wins
    }
    built_ = true;
  }

  std::vector<chan_descr_2010*>& list_;
  NameIndex<chan_descr_2010*> index_;
  bool built_ = false;
};

// ---------------------------------------------------------------------------
// The reader. One implementation for both readers; `Flavor` holds
// the differences of the file reader.

struct Flavor {
  bool or_merge_daq;           // DAQvariables merge ORs ev_type, stream, dtype
  bool stat_descr_fallback;    // "STAT_DESCR" without a statistic goes to prop_desc
  bool stat_units_needs_dim;   // "STAT_UNITS" needs a current dimension too
  bool dim_clears_stat;        // "DIM" clears the current statistic
  bool bit_title_message;      // "bitTitle is not defined ..." on standard output

  static Flavor memory() { return {false, true, true, true, true}; }
  static Flavor file() { return {true, false, false, false, false}; }
};

class DescriptionReader {
 public:
  DescriptionReader(std::vector<chan_descr_2010*>& list, bool shift, bool delete_duplicated,
                    Flavor flavor)
      : list_(list), index_(list), shift_(shift), delete_duplicated_(delete_duplicated),
        flavor_(flavor) {}

  // Root check of the first step.
  bool root(const char* t) {
    if (t && std::strcmp(t, tag(T_ROOT)) == 0) {
      daq_ = false;
      return true;
    }
    if (t && std::strcmp(t, kDaqRoot) == 0) {
      daq_ = true;
      return true;
    }
    std::fprintf(stderr, "WRONG root tag: '%s' must be '%s or %s'\n", t ? t : "", tag(T_ROOT),
                 kDaqRoot);
    std::fflush(stderr);
    return false;
  }

  bool element(const qal3::reader::Step& s) {
    if (daq_) {
      daq_step(s);
    } else {
      chan_step(s);
    }
    return true;
  }

  // End of the document: the pending bitTitle message, then the release of
  // a description that was never appended.
  void finish() {
    flush_bit_title();
    drop_unappended();
  }

  int errors() const { return err_; }

 private:
  // -- the current description ---------------------------------------------

  void begin_channel() {
    drop_unappended();
    owned_.reset(new_description());
    ent_ = owned_.get();
    bits_ent_ = nullptr;
    dims_ent_ = nullptr;
    stats_ent_ = nullptr;
    f_ch_ = true;
  }

  void drop_unappended() {
    owned_.reset();
    if (!appended_) ent_ = nullptr;
    appended_ = false;
  }

  // The property element ("PROP" or "nexol") with its value. A description
  // enters the list at most once: a second property element of an appended
  // description is ignored (it can neither rename nor merge away a record
  // the list holds).
  void property(const char* value, bool merge, bool or_merge) {
    if (appended_) return;
    if (merge) {
      chan_descr_2010* entc = index_.find(value);
      if (entc) {
        if (or_merge) {
          entc->ev_type |= ent_->ev_type;
          entc->stream |= ent_->stream;
          entc->dtype |= ent_->dtype;
        } else {
          if (entc->ev_type == 0) entc->ev_type = ent_->ev_type;
          entc->stream |= ent_->stream;
          if (entc->dtype == 0) entc->dtype = ent_->dtype;
        }
        owned_.reset();
        ent_ = nullptr;
        bits_ent_ = nullptr;
        dims_ent_ = nullptr;
        stats_ent_ = nullptr;
        f_ch_ = false;
        return;
      }
    }
    copy_text(ent_->prop_name, value);
    list_.push_back(ent_);
    owned_.release();
    appended_ = true;
    index_.appended(ent_);
  }

  bit_descr* add_bit(int number) {
    auto b = std::make_unique<bit_descr>();
    b->bit = number;
    ent_->bits.push_back(b.get());
    ent_->nbits++;
    return b.release();
  }

  dim_descr* add_dim(int number) {
    auto d = std::make_unique<dim_descr>();
    d->dim = number;
    ent_->dims.push_back(d.get());
    ent_->ndims++;
    return d.release();
  }

  // -- CHANDESCRIPTIONS --------------------------------------------------------

  void chan_step(const qal3::reader::Step& s) {
    const ChanElement element = chan_element(s.tag);
    if (element == ChanElement::channel) {
      begin_channel();
      return;
    }
    if (!f_ch_ || !s.value) return;
    const char* v = s.value;
    chan_descr_2010* e = ent_;
    switch (element) {
      case ChanElement::evtype:
        e->ev_type = event_type_value(v, shift_);
        break;
      case ChanElement::stream:
        e->stream = read_int(v);
        break;
      case ChanElement::prop:
        property(v, delete_duplicated_, false);
        break;
      case ChanElement::sb_name:
        copy_text(e->sb_name, v);
        break;
      case ChanElement::dtype:
        e->dtype = data_type_value(v, shift_);
        break;
      case ChanElement::db_key:
        e->db_key = read_int(v);
        break;
      case ChanElement::count:
        e->count = read_int(v);
        break;
      case ChanElement::setpoint:
        e->set_point = read_int(v);
        break;
      case ChanElement::name:
        copy_text(e->daq_name, v);
        break;
      case ChanElement::subsystem:
        copy_text(e->subsystem, v);
        break;
      case ChanElement::desc:
        copy_text(e->prop_desc, v);
        break;
      case ChanElement::dim_descr:
        if (dims_ent_) {
          copy_text(dims_ent_->dim_desc, v);
        } else {
          copy_text(e->prop_desc, v);
        }
        break;
      case ChanElement::stat_descr:
        if (flavor_.stat_descr_fallback) {
          if (dims_ent_ && stats_ent_) {
            copy_text(stats_ent_->stat_desc, v);
          } else {
            copy_text(e->prop_desc, v);
          }
        } else if (stats_ent_) {
          copy_text(stats_ent_->stat_desc, v);
        }
        break;
      case ChanElement::units:
        copy_text(e->units, v);
        break;
      case ChanElement::dim_units:
        if (dims_ent_) copy_text(dims_ent_->units, v);
        break;
      case ChanElement::stat_units:
        if (stats_ent_ && (dims_ent_ || !flavor_.stat_units_needs_dim)) copy_text(stats_ent_->units, v);
        break;
      case ChanElement::size:
        e->max_size = read_int(v);
        break;
      case ChanElement::bit:
        bits_ent_ = add_bit(read_int(v));
        break;
      case ChanElement::bit_name:
        if (bits_ent_) copy_text(bits_ent_->bit_name, v);
        break;
      case ChanElement::bit_descr:
        if (bits_ent_) copy_text(bits_ent_->bit_desc, v);
        break;
      case ChanElement::dim:
        dims_ent_ = add_dim(read_int(v));
        if (flavor_.dim_clears_stat) stats_ent_ = nullptr;
        break;
      case ChanElement::dim_name:
        if (dims_ent_) copy_text(dims_ent_->dim_name, v);
        break;
      case ChanElement::stat:
        if (dims_ent_) {
          auto st = std::make_unique<stat_descr>();
          st->stat = read_int(v);
          dims_ent_->stats.push_back(st.get());
          dims_ent_->nstats++;
          stats_ent_ = st.release();
        }
        break;
      case ChanElement::stat_name:
        if (stats_ent_) copy_text(stats_ent_->stat_name, v);
        break;
      case ChanElement::channel:
      case ChanElement::other:
        break;
    }
  }

  // -- DAQvariables ------------------------------------------------------------

  void daq_step(const qal3::reader::Step& s) {
    const char* v = s.value;
    const bool is_bit_title = s.is("bitTitle");
    if (!is_bit_title) {
      flush_bit_title();
      last_bit_title_ = false;
    }
    if (s.is("DaqFloat") || s.is("DaqBits") ||
        s.is("DaqFloatMatrix")) {
      begin_channel();
      bit_ = s.is("DaqBits");
      dim_ = s.is("DaqFloatMatrix");
      return;
    }
    if (!f_ch_) {
      last_bit_title_ = false;
      return;
    }
    chan_descr_2010* e = ent_;
    if (is_bit_title) {
      if (bit_) bit_title(s);
      return;
    }
    if (s.is("dimension")) {
      if (!dim_) return;
      const char* id = s.attr("id");
      if (!id) {
        std::fprintf(stderr, "No attribute: id found for dimension prop: %s\n", e->prop_name);
        std::fflush(stderr);
        ++err_;
        return;
      }
      dims_ent_ = add_dim(read_int(id));
      return;
    }
    if (!v) return;
    if (s.is("evType")) {
      e->ev_type = event_type_value(v, shift_);
    } else if (s.is("nexol")) {
      property(v, true, flavor_.or_merge_daq);
    } else if (s.is("daqName")) {
      copy_text(e->daq_name, v);
    } else if (s.is("subSystem")) {
      copy_text(e->subsystem, v);
    } else if (s.is("setPoint")) {
      e->set_point = read_int(v);
    } else if (s.is("description")) {
      if (dim_ && dims_ent_) {
        copy_text(dims_ent_->dim_desc, v);
      } else {
        copy_text(e->prop_desc, v);
      }
    } else if (s.is("units")) {
      if (dim_ && dims_ent_) {
        copy_text(dims_ent_->units, v);
      } else {
        copy_text(e->units, v);
      }
    } else if (s.is("lastIndex")) {
      const long long n = read_number(v) + 1;
      e->max_size = n > INT_MAX ? INT_MAX : static_cast<int>(n);
    } else if (s.is("name")) {
      if (dim_ && dims_ent_) copy_text(dims_ent_->dim_name, v);
    }
  }

  // One report of a bitTitle element inside "DaqBits". An element is
  // reported first without text at its start tag; a report that directly
  // follows such a report with the same "bit" attribute (or the same lack of
  // it) is the same element: its text, when it has one, names the bit.
  void bit_title(const qal3::reader::Step& s) {
    const char* a = s.attr("bit");
    const bool has = a != nullptr;
    const int number = has ? read_int(a) : 0;
    const bool same = last_bit_title_ && last_has_attr_ == has && (!has || last_bit_ == number);
    if (!same) {
      flush_bit_title();
      if (!has) {
        std::fprintf(stderr, "No attribute: bit found for bitTitle prop: %s\n", ent_->prop_name);
        std::fflush(stderr);
        ++err_;
      } else {
        bits_ent_ = add_bit(number);
        pending_untitled_ = true;
      }
    }
    if (s.value) {
      // The element ends with its text.
      if (has && bits_ent_) copy_text(bits_ent_->bit_name, s.value);
      pending_untitled_ = false;
      last_bit_title_ = false;
      return;
    }
    last_bit_title_ = true;
    last_has_attr_ = has;
    last_bit_ = number;
  }

  // A bitTitle element that ended without text (memory reader message).
  void flush_bit_title() {
    if (!pending_untitled_) return;
    pending_untitled_ = false;
    if (flavor_.bit_title_message && ent_ && bits_ent_) {
      std::printf("bitTitle is not defined for bit  %d prop:%s\n", bits_ent_->bit, ent_->prop_name);
    }
  }

  std::vector<chan_descr_2010*>& list_;
  PropertyIndex index_;
  const bool shift_;
  const bool delete_duplicated_;
  const Flavor flavor_;
  bool daq_ = false;

  OwnedDescription owned_;  // ent_ while it is not in the list
  chan_descr_2010* ent_ = nullptr;
  bool appended_ = false;
  bit_descr* bits_ent_ = nullptr;
  dim_descr* dims_ent_ = nullptr;
  stat_descr* stats_ent_ = nullptr;
  bool f_ch_ = false;
  bool bit_ = false;
  bool dim_ = false;
  int err_ = 0;

  // bitTitle report state.
  bool last_bit_title_ = false;
  bool last_has_attr_ = false;
  int last_bit_ = 0;
  bool pending_untitled_ = false;
};

int read_descriptions(const qal3::reader::Document& doc, std::vector<chan_descr_2010*>* list,
                      bool shift, bool delete_duplicated, Flavor flavor) {
  if (!list) return 2;
  try {
    DescriptionReader reader(*list, shift, delete_duplicated, flavor);
    const qal3::reader::Outcome out = qal3::reader::read(
        doc, [&](const char* t) { return reader.root(t); },
        [&](const qal3::reader::Step& s) { return reader.element(s); });
    reader.finish();
    if (out.init_failed) return 1;
    return out.sum() + reader.errors();
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    return 1;
  }
}

}  // namespace

int parse_descr_list_read(char* xml, std::vector<chan_descr_2010*>* list, bool shift,
                          bool delete_duplicated) {
  return read_descriptions(qal3::reader::Document::in_memory(xml), list, shift, delete_duplicated,
                           Flavor::memory());
}

int parse_descr_list_readf(char* file, std::vector<chan_descr_2010*>* list, bool shift,
                           bool delete_duplicated) {
  return read_descriptions(qal3::reader::Document::in_file(file), list, shift, delete_duplicated,
                           Flavor::file());
}

chan_descr_2010* find_chan_entry(std::vector<chan_descr_2010*>* list, char* prop) {
  if (!list || !prop) return nullptr;
  for (chan_descr_2010* d : *list) {
    if (d && std::strcmp(d->prop_name, prop) == 0) return d;
  }
  return nullptr;
}

// ===========================================================================
// List utilities.

bit_descr* qal3_clone_bit_descr(bit_descr* in) {
  if (!in) return nullptr;
  bit_descr* out = new bit_descr();
  out->bit = in->bit;
  copy_text(out->bit_name, in->bit_name);
  copy_text(out->bit_desc, in->bit_desc);
  return out;
}

stat_descr* qal3_clone_stat_descr(stat_descr* in) {
  if (!in) return nullptr;
  stat_descr* out = new stat_descr();
  out->stat = in->stat;
  copy_text(out->stat_name, in->stat_name);
  copy_text(out->stat_desc, in->stat_desc);
  copy_text(out->units, in->units);
  return out;
}

dim_descr* qal3_clone_dim_descr(dim_descr* in) {
  if (!in) return nullptr;
  auto out = std::make_unique<dim_descr>();
  out->dim = in->dim;
  copy_text(out->dim_name, in->dim_name);
  copy_text(out->dim_desc, in->dim_desc);
  copy_text(out->units, in->units);
  out->nstats = 0;
  out->stats.reserve(in->stats.size());
  for (stat_descr* st : in->stats) {
    std::unique_ptr<stat_descr> copy(qal3_clone_stat_descr(st));
    if (!copy) continue;
    out->stats.push_back(copy.get());
    copy.release();
    out->nstats++;
  }
  return out.release();
}

void clean_chan_desr_list(std::vector<chan_descr_2010*>* chdscr_list) {
  if (!chdscr_list) return;
  for (chan_descr_2010* d : *chdscr_list) {
    if (!d) continue;
    if (d->nbits != 0) {
      for (bit_descr* b : d->bits) delete b;
      d->bits.clear();
    } else if (!d->bits.empty()) {
      std::printf("ERROR: nbits = 0, but bits.size() > 0 prop: %s\n", d->prop_name);
    }
    release_dimensions(d, d->prop_name);
    delete d;
  }
  chdscr_list->clear();
  std::fflush(stdout);
}

namespace {

// Appends `name` to the colon-joined list in `buf` (256 characters with the
// terminating NUL, like the name buffers of print_qal3_chan_descr).
void join_name(std::string& buf, const char* name) {
  if (!buf.empty()) buf += ':';
  buf += name ? name : "";
  if (buf.size() > 255) buf.resize(255);
}

std::string event_type_names(unsigned int ev_type) {
  std::string out;
  for (int n = 0; n < 32; ++n) {
    if (ev_type & (1u << n)) join_name(out, event_name_itoa(n));
  }
  return out;
}

std::string data_type_names(unsigned int dtype) {
  std::string out;
  const int base = (dtype & 0x80000000u) ? 32 : 0;
  for (int n = 0; n < 31; ++n) {
    if (dtype & (1u << n)) join_name(out, block_name_itoa(base + n));
  }
  return out;
}

}  // namespace

void print_qal3_chan_descr(std::vector<chan_descr_2010*>* list) {
  if (!list) return;
  std::puts("========================");
  std::puts("QAL3 XML Channel Description (XCD)");
  int i = 0;
  for (chan_descr_2010* d : *list) {
    const int index = i++;
    if (!d) continue;
    std::printf("--------------[%d]-----------------\n", index);
    std::printf(" stream   : %d \n", d->stream);
    std::printf(" ev type  : 0x%x %s\n", d->ev_type, event_type_names(d->ev_type).c_str());
    std::printf(" data type: 0x%x %s\n", d->dtype, data_type_names(d->dtype).c_str());
    std::printf("\tcount  :%d\n", d->count);
    std::printf("\tdb_key :%d\n", d->db_key);
    std::printf("\tprop   :%s\n", d->prop_name);
    std::printf("\tname   :%s\n", d->daq_name);
    std::printf("\tset_pnt:%s\n", d->set_point ? "yes" : "no");
    std::printf("\tdesc   :%s\n", d->prop_desc);
    std::printf("\tsb_name:%s\n", d->sb_name);
    std::printf("\tsubsys :%s\n", d->subsystem);
    std::printf("\tunit   :%s\n", d->units);
    std::printf("\tmax_sz :%d\n", d->max_size);
    if (d->nbits != 0) {
      std::printf("\t\t# bits :%d\n", d->nbits);
      for (const bit_descr* b : d->bits) {
        if (!b) continue;
        std::printf("\t\tbit    : %d\n", b->bit);
        std::printf("\t\tname   : %s\n", b->bit_name);
        std::printf("\t\tdesc   : %s\n", b->bit_desc);
      }
    } else if (!d->bits.empty()) {
      std::puts("ERROR: nbits = 0, but bits.size() > 0");
    }
    if (d->ndims != 0) {
      std::printf("\t\t# dims : %d\n", d->ndims);
      for (const dim_descr* dm : d->dims) {
        if (!dm) continue;
        std::printf("\t\tid    : %d\n", dm->dim);
        std::printf("\t\tname : %s\n", dm->dim_name);
        std::printf("\t\tdesc : %s\n", dm->dim_desc);
        std::printf("\t\tunits: %s\n", dm->units);
        if (dm->nstats != 0) {
          std::printf("\t\t\t# stats : %d\n", dm->nstats);
          for (const stat_descr* st : dm->stats) {
            if (!st) continue;
            std::printf("\t\t\tid     : %d\n", st->stat);
            std::printf("\t\t\tname   : %s\n", st->stat_name);
            std::printf("\t\t\tdesc   : %s\n", st->stat_desc);
            std::printf("\t\t\tunits  : %s\n", st->units);
          }
        } else if (!dm->stats.empty()) {
          std::puts("ERROR: nstats = 0, but stats.size() > 0");
        }
      }
    } else if (!d->dims.empty()) {
      std::puts("ERROR: ndims = 0, but dims.size() > 0");
    }
  }
  std::fflush(stdout);
}

namespace {

template <std::size_t N>
void take_if_set(char (&dst)[N], const char (&src)[N]) {
  if (src[0]) copy_text(dst, src);
}

template <std::size_t N>
void take_if_empty(char (&dst)[N], const char (&src)[N]) {
  if (!dst[0]) copy_text(dst, src);
}

void append_bit_clone(chan_descr_2010* in, bit_descr* b) {
  std::unique_ptr<bit_descr> copy(qal3_clone_bit_descr(b));
  if (!copy) return;
  in->bits.push_back(copy.get());
  copy.release();
  in->nbits++;
}

void append_dim_clone(chan_descr_2010* in, dim_descr* dm) {
  std::unique_ptr<dim_descr> copy(qal3_clone_dim_descr(dm));
  if (!copy) return;
  in->dims.push_back(copy.get());
  copy.release();
  in->ndims++;
}

}  // namespace

bool extend_channel_description(chan_descr_2010* in, chan_descr_2010* from, bool force) {
  if (!in || !from || std::strcmp(in->prop_name, from->prop_name) != 0) return true;
  if (in == from) return false;
  if (force) {
    if (from->stream != 0) in->stream = from->stream;
    if (from->ev_type != 0) in->ev_type = from->ev_type;
    if (from->count != 0) in->count = from->count;
    if (from->dtype != 0) in->dtype = from->dtype;
    if (from->max_size != 0) in->max_size = from->max_size;
    if (from->set_point != 0) in->set_point = from->set_point;
    if (from->db_key > 0) in->db_key = from->db_key;
    take_if_set(in->daq_name, from->daq_name);
    take_if_set(in->prop_desc, from->prop_desc);
    take_if_set(in->units, from->units);
    take_if_set(in->sb_name, from->sb_name);
    take_if_set(in->subsystem, from->subsystem);
    if (from->nbits != 0) {
      if (in->nbits != 0) {
        for (bit_descr* b : in->bits) delete b;
        in->bits.clear();
      }
      in->nbits = 0;
      for (bit_descr* b : from->bits) append_bit_clone(in, b);
    }
    if (from->ndims != 0) {
      release_dimensions(in, from->prop_name);
      in->ndims = 0;
      for (dim_descr* dm : from->dims) append_dim_clone(in, dm);
    }
  } else {
    if (in->stream == 0) in->stream = from->stream;
    if (in->ev_type == 0) in->ev_type = from->ev_type;
    if (in->count == 0) in->count = from->count;
    if (in->dtype == 0) in->dtype = from->dtype;
    if (in->max_size == 0) in->max_size = from->max_size;
    if (in->set_point == 0) in->set_point = from->set_point;
    if (in->db_key <= 0) in->db_key = from->db_key;
    take_if_empty(in->daq_name, from->daq_name);
    take_if_empty(in->prop_desc, from->prop_desc);
    take_if_empty(in->units, from->units);
    take_if_empty(in->sb_name, from->sb_name);
    take_if_empty(in->subsystem, from->subsystem);
    for (bit_descr* b : from->bits) {
      if (!b) continue;
      bool have = false;
      for (const bit_descr* mine : in->bits) {
        if (mine && mine->bit == b->bit) {
          have = true;
          break;
        }
      }
      if (!have) append_bit_clone(in, b);
    }
    for (dim_descr* dm : from->dims) {
      if (!dm) continue;
      dim_descr* mine = nullptr;
      for (dim_descr* d : in->dims) {
        if (d && d->dim == dm->dim) {
          mine = d;
          break;
        }
      }
      if (!mine) {
        append_dim_clone(in, dm);
      } else if (mine->nstats == 0 && dm->nstats != 0) {
        for (stat_descr* st : dm->stats) {
          std::unique_ptr<stat_descr> copy(qal3_clone_stat_descr(st));
          if (!copy) continue;
          mine->stats.push_back(copy.get());
          copy.release();
          mine->nstats++;
        }
      }
    }
  }
  std::fflush(stdout);
  return false;
}

int qal3_load_chan_descr(qal3_xml_chan_descr_header* tab, std::vector<chan_descr_2010*>* list) {
  if (!tab || !list) return -1;
  if (tab->pattern != QAL3_XML_CHAN_DESCR_PATTERN && tab->pattern != QAL3_XML_CHAN_DESCR_PATTERN_2)
    return -3;
  if (tab->length <= 8) return -4;
  try {
    const std::size_t n = static_cast<std::size_t>(tab->length) - 8;
    std::string text(reinterpret_cast<const char*>(tab) + 8, n);
    return parse_descr_list_read(&text[0], list, false, false);
  } catch (const std::bad_alloc&) {
    return 1;
  }
}

int qal3_load_master_daq_channel_description_file(std::vector<chan_descr_2010*>* list, char* file) {
  if (!list || !file || !file[0]) return -1;
  return parse_descr_list_readf(file, list, false, false);
}

// ===========================================================================
// Writer.

char* get_chan_descr_root_tag(int n, int m) {
  if (n < 0 || n > 13 || m < 0 || m > 2) return nullptr;
  return const_cast<char*>(tags[n][m]);
}

namespace {

// One valued element: start tag, value, end tag, newline.
void put_text(std::string& out, const char* name, const char* text) {
  START_TAG(out, name);
  xml_escape(out, text);
  END_TAGN(out, name);
}

void put_int(std::string& out, const char* name, int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%d", v);
  START_TAG(out, name);
  out += buf;
  END_TAGN(out, name);
}

void put_float(std::string& out, const char* name, float v) {
  START_TAG(out, name);
  out += qal3::number::float_text(v, qal3::number::FloatForm::scientific);
  END_TAGN(out, name);
}

// Start tag of "BIT", "DIM" or "STAT" with its number and a newline.
void put_numbered_start(std::string& out, const char* name, int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%d\n", v);
  START_TAG(out, name);
  out += buf;
}

void put_spectrum_axis(std::string& out, const qal3_spect_header_2010& h) {
  put_float(out, "DIM_START", h.start);
  put_float(out, "DIM_INC", h.inc);
  put_int(out, "DIM_NDATA", h.ndata);
  put_int(out, "DIM_GROUPS", h.groups);
  put_float(out, "DIM_GROUP_INC", h.group_inc);
}

void put_image_axis(std::string& out, const qal3_image_ext_frame_head& h) {
  put_int(out, "DIM_XSTART", h.x_start);
  put_int(out, "DIM_WIDTH", h.aoi_width > 0 ? h.aoi_width : h.width);
  if (h.hbin > 0) put_int(out, "DIM_XBIN", h.hbin);
  put_int(out, "DIM_YSTART", h.y_start);
  put_int(out, "DIM_HEIGHT", h.aoi_height > 0 ? h.aoi_height : h.height);
  if (h.vbin > 0) put_int(out, "DIM_YBIN", h.vbin);
  if (h.bpp > 0) put_int(out, "DIM_BPP", h.bpp);
  if (h.ebitpp > 0) put_int(out, "DIM_EBITPP", h.ebitpp);
  if (h.ispare4 != -1) put_int(out, "DIM_UNSIGNED", h.ispare4);
  if (h.fspare2 > 0.0f) put_float(out, "DIM_START", h.fspare2);
  if (h.fspare3 > 0.0f) put_float(out, "DIM_INC", h.fspare3);
  if (h.ispare3 > 0) put_int(out, "DIM_NDATA", h.ispare3);
  if (h.ispare2 > 0) put_int(out, "DIM_GROUPS", h.ispare2);
  if (h.fspare4 > 0.0f) put_float(out, "DIM_GROUP_INC", h.fspare4);
}

// Axis elements of dimension number `k` of the axis entry `p` (only for
// k in 0..num-1).
void put_axis(std::string& out, const dim_params* p, int k) {
  if (!p || k < 0 || k >= p->num) return;
  if (p->params) put_spectrum_axis(out, p->params[k]);
  if (p->iparams) put_image_axis(out, p->iparams[k]);
}

// The axis entries of one call, by DAQ name: the first qualifying entry of
// `dims` for each name.
class AxisIndex {
 public:
  explicit AxisIndex(std::vector<dim_params*>* dims) {
    if (!dims) return;
    for (dim_params* p : *dims) {
      if (p && p->name && p->num != 0 && (p->params || p->iparams)) index_.insert(p->name, p);
    }
  }
  const dim_params* find(const char* name) const { return index_.find(name); }

 private:
  NameIndex<const dim_params*> index_;
};

void write_chandescriptions(std::string& out, const chan_descr_2010* d, const char* name,
                            const dim_params* axis) {
  START_TAGN(out, tag(T_CHANNEL));
  put_int(out, tag(T_STREAM), d->stream);
  put_int(out, tag(T_EVTYPE), static_cast<int>(d->ev_type));
  put_int(out, tag(T_DTYPE), static_cast<int>(d->dtype));
  put_int(out, tag(T_DB_KEY), d->db_key);
  put_int(out, tag(T_COUNT), d->count);
  put_text(out, tag(T_SB_NAME), d->sb_name);
  put_text(out, tag(T_PROP), d->prop_name);
  put_text(out, tag(T_NAME), name);
  put_int(out, tag(T_SETPOINT), d->set_point);
  put_text(out, tag(T_SUBSYSTEM), d->subsystem);
  put_text(out, tag(T_UNITS), d->units);
  put_text(out, tag(T_DESC), d->prop_desc);
  put_int(out, tag(T_SIZE), d->max_size);
  for (const bit_descr* b : d->bits) {
    if (!b) continue;
    put_numbered_start(out, tag(T_BIT, C_BIT), b->bit);
    put_text(out, tag(T_BIT_NAME, C_BIT), b->bit_name);
    put_text(out, tag(T_BIT_DESCR, C_BIT), b->bit_desc);
    END_TAGN(out, tag(T_BIT, C_BIT));
  }
  if (!d->dims.empty()) {
    for (const dim_descr* dm : d->dims) {
      if (!dm) continue;
      put_numbered_start(out, tag(T_BIT, C_DIM), dm->dim);
      put_text(out, tag(T_BIT_NAME, C_DIM), dm->dim_name);
      put_text(out, tag(T_UNITS, C_DIM), dm->units);
      put_text(out, tag(T_BIT_DESCR, C_DIM), dm->dim_desc);
      for (const stat_descr* st : dm->stats) {
        if (!st) continue;
        put_numbered_start(out, tag(T_BIT, C_STAT), st->stat);
        put_text(out, tag(T_BIT_NAME, C_STAT), st->stat_name);
        put_text(out, tag(T_UNITS, C_STAT), st->units);
        put_text(out, tag(T_BIT_DESCR, C_STAT), st->stat_desc);
        END_TAGN(out, tag(T_BIT, C_STAT));
      }
      put_axis(out, axis, dm->dim);
      END_TAGN(out, tag(T_BIT, C_DIM));
    }
  } else if (axis) {
    for (int k = 0; k < axis->num; ++k) {
      put_numbered_start(out, tag(T_BIT, C_DIM), k);
      put_axis(out, axis, k);
      END_TAGN(out, tag(T_BIT, C_DIM));
    }
  }
  END_TAGN(out, tag(T_CHANNEL));
}

void write_daqvariables(std::string& out, const chan_descr_2010* d, const char* name) {
  const char* element = d->max_size != 1 ? "DaqFloatMatrix" : (!d->bits.empty() ? "DaqBits" : "DaqFloat");
  START_TAGN(out, element);
  put_int(out, "evType", static_cast<int>(d->ev_type));
  put_text(out, "nexol", d->prop_name);
  put_text(out, "daqName", name);
  put_int(out, "DBKey", d->db_key);
  put_int(out, "setPoint", d->set_point);
  put_text(out, "sbName", d->sb_name);
  put_text(out, "subSystem", d->subsystem);
  put_text(out, "description", d->prop_desc);
  put_text(out, "units", d->units);
  if (d->max_size > 1) {
    put_int(out, "firstIndex", 0);
    put_int(out, "lastIndex", d->max_size - 1);
  }
  char number[16];
  char bit_attr[] = "bit";
  char id_attr[] = "id";
  std::vector<char*> at(1);
  std::vector<char*> v(1, number);
  for (const bit_descr* b : d->bits) {
    if (!b) continue;
    std::snprintf(number, sizeof number, "%d", b->bit);
    at[0] = bit_attr;
    START_TAG_ATTRNS(out, "bitTitle", &at, &v);
    xml_escape(out, b->bit_desc);
    END_TAGN(out, "bitTitle");
  }
  // Dimensions are read only inside "DaqFloatMatrix"; elsewhere their
  // description and units would be read as the channel's own.
  const bool matrix = d->max_size != 1;
  for (const dim_descr* dm : d->dims) {
    if (!dm || !matrix) continue;
    std::snprintf(number, sizeof number, "%d", dm->dim);
    at[0] = id_attr;
    START_TAG_ATTRNNS(out, "dimension", &at, &v);
    put_text(out, "name", dm->dim_name);
    put_text(out, "description", dm->dim_desc);
    put_text(out, "units", dm->units);
    END_TAGN(out, "dimension");
  }
  const int kind = get_event_struct_type(static_cast<int>(d->ev_type));
  put_text(out, "freq", kind == QAL3_EV_STRUCT_LOCAL || kind == QAL3_EV_STRUCT_ML ? "-1" : "1");
  END_TAGN(out, element);
}

// The sub-block type named in mode 3.
const char* data_type_name(unsigned int dtype) {
  if (dtype == 0) return "UNKNOWN";
  for (int t = 0; t < 31; ++t) {
    if (dtype & (1u << t)) return block_name_itoa((dtype & 0x80000000u) ? 32 + t : t);
  }
  return "UNKNOWN";
}

void write_listing(qal3::output::File& file, const chan_descr_2010* d, const char* name) {
  file.printf("%d\t%d\t%s\t%s\t%d\t\"%s\"\t\"%s\"\t%d\t%d\t%d\n", d->stream,
              static_cast<int>(d->ev_type), name, d->prop_name, d->set_point, d->prop_desc,
              d->units, d->max_size, d->nbits, d->ndims);
  for (const bit_descr* b : d->bits) {
    if (b) file.printf("%d\t%s\t\"%s\"\n", b->bit, b->bit_name, b->bit_desc);
  }
  for (const dim_descr* dm : d->dims) {
    if (!dm) continue;
    file.printf("%d\t%s\t\"%s\"\t\"%s\"\n", dm->dim, dm->dim_name, dm->units, dm->dim_desc);
    file.printf("%d\n", dm->nstats);
    for (const stat_descr* st : dm->stats) {
      if (st) file.printf("%d\t%s\t\"%s\"\t\"%s\"\n", st->stat, st->stat_name, st->units, st->stat_desc);
    }
  }
}

void report_write_failure() {
  std::printf("dump_chan_desr()  write failed\n");
  std::fflush(stdout);
}

}  // namespace

int dump_chan_desr(std::vector<chan_descr_2010*>* chdscr_list, char* file_name, int mode,
                   int format, int fd, std::string* sout, std::vector<dim_params*>* dims) {
  if ((format != 0 && format != 1) || !chdscr_list) {
    std::printf("dump_chan_desr() invalid argument: '\n");
    std::fflush(stdout);
    return 2;
  }
  try {
    qal3::output::File file;
    if (file_name && file_name[0]) {
      if (!file.open(file_name)) {
        const int saved = errno;
        std::printf("dump_chan_desr() failed to open file: '%s'\n", file_name);
        std::fflush(stdout);
        errno = saved;
        std::perror("fopen");
        return 1;
      }
    }
    const bool has_destination = file.is_open() || sout || fd != -1;
    const char* root = format == 1 ? kDaqRoot : tag(T_ROOT);

    // The document: the declaration of set_xml_header, then the body built
    // in place behind it (the same text as building the body alone and
    // putting the declaration in front, without copying the body).
    std::string doc;
    if (mode == 2) {
      set_xml_header(doc);
      START_TAGN(doc, root);
      if (format == 0 && file.is_open()) add_iso_date(doc);
    }

    const AxisIndex axes(format == 0 && mode == 2 ? dims : nullptr);
    NameIndex<const chan_descr_2010*> seen;  // check_if_exists
    seen.reserve(chdscr_list->size());
    for (const chan_descr_2010* d : *chdscr_list) {
      if (!d) continue;
      if (!seen.insert(d->prop_name, d)) continue;
      if (!has_destination) {
        print_qal3_chan_descr(chdscr_list);
        break;
      }
      const char* name = d->daq_name[0] ? d->daq_name : kUndefinedName;
      if (mode == 2) {
        if (format == 0) {
          write_chandescriptions(doc, d, name, axes.find(name));
        } else {
          write_daqvariables(doc, d, name);
        }
      } else if (mode == 1) {
        write_listing(file, d, name);
      } else if (mode == 3) {
        file.printf("%50s\t%d\t%s\n", name, d->max_size, data_type_name(d->dtype));
        if (d->dtype != 0) {
          std::printf("\n");
        }
      }
    }
    if (mode == 3) std::fflush(stdout);

    if (mode == 2) {
      END_TAGN(doc, root);
      doc += '\n';
      file.put(doc);
      if (fd != -1 && !qal3::output::write_all(fd, doc)) {
        report_write_failure();
        return 2;
      }
      if (sout) *sout += doc;
    }
    if (!file.close()) {
      report_write_failure();
      return 2;
    }
    return 0;
  } catch (const std::bad_alloc&) {
    std::printf("dump_chan_desr()  write failed\n");
    std::fflush(stdout);
    return 2;
  }
}

int dump_chan_desr_from_xml(char* xml, char* file_name, int mode, int format, int fd) {
  std::vector<chan_descr_2010*> list;
  const int r = parse_descr_list_read(xml, &list, true, false);
  if (r != 0) {
    std::printf("Failed to parse CHANDESCR list\n");
    std::fflush(stdout);
    clean_chan_desr_list(&list);
    return 3;
  }
  const int result = dump_chan_desr(&list, file_name, mode, format, fd, nullptr, nullptr);
  clean_chan_desr_list(&list);
  return result;
}
