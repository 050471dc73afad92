// The straightforward C++ replay the Python module is checked against: for
// every trigger of a list and every event of a raw float32 file (events x
// samples), a fresh spectrum block from the builder and qal3_is_trigger_on.
// Whether the function gave a value is asked of a twin of the trigger with
// the operation TRUE, which sees the same events.
//
//   replay_reference TRIGGERS.xml SAMPLES.f32 NEVENTS NSAMPLES START INC
//
// prints "trigger event verdict value" per line (value "nan" when none).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "event_util.h"
#include "qal3_evutl_blocks.h"
#include "user_case_trigger.h"

namespace {

struct Triggers {
  std::vector<qal3_user_case_trigger*> v;
  ~Triggers() {
    for (auto* t : v) QAL3_FREE_USER(t);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: %s TRIGGERS.xml SAMPLES.f32 NEVENTS NSAMPLES START INC\n", argv[0]);
    return 2;
  }
  Triggers list, twins;
  if (parse_trigger_list_readf(argv[1], &list.v) || parse_trigger_list_readf(argv[1], &twins.v)) return 1;
  const long n = std::atol(argv[3]);
  const int ns = std::atoi(argv[4]);
  const float start = std::strtof(argv[5], nullptr);
  const float inc = std::strtof(argv[6], nullptr);
  std::vector<float> samples(static_cast<std::size_t>(n) * ns);
  std::FILE* f = std::fopen(argv[2], "rb");
  if (!f || std::fread(samples.data(), sizeof(float), samples.size(), f) != samples.size()) return 1;
  std::fclose(f);
  const int op_true = qal3_get_operation_index(const_cast<char*>("TRUE"));
  std::string out;
  char line[96];
  for (std::size_t k = 0; k < list.v.size(); ++k) {
    qal3_user_case_trigger* t = list.v[k];
    qal3_user_case_trigger* twin = twins.v[k];
    twin->operation = op_true;
    const int sub = t->subchannel >= 0 && t->subchannel < 64 ? t->subchannel : 0;
    for (long i = 0; i < n; ++i) {
      std::vector<qal3_spect_header_2010> heads(sub + 1, qal3_spect_header_2010{});
      std::vector<const float*> rows(sub + 1, nullptr);
      heads[sub] = {start, inc, ns, 1, 1.0f};
      rows[sub] = samples.data() + i * ns;
      qal3_serv_block_subhead_2010* b =
          qal3_evutl_make_spectrum(t->channel, QAL3_DATA_SPECTRUM, sub + 1, heads.data(), rows.data());
      const int rc = qal3_is_trigger_on(b, t);
      const bool has_value = qal3_is_trigger_on(b, twin) == 1;
      qal3_evutl_free_block(b);
      if (has_value)
        std::snprintf(line, sizeof line, "%zu %ld %d %.9g\n", k, i, rc, static_cast<double>(*twin->fresult));
      else
        std::snprintf(line, sizeof line, "%zu %ld %d nan\n", k, i, rc);
      out += line;
    }
  }
  // SUM writes a line per value on standard output: the results go to stderr.
  std::fputs(out.c_str(), stderr);
  return 0;
}
