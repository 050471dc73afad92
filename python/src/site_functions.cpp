// Python callables as trigger functions. The registry takes plain function
// pointers (pt2Fun) without user data, so each function slot has its own
// trampoline, made by a template over the slot, that calls the callable
// registered for that slot with the GIL held for the call alone.
#include "site_functions.h"

#include <pybind11/numpy.h>

#include <array>
#include <cstdlib>
#include <deque>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "event_util.h"
#include "qal3_messages.h"
#include "trigger_facts.h"
#include "user_case_trigger.h"

namespace qal3py {
namespace {

using qal3::trigger::kSlots;
constexpr int kParameters = sizeof(qal3_user_case_trigger::fparam) / sizeof(float);

// The callable of each function slot registered from Python (a strong
// reference), null for the others. Read and written with the GIL held.
PyObject* callables[kSlots] = {};

// The names and help texts given to the registry, which keeps their
// pointers: kept for the life of the process (a trigger list writer in
// another thread may still read a replaced one).
std::deque<std::string>& kept_texts() {
  static auto* texts = new std::deque<std::string>();
  return *texts;
}

// Registrations wait for no evaluation and are refused while one runs.
std::mutex gate;
int evaluating = 0;  // under gate

// The interruption a callable of this thread's loop met (a strong
// reference to the exception), and whether the loop should stop.
thread_local bool stop = false;
thread_local PyObject* interruption = nullptr;

// An error of the callable in `slot` as an error line of the evaluation:
// in a replay it comes back as a qal3.Warning, each distinct one once.
void report(std::size_t slot, const std::string& what) {
  const char* name = qal3_get_function_string(static_cast<int>(slot));
  const std::string text =
      "Python function " + std::string(name) + " (function slot " + std::to_string(slot) + "): " + what;
  qal3_message m{};
  m.stream = QAL3_MESSAGE_STDERR;
  m.kind = QAL3_MESSAGE_ERROR;
  m.text = text.c_str();
  m.length = text.size();
  const std::string line = text + "\n";
  m.default_text = line.c_str();
  m.default_length = line.size();
  m.flush = 1;
  qal3_message_emit(&m);
}

// "Type: message" of the Python exception `e` (without its traceback).
std::string described(const py::error_already_set& e) {
  try {
    return std::string(py::str(e.type().attr("__name__"))) + ": " + std::string(py::str(e.value()));
  } catch (...) {
    return "an exception that cannot be shown";
  }
}

// The samples of the trigger's subchannel in the block, without the GIL:
// a spectrum's samples on the axis start + i * inc, a name/value block's
// value, a slow block's update value. False when the block has none.
bool samples_of(qal3_serv_block_subhead_2010* sh, qal3_user_case_trigger* t, const float*& s, int& n, float& start,
                float& inc) {
  switch (get_data_structure_type(static_cast<int>(sh->dtype))) {
    case QAL3_DATA_SPECTRUM:
    case QAL3_DATA_GSPECTRUM:
      s = get_pointer_to_data_2010(sh, t->subchannel);
      return s &&
             get_spect_params_for_data_type_2010(sh, &start, &inc, nullptr, &n, nullptr, nullptr, nullptr,
                                                 t->subchannel) == 0 &&
             n > 0;
    case QAL3_DATA_NAMVAL:
      s = get_pointer_to_data_2010(sh, t->subchannel);
      n = 1;
      return s != nullptr;
    case QAL3_DATA_SLOW: {
      qal3_upd_data_block_2010* upd = nullptr;
      if (find_upd_channel_2010(sh, t, &upd) != 0 || !upd) return false;
      s = &upd->upd_ch_data;
      n = 1;
      return true;
    }
    default:
      return false;
  }
}

// The pt2Fun of function slot `slot`: the callable's value into fresult.
bool call_python(std::size_t slot, void* data, qal3_user_case_trigger* t) {
  if (stop || !data || !t) return true;
  const float* s = nullptr;
  int n = 0;
  float start = 0.0f, inc = 1.0f;
  if (!samples_of(static_cast<qal3_serv_block_subhead_2010*>(data), t, s, n, start, inc)) return true;
  if (!Py_IsInitialized()) return true;
  const py::gil_scoped_acquire gil;
  if (!callables[slot]) return true;
  try {
    const py::object fn = py::reinterpret_borrow<py::object>(callables[slot]);  // held through the call
    // Copies: the callable may keep them, the block may not outlive the call.
    const py::array_t<float> samples(n, s);
    const py::array_t<float> params(kParameters, t->fparam);
    const py::object r = fn(samples, params, start, inc);
    if (r.is_none()) return true;
    const float value = float_of(r, "its value");
    if (!t->fresult) {
      t->fresult = static_cast<float*>(std::malloc(sizeof(float)));
      if (!t->fresult) return true;
    }
    *t->fresult = value;
    return false;
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_Exception)) {  // KeyboardInterrupt and the like: the loop stops
      Py_XDECREF(interruption);
      interruption = e.value().ptr();
      Py_XINCREF(interruption);
      stop = true;
      return true;
    }
    report(slot, described(e));
  } catch (const py::type_error& e) {  // a value that is no number
    report(slot, std::string("TypeError: ") + e.what());
  } catch (const std::exception& e) {
    report(slot, e.what());
  } catch (...) {
    report(slot, "an unknown C++ exception");
  }
  return true;
}

template <std::size_t Slot>
bool trampoline(void* data, qal3_user_case_trigger* t) {
  return call_python(Slot, data, t);
}

template <std::size_t... Slot>
constexpr std::array<pt2Fun, kSlots> make_trampolines(std::index_sequence<Slot...>) {
  return {{&trampoline<Slot>...}};
}
constexpr std::array<pt2Fun, kSlots> kTrampolines = make_trampolines(std::make_index_sequence<kSlots>());

