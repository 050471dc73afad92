// What the trigger library states once, for itself and for whatever shows
// or checks its work (the tool, the Python module): the registry's slots and
// when one is free, the built-in functions and operations in slot order with
// what each reads and compares, the names a function gives its parameters,
// what the trigger list reader takes for a trigger that names no function
// or operation or sets no parameter, and the name written for a channel
// without one. Header only (constexpr tables, inline functions over
// the exported registry functions), so that front ends linking the shared
// libraries use it without further exports. Internal to the project.
#ifndef QAL3_TRIGGER_FACTS_H
#define QAL3_TRIGGER_FACTS_H

#include <cstddef>
#include <cstring>
#include <iterator>
#include <string_view>

#include "trigger_parameters.h"
#include "user_case_trigger.h"

namespace qal3 {

// The DAQ name written and listed for a channel or an environment entry
// that has none.
constexpr char kUndefinedName[] = "!!!UNDEFINED!!!";

namespace trigger {

// Slots of each of the two registry tables.
constexpr int kSlots = 32;

// The help text of a free slot. The registry fills its free slots with it,
// qal3_add_user_function and qal3_add_user_operation take the first slot
// whose help text is this one, and a slot given it is free again.
constexpr char kFreeHelp[] = "undefined";
inline bool is_free_help(const char* help) { return help && std::strcmp(help, kFreeHelp) == 0; }

// Between a slot's name and its help text in what qal3_get_function_help
// and qal3_get_operation_help give.
constexpr char kHelpSeparator[] = " : ";

// What a built-in function reads of a spectrum.
enum class Reads { window, position };

struct BuiltinFunction {
  const char* name;
  const char* help;
  Reads reads;
  bool level;             // its value is a level of the samples, comparable with them
  bool diff;              // the change since the last event in which it had a value
  bool reversed = false;  // a diff whose change is the last value minus this event's
  bool squares = false;   // squares each sample in single precision
};

#define QAL3_WINDOW_PARAMETERS \
  "parameters 0:start(usec)[x0] 1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] 4:[form of ROI]"
#define QAL3_POSITION_PARAMETERS "parameters 0:position(usec)[x0]  1:[y0]  none in case of slow channel"

// The built-in functions, slot 0 onwards.
inline constexpr BuiltinFunction kFunctions[] = {
    {"MIN", "minimum value  in a spectrum/image  " QAL3_WINDOW_PARAMETERS, Reads::window, true, false},
    {"MAX", "maximum value  in a spectrum/image  " QAL3_WINDOW_PARAMETERS, Reads::window, true, false},
    {"MEAN", "mean value    in a spectrum/image   " QAL3_WINDOW_PARAMETERS, Reads::window, true, false},
    {"RMS", "root mean square  in a spectrum/image  " QAL3_WINDOW_PARAMETERS, Reads::window, false, false, false, true},
    {"STD", "standard deviation in a spectrum/image " QAL3_WINDOW_PARAMETERS, Reads::window, false, false},
    {"SUM", "sum of values  in a spectrum/image  " QAL3_WINDOW_PARAMETERS, Reads::window, false, false},
    {"VALUE", "value in a selected position " QAL3_POSITION_PARAMETERS, Reads::position, true, false},
    {"P2P", "peak to peak difference in a spectrum/image " QAL3_WINDOW_PARAMETERS, Reads::window, false, false},
    {"DIFFMIN", "difference of minimum value with previous event in a spectrum/image  " QAL3_WINDOW_PARAMETERS,
     Reads::window, false, true},
    {"DIFFMAX", "difference maximum value with previous event in a spectrum/image  " QAL3_WINDOW_PARAMETERS,
     Reads::window, false, true},
    {"DIFFMEAN", "difference of mean value with previous event in a spectrum/image   " QAL3_WINDOW_PARAMETERS,
     Reads::window, false, true},
    {"DIFFRMS", "difference of root mean square with previous event in a spectrum/image  " QAL3_WINDOW_PARAMETERS,
     Reads::window, false, true, false, true},
    {"DIFFSTD", "difference of root standard deviation with previous event in a spectrum/image " QAL3_WINDOW_PARAMETERS,
     Reads::window, false, true},
    {"DIFFSUM", "difference of sum of values with previous event in a spectrum/image  " QAL3_WINDOW_PARAMETERS,
     Reads::window, false, true, true},
    {"DIFFVALUE", "difference of value in a selected position  with previous event " QAL3_POSITION_PARAMETERS,
     Reads::position, false, true},
    {"DIFFP2P", "difference of peak to peak with previous event in a spectrum/image " QAL3_WINDOW_PARAMETERS,
     Reads::window, false, true},
};

#undef QAL3_WINDOW_PARAMETERS
#undef QAL3_POSITION_PARAMETERS

struct BuiltinOperation {
  const char* name;
  const char* help;
  // When it fires, in words; "{LL}", "{UL}" and "{mask}" stand for the
  // trigger's low and upper limits and its bit mask.
  const char* condition;
  bool low, upper, mask;  // which of them it compares
};

// The built-in operations, slot 0 onwards.
inline constexpr BuiltinOperation kOperations[] = {
    {"GT", "result >  Upper Limit (UL)", "fires when result > {UL}", false, true, false},
    {"GTE", "result >=  Upper Limit (UL)", "fires when result \u2265 {UL}", false, true, false},
    {"EQ", "result == Low Limit (LL)", "fires when result = {LL}", true, false, false},
    {"LTE", "result <= Low Limit (LL)", "fires when result \u2264 {LL}", true, false, false},
    {"LT", "result <   Low Limit (LL)", "fires when result < {LL}", true, false, false},
    {"INSIDE", "Low Limit (LL) < result < Upper Limit (UL)", "fires when {LL} < result < {UL}", true, true, false},
    {"INSIDEWITHLIMITS", "Low Limit (LL) <= result <= Upper Limit (UL)", "fires when {LL} \u2264 result \u2264 {UL}",
     true, true, false},
    {"OUTSIDE", "Low Limit (LL) > result  OR result > Upper Limit (UL)", "fires when result < {LL} or > {UL}", true,
     true, false},
    {"OUTSIDEWITHLIMITS", "Low Limit (LL) >= result OR >= Upper Limit (UL)",
     "fires when result \u2264 {LL} or \u2265 {UL}", true, true, false},
    {"AND", "((result & bitmask) == bitmask) - all bits present", "fires when all bits of {mask} are set", false, false,
     true},
    {"TRUE", "always TRUE", "always fires", false, false, false},
    {"FALSE", "always FALSE", "never fires", false, false, false},
    {"BITS", "(result & bitmask) - at least one bit present", "fires when a bit of {mask} is set", false, false, true},
};

// The slots the trigger list reader gives a trigger without a Function or
// an Operation element: MEAN and GT.
constexpr int kDefaultFunction = 2;
constexpr int kDefaultOperation = 0;

// The value the trigger list reader gives a function parameter that a
// trigger does not set.
constexpr float kDefaultParameter = 0.0f;

// The names a built-in function gives its parameters, parameter 0 onwards,
// by what it reads (its help text's list): each one of the trigger list's
// attributes for that parameter (kParameterAliases). A function names no
// parameter past its list.
inline constexpr const char* kWindowParameterNames[] = {"start", "end", "incr", "halfwidthY", "form"};
inline constexpr const char* kPositionParameterNames[] = {"position", "y0"};

// Whether `name` is one of the attributes of parameter `p`.
constexpr bool is_parameter_alias(int p, const char* name) {
  for (const char* alias : kParameterAliases[p]) {
    std::size_t i = 0;
    while (alias[i] && alias[i] == name[i]) ++i;
    if (*alias && alias[i] == name[i]) return true;
  }
  return false;
}
template <std::size_t N>
constexpr bool are_parameter_aliases(const char* const (&names)[N]) {
  for (std::size_t p = 0; p < N; ++p)
    if (p >= static_cast<std::size_t>(kParameters) || !is_parameter_alias(static_cast<int>(p), names[p])) return false;
  return true;
}
static_assert(are_parameter_aliases(kWindowParameterNames) && are_parameter_aliases(kPositionParameterNames),
              "a parameter's name is an attribute the reader takes for it");

// The name built-in `f` gives its parameter `p`; null when it names none.
inline const char* parameter_name(const BuiltinFunction& f, int p) {
  if (f.reads == Reads::window)
    return p >= 0 && p < static_cast<int>(std::size(kWindowParameterNames)) ? kWindowParameterNames[p] : nullptr;
  return p >= 0 && p < static_cast<int>(std::size(kPositionParameterNames)) ? kPositionParameterNames[p] : nullptr;
}

// The built-in named `name`; null when none is.
template <class Builtin, std::size_t N>
const Builtin* find_builtin(const Builtin (&table)[N], std::string_view name) {
  for (const Builtin& b : table)
    if (name == b.name) return &b;
  return nullptr;
}
inline const BuiltinFunction* builtin_function(std::string_view name) { return find_builtin(kFunctions, name); }
inline const BuiltinOperation* builtin_operation(std::string_view name) { return find_builtin(kOperations, name); }

// A slot's help text from `text`, what qal3_get_function_help or
// qal3_get_operation_help gives for it, and the slot's `name`: what follows
// the name and kHelpSeparator (or kHelpSeparator alone, for a slot
// registered without a name).
inline const char* bare_help(const char* text, const char* name) {
  if (!text) return "";
  const std::string_view t(text), separator(kHelpSeparator);
  for (const std::string_view prefix : {std::string_view(name ? name : ""), std::string_view()})
    if (t.substr(0, prefix.size()) == prefix && t.substr(prefix.size(), separator.size()) == separator)
      return text + prefix.size() + separator.size();
  return text;
}

// Whether function slot (operation slot, with `function` false) `slot` is
// free, asked through the exported registry functions.
inline bool slot_free(int slot, bool function) {
  if (slot < 0 || slot >= kSlots) return false;
  const char* name = function ? qal3_get_function_string(slot) : qal3_get_operation_string(slot);
  return is_free_help(bare_help(function ? qal3_get_function_help(slot) : qal3_get_operation_help(slot), name));
}

// The built-in function that function slot `slot` holds, asked through the
// exported registry functions: the slot's entry of kFunctions while the
// slot has that built-in's name and help text, null for a slot past the
// built-ins and for one a registration gave another name or help text (a
// registration keeping both is taken for the built-in).
inline const BuiltinFunction* builtin_in_slot(int slot) {
  if (slot < 0 || static_cast<std::size_t>(slot) >= sizeof kFunctions / sizeof kFunctions[0]) return nullptr;
  const BuiltinFunction& f = kFunctions[slot];
  const char* name = qal3_get_function_string(slot);
  if (std::strcmp(name, f.name) != 0 || std::strcmp(bare_help(qal3_get_function_help(slot), name), f.help) != 0)
    return nullptr;
  return &f;
}

}  // namespace trigger
}  // namespace qal3

#endif  // QAL3_TRIGGER_FACTS_H
