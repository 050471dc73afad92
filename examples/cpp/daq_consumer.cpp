// What a DAQ consumer does with the QAL3 libraries: check the library's
// version, load the channel descriptions and ask which channels an event
// type wants, read a trigger list, validate a new one held in memory before
// swapping to it, and evaluate the triggers on a block of channel data. It
// uses the C++ face (qal3.hpp); its last part does one read with the
// C-style calls the face is made of.
//
//   daq_consumer CHANNEL_DESCRIPTIONS.xml TRIGGERS.xml [EVENT_TYPE]
//
// Exit status: 0 done, 1 a document could not be read or a block built,
// 2 usage error or a library of another major version.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "chan_selector.h"
#include "qal3.hpp"
#include "qal3_evutl_blocks.h"

namespace {

// Every line of a call, with its document and position when it has them.
void log_messages(const qal3::Status& status) {
  for (const qal3::Message& m : status.messages()) std::fprintf(stderr, "%s\n", m.located().c_str());
}

// A file's bytes; empty when it cannot be read.
std::string read_text(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Blocks from the stand-in's builders are released with qal3_evutl_free_block.
struct FreeBlock {
  void operator()(qal3_serv_block_subhead_2010* b) const { qal3_evutl_free_block(b); }
};
using Block = std::unique_ptr<qal3_serv_block_subhead_2010, FreeBlock>;

// One event's data: a beam current spectrum of two subchannels (ten samples
// on an axis from 0 in steps of 1) and a status word as a name/value.
std::vector<Block> make_event() {
  float current[2][10];
  for (int i = 0; i < 10; ++i) {
    current[0][i] = static_cast<float>(i);
    current[1][i] = 1.0f + (i % 2) * 6.0f;
  }
  const qal3_spect_header_2010 axis{0.0f, 1.0f, 10, 0, 0.0f};
  const qal3_spect_header_2010 axes[2] = {axis, axis};
  const float* const samples[2] = {current[0], current[1]};
  const float status = 4.0f;
  std::vector<Block> blocks;
  blocks.emplace_back(qal3_evutl_make_spectrum("BEAM/Current", QAL3_DATA_SPECTRUM, 2, axes, samples));
  blocks.emplace_back(qal3_evutl_make_namval("VAC/Status", 1, &status));
  return blocks;
}

// --- The C-style calls ----------------------------------------------------------
// The same trigger list read without the face: the records are the caller's
// to release (QAL3_FREE_USER), also after a failed read; true means failure.
std::size_t count_triggers_c_style(char* path) {
  std::vector<qal3_user_case_trigger*> list;
  const bool failed = parse_trigger_list_readf(path, &list);
  const std::size_t n = failed ? 0 : list.size();
  for (qal3_user_case_trigger* t : list) QAL3_FREE_USER(t);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: %s CHANNEL_DESCRIPTIONS.xml TRIGGERS.xml [EVENT_TYPE]\n", argv[0]);
    return 2;
  }
  // 0. The library runs with the major version this program was built for.
  if (qal3_version() / 10000 != QAL3_VERSION_MAJOR) {
    std::fprintf(stderr, "built for QAL3 %s, running on %s\n", QAL3_VERSION_STRING, qal3_version_string());
    return 2;
  }
  const int ev_type = argc == 4 ? std::atoi(argv[3]) : QAL3_EV_NORMAL;

  // 1. The channel selector: true from set_descriptions means a failed read.
  chan_selector selector;
  std::vector<char*> documents{argv[1]};
  int read = 0;
  if (selector.set_descriptions(&documents, &read)) {
    std::fprintf(stderr, "%s: cannot read the channel descriptions\n", argv[1]);
    return 1;
  }
  // find_channel: the selector knows the channel and some description has the
  // event type; get_event_type: the channel's event-type mask (bit n, type n).
  std::printf("%d channel descriptions; wanted in events of type %d:\n", selector.size(), ev_type);
  for (int i = 0; i < selector.size(); ++i) {
    char* daq_name = selector.get_channel(i);
    char* prop = selector.get_prop(i);
    const bool known = selector.find_channel(ev_type, daq_name) || selector.find_channel(ev_type, prop);
    const unsigned mask = static_cast<unsigned>(selector.get_event_type(daq_name));
    const bool wanted = known && ((mask >> ev_type) & 1u);
    std::printf("  %-20s %-36s %s\n", daq_name, prop, wanted ? "yes" : "no");
  }

  // 2. The trigger list: the list owns its records; a failed read logs its
  // messages with their positions.
  auto triggers = qal3::Triggers::read_file(argv[2]);
  log_messages(triggers);
  if (!triggers) {
    std::fprintf(stderr, "%s: cannot read the trigger list\n", argv[2]);
    return 1;
  }

  // 3. A new trigger list arrives in memory (here the same file's bytes): the
  // checker validates it before the server swaps to it, and each finding is
  // logged as `qal3 check` prints it. A list with errors is refused.
  const std::string next_text = read_text(argv[2]);
  const qal3::CheckReport report = qal3::check_text(next_text, argv[2]);
  for (const qal3::Finding& f : report.findings) std::fprintf(stderr, "%s\n", f.located().c_str());
  bool swapped = false;
  if (report.passes()) {
    auto next = qal3::Triggers::parse(next_text, argv[2]);
    log_messages(next);
    if (next) {
      triggers = std::move(next);
      swapped = true;
    }
  }
  std::printf("new trigger list %s\n", swapped ? "checked and swapped to" : "refused: the running one stays");

  // 4. One event's blocks, and each trigger evaluated on its channel's block.
  const std::vector<Block> blocks = make_event();
  for (const Block& b : blocks) {
    if (!b) {
      std::fprintf(stderr, "cannot build a data block\n");
      return 1;
    }
  }
  for (qal3_user_case_trigger* t : triggers.value()) {
    qal3_serv_block_subhead_2010* block = nullptr;
    for (const Block& b : blocks) {
      if (std::strcmp(b->chname, t->channel) == 0) block = b.get();
    }
    const char* verdict = "cannot be evaluated";
    if (block) {
      const auto e = qal3::evaluate(*block, *t);
      log_messages(e);
      if (e) verdict = e.value().fires ? "fires" : "does not fire";
    }
    std::printf("trigger %-14s sub %d %-8s %s\n", t->channel, t->subchannel, qal3_get_function_string(t->function),
                verdict);
  }

  // 5. The C-style calls give the same list.
  std::printf("%zu triggers read with the C-style calls\n", count_triggers_c_style(argv[2]));
  return 0;
}
