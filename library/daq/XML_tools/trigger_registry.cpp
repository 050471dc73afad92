// The trigger registry: the function and operation slots, their names and
// help texts, and the exported functions that read and change them.
#include <array>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include "trigger_builtins.h"
#include "trigger_facts.h"
#include "user_case_trigger.h"

namespace {

using namespace qal3::trigger;  // the built-ins and their facts

const char kUnknown[] = "UNKNOWN";

constexpr char* text(const char* s) { return const_cast<char*>(s); }

// ---------------------------------------------------------------------------
// The registry tables: the built-ins of trigger_facts.h, then free slots.

// A slot's name and help text. The registry keeps the pointers it is given;
// the initial entries point at string literals that are never written.
struct NameHelp {
  char* name;
  char* help;
};

constexpr const char* kFreeFunctionNames[] = {"FUNC16", "FUNC17", "FUNC18", "FUNC19", "FUNC20", "FUNC21",
                                              "FUNC22", "FUNC23", "FUNC24", "FUNC25", "FUNC26", "FUNC27",
                                              "FUNC28", "FUNC29", "FUNC30", "FUNC31"};
constexpr const char* kFreeOperationNames[] = {"OP13", "OP14", "OP15", "OP16", "OP17", "OP18", "OP19",
                                               "OP20", "OP21", "OP22", "OP23", "OP24", "OP25", "OP26",
                                               "OP27", "OP28", "OP29", "OP30", "OP31"};

using Table = std::array<NameHelp, kSlots>;

template <class Builtin, std::size_t N, std::size_t F>
constexpr Table initial_names(const Builtin (&builtins)[N], const char* const (&free)[F]) {
  static_assert(N + F == kSlots, "every slot has a name");
  Table t{};
  for (std::size_t i = 0; i < N; ++i) t[i] = {text(builtins[i].name), text(builtins[i].help)};
  for (std::size_t i = 0; i < F; ++i) t[N + i] = {text(free[i]), text(kFreeHelp)};
  return t;
}

template <std::size_t... Slot>
constexpr std::array<pt2Fun, kSlots> initial_functions(std::index_sequence<Slot...>) {
  std::array<pt2Fun, kSlots> t{builtin_function<Slot>...};
  for (std::size_t i = sizeof...(Slot); i < kSlots; ++i) t[i] = func_placeholder;
  return t;
}

constexpr std::array<pt2Op, kSlots> initial_operations() {
  constexpr pt2Op builtins[] = {oper_gt,     oper_gte,         oper_eq,      oper_lte,          oper_lt,
                                oper_inside, oper_inside_incl, oper_outside, oper_outside_incl, oper_and_mask,
                                oper_true,   oper_false,       oper_bits};
  static_assert(std::size(builtins) == std::size(kOperations), "one implementation per built-in operation");
  std::array<pt2Op, kSlots> t{};
  for (std::size_t i = 0; i < kSlots; ++i) t[i] = i < std::size(builtins) ? builtins[i] : oper_placeholder;
  return t;
}

// Copies of constant tables, so that the registry starts filled before any
// code runs.
constexpr auto kInitialPfunctions = initial_functions(std::make_index_sequence<std::size(kFunctions)>());
constexpr auto kInitialPoperations = initial_operations();
constexpr Table kInitialFunctions = initial_names(kFunctions, kFreeFunctionNames);
constexpr Table kInitialOperations = initial_names(kOperations, kFreeOperationNames);

std::array<pt2Fun, kSlots> pfunctions = kInitialPfunctions;
std::array<pt2Op, kSlots> poperations = kInitialPoperations;
Table functions = kInitialFunctions;
Table operations = kInitialOperations;

// ---------------------------------------------------------------------------
// Registry helpers shared by the function and operation sides.

bool in_range(int indx) { return indx >= 0 && indx < kSlots; }

char* slot_name(const Table& table, int indx) {
  if (!in_range(indx) || !table[indx].name) return text(kUnknown);
  return table[indx].name;
}

char* slot_help(const Table& table, int indx, std::string& buffer) {
  if (!in_range(indx)) return text(kUnknown);
  const char* name = table[indx].name ? table[indx].name : "";
  const char* help = table[indx].help ? table[indx].help : "";
  try {
    buffer.assign(name).append(kHelpSeparator).append(help);
  } catch (...) {
    return text(name);  // no memory to compose: the name alone
  }
  return &buffer[0];
}

int slot_index(const Table& table, const char* name) {
  if (!name) return -1;
  for (int i = 0; i < kSlots; ++i)
    if (table[i].name && std::strcmp(table[i].name, name) == 0) return i;
  return -1;
}

int free_slot(const Table& table) {
  for (int i = 0; i < kSlots; ++i)
    if (is_free_help(table[i].help)) return i;
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
  functions[indx] = NameHelp{name, description};
  return indx;
}

int qal3_change_user_operation(pt2Op pt, int indx, char* name, char* description) {
  if (!in_range(indx)) return -1;
  poperations[indx] = pt;
  operations[indx] = NameHelp{name, description};
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
