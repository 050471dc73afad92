// A few bytes that describe a large document, so that a cost growing faster
// than the document shows within libFuzzer's second and the replay's budget:
// the input is HEAD \x01 UNIT \x01 TAIL after one byte k, and the document is
// HEAD, then 2^(k % 21) copies of UNIT (each '#' in a copy replaced by the
// copy's number), then TAIL, at most 16 MB. The event list reader reads it
// and the checking library checks it.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "parse_ev_list.h"
#include "qal3_check.h"

namespace {

constexpr std::size_t kMaxDocument = std::size_t{16} << 20;

// The document the input describes; empty when it describes none.
std::string document(const uint8_t* data, size_t size) {
  if (size < 1) return {};
  const std::string in(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t a = in.find('\x01');
  const std::size_t b = a == std::string::npos ? a : in.find('\x01', a + 1);
  if (b == std::string::npos) return {};
  const std::string unit = in.substr(a + 1, b - a - 1);
  std::string doc = in.substr(0, a);
  const std::size_t copies = std::size_t{1} << (data[0] % 21);
  for (std::size_t n = 0; n < copies && doc.size() < kMaxDocument; ++n) {
    for (const char c : unit) {
      if (c == '#')
        doc += std::to_string(n);
      else
        doc += c;
    }
  }
  return doc + in.substr(b + 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes = document(data, size);
  if (bytes.empty()) return 0;
  std::string doc = bytes.c_str();
  std::vector<qal3_ev_entry*> list;
  qal3_parse_ev_list_read(&doc[0], &list);
  qal3_clean_ev_list(&list);
  if (qal3_checker* checker = qal3_check_new()) {
    (void)qal3_check_text(checker, "input.xml", bytes.data(), bytes.size());
    qal3_check_free(checker);
  }
  return 0;
}
