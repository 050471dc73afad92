// User-case triggers: the function and operation registry, and the
// evaluation of a trigger against one channel's data in a server block.
#include "user_case_trigger.h"

#include <langinfo.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <utility>

#include "boundary.h"
#include "event_util.h"
#include "trigger_reductions.h"

namespace {

using qal3::trigger::Reduction;
using qal3::trigger::Window;
using qal3::trigger::reduce;

constexpr int kSlots = 32;
const char kUnknown[] = "UNKNOWN";
const char kFreeHelp[] = "undefined";

// Name and help text of one slot. The registry keeps the pointers it is
// given; the initial entries point at string literals that are never written.
using NameHelp = std::pair<char*, char*>;

constexpr char* text(const char* s) { return const_cast<char*>(s); }

// ---------------------------------------------------------------------------
// Conversions.

// float -> int, truncating toward zero; out-of-range values saturate and NaN
// gives 0.
int to_int_saturated(float v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483648.0f) return INT_MAX;
  if (v <= -2147483648.0f) return INT_MIN;
  return static_cast<int>(v);
}

// float -> 32-bit unsigned, truncating toward zero; negatives and NaN give 0,
// values of 2^32 or more give 0xFFFFFFFF.
u_int to_u32_saturated(float v) {
  if (!(v > 0.0f)) return 0u;
  if (v >= 4294967296.0f) return 0xFFFFFFFFu;
  return static_cast<u_int>(v);
}

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
bool oper_and_mask(float r, float, float, u_int mask) {
  return (mask & ~to_u32_saturated(r)) == 0u;
}
bool oper_true(float, float, float, u_int) { return true; }
bool oper_false(float, float, float, u_int) { return false; }
bool oper_bits(float r, float, float, u_int mask) { return (to_u32_saturated(r) & mask) != 0u; }
bool oper_placeholder(float, float, float, u_int) { return false; }

// ---------------------------------------------------------------------------
// Messages.

void flush_all_output() {
  std::fflush(nullptr);
  std::cout.flush();
}

// ---------------------------------------------------------------------------
// The window a trigger selects.

