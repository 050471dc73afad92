// Round trip of the channel description writer: a document that reads
// without error is written in both formats (mode 2, into a string), read
// back, and must give the same records as far as the format carries them.
// CHANDESCRIPTIONS carries every field; DAQvariables carries fewer and
// turns bit descriptions into bit names.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "parse_chan_descr.h"
#include "trigger_facts.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init();
  return 0;
}

namespace {

using List = std::vector<chan_descr_2010*>;

[[noreturn]] void mismatch(const char* what, const chan_descr_2010* a, const std::string& doc) {
  std::fprintf(stderr, "round trip mismatch: %s (prop '%s')\n--- written document:\n%s\n", what, a ? a->prop_name : "",
               doc.c_str());
  std::abort();
}

// The writer writes each property once: the first record with that name.
// A property that reads back as no text (only blanks, after a cut) makes
// no record.
List first_per_property(const List& list) {
  List out;
  for (chan_descr_2010* d : list) {
    if (fuzz::carried(d->prop_name).empty()) continue;
    bool seen = false;
    for (chan_descr_2010* o : out) seen = seen || std::strcmp(o->prop_name, d->prop_name) == 0;
    if (!seen) out.push_back(d);
  }
  return out;
}

std::string daq_name_written(const chan_descr_2010* d) {
  return d->daq_name[0] ? fuzz::carried(d->daq_name) : qal3::kUndefinedName;
}

#define SAME_INT(f) \
  if (a->f != b->f) mismatch(#f, a, doc)
#define SAME_STR(f) \
  if (fuzz::carried(a->f) != b->f) mismatch(#f, a, doc)

bool same_text(const char* a, const char* b) { return fuzz::carried(a) == b; }

void compare_full(const chan_descr_2010* a, const chan_descr_2010* b, const std::string& doc) {
  SAME_INT(stream);
  SAME_INT(ev_type);
  SAME_INT(count);
  SAME_INT(dtype);
  SAME_INT(db_key);
  SAME_STR(prop_name);
  if (daq_name_written(a) != b->daq_name) mismatch("daq_name", a, doc);
  SAME_STR(prop_desc);
  SAME_STR(units);
  SAME_INT(max_size);
  SAME_STR(sb_name);
  SAME_INT(set_point);
  SAME_STR(subsystem);
  if (a->nbits != b->nbits || b->bits.size() != static_cast<size_t>(b->nbits)) mismatch("nbits", a, doc);
  for (int i = 0; i < a->nbits; ++i) {
    const bit_descr* x = a->bits[i];
    const bit_descr* y = b->bits[i];
    if (x->bit != y->bit || !same_text(x->bit_name, y->bit_name) || !same_text(x->bit_desc, y->bit_desc))
      mismatch("bit", a, doc);
  }
  if (a->ndims != b->ndims || b->dims.size() != static_cast<size_t>(b->ndims)) mismatch("ndims", a, doc);
  for (int i = 0; i < a->ndims; ++i) {
    const dim_descr* x = a->dims[i];
    const dim_descr* y = b->dims[i];
    if (x->dim != y->dim || !same_text(x->dim_name, y->dim_name) || !same_text(x->dim_desc, y->dim_desc) ||
        !same_text(x->units, y->units))
      mismatch("dim", a, doc);
    if (x->nstats != y->nstats || y->stats.size() != static_cast<size_t>(y->nstats)) mismatch("nstats", a, doc);
    for (int k = 0; k < x->nstats; ++k) {
      const stat_descr* s = x->stats[k];
      const stat_descr* t = y->stats[k];
      if (s->stat != t->stat || !same_text(s->stat_name, t->stat_name) || !same_text(s->stat_desc, t->stat_desc) ||
          !same_text(s->units, t->units))
        mismatch("stat", a, doc);
    }
  }
}

// What a DAQvariables document carries: event type, property, DAQ name, key,
// server block, set point, subsystem, description, units, the size when it is
// above 1, bits (description as name and description) of a bit channel, dimensions without statistics of
// a matrix channel; everything else reads back with its default.
void compare_daqvars(const chan_descr_2010* a, const chan_descr_2010* b, const std::string& doc) {
  SAME_INT(ev_type);
  SAME_STR(prop_name);
  if (daq_name_written(a) != b->daq_name) mismatch("daq_name", a, doc);
  SAME_INT(set_point);
  SAME_STR(subsystem);
  SAME_STR(prop_desc);
  SAME_STR(units);
  if (b->max_size != (a->max_size > 1 ? a->max_size : 1)) mismatch("max_size", a, doc);
  SAME_INT(db_key);
  SAME_STR(sb_name);
  if (b->stream != 0 || b->dtype != 0 || b->count != 0) mismatch("fields the format does not carry", a, doc);
  const bool matrix = a->max_size != 1;
  // Bits of a "DaqBits" element, as the reader sees the "bitTitle" elements:
  // an element without text is reported twice, so an element that follows
  // one without text with the same bit number is taken as the same element
  // (the format cannot carry such repeated bit numbers).
  struct Bit {
    int bit;
    std::string name;
    std::string desc;
  };
  std::vector<Bit> bits;
  if (!matrix) {
    bool chain = false;  // the previous element had no text
    int last = 0;
    for (const bit_descr* x : a->bits) {
      const std::string text = fuzz::carried(x->bit_desc);
      const bool same = chain && last == x->bit;
      if (!same) bits.push_back({x->bit, std::string(), std::string()});
      if (!text.empty()) {
        bits.back().name = fuzz::fitted(text, sizeof x->bit_name);
        bits.back().desc = fuzz::fitted(text, sizeof x->bit_desc);
      }
      chain = text.empty();
      last = x->bit;
    }
  }
  const int nbits = static_cast<int>(bits.size());
  if (b->nbits != nbits || b->bits.size() != static_cast<size_t>(nbits)) mismatch("nbits", a, doc);
  for (int i = 0; i < nbits; ++i) {
    const bit_descr* y = b->bits[i];
    if (bits[i].bit != y->bit || bits[i].name != y->bit_name || bits[i].desc != y->bit_desc) mismatch("bit", a, doc);
  }
  const int ndims = matrix ? a->ndims : 0;
  if (b->ndims != ndims || b->dims.size() != static_cast<size_t>(ndims)) mismatch("ndims", a, doc);
  for (int i = 0; i < ndims; ++i) {
    const dim_descr* x = a->dims[i];
    const dim_descr* y = b->dims[i];
    if (x->dim != y->dim || !same_text(x->dim_name, y->dim_name) || !same_text(x->dim_desc, y->dim_desc) ||
        !same_text(x->units, y->units) || y->nstats != 0 || !y->stats.empty())
      mismatch("dim", a, doc);
  }
}

void round_trip(List& list, int format) {
  std::string doc;
  if (dump_chan_desr(&list, nullptr, 2, format, -1, &doc) != 0) mismatch("writer failed", nullptr, doc);
  List back;
  const int rc = parse_descr_list_read(&doc[0], &back, false, false);
  if (rc != 0) mismatch("written document does not read back", nullptr, doc);
  const List expected = first_per_property(list);
  if (format == 1) {
    // DAQvariables merges by property when read: two properties that differ
    // only in characters written as '?' become one, as they should.
    for (size_t i = 0; i < expected.size(); ++i)
      for (size_t k = 0; k < i; ++k)
        if (fuzz::carried(expected[i]->prop_name) == fuzz::carried(expected[k]->prop_name)) {
          clean_chan_desr_list(&back);
          return;
        }
  }
  if (back.size() != expected.size()) mismatch("record count", nullptr, doc);
  for (size_t i = 0; i < back.size(); ++i) {
    if (format == 0)
      compare_full(expected[i], back[i], doc);
    else
      compare_daqvars(expected[i], back[i], doc);
  }
  clean_chan_desr_list(&back);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string doc = fuzz::text(data, size);
  List list;
  // Without shift the numbers are kept as written; duplicates are merged or
  // kept as the input's first byte says.
  if (parse_descr_list_read(&doc[0], &list, false, size > 0 && (data[0] & 1)) == 0) {
    round_trip(list, 0);
    round_trip(list, 1);
  }
  clean_chan_desr_list(&list);
  return 0;
}
