// The trigger registry: the function and operation slots, their names and
// help texts, and the exported functions that read and change them.
#include <cstring>
#include <string>
#include <utility>

#include "trigger_builtins.h"
#include "user_case_trigger.h"

namespace {

using namespace qal3::trigger;  // the built-ins and kSlots

const char kUnknown[] = "UNKNOWN";
const char kFreeHelp[] = "undefined";

// Name and help text of one slot. The registry keeps the pointers it is
// given; the initial entries point at string literals that are never written.
using NameHelp = std::pair<char*, char*>;

constexpr char* text(const char* s) { return const_cast<char*>(s); }

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

namespace qal3 {
namespace trigger {

pt2Fun registered_function(int slot) { return pfunctions[slot]; }
pt2Op registered_operation(int slot) { return poperations[slot]; }

}  // namespace trigger
}  // namespace qal3

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

