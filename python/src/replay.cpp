// Trigger replay: the library's replay (qal3_replay.h) over recorded events
// held in numpy arrays, run with the GIL released.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common.h"
#include "event_util.h"
#include "messages.h"
#include "qal3_replay.h"
#include "record_conversion.h"
#include "site_functions.h"
#include "trigger_facts.h"
#include "trigger_window.h"
#include "user_case_trigger.h"

namespace qal3py {
namespace {

using namespace pybind11::literals;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr int kMaxSubchannel = QAL3_REPLAY_MAX_SUBCHANNEL;
// Events per call of the library's loop: between calls a Python function's
// interruption is seen.
constexpr py::ssize_t kEventsPerCall = 4096;

struct FreeReplay {
  void operator()(qal3_replay* r) const { qal3_replay_free(r); }
};
using ReplayPtr = std::unique_ptr<qal3_replay, FreeReplay>;

struct FreeTrigger {
  void operator()(qal3_user_case_trigger* t) const { QAL3_FREE_USER(t); }
};
using TriggerPtr = std::unique_ptr<qal3_user_case_trigger, FreeTrigger>;

using Samples = py::array_t<float, py::array::c_style>;

// The array `a` as a C-contiguous float32 array of one or two dimensions,
// copied only when it is not one already. Other float and integer arrays
// are converted to float32, as a DAQ block stores its samples. numpy makes
// the array and its copy, so that what it cannot do comes as its own
// exception (MemoryError when the copy does not fit).
Samples float32(py::handle a, const std::string& what) {
  const py::module_ np = py::module_::import("numpy");
  const py::array arr = np.attr("asarray")(a);
  const char kind = arr.dtype().kind();
  if (kind != 'f' && kind != 'i' && kind != 'u')
    throw py::type_error(what + " must be a float or integer array, not " + std::string(py::str(arr.dtype())));
  if (arr.ndim() != 1 && arr.ndim() != 2) throw py::value_error(what + " must have one or two dimensions");
  const py::object copy = np.attr("ascontiguousarray")(arr, np.attr("float32"));  // (a, dtype)
  // Made as asked: taking it as it is cannot fail.
  if (!Samples::check_(copy)) throw py::type_error(what + ": numpy gave no C-contiguous float32 array");
  return py::reinterpret_borrow<Samples>(copy);
}

// The outcome codes of the library, by name (qal3.Outcome is made of them).
py::dict outcome_codes() {
  py::dict d;
  d["NOT_FIRED"] = int{QAL3_REPLAY_NOT_FIRED};
  d["FIRES"] = int{QAL3_REPLAY_FIRES};
  d["FIRST_EVENT"] = int{QAL3_REPLAY_FIRST_EVENT};
  d["NO_RESULT"] = int{QAL3_REPLAY_NO_RESULT};
  d["NO_DATA"] = int{QAL3_REPLAY_NO_DATA};
  d["INVALID"] = int{QAL3_REPLAY_INVALID};
  return d;
}

// One entry of data, its array held while it is read.
struct Entry {
  Samples array;
  qal3_replay_data data;
};

class Replay {
 public:
  // One trigger (a record), or a list of them.
  explicit Replay(py::handle triggers) {
    single_ = !py::isinstance<py::list>(triggers) && !py::isinstance<py::tuple>(triggers);
    std::vector<TriggerPtr> records;
    if (single_) {
      records.push_back(add(triggers));
    } else {
      for (py::handle t : triggers) records.push_back(add(t));
    }
    std::vector<qal3_user_case_trigger*> list;
    for (const TriggerPtr& t : records) list.push_back(t.get());
    replay_.reset(qal3_replay_new(list.data(), list.size()));
    if (!replay_ && !list.empty()) throw std::bad_alloc();
  }

