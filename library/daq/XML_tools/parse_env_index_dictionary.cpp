// Environment index dictionary: readers and writers of both layouts. Every
// operation is written once over the entry type; EntryLayout holds what
// differs between the layouts (names in messages; the name length follows
// from the record itself).
#include "parse_env_index_dictionary.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include "attr_tags_functions.h"
#include "boundary.h"
#include "float_text.h"
#include "number_text.h"
#include "parse_chan_descr.h"
#include "pull_reader.h"
#include "messages.h"
#include "text_field.h"
#include "trigger_facts.h"
#include "xml_output.h"

namespace msg = qal3::messages;

namespace {

using qal3::reader::Document;
using qal3::reader::Step;
using qal3::number::float_text;

constexpr const char* kRoot = "ENVINDEXDICT";

template <class Entry>
struct EntryLayout;

template <>
struct EntryLayout<qal3_env_index_dictionary_entry> {
  static constexpr const char* alloc_failed =
      "Failed to allocate memory for qal3_env_index_dictionary_entry\n";
  static constexpr const char* writer = "dump_env_index_dict()";
  static constexpr qal3::output::Messages messages{
      writer, true, "dump_env_index_dict() failed to write \n",
      "dump_env_index_dict() failed to write file: '%s'\n"};
};

template <>
struct EntryLayout<qal3_env_index_dictionary_entry_2010> {
  static constexpr const char* alloc_failed =
      "Failed to allocate memory for qal3_env_index_dictionary_entry_2010\n";
  static constexpr const char* writer = "dump_env_index_dict_2010()";
  static constexpr qal3::output::Messages messages{
      writer, true, "dump_env_index_dict_2010()  failed to write\n",
      "dump_env_index_dict_2010() failed to write file: '%s'\n"};
};

// Property name of an entry as stored, never read past its array.
template <class Entry>
std::string prop_of(const Entry& e) {
  return std::string(e.data.env_prop, strnlen(e.data.env_prop, sizeof e.data.env_prop));
}

template <class Entry>
void reset_entry(Entry& e) {
  e.index = -1;
  std::memset(e.data.env_prop, 0, sizeof e.data.env_prop);
  e.data.env_ch_abs_delta = 0.0f;
  e.data.env_ch_rel_delta = 0.0f;
}

// Decimal integer with leading blanks; stops at the first non-digit, no
// digits give 0, out-of-range values are clamped.
int read_index(const char* text) {
  const long v = qal3::number::to_long(text, nullptr);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

// A number as "%f" reads it; a text that is no number leaves `field`.
void read_delta(const char* text, float& field) {
  char* end = nullptr;
  const float v = qal3::number::to_float(text, &end);
  if (end != text) field = v;
}

// Frees the entries of a list that this file made for its own use.
template <class Entry>
struct OwnedList {
  std::vector<Entry*> items;
  OwnedList() = default;
  OwnedList(const OwnedList&) = delete;
  OwnedList& operator=(const OwnedList&) = delete;
  ~OwnedList() {
    for (Entry* e : items) std::free(e);
  }
};

// ---------------------------------------------------------------- reading

// The element names of a dictionary that the reader acts on.
enum class DictElement { channel, index, prop, dabs, drel, other };

DictElement dict_element(const char* t) {
  using E = DictElement;
  static const qal3::reader::ElementNames<E>::Entry kNames[] = {
      {"CHANNEL", E::channel}, {"INDEX", E::index}, {"PROP", E::prop},
      {"DABS", E::dabs},       {"DREL", E::drel},
  };
  static const qal3::reader::ElementNames<E> kIndex(kNames, E::other);
  return kIndex(t);
}

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
    const DictElement element = dict_element(s.tag);
    if (element == DictElement::channel) {
      on_channel();
    } else if (in_channel_ && s.value) {
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
      case DictElement::prop: {
        const std::size_t n = qal3::reader::fitting_length(v, sizeof entry_->data.env_prop);
        std::memcpy(entry_->data.env_prop, v, n);
        entry_->data.env_prop[n] = '\0';
        note_field(prop_seen_, index_seen_);
        break;
      }
      case DictElement::dabs:
        read_delta(v, entry_->data.env_ch_abs_delta);
        break;
      case DictElement::drel:
        read_delta(v, entry_->data.env_ch_rel_delta);
        break;
      default:
        break;
    }
  }

