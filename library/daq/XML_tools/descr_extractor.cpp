#include "descr_extractor.h"

#include <algorithm>

#include "parse_chan_descr.h"

namespace {

constexpr int kModeFiles = 0;
constexpr int kModeMemory = 1;

// Reads one source entry by the given mode. Returns the reader's result;
// -1 when no reader applies (unknown mode), 1 for a null entry.
int read_one(int mode, char* entry, std::vector<chan_descr_2010*>* out, bool shift) {
  if (mode != kModeFiles && mode != kModeMemory) return -1;
  if (entry == nullptr) return 1;
  return mode == kModeFiles ? parse_descr_list_readf(entry, out, shift, false)
                            : parse_descr_list_read(entry, out, shift, false);
}

}  // namespace

descr_extractor::descr_extractor() : mode(kModeFiles) {}

descr_extractor::~descr_extractor() = default;

bool descr_extractor::set_mode(int m) {
  if (m != kModeFiles && m != kModeMemory) return true;
  mode = m;
  return false;
}

int descr_extractor::get_mode() { return mode; }

bool descr_extractor::get_descriptions(std::vector<char*>* source, int* total, std::vector<chan_descr_2010*>* out,
                                       bool shift) {
  if (source == nullptr || out == nullptr) return true;
  int read_ok = 0;
  int last = 0;
  for (char* entry : *source) {
    const int rc = read_one(mode, entry, out, shift);  // the readers never throw
    if (rc < 0) continue;                              // unknown mode: no reader is called
    last = rc;
    if (rc == 0) ++read_ok;
  }
  if (last != 0) return true;
  if (total != nullptr) *total = read_ok;
  return false;
}

bool descr_extractor::in_vector(std::vector<int>* in, int ent) {
  return in != nullptr && std::find(in->begin(), in->end(), ent) != in->end();
}