  py::tuple spectra(py::handle samples, float start, float inc) {
    const Samples a = float32(samples, "samples");
    const bool one = a.ndim() == 1;
    const auto ns = static_cast<std::size_t>(one ? a.shape(0) : a.shape(1));
    std::vector<Entry> entries;
    if (laid_out(only().subchannel))
      entries.push_back(
          {a, {channel_of(only()), only().subchannel, QAL3_REPLAY_SPECTRUM, start, inc, ns, a.data(), ns}});
    return one_column(one ? 1 : a.shape(0), entries);
  }
  py::tuple values(py::handle values) {
    const Samples a = float32(values, "values");
    const qal3_user_case_trigger& t = only();
    std::vector<Entry> entries;
    if (a.ndim() == 1) {
      if (laid_out(t.subchannel))
        entries.push_back({a, {channel_of(t), t.subchannel, QAL3_REPLAY_VALUE, 0.0f, 1.0f, 1, a.data(), 1}});
    } else {
      const auto nsub = static_cast<std::size_t>(a.shape(1));
      for (std::size_t j = 0; j < nsub && laid_out(static_cast<int>(j)); ++j)
        entries.push_back(
            {a, {channel_of(t), static_cast<int>(j), QAL3_REPLAY_VALUE, 0.0f, 1.0f, 1, a.data() + j, nsub}});
    }
    return one_column(a.shape(0), entries);
  }
  py::tuple slow(py::handle values) {
    const Samples a = float32(values, "values");
    if (a.ndim() != 1) throw py::value_error("slow values must have one dimension: one value per event");
    std::vector<Entry> entries;
    entries.push_back({a, {channel_of(only()), 0, QAL3_REPLAY_SLOW, 0.0f, 1.0f, 1, a.data(), 1}});
    return one_column(a.shape(0), entries);
  }

  // The list over `events` events of `given`: (trigger, subchannel, array,
  // start, inc) tuples, each the data of trigger k's channel at that
  // subchannel (2-D spectra on the axis start + i * inc, 1-D name/value
  // data, one row per event). Returns (fired, value, outcome) of shape
  // (events, triggers).
  py::tuple run_entries(py::ssize_t events, const py::list& given) {
    if (events < 0) throw py::value_error("events must not be negative");
    std::vector<Entry> entries;
    for (py::handle item : given) {
      const auto e = item.cast<std::tuple<std::size_t, int, py::object, float, float>>();
      const qal3_user_case_trigger* t = qal3_replay_trigger(replay_.get(), std::get<0>(e));
      if (!t) throw py::index_error("no such trigger");
      const std::string what = "the data of channel " + std::string(py::repr(channel(std::get<0>(e))));
      Samples a = float32(std::get<2>(e), what);
      if (a.shape(0) != events) throw py::value_error(what + " does not hold one row per event");
      const bool spectrum = a.ndim() == 2;
      const auto ns = static_cast<std::size_t>(spectrum ? a.shape(1) : 1);
      const qal3_replay_data d{channel_of(*t),
                               std::get<1>(e),
                               spectrum ? QAL3_REPLAY_SPECTRUM : QAL3_REPLAY_VALUE,
                               std::get<3>(e),
                               std::get<4>(e),
                               ns,
                               a.data(),
                               ns};
      entries.push_back({std::move(a), d});
    }
    return evaluate(events, entries);
  }

  // The triggers that find no data in `given` (as run_entries takes it).
  std::vector<std::size_t> missing(const py::list& given) {
    std::vector<qal3_replay_data> data;
    for (py::handle item : given) {
      const auto e = item.cast<std::tuple<std::size_t, int>>();
      const qal3_user_case_trigger* t = qal3_replay_trigger(replay_.get(), std::get<0>(e));
      if (!t) throw py::index_error("no such trigger");
      data.push_back({channel_of(*t), std::get<1>(e), QAL3_REPLAY_VALUE, 0.0f, 1.0f, 1, &kNaN, 0});
    }
    std::vector<std::size_t> out;
    for (std::size_t k = 0; k < size(); ++k)
      if (qal3_replay_finds(replay_.get(), k, data.data(), data.size()) == 0) out.push_back(k);
    return out;
  }

