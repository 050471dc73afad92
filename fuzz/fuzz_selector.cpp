// The channel selector over documents held in memory: the input, split at
// NUL bytes into up to four documents, is loaded (mode 1) with event types
// as masks or as numbers; then every query is asked for the loaded
// channels, for a name of the input and for numbers out of range. The data
// type the selector's index gives must be the one a front-to-back scan of
// the loaded descriptions gives.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "chan_selector.h"
#include "fuzz_common.h"

namespace {

// The selector with its loaded descriptions in view.
class Selector : public chan_selector {
 public:
  const std::vector<chan_descr_2010*>& loaded() const { return descr; }
};

// Data type of the first description whose DAQ name is `name`, else 0.
unsigned scanned_data_type(const std::vector<chan_descr_2010*>& list, const char* name) {
  for (const chan_descr_2010* d : list)
    if (d && std::strncmp(d->daq_name, name, sizeof d->daq_name) == 0) return d->dtype;
  return 0;
}

void ask(Selector& sel, const std::string& name) {
  std::string arg = name;
  for (int ev_type : {0, 1, 5, 31, 32, -1}) (void)sel.find_channel(ev_type, &arg[0]);
  (void)sel.get_event_type(&arg[0]);
  const unsigned dtype = static_cast<unsigned>(sel.get_data_type(&arg[0]));
  if (!sel.loaded().empty() && dtype != scanned_data_type(sel.loaded(), arg.c_str())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> docs;
  const char* text = reinterpret_cast<const char*>(data);
  size_t begin = 0;
  while (begin <= size && docs.size() < 4) {
    const void* nul = std::memchr(text + begin, 0, size - begin);
    const size_t end = nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : size;
    docs.emplace_back(text + begin, end - begin);
    begin = end + 1;
  }
  std::vector<char*> sources;
  for (std::string& d : docs) sources.push_back(&d[0]);

  Selector sel;
  sel.set_shift(size & 1);
  if (sel.change_mode(1)) std::abort();
  int total = -1;
  const bool failed = sel.set_descriptions(&sources, &total);
  if (!failed && (total < 0 || total > static_cast<int>(sources.size()))) std::abort();
  const int n = sel.size();
  if (n != static_cast<int>(sel.loaded().size())) std::abort();

  // Each channel by number, and by its names (the first few: the scan that
  // checks the answers is linear).
  for (int i = -1; i <= n; ++i) {
    const char* chan = sel.get_channel(i);
    const char* prop = sel.get_prop(i);
    if ((i < 0 || i >= n) && (chan || prop)) std::abort();
    (void)sel.is_channel_slow(i);
    (void)sel.is_channel_ml(i);
    (void)sel.get_subchannels(i);
    (void)sel.set_counter(i, i);
    if (i >= 0 && i < 64 && chan && prop) {
      ask(sel, chan);
      ask(sel, prop);
    }
  }
  ask(sel, docs.back().substr(0, 64).c_str());
  ask(sel, "");
  return 0;
}
