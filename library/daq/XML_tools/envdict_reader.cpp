// Environment index dictionary readers of both layouts, written once over
// the entry type.
#include <cstdlib>
#include <cstring>

#include "boundary.h"
#include "messages.h"
#include "number_text.h"
#include "parse_env_index_dictionary.h"
#include "pull_reader.h"
#include "record_fields.h"

namespace msg = qal3::messages;

namespace {

using qal3::reader::Document;
using qal3::reader::Step;

template <class Entry>
constexpr const char* kAllocFailed = nullptr;
template <>
constexpr const char* kAllocFailed<qal3_env_index_dictionary_entry> =
    "Failed to allocate memory for qal3_env_index_dictionary_entry\n";
template <>
constexpr const char* kAllocFailed<qal3_env_index_dictionary_entry_2010> =
    "Failed to allocate memory for qal3_env_index_dictionary_entry_2010\n";

template <class Entry>
void reset_entry(Entry& e) {
  e.index = -1;
  std::memset(e.data.env_prop, 0, sizeof e.data.env_prop);
  e.data.env_ch_abs_delta = 0.0f;
  e.data.env_ch_rel_delta = 0.0f;
}

// Decimal integer with leading blanks; stops at the first non-digit, no
// digits give 0, out-of-range values are clamped.
int read_index(const char* text) { return qal3::number::clamp_to_int(qal3::number::to_long(text, nullptr)); }

// A number as "%f" reads it; a text that is no number leaves `field`.
// `dot_radix`: qal3::number::dot_is_radix().
void read_delta(const char* text, float& field, bool dot_radix) {
  char* end = nullptr;
  const float v = qal3::number::to_float(text, &end, dot_radix);
  if (end != text) field = v;
}

// The element names of a dictionary that the reader acts on.
enum class DictElement { channel, index, prop, dabs, drel, other };

constexpr const char* kChannel = "CHANNEL";

// Which of them a tag names.
const qal3::reader::ElementNames<DictElement>::Entry kDictNames[] = {
    {kChannel, DictElement::channel}, {"INDEX", DictElement::index}, {"PROP", DictElement::prop},
    {"DABS", DictElement::dabs},      {"DREL", DictElement::drel},
};
const qal3::reader::ElementNames<DictElement> dict_element(kDictNames, DictElement::other);

// The element loop of one ENVINDEXDICT document. An entry goes into the
// list once, when the second of its INDEX and PROP arrives; later fields up
// to the next CHANNEL still update it. A record never appended is reused
// for the next CHANNEL or freed at the end.
template <class Entry>
class DictionaryBuilder {
 public:
  explicit DictionaryBuilder(std::vector<Entry*>& list) : list_(list) {}
  DictionaryBuilder(const DictionaryBuilder&) = delete;
  DictionaryBuilder& operator=(const DictionaryBuilder&) = delete;
  ~DictionaryBuilder() {
    if (!appended_) std::free(entry_);
  }

  // Entries that could not be allocated: each counts as an error, so that
  // a dictionary that lost channels is never reported as read.
  int lost() const { return lost_; }

  bool operator()(const Step& s) {
    // A step without text matters only when it opens a CHANNEL.
    if (!s.value) {
      if (qal3::reader::is_named(s.tag, kChannel)) on_channel();
      return true;
    }
    const DictElement element = dict_element(s.tag);
    if (element == DictElement::channel) {
      on_channel();
    } else if (in_channel_) {
      field(element, s.value);
    }
    return true;
  }

 private:
  void field(DictElement element, const char* v) {
    switch (element) {
      case DictElement::index:
        entry_->index = read_index(v);
        note_field(index_seen_, prop_seen_);
        break;
      case DictElement::prop:
        qal3::reader::copy_text(entry_->data.env_prop, v, "PROP");
        note_field(prop_seen_, index_seen_);
        break;
      case DictElement::dabs:
        read_delta(v, entry_->data.env_ch_abs_delta, dot_radix_);
        break;
      case DictElement::drel:
        read_delta(v, entry_->data.env_ch_rel_delta, dot_radix_);
        break;
      default:
        break;
    }
  }

 public:
  // The end of the document: a CHANNEL left without INDEX or PROP is noted.
  void finish() const { note_dropped(); }

 private:
  void note_dropped() const {
    if (in_channel_ && !appended_) msg::note("CHANNEL without %s: dropped", index_seen_ ? "PROP" : "INDEX");
  }

  void on_channel() {
    note_dropped();
    if (!entry_ || appended_) {
      entry_ = static_cast<Entry*>(std::calloc(1, sizeof(Entry)));
      appended_ = false;
      if (!entry_) {
        msg::say(kAllocFailed<Entry>);
        ++lost_;
        in_channel_ = index_seen_ = prop_seen_ = false;
        return;
      }
    }
    reset_entry(*entry_);
    appended_ = index_seen_ = prop_seen_ = false;
    in_channel_ = true;
  }

  // Marks one of INDEX/PROP as seen; appends the entry when the other one
  // was seen already.
  void note_field(bool& mine, bool other) {
    if (other && !appended_) {
      list_.push_back(entry_);
      appended_ = true;
    }
    mine = true;
  }

  std::vector<Entry*>& list_;
  Entry* entry_ = nullptr;
  int lost_ = 0;  // CHANNELs skipped for want of memory
  bool in_channel_ = false;
  bool index_seen_ = false;
  bool prop_seen_ = false;
  bool appended_ = false;
  const bool dot_radix_ = qal3::number::dot_is_radix();
};

template <class Entry>
int read_dictionary(const Document& doc, std::vector<Entry*>* list) {
  if (!doc.source || !list) return 1;
  return qal3::guarded(1, [&] {
    DictionaryBuilder<Entry> builder(*list);
    const auto root = qal3::reader::root_is(qal3::records::Description<Entry>::root);
    const int sum = qal3::reader::read(doc, root, builder).sum();
    builder.finish();
    return sum + builder.lost();
  });
}

}  // namespace

int parse_env_index_dict_list_read(char* xml, std::vector<qal3_env_index_dictionary_entry*>* list) {
  return read_dictionary(Document::in_memory(xml), list);
}

int parse_env_index_dict_readf(char* file, std::vector<qal3_env_index_dictionary_entry*>* list) {
  return read_dictionary(Document::in_file(file), list);
}

int parse_env_index_dict_list_read_2010(char* xml, std::vector<qal3_env_index_dictionary_entry_2010*>* list) {
  return read_dictionary(Document::in_memory(xml), list);
}

int parse_env_index_dict_readf_2010(char* file, std::vector<qal3_env_index_dictionary_entry_2010*>* list) {
  return read_dictionary(Document::in_file(file), list);
}