  std::string repr() {
    const auto lock = hold();
    if (!single_) return "Replay(" + std::to_string(size()) + " triggers)";
    const qal3_user_case_trigger* t = qal3_replay_trigger(replay_.get(), 0);
    std::string out = "Replay(channel=" + std::string(py::repr(channel(0))) +
                      ", subchannel=" + std::to_string(t->subchannel) +
                      ", function=" + qal3_get_function_string(t->function) +
                      ", operation=" + qal3_get_operation_string(t->operation);
    float previous = 0.0f;
    if (qal3_replay_get_previous(replay_.get(), 0, &previous) == 1)
      out += ", previous=" + std::string(py::repr(py::float_(previous)));
    return out + ")";
  }

  // Forgets the values DIFF functions compare the next event with.
  void reset() {
    const auto lock = hold();
    qal3_replay_reset(replay_.get());
  }

  std::size_t size() const { return qal3_replay_size(replay_.get()); }
  py::list triggers() const { return py::list(triggers_); }  // a list of its own: triggers_ stays as made

  // Each trigger's DIFF state: its previous value, or None.
  py::list previous() {
    const auto lock = hold();
    py::list out;
    for (std::size_t k = 0; k < size(); ++k) {
      float v = 0.0f;
      out.append(qal3_replay_get_previous(replay_.get(), k, &v) == 1 ? py::object(py::float_(v))
                                                                     : py::object(py::none()));
    }
    return out;
  }
  // Sets each trigger's DIFF state from `previous` (as previous() gives it).
  void restore(const py::list& previous) {
    const auto lock = hold();
    if (previous.size() != size()) throw py::value_error("one previous value (or None) per trigger is needed");
    for (std::size_t k = 0; k < previous.size(); ++k) {
      float value = 0.0f;
      if (!previous[k].is_none()) value = float_of(previous[k], "a previous value");
      if (qal3_replay_set_previous(replay_.get(), k, previous[k].is_none() ? nullptr : &value) != 0)
        throw std::bad_alloc();
    }
  }

  // What a pickle keeps: the triggers, and each one's DIFF state.
  py::tuple state() { return py::make_tuple(single_ ? triggers_[0] : py::object(triggers_), previous()); }
  static std::unique_ptr<Replay> from_state(const py::tuple& s) {
    if (s.size() != 2) throw std::runtime_error("not a pickled qal3.Replay");
    auto r = std::make_unique<Replay>(s[0]);
    const py::list previous(s[1]);
    if (previous.size() != r->size()) throw std::runtime_error("not a pickled qal3.Replay");
    r->restore(previous);
    return r;
  }

 private:
  TriggerPtr add(py::handle trigger) {
    TriggerPtr t(qal3::records::Description<qal3_user_case_trigger>::make());
    fill_record(trigger, *t);
    triggers_.append(py::module_::import("copy").attr("deepcopy")(trigger));
    return t;
  }

  // The replay's lock, taken with the GIL held: waited for without it, as
  // a loop that holds the lock may be waiting for the GIL to call a Python
  // function. RuntimeError from a Python function of the replay's own loop.
  std::unique_lock<std::mutex> hold() {
    if (looping_ == this) throw std::runtime_error("a Replay cannot be used by a function it is evaluating");
    std::unique_lock<std::mutex> lock(busy_, std::try_to_lock);
    if (!lock.owns_lock()) {
      const py::gil_scoped_release nogil;
      lock.lock();
    }
    return lock;
  }

  static const char* channel_of(const qal3_user_case_trigger& t) { return t.channel; }

  // Whether a block can hold `subchannel`: a trigger asking for another
  // finds no data, as it would in a real block.
  static bool laid_out(int subchannel) { return subchannel >= 0 && subchannel <= kMaxSubchannel; }

