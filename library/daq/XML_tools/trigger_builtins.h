// The built-in trigger functions and operations, as the registry lists them,
// and the registry's slots as the evaluation reads them. Internal to
// libQAL3USERTRIG.
#ifndef QAL3_TRIGGER_BUILTINS_H
#define QAL3_TRIGGER_BUILTINS_H

#include "user_case_trigger.h"

namespace qal3 {
namespace trigger {

// Slots of each of the two tables.
constexpr int kSlots = 32;

// Built-in functions (pt2Fun): false when a value was stored in the
// record's fresult, true when there is none. func_placeholder fills the
// free slots and never gives a value.
bool func_min(void* data, qal3_user_case_trigger* usert);
bool func_max(void* data, qal3_user_case_trigger* usert);
bool func_mean(void* data, qal3_user_case_trigger* usert);
bool func_rms(void* data, qal3_user_case_trigger* usert);
bool func_std(void* data, qal3_user_case_trigger* usert);
bool func_sum(void* data, qal3_user_case_trigger* usert);
bool func_value(void* data, qal3_user_case_trigger* usert);
bool func_p2p(void* data, qal3_user_case_trigger* usert);
bool func_diffmin(void* data, qal3_user_case_trigger* usert);
bool func_diffmax(void* data, qal3_user_case_trigger* usert);
bool func_diffmean(void* data, qal3_user_case_trigger* usert);
bool func_diffrms(void* data, qal3_user_case_trigger* usert);
bool func_diffstd(void* data, qal3_user_case_trigger* usert);
bool func_diffsum(void* data, qal3_user_case_trigger* usert);
bool func_diffvalue(void* data, qal3_user_case_trigger* usert);
bool func_diffp2p(void* data, qal3_user_case_trigger* usert);
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
