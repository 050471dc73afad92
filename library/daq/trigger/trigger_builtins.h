// The built-in trigger functions and operations the registry starts with,
// and the registry's slots as the evaluation reads them. Internal to
// libQAL3USERTRIG.
#ifndef QAL3_TRIGGER_BUILTINS_H
#define QAL3_TRIGGER_BUILTINS_H

#include <cstddef>

#include "trigger_facts.h"
#include "user_case_trigger.h"

namespace qal3 {
namespace trigger {

// Built-in function `slot` of kFunctions (a pt2Fun, as builtin_function<slot>):
// false when a value was stored in the record's fresult, true when there is
// none. func_placeholder fills the free slots and never gives a value.
bool evaluate_builtin(void* data, qal3_user_case_trigger* usert, std::size_t slot);
template <std::size_t Slot>
bool builtin_function(void* data, qal3_user_case_trigger* usert) {
  return evaluate_builtin(data, usert, Slot);
}
bool func_placeholder(void* data, qal3_user_case_trigger* usert);

// Built-in operations (pt2Op): whether the result passes, given the limits
// and the bit mask. oper_placeholder fills the free slots: never.
bool oper_gt(float result, float low, float upper, u_int mask);
bool oper_gte(float result, float low, float upper, u_int mask);
bool oper_eq(float result, float low, float upper, u_int mask);
bool oper_lte(float result, float low, float upper, u_int mask);
bool oper_lt(float result, float low, float upper, u_int mask);
bool oper_inside(float result, float low, float upper, u_int mask);
bool oper_inside_incl(float result, float low, float upper, u_int mask);
bool oper_outside(float result, float low, float upper, u_int mask);
bool oper_outside_incl(float result, float low, float upper, u_int mask);
bool oper_and_mask(float result, float low, float upper, u_int mask);
bool oper_true(float result, float low, float upper, u_int mask);
bool oper_false(float result, float low, float upper, u_int mask);
bool oper_bits(float result, float low, float upper, u_int mask);
bool oper_placeholder(float result, float low, float upper, u_int mask);

// The function and operation registered in `slot` (0 <= slot < kSlots);
// null when a caller registered none.
pt2Fun registered_function(int slot);
pt2Op registered_operation(int slot);

}  // namespace trigger
}  // namespace qal3

#endif  // QAL3_TRIGGER_BUILTINS_H