  py::str channel(std::size_t k) const {
    const qal3_user_case_trigger* t = qal3_replay_trigger(replay_.get(), k);
    return to_py(t->channel, strnlen(t->channel, sizeof t->channel));
  }

  const qal3_user_case_trigger& only() const {
    if (size() != 1)
      throw py::value_error("a Replay of " + std::to_string(size()) + " triggers replays a recording: use run()");
    return *qal3_replay_trigger(replay_.get(), 0);
  }

  // One trigger's (fired, value) over `n` events of `entries`.
  py::tuple one_column(py::ssize_t n, std::vector<Entry>& entries) {
    only();
    const py::tuple all = evaluate(n, entries);
    return py::make_tuple(all[0].attr("reshape")(n), all[1].attr("reshape")(n));
  }

  // Runs the triggers over `n` events of `entries` into (n, triggers) tables.
  py::tuple evaluate(py::ssize_t n, const std::vector<Entry>& entries) {
    const auto nt = static_cast<py::ssize_t>(size());
    py::array_t<bool> fired({n, nt});
    py::array_t<float> value({n, nt});
    py::array_t<std::int8_t> outcome({n, nt});
    if (looping_ == this) throw std::runtime_error("a Replay cannot be used by a function it is evaluating");
    std::vector<qal3_replay_data> data;
    for (const Entry& e : entries) data.push_back(e.data);
    std::unique_ptr<MessageLog> log;
    int rc = 0;
    {
      py::gil_scoped_release nogil;
      std::lock_guard<std::mutex> lock(busy_);
      const Evaluating evaluating;  // no registration meanwhile
      const Looping looping(this);
      // Errors only, each once: SUM writes a line per event.
      log = std::make_unique<MessageLog>(MessageLog::Keep::problems);
      auto* o = reinterpret_cast<signed char*>(outcome.mutable_data());
      float* v = value.mutable_data();
      for (py::ssize_t first = 0; first < n && rc == 0 && !interrupted(); first += kEventsPerCall) {
        const py::ssize_t count = std::min(kEventsPerCall, n - first);
        std::vector<qal3_replay_data> at = data;
        for (qal3_replay_data& d : at) d.data += static_cast<std::size_t>(first) * d.stride;
        rc = qal3_replay_run(replay_.get(), at.data(), at.size(), static_cast<std::size_t>(count), o + first * nt,
                             v + first * nt);
      }
      bool* f = fired.mutable_data();
      for (py::ssize_t i = 0; i < n * nt; ++i) f[i] = o[i] == QAL3_REPLAY_FIRES;
    }
    const py::list messages = log->records(py::none());
    log.reset();
    raise_interruption();  // a Python function's KeyboardInterrupt ends the call
    if (rc != 0) {
      const std::string why = messages.empty() ? "the data cannot be replayed"
                                               : std::string(py::str(messages[messages.size() - 1].attr("text")));
      throw py::value_error(why);
    }
    warn_messages(messages);
    return py::make_tuple(fired, value, outcome);
  }

  // The replay whose loop the thread runs (its Python functions run in it).
  static thread_local const Replay* looping_;
  struct Looping {
    explicit Looping(const Replay* r) : outer(looping_) { looping_ = r; }
    ~Looping() { looping_ = outer; }
    const Replay* outer;
  };

