// The GigE camera feature reader over the input written to a file, then
// the listing and the clean function.
#include <cstdint>
#include <vector>

#include "fuzz_common.h"
#include "qal3_gige_descr.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ScratchFile f(data, size);
  std::vector<QAL3GigEFeature*> features;
  qal3_fill_gige_descr(f.path(), &features);
  qal3_dump_gige_descr(&features);
  qal3_clean_gige_descr(&features);
  return 0;
}
