// The Python module's record conversions, on their C++ side. The module's
// bindings only move values between Python objects and the libraries'
// records, so this target runs what lies beneath them without an
// interpreter:
//  - event lists and camera feature files: the input is read (memory
//    reader; the camera reader through a memory file, as the module does),
//    the records the module would accept are written by the family's writer
//    (as its record description names it), read back, and must be the same
//    as far as the documents carry them;
//  - every family: each text field of a record read must end within its
//    field, so that the module can turn it into a str (and back: it
//    refuses texts that fill the field).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "document_text.h"
#include "fuzz_common.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "qal3_gige_descr.h"
#include "record_fields.h"
#include "user_case_trigger.h"

namespace {

using qal3::records::Description;

[[noreturn]] void fault(const char* what, const std::string& doc) {
  std::fprintf(stderr, "record conversion: %s\n--- document:\n%s\n", what, doc.c_str());
  std::abort();
}

template <size_t N>
void ends_within(const char (&field)[N], const char* what, const std::string& doc) {
  if (strnlen(field, N) == N) fault(what, doc);
}

// Records of a family, released by its cleaner.
template <class R>
struct List {
  std::vector<R*> v;
  ~List() { Description<R>::clean(&v); }
};

// The family's document of `list`, by its writer.
template <class R>
std::string write(const List<R>& list) {
  std::string doc;
  if (Description<R>::write(&list.v, nullptr, -1, &doc) != 0) fault("records not written", doc);
  return doc;
}

// --- event lists

// True when the module takes the names of `list` (as the bounds of its
// record description say: a server block name and a channel name are not
// empty, a channel name is at most the reader's text limit).
bool ev_writable(const std::vector<qal3_ev_entry*>& list, const std::string& doc) {
  for (const qal3_ev_entry* e : list) {
    for (const qal3_ev_sb_list* b : *e->sb_list) {
      ends_within(b->sb_list, "server block name", doc);
      if (!b->sb_list[0] || std::strlen(b->sb_list) > 254) return false;
      for (const char* c : *b->ch_list)
        if (!*c || std::strlen(c) > qal3::xerces::kMaxTextUnits) return false;
    }
  }
  return true;
}

void evlist_round_trip(const std::string& input) {
  std::string doc = input;
  List<qal3_ev_entry> list;
  if (qal3_parse_ev_list_read(&doc[0], &list.v) != 0 || !ev_writable(list.v, input)) return;
  std::string written = write(list);
  List<qal3_ev_entry> back;
  if (qal3_parse_ev_list_read(&written[0], &back.v) != 0) fault("written event list does not read back", written);
  if (back.v.size() != list.v.size()) fault("event list: entries differ", written);
  for (size_t i = 0; i < list.v.size(); ++i) {
    const qal3_ev_entry& a = *list.v[i];
    const qal3_ev_entry& b = *back.v[i];
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

// Reads `doc` as the module reads a document given as text.
bool read_gige(const std::string& doc, List<QAL3GigEFeature>& out) {
  qal3py::MemoryFile file(doc);
  return !qal3_fill_gige_descr(file.path(), &out.v);
}

// True when the module takes `list` (a type it knows, texts without NUL).
bool gige_writable(const std::vector<QAL3GigEFeature*>& list) {
  for (const QAL3GigEFeature* f : list) {
    if (f->type < 0 || f->type >= FEATURE_TYPE_MAX) return false;
    for (const std::string* t : {&f->name, &f->extension, &f->tooltip, &f->description})
      if (t->find('\0') != std::string::npos || t->size() > qal3::xerces::kMaxTextUnits) return false;
  }
  return true;
}

void gige_round_trip(const std::string& input) {
  List<QAL3GigEFeature> list;
  if (!read_gige(input, list) || !gige_writable(list.v)) return;
  const std::string written = write(list);
  List<QAL3GigEFeature> back;
  if (!read_gige(written, back)) fault("written feature file does not read back", written);
  if (back.v.size() != list.v.size()) fault("feature file: feature count", written);
  for (size_t i = 0; i < list.v.size(); ++i) {
    const QAL3GigEFeature& a = *list.v[i];
    const QAL3GigEFeature& b = *back.v[i];
    if (a.type != b.type) fault("feature file: type", written);
    if (fuzz::as_written(a.name.c_str()) != b.name) fault("feature file: name", written);
    if (fuzz::carried(a.extension.c_str()) != b.extension) fault("feature file: extension", written);
    if (fuzz::carried(a.tooltip.c_str()) != b.tooltip) fault("feature file: tooltip", written);
    if (fuzz::carried(a.description.c_str()) != b.description) fault("feature file: description", written);
  }
}

// --- the other families: texts end within their fields

template <class Entry>
void env_fields(const std::string& input, int (*read)(char*, std::vector<Entry*>*)) {
  std::string doc = input;
  std::vector<Entry*> list;
  read(&doc[0], &list);
  for (Entry* e : list) {
    ends_within(e->data.env_prop, "environment property", input);
    std::free(e);
  }
}

void trigger_fields(const std::string& input) {
  std::string doc = input;
  std::vector<qal3_user_case_trigger*> list;
  parse_trigger_list_read(&doc[0], &list);
  for (qal3_user_case_trigger* t : list) {
    ends_within(t->channel, "trigger channel", input);
    ends_within(t->description, "trigger description", input);
    ends_within(t->group, "trigger group", input);
    QAL3_FREE_USER(t);
  }
}

void chan_fields(const std::string& input) {
  std::string doc = input;
  std::vector<chan_descr_2010*> list;
  parse_descr_list_read(&doc[0], &list, input.size() & 1, false);
  for (const chan_descr_2010* c : list) {
    if (!c) continue;
    ends_within(c->prop_name, "property", input);
    ends_within(c->daq_name, "DAQ name", input);
    ends_within(c->prop_desc, "property description", input);
    ends_within(c->units, "units", input);
    ends_within(c->sb_name, "server block", input);
    ends_within(c->subsystem, "subsystem", input);
    for (const bit_descr* b : c->bits) {
      if (!b) continue;
      ends_within(b->bit_name, "bit name", input);
      ends_within(b->bit_desc, "bit description", input);
    }
    for (const dim_descr* d : c->dims) {
      if (!d) continue;
      ends_within(d->dim_name, "dimension name", input);
      ends_within(d->dim_desc, "dimension description", input);
      ends_within(d->units, "dimension units", input);
      for (const stat_descr* s : d->stats) {
        if (!s) continue;
        ends_within(s->stat_name, "statistic name", input);
        ends_within(s->stat_desc, "statistic description", input);
        ends_within(s->units, "statistic units", input);
      }
    }
  }
  clean_chan_desr_list(&list);
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
  env_fields(input, parse_env_index_dict_list_read);
  env_fields(input, parse_env_index_dict_list_read_2010);
  trigger_fields(input);
  chan_fields(input);
  return 0;
}
