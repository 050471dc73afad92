// The Python module's record conversions, on their C++ side. The module's
// bindings only move values between these records and Python objects, so
// this target runs what lies beneath them without an interpreter:
//  - event lists and camera feature files, which the module writes itself:
//    the input is read (memory reader; the camera reader through a memory
//    file, as the module does), the records are turned into the module's
//    records, written by the module's writers, read back, and must be the
//    same as far as the documents carry them;
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
#include "user_case_trigger.h"

using qal3py::EvBlock;
using qal3py::EvEntry;
using qal3py::GigEText;

namespace {

[[noreturn]] void fault(const char* what, const std::string& doc) {
  std::fprintf(stderr, "record conversion: %s\n--- document:\n%s\n", what, doc.c_str());
  std::abort();
}

template <size_t N>
void ends_within(const char (&field)[N], const char* what, const std::string& doc) {
  if (strnlen(field, N) == N) fault(what, doc);
}

// --- event lists

struct EvList {
  std::vector<qal3_ev_entry*> v;
  ~EvList() { qal3_clean_ev_list(&v); }
};

// What the module's records hold of `list`, or false when its writer
// would refuse them (names it cannot write back).
bool ev_records(const std::vector<qal3_ev_entry*>& list, std::vector<EvEntry>& out, const std::string& doc) {
  for (const qal3_ev_entry* e : list) {
    EvEntry r;
    r.evtype = static_cast<unsigned long long>(e->evtype);
    r.tmask = e->tmask;
    r.timeup = e->min_ev_time.timeup;
    r.timelow = e->min_ev_time.timelow;
    r.priority = e->priority;
    if (e->sb_list) {
      for (const qal3_ev_sb_list* b : *e->sb_list) {
        ends_within(b->sb_list, "server block name", doc);
        EvBlock block{b->sb_list, {}};
        if (block.name.empty() || block.name.size() > 254) return false;
        if (b->ch_list)
          for (const char* c : *b->ch_list) {
            if (!*c || std::strlen(c) > (1u << 20)) return false;
            block.chans.emplace_back(c);
          }
        r.blocks.push_back(std::move(block));
      }
    }
    out.push_back(std::move(r));
  }
  return true;
}

void evlist_round_trip(const std::string& input) {
  std::string doc = input;
  EvList list;
  if (qal3_parse_ev_list_read(&doc[0], &list.v) != 0) return;
  std::vector<EvEntry> records;
  if (!ev_records(list.v, records, input)) return;
  std::string written = qal3py::evlist_document(records);
  EvList back;
  if (qal3_parse_ev_list_read(&written[0], &back.v) != 0) fault("written event list does not read back", written);
  std::vector<EvEntry> again;
  if (!ev_records(back.v, again, written) || again.size() != records.size())
    fault("event list: entries differ", written);
  for (size_t i = 0; i < records.size(); ++i) {
    const EvEntry& a = records[i];
    const EvEntry& b = again[i];
    if (a.evtype != b.evtype || a.tmask != b.tmask || a.timeup != b.timeup || a.timelow != b.timelow ||
        a.priority != b.priority || a.blocks.size() != b.blocks.size())
      fault("event list: entry fields differ", written);
    for (size_t k = 0; k < a.blocks.size(); ++k) {
      if (fuzz::as_written(a.blocks[k].name.c_str()) != b.blocks[k].name ||
          a.blocks[k].chans.size() != b.blocks[k].chans.size())
        fault("event list: server block differs", written);
      for (size_t c = 0; c < a.blocks[k].chans.size(); ++c)
        if (fuzz::as_written(a.blocks[k].chans[c].c_str()) != b.blocks[k].chans[c])
          fault("event list: channel differs", written);
    }
  }
}

// --- camera feature files

struct GigEList {
  std::vector<QAL3GigEFeature*> v;
  ~GigEList() { qal3_clean_gige_descr(&v); }
};

// Reads `doc` as the module reads a document given as text.
bool read_gige(const std::string& doc, std::vector<GigEText>& out) {
  qal3py::MemoryFile file(doc);
  GigEList list;
  if (qal3_fill_gige_descr(file.path(), &list.v)) return false;
  for (const QAL3GigEFeature* f : list.v)
    out.push_back(GigEText{f->type, f->name, f->extension, f->tooltip, f->description});
  return true;
}

bool writable(const GigEText& f) {
  if (f.type < 0 || f.type >= FEATURE_TYPE_MAX) return false;
  for (const std::string* t : {&f.name, &f.extension, &f.tooltip, &f.description})
    if (t->find('\0') != std::string::npos) return false;
  return true;
}

void gige_round_trip(const std::string& input) {
  std::vector<GigEText> records;
  if (!read_gige(input, records)) return;
  for (const GigEText& f : records)
    if (!writable(f)) return;
  const std::string written = qal3py::gige_document(records);
  std::vector<GigEText> again;
  if (!read_gige(written, again)) fault("written feature file does not read back", written);
  if (again.size() != records.size()) fault("feature file: feature count", written);
  for (size_t i = 0; i < records.size(); ++i) {
    const GigEText& a = records[i];
    const GigEText& b = again[i];
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