// Converts the trigger's axis parameters (start, end in axis units; step in
// samples) into a window over `ndata` samples. Returns false when the
// window is empty or outside the spectrum. A step beyond the int range
// saturates, so it selects the first sample only, like any step at least as
// long as the window. With `position_only` only `first` is computed.
bool select_window(const float* fparam, float start, float inc, int ndata, bool position_only,
                   Window& w) {
  const float from = (fparam[0] - start) / inc;
  int first = to_int_saturated(from);
  if (first < 0) first = 0;
  if (first >= ndata) return false;
  w.first = first;
  if (position_only) return true;

  int step = to_int_saturated(fparam[2]);
  if (step == 0) step = 1;
  if (step < 0) step = (step == INT_MIN) ? INT_MAX : -step;
  w.step = step;

  const float to = (fparam[1] - start) / inc;
  const int e = to_int_saturated(to);
  if (e >= 0) {
    if (e > ndata || e <= first) return false;
    w.end = e;
  } else {
    w.end = ndata;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The frame shared by the base functions.

// The external environment dictionary (qal3_user_trigger_set_ext_env_dictionary).
char* ext_dict_copy = nullptr;

const char* function_label(Reduction r) { return r == Reduction::max ? "func_max" : "func_min"; }

bool spectrum_value(qal3_serv_block_subhead_2010* sh, qal3_user_case_trigger* usert, Reduction r,
                    float& value) {
  const float* samples = get_pointer_to_data_2010(sh, usert->subchannel);
  if (!samples) return false;
  float start = 0.0f;
  float inc = 0.0f;
  int ndata = 0;
  int groups = 1;
  float group_inc = 1.0f;
  qal3_spect_statistics_2010* stat = nullptr;
  if (get_spect_params_for_data_type_2010(sh, &start, &inc, nullptr, &ndata, &groups, &group_inc,
                                          &stat, usert->subchannel) != 0)
    return false;
  Window w;
  if (!select_window(usert->fparam, start, inc, ndata, r == Reduction::value, w)) return false;
  value = reduce(samples, w, r);
  return true;
}

bool slow_value(qal3_serv_block_subhead_2010* sh, qal3_user_case_trigger* usert, Reduction r,
                float& value) {
  qal3_upd_data_block_2010* upd = nullptr;
  if (find_upd_channel_2010(sh, usert, &upd) == 0 && upd) {
    value = upd->upd_ch_data;
    return true;
  }
  const bool needs_dictionary = (r == Reduction::min || r == Reduction::max);
  if (needs_dictionary && !ext_dict_copy) {
    std::printf("%s: No ext env dictionary set\n", function_label(r));
    flush_all_output();
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
bool block_value(qal3_serv_block_subhead_2010* sh, qal3_user_case_trigger* usert, Reduction r,
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
      return spectrum_value(sh, usert, r, value);
    default:
      std::printf("%s: unknown data structure type\n", function_label(r));
      flush_all_output();
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
    std::printf(" HERE DATA %f \n", static_cast<double>(value));
    return;
  }
  static const char kPrefix[] = " HERE DATA ";
  char line[96];
  std::memcpy(line, kPrefix, sizeof kPrefix - 1);
  char* const digits = line + sizeof kPrefix - 1;
  char* const limit = line + sizeof line - 2;
  const auto res = std::to_chars(digits, limit, static_cast<double>(value), std::chars_format::fixed, 6);
  if (res.ec != std::errc()) {
    std::printf(" HERE DATA %f \n", static_cast<double>(value));
    return;
  }
  char* end = res.ptr;
  *end++ = ' ';
  *end++ = '\n';
  std::fwrite(line, 1, static_cast<size_t>(end - line), stdout);
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
bool base_function(void* data, qal3_user_case_trigger* usert, Reduction r) {
  if (!data || !usert) return true;
  float value = 0.0f;
  if (!block_value(static_cast<qal3_serv_block_subhead_2010*>(data), usert, r, value)) return true;
  if (r == Reduction::sum) print_here_data(value);
  return !store_result(usert, value);
}

// The base function, then the change since the last event in which the base
// function succeeded; the first success only records the raw value.
bool diff_function(void* data, qal3_user_case_trigger* usert, Reduction r, bool previous_minus_current) {
  if (!data || !usert) return true;
  if (base_function(data, usert, r)) return true;
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
  *usert->fresult = previous_minus_current ? prev - cur : cur - prev;
  return false;
}

bool func_min(void* d, qal3_user_case_trigger* u) { return base_function(d, u, Reduction::min); }
bool func_max(void* d, qal3_user_case_trigger* u) { return base_function(d, u, Reduction::max); }
bool func_mean(void* d, qal3_user_case_trigger* u) { return base_function(d, u, Reduction::mean); }
bool func_rms(void* d, qal3_user_case_trigger* u) { return base_function(d, u, Reduction::rms); }
bool func_std(void* d, qal3_user_case_trigger* u) { return base_function(d, u, Reduction::std); }
bool func_sum(void* d, qal3_user_case_trigger* u) { return base_function(d, u, Reduction::sum); }
bool func_value(void* d, qal3_user_case_trigger* u) { return base_function(d, u, Reduction::value); }
bool func_p2p(void* d, qal3_user_case_trigger* u) { return base_function(d, u, Reduction::p2p); }

bool func_diffmin(void* d, qal3_user_case_trigger* u) {
  return diff_function(d, u, Reduction::min, false);
}
bool func_diffmax(void* d, qal3_user_case_trigger* u) {
  return diff_function(d, u, Reduction::max, false);
}
bool func_diffmean(void* d, qal3_user_case_trigger* u) {
  return diff_function(d, u, Reduction::mean, false);
}
bool func_diffrms(void* d, qal3_user_case_trigger* u) {
  return diff_function(d, u, Reduction::rms, false);
}
bool func_diffstd(void* d, qal3_user_case_trigger* u) {
  return diff_function(d, u, Reduction::std, false);
}
bool func_diffsum(void* d, qal3_user_case_trigger* u) {
  return diff_function(d, u, Reduction::sum, true);
}
bool func_diffvalue(void* d, qal3_user_case_trigger* u) {
  return diff_function(d, u, Reduction::value, false);
}
bool func_diffp2p(void* d, qal3_user_case_trigger* u) {
  return diff_function(d, u, Reduction::p2p, false);
}

// Free function slots: nothing to compute, so the trigger never fires.
bool func_placeholder(void*, qal3_user_case_trigger*) { return true; }

// ---------------------------------------------------------------------------
// The registry tables.

pt2Fun pfunctions[kSlots] = {
    func_min,
    func_max,
    func_mean,
    func_rms,
    func_std,
    func_sum,
    func_value,
    func_p2p,
    func_diffmin,
    func_diffmax,
    func_diffmean,
    func_diffrms,
    func_diffstd,
    func_diffsum,
    func_diffvalue,
    func_diffp2p,
    func_placeholder,
    func_placeholder,
    func_placeholder,
    func_placeholder,
    func_placeholder,
    func_placeholder,
    func_placeholder,
    func_placeholder,
    func_placeholder,
    func_placeholder,
    func_placeholder,
    func_placeholder,
    func_placeholder,
    func_placeholder,
    func_placeholder,
    func_placeholder,
};

pt2Op poperations[kSlots] = {
    oper_gt,
    oper_gte,
    oper_eq,
    oper_lte,
    oper_lt,
    oper_inside,
    oper_inside_incl,
    oper_outside,
    oper_outside_incl,
    oper_and_mask,
    oper_true,
    oper_false,
    oper_bits,
    oper_placeholder,
    oper_placeholder,
    oper_placeholder,
    oper_placeholder,
    oper_placeholder,
    oper_placeholder,
    oper_placeholder,
    oper_placeholder,
    oper_placeholder,
    oper_placeholder,
    oper_placeholder,
    oper_placeholder,
    oper_placeholder,
    oper_placeholder,
    oper_placeholder,
    oper_placeholder,
    oper_placeholder,
    oper_placeholder,
    oper_placeholder,
};

NameHelp functions[kSlots] = {
    {text("MIN"),
     text("minimum value  in a spectrum/image  parameters 0:start(usec)[x0] 1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] 4:[form of ROI]")},
    {text("MAX"),
     text("maximum value  in a spectrum/image  parameters 0:start(usec)[x0] 1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] 4:[form of ROI]")},
    {text("MEAN"),
     text("mean value    in a spectrum/image   parameters 0:start(usec)[x0] 1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] 4:[form of ROI]")},
    {text("RMS"),
     text("root mean square  in a spectrum/image  parameters 0:start(usec)[x0] 1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] 4:[form of ROI]")},
    {text("STD"),
     text("standard deviation in a spectrum/image parameters 0:start(usec)[x0] 1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] 4:[form of ROI]")},
    {text("SUM"),
     text("sum of values  in a spectrum/image  parameters 0:start(usec)[x0] 1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] 4:[form of ROI]")},
    {text("VALUE"),
     text("value in a selected position parameters 0:position(usec)[x0]  1:[y0]  none in case of slow channel")},
    {text("P2P"),
     text("peak to peak difference in a spectrum/image parameters 0:start(usec)[x0] 1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] 4:[form of ROI]")},
    {text("DIFFMIN"),
     text("difference of minimum value with previous event in a spectrum/image  parameters 0:start(usec)[x0] 1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] 4:[form of ROI]")},
    {text("DIFFMAX"),
     text("difference maximum value with previous event in a spectrum/image  parameters 0:start(usec)[x0] 1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] 4:[form of ROI]")},
    {text("DIFFMEAN"),
     text("difference of mean value with previous event in a spectrum/image   parameters 0:start(usec)[x0] 1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] 4:[form of ROI]")},
    {text("DIFFRMS"),
     text("difference of root mean square with previous event in a spectrum/image  parameters 0:start(usec)[x0] 1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] 4:[form of ROI]")},
    {text("DIFFSTD"),
     text("difference of root standard deviation with previous event in a spectrum/image parameters 0:start(usec)[x0] 1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] 4:[form of ROI]")},
    {text("DIFFSUM"),
     text("difference of sum of values with previous event in a spectrum/image  parameters 0:start(usec)[x0] 1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] 4:[form of ROI]")},
    {text("DIFFVALUE"),
     text("difference of value in a selected position  with previous event parameters 0:position(usec)[x0]  1:[y0]  none in case of slow channel")},
    {text("DIFFP2P"),
     text("difference of peak to peak with previous event in a spectrum/image parameters 0:start(usec)[x0] 1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] 4:[form of ROI]")},
    {text("FUNC16"),
     text("undefined")},
    {text("FUNC17"),
     text("undefined")},
    {text("FUNC18"),
     text("undefined")},
    {text("FUNC19"),
     text("undefined")},
    {text("FUNC20"),
     text("undefined")},
    {text("FUNC21"),
     text("undefined")},
    {text("FUNC22"),
     text("undefined")},
    {text("FUNC23"),
     text("undefined")},
    {text("FUNC24"),
     text("undefined")},
    {text("FUNC25"),
     text("undefined")},
    {text("FUNC26"),
     text("undefined")},
    {text("FUNC27"),
     text("undefined")},
    {text("FUNC28"),
     text("undefined")},
    {text("FUNC29"),
     text("undefined")},
    {text("FUNC30"),
     text("undefined")},
    {text("FUNC31"),
     text("undefined")},
};

NameHelp operations[kSlots] = {
    {text("GT"), text("result >  Upper Limit (UL)")},
    {text("GTE"), text("result >=  Upper Limit (UL)")},
    {text("EQ"), text("result == Low Limit (LL)")},
    {text("LTE"), text("result <= Low Limit (LL)")},
    {text("LT"), text("result <   Low Limit (LL)")},
    {text("INSIDE"), text("Low Limit (LL) < result < Upper Limit (UL)")},
    {text("INSIDEWITHLIMITS"), text("Low Limit (LL) <= result <= Upper Limit (UL)")},
    {text("OUTSIDE"), text("Low Limit (LL) > result  OR result > Upper Limit (UL)")},
    {text("OUTSIDEWITHLIMITS"), text("Low Limit (LL) >= result OR >= Upper Limit (UL)")},
    {text("AND"), text("((result & bitmask) == bitmask) - all bits present")},
    {text("TRUE"), text("always TRUE")},
    {text("FALSE"), text("always FALSE")},
    {text("BITS"), text("(result & bitmask) - at least one bit present")},
    {text("OP13"), text("undefined")},
    {text("OP14"), text("undefined")},
    {text("OP15"), text("undefined")},
    {text("OP16"), text("undefined")},
    {text("OP17"), text("undefined")},
    {text("OP18"), text("undefined")},
    {text("OP19"), text("undefined")},
    {text("OP20"), text("undefined")},
    {text("OP21"), text("undefined")},
    {text("OP22"), text("undefined")},
    {text("OP23"), text("undefined")},
    {text("OP24"), text("undefined")},
    {text("OP25"), text("undefined")},
    {text("OP26"), text("undefined")},
    {text("OP27"), text("undefined")},
    {text("OP28"), text("undefined")},
    {text("OP29"), text("undefined")},
    {text("OP30"), text("undefined")},
    {text("OP31"), text("undefined")},
};

// ---------------------------------------------------------------------------
// Registry helpers shared by the function and operation sides.

bool in_range(int indx) { return indx >= 0 && indx < kSlots; }

char* slot_name(const NameHelp* table, int indx) {
  if (!in_range(indx) || !table[indx].first) return text(kUnknown);
  return table[indx].first;
}

char* slot_help(const NameHelp* table, int indx, std::string& buffer) {
  if (!in_range(indx)) return text(kUnknown);
  const char* name = table[indx].first ? table[indx].first : "";
  const char* help = table[indx].second ? table[indx].second : "";
  try {
    buffer.assign(name).append(" : ").append(help);
  } catch (...) {
    return text(name);  // no memory to compose: the name alone
  }
  return &buffer[0];
}

int slot_index(const NameHelp* table, const char* name) {
  if (!name) return -1;
  for (int i = 0; i < kSlots; ++i)
    if (table[i].first && std::strcmp(table[i].first, name) == 0) return i;
  return -1;
}

int free_slot(const NameHelp* table) {
  for (int i = 0; i < kSlots; ++i)
    if (table[i].second && std::strcmp(table[i].second, kFreeHelp) == 0) return i;
  return -1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Exported registry operations.

char* qal3_get_function_string(int function) { return slot_name(functions, function); }

char* qal3_get_function_help(int function) {
  thread_local std::string buffer;
  return slot_help(functions, function, buffer);
}

int qal3_get_function_index(char* fun) { return slot_index(functions, fun); }

char* qal3_get_operation_string(int operation) { return slot_name(operations, operation); }

char* qal3_get_operation_help(int operation) {
  thread_local std::string buffer;
  return slot_help(operations, operation, buffer);
}

int qal3_get_operation_index(char* op) { return slot_index(operations, op); }

int qal3_change_user_function(pt2Fun pt, int indx, char* name, char* description) {
  if (!in_range(indx)) return -1;
  pfunctions[indx] = pt;
  functions[indx] = NameHelp(name, description);
  return indx;
}

int qal3_change_user_operation(pt2Op pt, int indx, char* name, char* description) {
  if (!in_range(indx)) return -1;
  poperations[indx] = pt;
  operations[indx] = NameHelp(name, description);
  return indx;
}

int qal3_add_user_function(pt2Fun pt, char* name, char* description) {
  const int slot = free_slot(functions);
  return slot < 0 ? -1 : qal3_change_user_function(pt, slot, name, description);
}

int qal3_add_user_operation(pt2Op pt, char* name, char* description) {
  const int slot = free_slot(operations);
  return slot < 0 ? -1 : qal3_change_user_operation(pt, slot, name, description);
}

void qal3_user_trigger_set_ext_env_dictionary(char* ptr) { ext_dict_copy = ptr; }

// ---------------------------------------------------------------------------
// Evaluation.

int qal3_is_trigger_on(qal3_serv_block_subhead_2010* data, qal3_user_case_trigger* usert) {
  if (!data || !usert) return -1;
  if (static_cast<unsigned>(usert->operation) >= static_cast<unsigned>(kSlots) ||
      static_cast<unsigned>(usert->function) >= static_cast<unsigned>(kSlots))
    return -1;
  // A slot registered without an implementation never fires.
  const pt2Fun fun = pfunctions[usert->function];
  const pt2Op op = poperations[usert->operation];
  // A registered function or operation that throws does not fire.
  return qal3::guarded(0, [&] {
    if (!fun || fun(data, usert)) return 0;
    if (!usert->fresult || !op) return 0;
    return op(*usert->fresult, usert->low, usert->upper, usert->bitmask) ? 1 : 0;
  });
}