// TypeError unless `fn` is callable with (samples, params, start, inc);
// a callable whose signature Python cannot tell is taken as it is.
void check_callable(py::handle fn) {
  if (!PyCallable_Check(fn.ptr()))
    throw py::type_error("function must be callable, not " + std::string(py::str(py::type::of(fn).attr("__name__"))));
  py::object signature;
  try {
    signature = py::module_::import("inspect").attr("signature")(fn);
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_ValueError) && !e.matches(PyExc_TypeError)) throw;
    return;
  }
  try {
    signature.attr("bind")(0, 0, 0, 0);
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_TypeError)) throw;
    throw py::type_error("function must take the four arguments (samples, params, start, inc): " +
                         std::string(py::str(e.value())));
  }
}

// Registers `fn` in function slot `slot`, or in the lowest free slot when
// `slot` is -1; returns the slot.
int register_function(int slot, py::handle fn, py::handle name_arg, py::handle help_arg) {
  check_callable(fn);
  const std::string name = c_text(name_arg, "name");
  const std::string help = c_text(help_arg, "help");
  if (name.empty()) throw py::value_error("name must not be empty");
  if (name == "UNKNOWN") throw py::value_error("name 'UNKNOWN' is what the registry calls no slot");
  if (qal3::trigger::is_free_help(help.c_str())) throw py::value_error("help '" + help + "' is what a free slot holds");
  const std::lock_guard<std::mutex> lock(gate);
  if (evaluating > 0)
    throw std::runtime_error("triggers are being evaluated: register functions before replays run, not during them");
  if (slot < 0) {
    for (int s = 0; s < kSlots && slot < 0; ++s)
      if (qal3::trigger::slot_free(s, true)) slot = s;
    if (slot < 0) throw std::runtime_error("no function slot is free");
  }
  std::string lookup = name;
  const int holder = qal3_get_function_index(&lookup[0]);
  if (holder >= 0 && holder != slot)
    throw py::value_error("name '" + name + "' is function slot " + std::to_string(holder) + "'s");
  if (static_cast<std::size_t>(slot) < std::size(qal3::trigger::kFunctions) &&
      name == qal3::trigger::kFunctions[slot].name && help == qal3::trigger::kFunctions[slot].help)
    throw py::value_error("a Python function cannot take the name and help of the built-in it replaces");
  std::deque<std::string>& texts = kept_texts();
  texts.push_back(name);
  char* kept_name = &texts.back()[0];
  texts.push_back(help);
  char* kept_help = &texts.back()[0];
  PyObject* old = callables[slot];
  callables[slot] = fn.inc_ref().ptr();
  Py_XDECREF(old);
  qal3_change_user_function(kTrampolines[static_cast<std::size_t>(slot)], slot, kept_name, kept_help);
  return slot;
}

}  // namespace

Evaluating::Evaluating() {
  const std::lock_guard<std::mutex> lock(gate);
  ++evaluating;
  stop = false;
}

Evaluating::~Evaluating() {
  const std::lock_guard<std::mutex> lock(gate);
  --evaluating;
}

bool interrupted() { return stop; }

void raise_interruption() {
  stop = false;
  if (!interruption) return;
  PyObject* e = interruption;
  interruption = nullptr;
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(e)), e);
  Py_DECREF(e);
  throw py::error_already_set();
}

void bind_site_functions(py::module_& m) {
  static const std::string add_doc = R"(Registers `function`, a Python callable, as a trigger function in the
lowest free function slot, named `name` (as trigger lists and records name
it; no other slot may hold that name) with the help text `help`; returns
the slot. RuntimeError when no slot is free.

The evaluation calls function(samples, params, start, inc) once per trigger
and event, with the GIL held for the call: `samples` is a float32 numpy
array (a copy) of what the block holds for the trigger's subchannel (a
spectrum's samples, sample i at start + i * inc on the axis; a name/value
or slow channel's one value, with start 0 and inc 1), `params` the
trigger's )" + std::to_string(kParameters) +
                                     R"( parameters (fparam, float32). It is not called when the
block holds no data for the trigger. It returns the value (a number, kept
as float32), which the trigger's operation then judges, or None for no
value (the trigger does not fire). An exception gives no value for that
event and is reported, each distinct one once, as a qal3.Warning when the
replay returns: a replay of many events keeps the values of the others,
and warnings.simplefilter("error", qal3.Warning) makes it fatal.
KeyboardInterrupt (any BaseException that is no Exception) stops the
replay and is raised from it.

Registration is a set-up step: register before replays run. While any
thread of the process evaluates triggers, registering is refused
(RuntimeError); the callable must not register functions itself. Each
process registers its own: a Replay pickled to another process needs the
function registered there under the same name. Replays in several threads
take turns at the GIL while they call Python functions.)";
  m.def(
      "add_function",
      [](py::handle name, py::handle function, py::handle help) { return register_function(-1, function, name, help); },
      py::arg("name"), py::arg("function"), py::arg("help") = "", add_doc.c_str());
  m.def(
      "change_function",
      [](int slot, py::handle function, py::handle name, py::handle help) {
        if (slot < 0 || slot >= kSlots) throw py::value_error("slot must lie in 0.." + std::to_string(kSlots - 1));
        return register_function(slot, function, name, help);
      },
      py::arg("slot"), py::arg("function"), py::arg("name"), py::arg("help") = "",
      "Puts the Python callable `function` in function slot `slot` (built-in slots included) under `name` and "
      "`help`, as add_function() registers it, and returns the slot. A set-up step, as add_function() is.");
}

}  // namespace qal3py
