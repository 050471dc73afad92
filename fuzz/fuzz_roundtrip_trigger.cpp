// Round trip of the trigger list writer: a document that reads without
// error is written (mode 3, into a string), read back, and must give the
// same records, every float the very same (a NaN: a NaN of the same sign).
// The second trip (writing what was read back) must then give records equal
// under QAL3_USER_THESAME; records with a NaN parameter or limit are never
// equal to anything there and are skipped.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "float_text.h"
#include "fuzz_common.h"
#include "user_case_trigger.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init();
  return 0;
}

namespace {

using List = std::vector<qal3_user_case_trigger*>;
using qal3::number::same_float;

[[noreturn]] void mismatch(const char* what, size_t i, const std::string& doc) {
  std::fprintf(stderr, "round trip mismatch: %s (record %zu)\n--- written document:\n%s\n", what, i, doc.c_str());
  std::abort();
}

bool has_nan(const qal3_user_case_trigger* t) {
  bool nan = std::isnan(t->low) || std::isnan(t->upper);
  for (float p : t->fparam) nan = nan || std::isnan(p);
  return nan;
}

void release(List& list) {
  for (qal3_user_case_trigger* t : list) QAL3_FREE_USER(t);
  list.clear();
}

// Writes `list`, reads the document back into `back`.
std::string write_and_read(List& list, List& back) {
  std::string doc;
  if (dump_user_trigger_list(&list, nullptr, USER_TRIG_DUMP_XML_STRING, -1, &doc) != 0)
    mismatch("writer failed", 0, doc);
  if (parse_trigger_list_read(&doc[0], &back)) mismatch("written document does not read back", 0, doc);
  if (back.size() != list.size()) mismatch("record count", 0, doc);
  return doc;
}

void compare_exactly(const qal3_user_case_trigger* a, const qal3_user_case_trigger* b, size_t i,
                     const std::string& doc) {
  if (fuzz::as_written(a->channel) != b->channel) mismatch("channel", i, doc);
  if (fuzz::as_written(a->description) != b->description) mismatch("description", i, doc);
  if (fuzz::as_written(a->group) != b->group) mismatch("group", i, doc);
  if (a->subchannel != b->subchannel) mismatch("subchannel", i, doc);
  if (a->function != b->function) mismatch("function", i, doc);
  if (a->operation != b->operation) mismatch("operation", i, doc);
  if (a->bitmask != b->bitmask) mismatch("bitmask", i, doc);
  if (a->pre_mode != b->pre_mode) mismatch("pre_mode", i, doc);
  if (a->post_mode != b->post_mode) mismatch("post_mode", i, doc);
  if (!same_float(a->low, b->low)) mismatch("low", i, doc);
  if (!same_float(a->upper, b->upper)) mismatch("upper", i, doc);
  for (int k = 0; k < 16; ++k)
    if (!same_float(a->fparam[k], b->fparam[k])) mismatch("fparam", i, doc);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string doc = fuzz::text(data, size);
  List list;
  if (!parse_trigger_list_read(&doc[0], &list)) {
    List back;
    const std::string written = write_and_read(list, back);
    for (size_t i = 0; i < list.size(); ++i) compare_exactly(list[i], back[i], i, written);
    List again;
    const std::string rewritten = write_and_read(back, again);
    for (size_t i = 0; i < back.size(); ++i) {
      if (has_nan(back[i])) continue;
      if (!QAL3_USER_THESAME(back[i], again[i])) mismatch("second trip", i, rewritten);
      if (back[i]->pre_mode != again[i]->pre_mode || back[i]->post_mode != again[i]->post_mode)
        mismatch("modes", i, rewritten);
    }
    release(back);
    release(again);
  }
  release(list);
  return 0;
}
