// A site's own trigger function and operation: CENTROID, the centroid of a
// spectrum window (where a beam profile's weight lies), and DEVIATES, which
// fires when a value strays from a target by more than a tolerance. Both
// are registered before the trigger list that names them is read; then a
// trigger is evaluated on a few events' spectra. What a function receives
// and must do is pt2Fun's contract in user_case_trigger.h.
//
//   site_function
//
// Exit status: 0 done, 1 a registration, the trigger list or a block failed.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "qal3.hpp"
#include "qal3_evutl_blocks.h"

namespace {

// CENTROID: sum(x * s) / sum(s) over the samples s of the window
// fparam[0] .. fparam[1] on the axis, fparam[2] samples apart (as the
// built-ins read a window; an end before the axis's start, or past its
// last sample, reads to the last sample). No value without a spectrum of
// the trigger's subchannel, for an empty window, or when the samples sum
// to 0.
bool centroid(void* data, qal3_user_case_trigger* t) {
  // The block is read through the event-utility functions only.
  auto* block = static_cast<qal3_serv_block_subhead_2010*>(data);
  const int kind = get_data_structure_type(static_cast<int>(block->dtype));
  if (kind != QAL3_DATA_SPECTRUM && kind != QAL3_DATA_GSPECTRUM) return true;
  const float* s = get_pointer_to_data_2010(block, t->subchannel);
  float start = 0.0f, inc = 0.0f;
  int n = 0;
  if (!s || get_spect_params_for_data_type_2010(block, &start, &inc, nullptr, &n, nullptr, nullptr, nullptr,
                                                t->subchannel) != 0)
    return true;
  if (!(inc > 0.0f) || n <= 0) return true;
  // Indices computed in double and bounded before any conversion to int.
  const double from = (static_cast<double>(t->fparam[0]) - start) / inc;
  const double to = (static_cast<double>(t->fparam[1]) - start) / inc;
  if (std::isnan(from) || std::isnan(to) || from >= n) return true;
  const int first = from > 0.0 ? static_cast<int>(from) : 0;
  const int end = to < 0.0 || to > n ? n : static_cast<int>(to);
  const int step = t->fparam[2] >= 1.0f ? static_cast<int>(std::min<double>(t->fparam[2], n)) : 1;
  double sum = 0.0, moment = 0.0;
  for (long long i = first; i < end; i += step) {
    sum += s[i];
    moment += (start + static_cast<double>(i) * inc) * s[i];
  }
  if (!(sum != 0.0) || !std::isfinite(moment / sum)) return true;
  // The result buffer: allocated with malloc while null, released by the
  // library (or the caller) with the trigger.
  if (!t->fresult) {
    t->fresult = static_cast<float*>(std::malloc(sizeof(float)));
    if (!t->fresult) return true;
  }
  *t->fresult = static_cast<float>(moment / sum);
  return false;  // *fresult holds this event's value
}

// DEVIATES: fires when the value lies more than the upper limit (a
// tolerance) away from the low limit (a target). NaN never fires.
bool deviates(float result, float low, float upper, u_int) { return std::fabs(result - low) > upper; }

// Blocks from the stand-in's builders are released with qal3_evutl_free_block.
struct FreeBlock {
  void operator()(qal3_serv_block_subhead_2010* b) const { qal3_evutl_free_block(b); }
};
using Block = std::unique_ptr<qal3_serv_block_subhead_2010, FreeBlock>;

// One event's beam profile: 100 samples on the axis 0, 0.1, ... 9.9 us,
// a peak of width 0.5 at `centre` (none when `centre` is NaN).
Block profile(float centre) {
  float samples[100];
  for (int i = 0; i < 100; ++i) {
    const float d = (0.1f * static_cast<float>(i) - centre) / 0.5f;
    samples[i] = std::isnan(centre) ? 0.0f : 1000.0f * std::exp(-0.5f * d * d);
  }
  const qal3_spect_header_2010 axis{0.0f, 0.1f, 100, 0, 0.0f};
  const float* const rows[1] = {samples};
  return Block(qal3_evutl_make_spectrum("BEAM/Profile", QAL3_DATA_SPECTRUM, 1, &axis, rows));
}

}  // namespace

int main() {
  // 1. Registration: a set-up step, before any thread evaluates triggers.
  // The names and help texts are kept by the registry, not copied.
  const auto fn = qal3::add_user_function(centroid, "CENTROID",
                                          "centroid of a spectrum window, parameters 0:start 1:end 2:incr(samples)");
  const auto op = qal3::add_user_operation(deviates, "DEVIATES", "|result - Low Limit (LL)| > Upper Limit (UL)");
  if (!fn || !op) {
    std::fprintf(stderr, "cannot register: no free slot\n");
    return 1;
  }
  std::printf("CENTROID in function slot %d, DEVIATES in operation slot %d\n", fn.value(), op.value());

  // 2. A trigger list naming them, read once they are registered: the beam
  // is off centre when its profile's centroid strays from 5 us by more than 1.
  const char* list =
      "<QAL3USERTRIGGERLIST><USERTRIGGER>"
      "<Chan name=\"BEAM/Profile\" subchan=\"0\"/>"
      "<Function name=\"CENTROID\" start=\"0\" end=\"-1\" incr=\"1\"/>"
      "<Operation name=\"DEVIATES\"/><LowLimit value=\"5\"/><UpperLimit value=\"1\"/>"
      "<Description text=\"beam off centre\"/>"
      "</USERTRIGGER></QAL3USERTRIGGERLIST>";
  auto triggers = qal3::Triggers::parse(list, "site triggers");
  if (!triggers || triggers.value().size() != 1) {
    std::fprintf(stderr, "cannot read the trigger list\n");
    return 1;
  }
  qal3_user_case_trigger& trigger = *triggers.value()[0];

  // 3. Four events: the peak at 2, 5 and 5.5 us, then no beam at all.
  for (const float centre : {2.0f, 5.0f, 5.5f, NAN}) {
    const Block block = profile(centre);
    if (!block) {
      std::fprintf(stderr, "cannot build a data block\n");
      return 1;
    }
    const auto e = qal3::evaluate(*block, trigger);
    if (!e) {
      std::fprintf(stderr, "cannot evaluate the trigger\n");
      return 1;
    }
    if (e.value().result)
      std::printf("centroid %.2f us: %s\n", static_cast<double>(*e.value().result),
                  e.value().fires ? "fires" : "does not fire");
    else
      std::printf("no centroid: %s\n", e.value().fires ? "fires" : "does not fire");
  }
  return 0;
}
