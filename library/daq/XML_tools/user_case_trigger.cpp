// User-case triggers: the evaluation of a trigger against one channel's
// data in a server block, and the built-in functions and operations (the
// registry that names them: trigger_registry.cpp).
#include "user_case_trigger.h"

#include <langinfo.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

#include "boundary.h"
#include "event_util.h"
#include "messages.h"
#include "trigger_builtins.h"
#include "trigger_facts.h"
#include "trigger_reductions.h"
#include "trigger_window.h"

namespace msg = qal3::messages;

namespace qal3 {
namespace trigger {
namespace {

// ---------------------------------------------------------------------------
// Conversions.

// float -> 32-bit unsigned, truncating toward zero; negatives and NaN give 0,
// values of 2^32 or more give 0xFFFFFFFF.
u_int to_u32_saturated(float v) {
  if (!(v > 0.0f)) return 0u;
  if (v >= 4294967296.0f) return 0xFFFFFFFFu;
  return static_cast<u_int>(v);
}

}  // namespace

// ---------------------------------------------------------------------------
// Built-in operations. Single-precision comparisons: NaN compares false.

bool oper_gt(float r, float, float ul, u_int) { return r > ul; }
bool oper_gte(float r, float, float ul, u_int) { return r >= ul; }
bool oper_eq(float r, float ll, float, u_int) { return r == ll; }
bool oper_lte(float r, float ll, float, u_int) { return r <= ll; }
bool oper_lt(float r, float ll, float, u_int) { return r < ll; }
bool oper_inside(float r, float ll, float ul, u_int) { return ll < r && r < ul; }
bool oper_inside_incl(float r, float ll, float ul, u_int) { return ll <= r && r <= ul; }
bool oper_outside(float r, float ll, float ul, u_int) { return r < ll || r > ul; }
bool oper_outside_incl(float r, float ll, float ul, u_int) { return r <= ll || r >= ul; }
bool oper_and_mask(float r, float, float, u_int mask) { return (mask & ~to_u32_saturated(r)) == 0u; }
bool oper_true(float, float, float, u_int) { return true; }
bool oper_false(float, float, float, u_int) { return false; }
bool oper_bits(float r, float, float, u_int mask) { return (to_u32_saturated(r) & mask) != 0u; }
bool oper_placeholder(float, float, float, u_int) { return false; }

namespace {

// ---------------------------------------------------------------------------
// Messages.

// With the default output, the evaluation flushes every output stream after
// each of its lines and after a slow channel's dictionary lookup; with a
// sink the caller's streams are left alone.
void flush_all_output() {
  if (msg::sink_in_force()) return;
  std::fflush(nullptr);
  std::cout.flush();
}

// A line of the evaluation on standard output, then flush_all_output.
__attribute__((format(printf, 1, 2))) void evaluation_message(const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  const std::string text = msg::vformat(fmt, args);
  va_end(args);
  msg::deliver(msg::out, msg::info, msg::keep, text);
  flush_all_output();
}

// ---------------------------------------------------------------------------
// The frame shared by the base functions.

// The external environment dictionary (qal3_user_trigger_set_ext_env_dictionary).
char* ext_dict_copy = nullptr;

// The prefix of the evaluation's messages: "func_max" for MAX and DIFFMAX,
// "func_min" for every other function.
const char* message_prefix(Reduction r) { return r == Reduction::max ? "func_max" : "func_min"; }

bool spectrum_value(qal3_serv_block_subhead_2010* sh, qal3_user_case_trigger* usert, Reduction r, Reads reads,
                    float& value) {
  const float* samples = get_pointer_to_data_2010(sh, usert->subchannel);
  if (!samples) return false;
  float start = 0.0f;
  float inc = 0.0f;
  int ndata = 0;
  int groups = 1;
  float group_inc = 1.0f;
  qal3_spect_statistics_2010* stat = nullptr;
  if (get_spect_params_for_data_type_2010(sh, &start, &inc, nullptr, &ndata, &groups, &group_inc, &stat,
                                          usert->subchannel) != 0)
    return false;
  Window w;
  if (!select_window(usert->fparam, start, inc, ndata, reads == Reads::position, w)) return false;
  value = reduce(samples, w, r);
  return true;
}

bool slow_value(qal3_serv_block_subhead_2010* sh, qal3_user_case_trigger* usert, Reduction r, float& value) {
  qal3_upd_data_block_2010* upd = nullptr;
  if (find_upd_channel_2010(sh, usert, &upd) == 0 && upd) {
    value = upd->upd_ch_data;
    return true;
  }
  const bool needs_dictionary = (r == Reduction::min || r == Reduction::max);
  if (needs_dictionary && !ext_dict_copy) {
    evaluation_message("%s: No ext env dictionary set\n", message_prefix(r));
    return false;
  }
  qal3_env_data_block_2010* env = nullptr;
  const int found = find_slow_channel_2010(sh, ext_dict_copy, usert, &env);
  if (needs_dictionary) flush_all_output();
  if (found != 0 || !env) return false;
  value = env->env_ch_data;
  return true;
}

// Finds the trigger's value in the block; false when there is none.
bool block_value(qal3_serv_block_subhead_2010* sh, qal3_user_case_trigger* usert, Reduction r, Reads reads,
                 float& value) {
  switch (get_data_structure_type(sh->dtype)) {
    case QAL3_DATA_NAMVAL: {
      const float* p = get_pointer_to_data_2010(sh, usert->subchannel);
      if (!p) return false;
      value = *p;
      return true;
    }
    case QAL3_DATA_IMAGE: {
      int x = 0, y = 0, bpp = 0, ev_num = 0;
      unsigned char* chd = nullptr;
      get_image_params_2010(sh, &x, &y, &bpp, &ev_num, &chd);
      return false;  // images are not evaluated by the built-in functions
    }
    case QAL3_DATA_SLOW:
      return slow_value(sh, usert, r, value);
    case QAL3_DATA_SPECTRUM:
    case QAL3_DATA_GSPECTRUM:
      return spectrum_value(sh, usert, r, reads, value);
    default:
      evaluation_message("%s: unknown data structure type\n", message_prefix(r));
      return false;
  }
}

// The line SUM writes for every value it finds: " HERE DATA %f \n". The
// number is formatted with std::to_chars, which gives what printf's "%f"
// gives with a '.' decimal point; other locales go through printf. The
// decimal point comes from nl_langinfo, which only reads the locale
// (localeconv fills a buffer shared by all threads).
void print_here_data(float value) {
  const char* radix = nl_langinfo(RADIXCHAR);
  if (!radix || std::strcmp(radix, ".") != 0) {
    msg::print(msg::out, msg::info, msg::keep, " HERE DATA %f \n", static_cast<double>(value));
    return;
  }
  static const char kPrefix[] = " HERE DATA ";
  char line[96];
  std::memcpy(line, kPrefix, sizeof kPrefix - 1);
  char* const digits = line + sizeof kPrefix - 1;
  char* const limit = line + sizeof line - 2;
  const auto res = std::to_chars(digits, limit, static_cast<double>(value), std::chars_format::fixed, 6);
  if (res.ec != std::errc()) {
    msg::print(msg::out, msg::info, msg::keep, " HERE DATA %f \n", static_cast<double>(value));
    return;
  }
  char* end = res.ptr;
  *end++ = ' ';
  *end = '\0';
  msg::send(msg::out, msg::info, line, static_cast<std::size_t>(end - line), msg::keep);
}

// Stores `value` in the record's result buffer, created on first use.
bool store_result(qal3_user_case_trigger* usert, float value) {
  if (!usert->fresult) {
    usert->fresult = static_cast<float*>(std::malloc(sizeof(float)));
    if (!usert->fresult) return false;
  }
  *usert->fresult = value;
  return true;
}

// Returns false on success, true on failure (the pt2Fun convention).
bool base_function(void* data, qal3_user_case_trigger* usert, Reduction r, Reads reads) {
  if (!data || !usert) return true;
  float value = 0.0f;
  if (!block_value(static_cast<qal3_serv_block_subhead_2010*>(data), usert, r, reads, value)) return true;
  if (r == Reduction::sum) print_here_data(value);
  return !store_result(usert, value);
}

// The base function, then the change since the last event in which the base
// function succeeded; the first success only records the raw value. The
// change is this event's value minus the last one, or, `reversed`, the last
// one minus this event's.
bool diff_function(void* data, qal3_user_case_trigger* usert, Reduction r, Reads reads, bool reversed) {
  if (!data || !usert) return true;
  if (base_function(data, usert, r, reads)) return true;
  const float cur = *usert->fresult;
  if (!usert->fprevresult) {
    float* prev = static_cast<float*>(std::malloc(sizeof(float)));
    if (!prev) return true;
    *prev = cur;
    usert->fprevresult = prev;
    return true;
  }
  const float prev = *usert->fprevresult;
  *usert->fprevresult = cur;
  *usert->fresult = reversed ? prev - cur : cur - prev;
  return false;
}

// The reduction of each built-in function, in the order of kFunctions.
constexpr Reduction kReductions[] = {Reduction::min, Reduction::max, Reduction::mean,  Reduction::rms,
                                     Reduction::std, Reduction::sum, Reduction::value, Reduction::p2p,
                                     Reduction::min, Reduction::max, Reduction::mean,  Reduction::rms,
                                     Reduction::std, Reduction::sum, Reduction::value, Reduction::p2p};
static_assert(std::size(kReductions) == std::size(kFunctions), "one reduction per built-in function");

}  // namespace

// ---------------------------------------------------------------------------
// Built-in functions.

bool evaluate_builtin(void* d, qal3_user_case_trigger* u, std::size_t slot) {
  const BuiltinFunction& f = kFunctions[slot];
  return f.diff ? diff_function(d, u, kReductions[slot], f.reads, f.reversed)
                : base_function(d, u, kReductions[slot], f.reads);
}

// Free function slots: nothing to compute, so the trigger never fires.
bool func_placeholder(void*, qal3_user_case_trigger*) { return true; }

}  // namespace trigger
}  // namespace qal3

void qal3_user_trigger_set_ext_env_dictionary(char* ptr) { qal3::trigger::ext_dict_copy = ptr; }

// ---------------------------------------------------------------------------
// Evaluation.

int qal3_is_trigger_on(qal3_serv_block_subhead_2010* data, qal3_user_case_trigger* usert) {
  if (!data || !usert) return -1;
  using qal3::trigger::kSlots;
  if (static_cast<unsigned>(usert->operation) >= static_cast<unsigned>(kSlots) ||
      static_cast<unsigned>(usert->function) >= static_cast<unsigned>(kSlots))
    return -1;
  // A slot registered without an implementation never fires.
  const pt2Fun fun = qal3::trigger::registered_function(usert->function);
  const pt2Op op = qal3::trigger::registered_operation(usert->operation);
  // A registered function or operation that throws does not fire.
  return qal3::guarded(0, [&] {
    if (!fun || fun(data, usert)) return 0;
    if (!usert->fresult || !op) return 0;
    return op(*usert->fresult, usert->low, usert->upper, usert->bitmask) ? 1 : 0;
  });
}
