// The channel description reader: CHANDESCRIPTIONS and DAQvariables, from
// memory or from a file, into a list of descriptions; the tag table of both
// the reader and the writer.
//
// The file holds one reading path: the element dispatch, the description
// being read (CurrentDescription) and the builder of each format on top of
// it. It is longer than most because the two builders are kept side by
// side, where the differences of the formats can be seen at a glance.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "boundary.h"
#include "chan_descr_internal.h"
#include "messages.h"
#include "name_map.h"
#include "number_text.h"
#include "pull_reader.h"

namespace msg = qal3::messages;

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

char* get_chan_descr_root_tag(int n, int m) {
  if (n < 0 || n > 13 || m < 0 || m > 2) return nullptr;
  return const_cast<char*>(tags[n][m]);
}

namespace {

using namespace qal3::chan;  // tag(), its rows and columns, the shared constants
using qal3::reader::copy_text;

// The characters of a name quoted in a reader's note.
constexpr int kQuoted = 32;

// The element names of a CHANDESCRIPTIONS channel that the reader acts on.
enum class ChanElement {
  channel,
  evtype,
  stream,
  prop,
  sb_name,
  dtype,
  db_key,
  count,
  setpoint,
  name,
  subsystem,
  desc,
  dim_descr,
  stat_descr,
  units,
  dim_units,
  stat_units,
  size,
  bit,
  bit_name,
  bit_descr,
  dim,
  dim_name,
  stat,
  stat_name,
  other
};

// Which of them a tag names.
const qal3::reader::ElementNames<ChanElement>::Entry kChanNames[] = {
    {tag(T_CHANNEL), ChanElement::channel},
    {tag(T_EVTYPE), ChanElement::evtype},
    {tag(T_STREAM), ChanElement::stream},
    {tag(T_PROP), ChanElement::prop},
    {tag(T_SB_NAME), ChanElement::sb_name},
    {tag(T_DTYPE), ChanElement::dtype},
    {tag(T_DB_KEY), ChanElement::db_key},
    {tag(T_COUNT), ChanElement::count},
    {tag(T_SETPOINT), ChanElement::setpoint},
    {tag(T_NAME), ChanElement::name},
    {tag(T_SUBSYSTEM), ChanElement::subsystem},
    {tag(T_DESC), ChanElement::desc},
    {tag(T_BIT_DESCR, C_DIM), ChanElement::dim_descr},
    {tag(T_BIT_DESCR, C_STAT), ChanElement::stat_descr},
    {tag(T_UNITS), ChanElement::units},
    {tag(T_UNITS, C_DIM), ChanElement::dim_units},
    {tag(T_UNITS, C_STAT), ChanElement::stat_units},
    {tag(T_SIZE), ChanElement::size},
    {tag(T_BIT, C_BIT), ChanElement::bit},
    {tag(T_BIT_NAME, C_BIT), ChanElement::bit_name},
    {tag(T_BIT_DESCR, C_BIT), ChanElement::bit_descr},
    {tag(T_BIT, C_DIM), ChanElement::dim},
    {tag(T_BIT_NAME, C_DIM), ChanElement::dim_name},
    {tag(T_BIT, C_STAT), ChanElement::stat},
    {tag(T_BIT_NAME, C_STAT), ChanElement::stat_name},
};
const qal3::reader::ElementNames<ChanElement> chan_element(kChanNames, ChanElement::other);

// The element names of a DAQvariables channel that the reader acts on.
enum class DaqElement {
  daq_float,
  daq_bits,
  daq_float_matrix,
  bit_title,
  dimension,
  ev_type,
  nexol,
  daq_name,
  db_key,
  sb_name,
  sub_system,
  set_point,
  description,
  units,
  last_index,
  name,
  other
};

// Which of them a tag names.
const qal3::reader::ElementNames<DaqElement>::Entry kDaqNames[] = {
    {"DaqFloat", DaqElement::daq_float},
    {"DaqBits", DaqElement::daq_bits},
    {"DaqFloatMatrix", DaqElement::daq_float_matrix},
    {"bitTitle", DaqElement::bit_title},
    {"dimension", DaqElement::dimension},
    {"evType", DaqElement::ev_type},
    {"nexol", DaqElement::nexol},
    {"daqName", DaqElement::daq_name},
    {"DBKey", DaqElement::db_key},
    {"sbName", DaqElement::sb_name},
    {"subSystem", DaqElement::sub_system},
    {"setPoint", DaqElement::set_point},
    {"description", DaqElement::description},
    {"units", DaqElement::units},
    {"lastIndex", DaqElement::last_index},
    {"name", DaqElement::name},
};
const qal3::reader::ElementNames<DaqElement> daq_element(kDaqNames, DaqElement::other);

// ---------------------------------------------------------------------------
// Conversions and records.

// Base-10 strtol semantics, clamped to the 32-bit range (so that 64-bit and
// 32-bit hosts read the same number).
int read_int(const char* text) { return text ? qal3::number::clamp_to_int(qal3::number::to_long(text, nullptr)) : 0; }

// Event type as stored: the number, or with `shift` the event-type mask
// (1 << n for n in 0..31, else 0).
unsigned int event_type_value(const char* text, bool shift) {
  const int n = read_int(text);
  if (!shift) return static_cast<unsigned int>(n);
  if (n < 0 || n > 31) return 0;
  return 1u << n;
}

// Data type as stored: the number, or with `shift` the sub-block-type mask
// (1 << n for 0..31; bit 31 plus 1 << (n - 32) for 32..62; else 0).
unsigned int data_type_value(const char* text, bool shift) {
  const int n = read_int(text);
  if (!shift) return static_cast<unsigned int>(n);
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

// The property index of one read: name -> first description in the list
// with that prop_name, exactly the answer of find_chan_entry, kept up to date
// as the reader appends. Built on first use, so reads that never look a
// property up (CHANDESCRIPTIONS without delete_duplicated) pay nothing.
class PropertyIndex {
 public:
  explicit PropertyIndex(std::vector<chan_descr_2010*>& list) : list_(list) {}

  chan_descr_2010* find(const char* prop) {
    if (!built_) build();
    chan_descr_2010* const* found = index_.find(prop);
    return found ? *found : nullptr;
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
  qal3::NameMap<chan_descr_2010*> index_;
  bool built_ = false;
};

// A new record numbered `number` at the end of `list`, counted in `count`.
template <class T, class N>
T* append_numbered(std::vector<T*>& list, N& count, int T::*field, int number) {
  auto t = std::make_unique<T>();
  t.get()->*field = number;
  list.push_back(t.get());
  ++count;
  return t.release();
}

// ---------------------------------------------------------------------------
// The description being read, shared by the builders of both formats. It is
// owned here until its property element puts it in the list; a description
// whose property merges it into one already listed is dropped, and nothing
// more is read into it.

class CurrentDescription {
 public:
  explicit CurrentDescription(std::vector<chan_descr_2010*>& list) : list_(list), index_(list) {}

  // A channel element starts a new description.
  void begin() {
    drop_unappended();
    owned_.reset(new_description());
    entry_ = owned_.get();
    bit_ = nullptr;
    dim_ = nullptr;
    stat_ = nullptr;
    open_ = true;
  }

  // The end of the document: a description never appended is released.
  void finish() { drop_unappended(" (the document's last)"); }

  // True while a description is being read.
  bool open() const { return open_; }
  // The description being read; only while open().
  chan_descr_2010& entry() { return *entry_; }
  bool has_entry() const { return entry_ != nullptr; }

  // The property element ("PROP" or "nexol") with its value. A description
  // enters the list at most once: a second property element of an appended
  // description is ignored (it can neither rename nor merge away a record
  // the list holds). With `merge`, a description whose property is listed
  // already is merged into the listed one: event type and data type taken
  // where the listed one has none, streams ORed; with `or_merge` all three
  // are ORed.
  void property(const char* value, const char* tag, bool merge, bool or_merge) {
    if (appended_) {
      qal3::messages::note("%s given again for property '%.*s': ignored", tag, kQuoted, entry_->prop_name);
      return;
    }
    if (merge) {
      if (chan_descr_2010* listed = index_.find(value)) {
        qal3::messages::note("property '%.*s' listed before: merged into the listed description%s", kQuoted, value,
                             or_merge ? " (types and streams ORed)" : "");
        merge_into(*listed, or_merge);
        return;
      }
    }
    copy_text(entry_->prop_name, value, tag);
    list_.push_back(entry_);
    owned_.release();
    appended_ = true;
    index_.appended(entry_);
  }

  // New bit, dimension or statistic records; each becomes the current one
  // of its kind. A statistic needs a current dimension (null without one).
  bit_descr* add_bit(int number) {
    return bit_ = append_numbered(entry_->bits, entry_->nbits, &bit_descr::bit, number);
  }
  dim_descr* add_dim(int number) {
    return dim_ = append_numbered(entry_->dims, entry_->ndims, &dim_descr::dim, number);
  }
  stat_descr* add_stat(int number) {
    return dim_ ? stat_ = append_numbered(dim_->stats, dim_->nstats, &stat_descr::stat, number) : nullptr;
  }

  bit_descr* bit() const { return bit_; }
  dim_descr* dim() const { return dim_; }
  stat_descr* stat() const { return stat_; }
  void forget_stat() { stat_ = nullptr; }

  void count_error() { ++errors_; }
  int errors() const { return errors_; }

 private:
  void merge_into(chan_descr_2010& listed, bool or_merge) {
    if (or_merge) {
      listed.ev_type |= entry_->ev_type;
      listed.stream |= entry_->stream;
      listed.dtype |= entry_->dtype;
    } else {
      if (listed.ev_type == 0) listed.ev_type = entry_->ev_type;
      listed.stream |= entry_->stream;
      if (listed.dtype == 0) listed.dtype = entry_->dtype;
    }
    owned_.reset();
    entry_ = nullptr;
    bit_ = nullptr;
    dim_ = nullptr;
    stat_ = nullptr;
    open_ = false;
  }

  // `which`: how the note names the description dropped.
  void drop_unappended(const char* which = " (the one before this)") {
    if (owned_) qal3::messages::note("channel description%s without a property: dropped", which);
    owned_.reset();
    if (!appended_) entry_ = nullptr;
    appended_ = false;
  }

  std::vector<chan_descr_2010*>& list_;
  PropertyIndex index_;
  OwnedDescription owned_;  // entry_ while it is not in the list
  chan_descr_2010* entry_ = nullptr;
  bool appended_ = false;
  bool open_ = false;
  bit_descr* bit_ = nullptr;
  dim_descr* dim_ = nullptr;
  stat_descr* stat_ = nullptr;
  int errors_ = 0;
};

// What the file reader does differently from the memory reader.
struct Flavor {
  bool or_merge_daq;          // DAQvariables merge ORs ev_type, stream, dtype
  bool stat_descr_fallback;   // "STAT_DESCR" without a statistic goes to prop_desc
  bool stat_units_needs_dim;  // "STAT_UNITS" needs a current dimension too
  bool dim_clears_stat;       // "DIM" clears the current statistic
  bool bit_title_message;     // "bitTitle is not defined ..." on standard output

  static Flavor memory() { return {false, true, true, true, true}; }
  static Flavor file() { return {true, false, false, false, false}; }
};

// ---------------------------------------------------------------------------
// CHANDESCRIPTIONS: one CHANNEL element per description, its fields as
// child elements with text.
class ChanDescriptionsBuilder {
 public:
  ChanDescriptionsBuilder(CurrentDescription& current, bool shift, bool delete_duplicated, Flavor flavor)
      : current_(current), shift_(shift), delete_duplicated_(delete_duplicated), flavor_(flavor) {}

  void element(const qal3::reader::Step& s) {
    // A step without text matters only when it opens a CHANNEL.
    if (!s.value) {
      if (qal3::reader::is_named(s.tag, tag(T_CHANNEL))) current_.begin();
      return;
    }
    const ChanElement element = chan_element(s.tag);
    if (element == ChanElement::channel) {
      current_.begin();
      return;
    }
    if (!current_.open()) return;
    field(element, s.value, s.tag);
  }

 private:
  void field(ChanElement element, const char* v, const char* tag) {
    chan_descr_2010& e = current_.entry();
    dim_descr* const dim = current_.dim();
    stat_descr* const stat = current_.stat();
    switch (element) {
      case ChanElement::evtype:
        e.ev_type = event_type_value(v, shift_);
        break;
      case ChanElement::stream:
        e.stream = read_int(v);
        break;
      case ChanElement::prop:
        current_.property(v, tag, delete_duplicated_, false);
        break;
      case ChanElement::sb_name:
        copy_text(e.sb_name, v, tag);
        break;
      case ChanElement::dtype:
        e.dtype = data_type_value(v, shift_);
        break;
      case ChanElement::db_key:
        e.db_key = read_int(v);
        break;
      case ChanElement::count:
        e.count = read_int(v);
        break;
      case ChanElement::setpoint:
        e.set_point = read_int(v);
        break;
      case ChanElement::name:
        copy_text(e.daq_name, v, tag);
        break;
      case ChanElement::subsystem:
        copy_text(e.subsystem, v, tag);
        break;
      case ChanElement::desc:
        copy_text(e.prop_desc, v, tag);
        break;
      case ChanElement::dim_descr:
        dim ? copy_text(dim->dim_desc, v, tag) : copy_text(e.prop_desc, v, tag);
        break;
      case ChanElement::stat_descr:
        if (flavor_.stat_descr_fallback) {
          dim&& stat ? copy_text(stat->stat_desc, v, tag) : copy_text(e.prop_desc, v, tag);
        } else if (stat) {
          copy_text(stat->stat_desc, v, tag);
        } else {
          outside(tag, "STAT");
        }
        break;
      case ChanElement::units:
        copy_text(e.units, v, tag);
        break;
      case ChanElement::dim_units:
        if (dim)
          copy_text(dim->units, v, tag);
        else
          outside(tag, "DIM");
        break;
      case ChanElement::stat_units:
        if (stat && (dim || !flavor_.stat_units_needs_dim))
          copy_text(stat->units, v, tag);
        else
          outside(tag, "STAT");
        break;
      case ChanElement::size:
        e.max_size = read_int(v);
        break;
      case ChanElement::bit:
        current_.add_bit(read_int(v));
        break;
      case ChanElement::bit_name:
        if (current_.bit())
          copy_text(current_.bit()->bit_name, v, tag);
        else
          outside(tag, "BIT");
        break;
      case ChanElement::bit_descr:
        if (current_.bit())
          copy_text(current_.bit()->bit_desc, v, tag);
        else
          outside(tag, "BIT");
        break;
      case ChanElement::dim:
        current_.add_dim(read_int(v));
        if (flavor_.dim_clears_stat) current_.forget_stat();
        break;
      case ChanElement::dim_name:
        if (dim)
          copy_text(dim->dim_name, v, tag);
        else
          outside(tag, "DIM");
        break;
      case ChanElement::stat:
        if (!current_.add_stat(read_int(v))) outside(tag, "DIM");
        break;
      case ChanElement::stat_name:
        if (stat)
          copy_text(stat->stat_name, v, tag);
        else
          outside(tag, "STAT");
        break;
      case ChanElement::channel:
      case ChanElement::other:
        break;
    }
  }

  // An element whose record (`parent`: a BIT, DIM or STAT before it in the
  // description) is missing: its text is dropped.
  __attribute__((noinline, cold)) static void outside(const char* tag, const char* parent) {
    msg::note("%s without a %s before it in the description: dropped", tag, parent);
  }

  CurrentDescription& current_;
  const bool shift_;
  const bool delete_duplicated_;
  const Flavor flavor_;
};

// ---------------------------------------------------------------------------
// DAQvariables: one DaqFloat, DaqBits or DaqFloatMatrix element per
// description; bits as bitTitle elements with a "bit" attribute (the title
// is read as the bit's name and description), dimensions as dimension
// elements with an "id" attribute.
class DaqVariablesBuilder {
 public:
  DaqVariablesBuilder(CurrentDescription& current, bool shift, Flavor flavor)
      : current_(current), shift_(shift), flavor_(flavor) {}

  void element(const qal3::reader::Step& s) {
    const DaqElement element = daq_element(s.tag);
    const bool is_bit_title = element == DaqElement::bit_title;
    if (!is_bit_title) {
      flush_bit_title();
      last_bit_title_ = false;
    }
    if (element == DaqElement::daq_float || element == DaqElement::daq_bits ||
        element == DaqElement::daq_float_matrix) {
      current_.begin();
      bits_channel_ = element == DaqElement::daq_bits;
      matrix_channel_ = element == DaqElement::daq_float_matrix;
      return;
    }
    if (!current_.open()) {
      last_bit_title_ = false;
      return;
    }
    if (is_bit_title) {
      if (bits_channel_) bit_title(s);
      return;
    }
    if (element == DaqElement::dimension) {
      if (matrix_channel_) dimension(s);
      return;
    }
    if (s.value) field(element, s.value, s.tag);
  }

  // The end of the document: a bitTitle still waiting for its text.
  void finish() { flush_bit_title(); }

 private:
  void dimension(const qal3::reader::Step& s) {
    const char* id = s.attr("id");
    if (!id) {
      msg::print(msg::err, msg::error, msg::flush, "No attribute: id found for dimension prop: %s\n",
                 current_.entry().prop_name);
      current_.count_error();
      return;
    }
    current_.add_dim(read_int(id));
  }

  void field(DaqElement element, const char* v, const char* tag) {
    chan_descr_2010& e = current_.entry();
    dim_descr* const dim = matrix_channel_ ? current_.dim() : nullptr;
    switch (element) {
      case DaqElement::ev_type:
        e.ev_type = event_type_value(v, shift_);
        break;
      case DaqElement::nexol:
        current_.property(v, tag, true, flavor_.or_merge_daq);
        break;
      case DaqElement::daq_name:
        copy_text(e.daq_name, v, tag);
        break;
      case DaqElement::db_key:
        e.db_key = read_int(v);
        break;
      case DaqElement::sb_name:
        copy_text(e.sb_name, v, tag);
        break;
      case DaqElement::sub_system:
        copy_text(e.subsystem, v, tag);
        break;
      case DaqElement::set_point:
        e.set_point = read_int(v);
        break;
      case DaqElement::description:
        dim ? copy_text(dim->dim_desc, v, tag) : copy_text(e.prop_desc, v, tag);
        break;
      case DaqElement::units:
        dim ? copy_text(dim->units, v, tag) : copy_text(e.units, v, tag);
        break;
      case DaqElement::last_index: {
        e.max_size = qal3::number::clamp_to_int(read_int(v) + 1LL);
        break;
      }
      case DaqElement::name:
        if (dim) copy_text(dim->dim_name, v, tag);
        break;
      default:
        unkept(tag);
        break;
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
        msg::print(msg::err, msg::error, msg::flush, "No attribute: bit found for bitTitle prop: %s\n",
                   current_.entry().prop_name);
        current_.count_error();
      } else {
        current_.add_bit(number);
        pending_untitled_ = true;
      }
    }
    if (s.value) {
      // The element ends with its text: the bit's one title, which the
      // writer writes from its description. The name, the shorter field,
      // notes a cut for both.
      if (has && current_.bit()) {
        copy_text(current_.bit()->bit_desc, s.value);
        copy_text(current_.bit()->bit_name, s.value, s.tag);
      }
      pending_untitled_ = false;
      last_bit_title_ = false;
      return;
    }
    last_bit_title_ = true;
    last_has_attr_ = has;
    last_bit_ = number;
  }

  // An element of a description that no record field keeps: noted once per
  // name and document.
  __attribute__((noinline, cold)) void unkept(const char* tag) {
    if (!msg::sink_in_force()) return;
    for (const std::string& n : unkept_)
      if (n == tag) return;
    try {
      unkept_.emplace_back(tag);
    } catch (...) {
      return;
    }
    msg::note("%s: not kept by the channel description records (noted once per document)", tag);
  }

  // A bitTitle element that ended without text (memory reader message).
  void flush_bit_title() {
    if (!pending_untitled_) return;
    pending_untitled_ = false;
    if (flavor_.bit_title_message && current_.has_entry() && current_.bit()) {
      msg::print(msg::out, msg::info, msg::keep, "bitTitle is not defined for bit  %d prop:%s\n", current_.bit()->bit,
                 current_.entry().prop_name);
    }
  }

  CurrentDescription& current_;
  const bool shift_;
  const Flavor flavor_;
  bool bits_channel_ = false;    // the description is a DaqBits
  bool matrix_channel_ = false;  // the description is a DaqFloatMatrix

  // bitTitle report state.
  bool last_bit_title_ = false;
  bool last_has_attr_ = false;
  int last_bit_ = 0;
  bool pending_untitled_ = false;
  std::vector<std::string> unkept_;  // names noted by unkept()
};

// ---------------------------------------------------------------------------
// The reader of both formats: the root element chooses the builder.
class DescriptionReader {
 public:
  DescriptionReader(std::vector<chan_descr_2010*>& list, bool shift, bool delete_duplicated, Flavor flavor)
      : current_(list), chan_(current_, shift, delete_duplicated, flavor), daq_(current_, shift, flavor) {}

  bool root(const char* t) {
    if (t && std::strcmp(t, tag(T_ROOT)) == 0) {
      daq_format_ = false;
      return true;
    }
    if (t && std::strcmp(t, kDaqRoot) == 0) {
      daq_format_ = true;
      return true;
    }
    msg::print(msg::err, msg::error, msg::flush, "WRONG root tag: '%s' must be '%s or %s'\n", t ? t : "", tag(T_ROOT),
               kDaqRoot);
    return false;
  }

  bool element(const qal3::reader::Step& s) {
    if (daq_format_) {
      daq_.element(s);
    } else {
      chan_.element(s);
    }
    return true;
  }

  void finish() {
    daq_.finish();
    current_.finish();
  }

  int errors() const { return current_.errors(); }

 private:
  CurrentDescription current_;
  ChanDescriptionsBuilder chan_;
  DaqVariablesBuilder daq_;
  bool daq_format_ = false;
};

int read_descriptions(const qal3::reader::Document& doc, std::vector<chan_descr_2010*>* list, bool shift,
                      bool delete_duplicated, Flavor flavor) {
  if (!list) return 2;
  return qal3::guarded(1, [&] {
    DescriptionReader reader(*list, shift, delete_duplicated, flavor);
    const qal3::reader::Outcome out = qal3::reader::read(
        doc, [&](const char* t) { return reader.root(t); },
        [&](const qal3::reader::Step& s) { return reader.element(s); });
    reader.finish();
    if (out.init_failed) return 1;
    return out.sum() + reader.errors();
  });
}

}  // namespace

int parse_descr_list_read(char* xml, std::vector<chan_descr_2010*>* list, bool shift, bool delete_duplicated) {
  return read_descriptions(qal3::reader::Document::in_memory(xml), list, shift, delete_duplicated, Flavor::memory());
}

int parse_descr_list_readf(char* file, std::vector<chan_descr_2010*>* list, bool shift, bool delete_duplicated) {
  return read_descriptions(qal3::reader::Document::in_file(file), list, shift, delete_duplicated, Flavor::file());
}

chan_descr_2010* find_chan_entry(std::vector<chan_descr_2010*>* list, char* prop) {
  if (!list || !prop) return nullptr;
  for (chan_descr_2010* d : *list) {
    if (d && std::strcmp(d->prop_name, prop) == 0) return d;
  }
  return nullptr;
}
