// qal3_load_chan_descr over a block whose header comes from the input. The
// block is a heap allocation of exactly the input's size and its length
// never claims more than that, so the address sanitizer catches any read
// past the block.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_common.h"
#include "parse_chan_descr.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kHeader = 8;  // pattern and length
  if (size < kHeader || size > (1u << 30)) return 0;
  auto* block = static_cast<unsigned char*>(std::malloc(size));
  if (!block) return 0;
  std::memcpy(block, data, size);
  uint32_t pattern;
  int32_t length;
  std::memcpy(&pattern, block, 4);
  std::memcpy(&length, block + 4, 4);
  // Mostly a valid pattern, so that the reader runs; now and then the one
  // from the input.
  switch (data[0] & 3) {
    case 1:
      pattern = QAL3_XML_CHAN_DESCR_PATTERN;
      break;
    case 2:
      pattern = QAL3_XML_CHAN_DESCR_PATTERN_2;
      break;
    case 3:
      pattern = (data[1] & 1) ? QAL3_XML_CHAN_DESCR_PATTERN : QAL3_XML_CHAN_DESCR_PATTERN_2;
      break;
    default:
      break;
  }
  // The length is honest: the input's own when it fits the block (small and
  // negative ones included), else the block's size.
  if (length > static_cast<int64_t>(size) || (data[1] & 2)) length = static_cast<int32_t>(size);
  std::memcpy(block, &pattern, 4);
  std::memcpy(block + 4, &length, 4);
  std::vector<chan_descr_2010*> list;
  qal3_load_chan_descr(reinterpret_cast<qal3_xml_chan_descr_header*>(block), &list);
  clean_chan_desr_list(&list);
  std::free(block);
  return 0;
}