  void on_channel() {
    if (!entry_ || appended_) {
      entry_ = static_cast<Entry*>(std::calloc(1, sizeof(Entry)));
      appended_ = false;
      if (!entry_) {
        msg::deliver(msg::out, msg::error, msg::flush, EntryLayout<Entry>::alloc_failed,
                     std::strlen(EntryLayout<Entry>::alloc_failed));
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
};

template <class Entry>
int read_dictionary(const Document& doc, std::vector<Entry*>* list) {
  if (!doc.source || !list) return 1;
  return qal3::guarded(1, [&] {
    DictionaryBuilder<Entry> builder(*list);
    auto root = [](const char* tag) {
      if (tag && std::strcmp(tag, kRoot) == 0) return true;
      qal3::reader::print_wrong_root(tag, kRoot);
      return false;
    };
    const int result = qal3::reader::read(doc, root, builder).sum();
    return result + builder.lost();
  });
}

// ---------------------------------------------------------------- writing

void say(const std::string& line) { msg::deliver(msg::out, msg::error, msg::flush, line); }

// An entry's lines are composed first (in standard output's format) and
// written in one piece, so that entries printed by several threads at once
// stay whole.
template <class Entry>
void list_on_console(const Entry& e, int n) {
  std::ostringstream lines;
  lines.copyfmt(std::cout);
  lines << "-------------- " << n << " -----------------\n";
  lines << " Index : " << e.index << "\n";
  lines << " Channel: " << qal3::text::one_line(prop_of(e)) << " DABS " << e.data.env_ch_abs_delta << " DREL "
        << e.data.env_ch_rel_delta << "\n";
  if (msg::sink_in_force())
    msg::deliver(msg::out, msg::listing, msg::flush, lines.str());
  else
    std::cout << lines.str() << std::flush;
}

template <class Entry>
void text_line(qal3::output::File& file, const Entry& e) {
  std::string prop = qal3::text::one_line(prop_of(e));
  if (prop.empty()) prop = qal3::kUndefinedName;
  file.printf("%d\t%s\t%s\t%s\n", e.index, prop.c_str(), float_text(e.data.env_ch_abs_delta).c_str(),
              float_text(e.data.env_ch_rel_delta).c_str());
}

void field_line(std::string& body, const char* tag, const std::string& text) {
  START_TAG(body, tag);
  body += text;
  END_TAGN(body, tag);
}

template <class Entry>
void channel_element(std::string& body, const Entry& e) {
  START_TAGN(body, "CHANNEL");
  field_line(body, "INDEX", std::to_string(e.index));
  field_line(body, "PROP", xml_escaped(prop_of(e).c_str()));
  field_line(body, "DABS", float_text(e.data.env_ch_abs_delta));
  field_line(body, "DREL", float_text(e.data.env_ch_rel_delta));
  END_TAGN(body, "CHANNEL");
}

// The whole XML document: declaration, body, and an empty last line.
std::string finish_document(std::string& body) {
  END_TAGN(body, kRoot);
  std::string doc;
  set_xml_header(doc);
  doc += body;
  doc += "\n";
  return doc;
}

template <class Entry>
int write_dictionary(std::vector<Entry*>* list, const char* file_name, int mode, int fd,
                     std::string* xml_str) {
  using Layout = EntryLayout<Entry>;
  if (!list) {
    say(std::string(Layout::writer) + " invalid argument: '\n");
    return 2;
  }
  qal3::output::Destination out(file_name, fd, xml_str, Layout::messages);
  if (!out.open()) return 1;

  const bool xml = !out.console() && (mode == 2 || mode == 3);
  std::string body;
  START_TAGN(body, kRoot);
  add_iso_date(body);
  int n = 0;
  for (const Entry* e : *list) {
    ++n;
    if (!e) continue;
    if (out.console())
      list_on_console(*e, n);
    else if (mode == 1)
      text_line(out.file(), *e);
    else if (xml)
      channel_element(body, *e);
  }

  if (xml) {
    const std::string doc = finish_document(body);
    if (mode == 3 && xml_str) *xml_str = doc;
    if (mode == 2) {
      out.file().put(doc);
      if (!out.to_descriptor(doc)) return 2;
    }
  }
  return out.close() ? 0 : 2;
}

template <class Entry>
int convert_dictionary(char* xml, char* file_name, int mode, int fd) {
  OwnedList<Entry> own;
  if (read_dictionary<Entry>(Document::in_memory(xml), &own.items) != 0) {
    say("Failed to parse ENV INDEX DICT list\n");
    return 3;
  }
  return write_dictionary(&own.items, file_name, mode, fd, nullptr);
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

int dump_env_index_dict(std::vector<qal3_env_index_dictionary_entry*>* list, char* file_name, int mode,
                        int fd, std::string* xml_str) {
  return qal3::guarded(2, [&] { return write_dictionary(list, file_name, mode, fd, xml_str); });
}

int dump_env_index_dict_2010(std::vector<qal3_env_index_dictionary_entry_2010*>* list, char* file_name,
                             int mode, int fd, std::string* xml_str) {
  return qal3::guarded(2, [&] { return write_dictionary(list, file_name, mode, fd, xml_str); });
}

int dump_env_index_dict(char* xml, char* file_name, int mode, int fd) {
  return qal3::guarded(
      2, [&] { return convert_dictionary<qal3_env_index_dictionary_entry>(xml, file_name, mode, fd); });
}

int dump_env_index_dict_2010(char* xml, char* file_name, int mode, int fd) {
  return qal3::guarded(
      2, [&] { return convert_dictionary<qal3_env_index_dictionary_entry_2010>(xml, file_name, mode, fd); });
}