  ReplayPtr replay_;
  py::list triggers_;  // copies of the records given, for run() and pickling
  bool single_ = true;
  std::mutex busy_;
};

thread_local const Replay* Replay::looping_ = nullptr;

}  // namespace

void bind_replay(py::module_& m) {
  m.attr("_OUTCOMES") = outcome_codes();
  m.attr("_MAX_SUBCHANNEL") = kMaxSubchannel;
  m.def(
      "_window",
      [](int slot, const std::vector<float>& parameters, float start, float inc, int samples) -> py::object {
        const qal3::trigger::BuiltinFunction* f = qal3::trigger::builtin_in_slot(slot);
        if (!f || parameters.size() < 3) return py::none();
        qal3::trigger::Window w;
        const bool position = f->reads == qal3::trigger::Reads::position;
        if (!qal3::trigger::select_window(parameters.data(), start, inc, samples, position, w)) return py::bool_(false);
        return py::make_tuple(w.first, position ? w.first + 1 : w.end);
      },
      py::arg("slot"), py::arg("parameters"), py::arg("start"), py::arg("inc"), py::arg("samples"),
      "The samples [first, end) the built-in function of slot `slot` reads, with the trigger parameters "
      "`parameters`, of a spectrum of `samples` "
      "samples on the axis start + i * inc, as the library selects them; False when none; None for a slot "
      "that holds no built-in function.");
  py::class_<Replay>(m, "Replay", R"(Triggers replayed over recorded events.

Replay(trigger) replays one trigger over arrays (spectra(), values(),
slow()); Replay([trigger, ...]) replays a trigger list over a recording
(run()). DIFF functions keep the previous event's value from call to call,
as they do in the DAQ, until reset(); a Replay pickles with that state. The
library's lines go to the replaying thread's own message sink, never to the
console: the per-event lines are dropped, each distinct error comes back
once as a qal3.Warning. Other threads' output is left alone, and replays in
several threads run in parallel.)")
      .def(py::init<py::handle>(), py::arg("triggers"),
           "Replays `triggers`: a qal3.Trigger (or any object with its attributes; function and "
           "operation may be registry names), or a list of them.")
      .def("spectra", method(&Replay::spectra), py::arg("samples"), py::arg("start") = 0.0f, py::arg("inc") = 1.0f,
           "Evaluates spectra (1-D: one event; 2-D: events x samples) on the axis "
           "start + i * inc. float32 is used as it is; other float and integer arrays are "
           "converted to float32 first, as the DAQ block stores its samples. Returns "
           "(fired, value) numpy arrays, one entry per event: bool, and the function's float32 "
           "value (NaN where it gave none, as on a DIFF function's first event). For a Replay "
           "of one trigger.")
      .def("values", method(&Replay::values), py::arg("values"),
           "Evaluates name/value data: 1-D (the trigger subchannel's value per event) "
           "or 2-D (events x subchannels), converted to float32 as spectra() does.")
      .def("slow", method(&Replay::slow), py::arg("values"),
           "Evaluates slow data: the update value of the trigger's channel, one per event "
           "(1-D, converted to float32 as spectra() does).")
      .def(
          "run",
          [](py::object self, py::object recording, py::object start, py::object inc, py::object client,
             py::object chunk) {
            made<Replay>(self);
            return py::module_::import("qal3._replay").attr("run")(self, recording, start, inc, client, chunk);
          },
          py::arg("recording"), py::arg("start") = 0.0, py::arg("inc") = 1.0, py::kw_only(),
          py::arg("client") = py::none(), py::arg("chunk") = py::none(),
          "Replays the triggers over `recording` (see qal3.replay) and returns a qal3.ReplayTable; "
          "DIFF functions go on from the previous run().")
      .def("_previous", method(&Replay::previous))
      .def("_restore", method(&Replay::restore), py::arg("previous"))
      .def("_run_entries", method(&Replay::run_entries), py::arg("events"), py::arg("entries"))
      .def("_missing", method(&Replay::missing), py::arg("entries"))
      .def_property_readonly("triggers", method(&Replay::triggers), "Copies of the triggers replayed, in order.")
      .def("__len__", method(&Replay::size))
      .def("reset", method(&Replay::reset), "Forgets the previous event of DIFF functions.")
      .def("__repr__", method(&Replay::repr))
      .def(py::pickle([](py::handle self) { return made<Replay>(self).state(); }, &Replay::from_state));
}

}  // namespace qal3py
