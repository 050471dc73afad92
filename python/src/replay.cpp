// Trigger replay: triggers evaluated by the library over recorded events
// held in numpy arrays. Triggers that read the same data share one block of
// the event-utility layout, built with the stand-in's builders; only its
// data is refreshed from event to event, once for all of them, and of a
// spectrum only the samples they read, so the loop allocates nothing per
// event, copies no data per trigger and runs with the GIL released.
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
#include "qal3_evutl_blocks.h"
#include "record_conversion.h"
#include "site_functions.h"
#include "trigger_facts.h"
#include "trigger_window.h"
#include "user_case_trigger.h"

namespace qal3py {
namespace {

using namespace pybind11::literals;

// Subchannel numbers beyond this are not laid out in a block: a trigger
// asking for one finds no data, as it would in a real block.
constexpr int kMaxSubchannel = 4095;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct FreeTrigger {
  void operator()(qal3_user_case_trigger* t) const { QAL3_FREE_USER(t); }
};
using TriggerPtr = std::unique_ptr<qal3_user_case_trigger, FreeTrigger>;
struct FreeBlock {
  void operator()(qal3_serv_block_subhead_2010* b) const { qal3_evutl_free_block(b); }
};
using Block = std::unique_ptr<qal3_serv_block_subhead_2010, FreeBlock>;

Block checked(qal3_serv_block_subhead_2010* b) {
  if (!b) throw std::bad_alloc();
  return Block(b);
}

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

int checked_count(py::ssize_t n, const char* what) {
  if (n > INT32_MAX / 4) throw py::value_error(std::string(what) + " is too long for a block");
  return static_cast<int>(n);
}

// The subchannel a block lays out for the trigger: its own when it can be
// laid out, else 0 (where the trigger will not look).
int placed(int subchannel) { return subchannel >= 0 && subchannel <= kMaxSubchannel ? subchannel : 0; }

// The bits of `f`: axes compared as keys, NaN too.
std::uint32_t bits(float f) {
  std::uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

// One block and the triggers that read it: `load(i)` puts event i into it.
struct Group {
  Block block;
  std::function<void(py::ssize_t)> load;
  std::vector<std::size_t> triggers;  // indices into the replay's list
};

// Samples [first, end) of a spectrum.
struct Span {
  int first;
  int end;
};

// The samples of subchannel `sub`'s spectrum of `ns` samples on the axis
// start + i * inc that trigger `t` reads, as the library selects them: a
// built-in function's window (its first sample for one reading a
// position), nothing when that is empty; the whole spectrum for any other
// function, and for a trigger of another subchannel.
Span read_span(const qal3_user_case_trigger& t, int sub, float start, float inc, int ns) {
  using qal3::trigger::Reads;
  const qal3::trigger::BuiltinFunction* f = qal3::trigger::builtin_in_slot(t.function);
  if (!f || t.subchannel != sub) return {0, ns};
  using qal3::trigger::select_window;
  qal3::trigger::Window w;
  switch (f->reads) {
    case Reads::window:
      return select_window(t.fparam, start, inc, ns, false, w) ? Span{w.first, w.end} : Span{0, 0};
    case Reads::position:
      return select_window(t.fparam, start, inc, ns, true, w) ? Span{w.first, w.first + 1} : Span{0, 0};
  }
  return {0, ns};
}

// The samples any of `readers` reads, in order, as few spans as cover them.
std::vector<Span> read_spans(const std::vector<const qal3_user_case_trigger*>& readers, int sub, float start,
                             float inc, int ns) {
  std::vector<Span> spans;
  for (const qal3_user_case_trigger* t : readers) {
    const Span s = read_span(*t, sub, start, inc, ns);
    if (s.first < s.end) spans.push_back(s);
  }
  std::sort(spans.begin(), spans.end(), [](const Span& x, const Span& y) { return x.first < y.first; });
  std::vector<Span> merged;
  for (const Span& s : spans) {
    if (!merged.empty() && s.first <= merged.back().end)
      merged.back().end = std::max(merged.back().end, s.end);
    else
      merged.push_back(s);
  }
  return merged;
}

// A block of spectra (one spectrum, or events x samples) on the axis
// start + i * inc, read by `readers` (triggers of one channel and
// subchannel). It starts with the first event's spectrum whole; each event
// refreshes the samples the readers read, the others are never read.
Group spectra_block(const std::vector<const qal3_user_case_trigger*>& readers, const Samples& a, float start,
                    float inc) {
  const qal3_user_case_trigger& t = *readers.front();
  const bool one = a.ndim() == 1;
  const int ns = checked_count(one ? a.shape(0) : a.shape(1), "a spectrum");
  const int sub = placed(t.subchannel);
  std::vector<qal3_spect_header_2010> heads(static_cast<std::size_t>(sub) + 1, qal3_spect_header_2010{});
  std::vector<const float*> rows(heads.size(), nullptr);
  heads[sub] = {start, inc, ns, 1, 1.0f};
  rows[sub] = a.data();
  Group g{checked(qal3_evutl_make_spectrum(t.channel, QAL3_DATA_SPECTRUM, static_cast<int>(heads.size()),
                                           heads.data(), rows.data())),
          {}, {}};
  float* dst = get_pointer_to_data_2010(g.block.get(), sub);
  const float* src = a.data();
  g.load = [dst, src, ns, spans = read_spans(readers, sub, start, inc, ns)](py::ssize_t i) {
    const float* row = src + i * ns;
    for (const Span& s : spans)
      std::memcpy(dst + s.first, row + s.first, static_cast<std::size_t>(s.end - s.first) * sizeof(float));
  };
  return g;
}

// A block of name/value data: one value per event (placed at the trigger's
// subchannel) or events x subchannels.
Group values_block(const qal3_user_case_trigger& t, const Samples& a) {
  const bool per_event = a.ndim() == 1;
  const int sub = placed(t.subchannel);
  const int nsub = per_event ? sub + 1 : checked_count(a.shape(1), "a row of values");
  std::vector<float> first(static_cast<std::size_t>(nsub), kNaN);
  Group g{checked(qal3_evutl_make_namval(t.channel, nsub, first.data())), {}, {}};
  float* dst = nsub > 0 ? get_pointer_to_data_2010(g.block.get(), 0) : nullptr;
  const float* src = a.data();
  g.load = [dst, src, per_event, sub, nsub](py::ssize_t i) {
    if (per_event)
      dst[sub] = src[i];
    else if (nsub > 0)
      std::memcpy(dst, src + i * nsub, static_cast<std::size_t>(nsub) * sizeof(float));
  };
  return g;
}

// A block of slow data: the trigger channel's update value in each event.
Group slow_block(qal3_user_case_trigger& t, const Samples& a) {
  qal3_upd_data_block_2010 upd{};
  std::memcpy(upd.upd_prop, t.channel, sizeof upd.upd_prop);
  Group g{checked(qal3_evutl_make_slow("slow", 1, &upd, 0, nullptr)), {}, {}};
  qal3_upd_data_block_2010* found = nullptr;
  find_upd_channel_2010(g.block.get(), &t, &found);
  const float* src = a.data();
  g.load = [found, src](py::ssize_t i) {
    if (found) found->upd_ch_data = src[i];
  };
  return g;
}

class Replay {
 public:
  // One trigger (a record), or a list of them.
  explicit Replay(py::handle triggers) {
    single_ = !py::isinstance<py::list>(triggers) && !py::isinstance<py::tuple>(triggers);
    if (single_) {
      add(triggers);
    } else {
      for (py::handle t : triggers) add(t);
    }
  }

  py::tuple spectra(py::handle samples, float start, float inc) {
    const Samples a = float32(samples, "samples");
    const py::ssize_t n = a.ndim() == 1 ? 1 : a.shape(0);
    return one_column(n, [&] { return spectra_block({&only()}, a, start, inc); });
  }
  py::tuple values(py::handle values) {
    const Samples a = float32(values, "values");
    return one_column(a.shape(0), [&] { return values_block(only(), a); });
  }
  py::tuple slow(py::handle values) {
    const Samples a = float32(values, "values");
    if (a.ndim() != 1) throw py::value_error("slow values must have one dimension: one value per event");
    return one_column(a.shape(0), [&] { return slow_block(only(), a); });
  }

  // The list over `events` events: `data[k]` is trigger k's array (2-D
  // spectra on the axis starts[k] + i * incs[k], 1-D name/value data), or
  // None when the recording has none. Triggers of the same channel given the
  // same array, axis and subchannel share one block. Returns (fired, value) of shape
  // (events, triggers); a trigger without data has False and NaN.
  py::tuple run_arrays(py::ssize_t events, const py::list& data, const std::vector<float>& starts,
                       const std::vector<float>& incs) {
    const std::size_t nt = t_.size();
    if (events < 0) throw py::value_error("events must not be negative");
    const py::tuple data_held(data);  // each array held while it is read, whatever else holds it
    if (data_held.size() != nt || starts.size() != nt || incs.size() != nt)
      throw py::value_error("one array, start and inc per trigger are needed");
    if (events == 0) {  // no event: no block to build from a first one
      std::vector<Group> none;
      return evaluate(0, none);
    }
    std::map<PyObject*, Samples> arrays;  // each array converted once
    std::map<std::tuple<std::string, PyObject*, std::uint32_t, std::uint32_t, int>, std::size_t> shared;
    std::vector<std::pair<const Samples*, std::vector<std::size_t>>> readers;  // of each block, in order
    for (std::size_t k = 0; k < nt; ++k) {
      const py::handle d = data_held[k];
      if (d.is_none()) continue;
      auto found = arrays.find(d.ptr());
      if (found == arrays.end()) {
        const std::string what = "the data of channel " + std::string(py::repr(channel(k)));
        found = arrays.emplace(d.ptr(), float32(d, what)).first;
        if (found->second.shape(0) != events) throw py::value_error(what + " does not hold one row per event");
      }
      const bool spectrum = found->second.ndim() == 2;
      const auto key = std::make_tuple(std::string(t_[k]->channel, strnlen(t_[k]->channel, sizeof t_[k]->channel)),
                                       d.ptr(), spectrum ? bits(starts[k]) : 0, spectrum ? bits(incs[k]) : 0,
                                       placed(t_[k]->subchannel));
      const auto at = shared.emplace(key, readers.size());
      if (at.second) readers.emplace_back(&found->second, std::vector<std::size_t>());
      readers[at.first->second].second.push_back(k);
    }
    std::vector<Group> groups;
    for (const auto& [a, ks] : readers) {
      const std::size_t k = ks.front();
      if (a->ndim() == 2) {
        std::vector<const qal3_user_case_trigger*> ts;
        for (const std::size_t j : ks) ts.push_back(t_[j].get());
        groups.push_back(spectra_block(ts, *a, starts[k], incs[k]));
      } else {
        groups.push_back(values_block(*t_[k], *a));
      }
      groups.back().triggers = ks;
    }
    return evaluate(events, groups);
  }

  std::string repr() {
    const auto lock = hold();
    if (!single_) return "Replay(" + std::to_string(t_.size()) + " triggers)";
    const qal3_user_case_trigger* t = t_.front().get();
    std::string out = "Replay(channel=" + std::string(py::repr(channel(0))) +
                      ", subchannel=" + std::to_string(t->subchannel) +
                      ", function=" + qal3_get_function_string(t->function) +
                      ", operation=" + qal3_get_operation_string(t->operation);
    if (t->fprevresult) out += ", previous=" + std::string(py::repr(py::float_(*t->fprevresult)));
    return out + ")";
  }

  // Forgets the values DIFF functions compare the next event with.
  void reset() {
    const auto lock = hold();
    for (TriggerPtr& t : t_) {
      std::free(t->fprevresult);
      t->fprevresult = nullptr;
    }
  }

  std::size_t size() const { return t_.size(); }
  py::list triggers() const { return py::list(triggers_); }  // a list of its own: triggers_ stays as made

  // What a pickle keeps: the triggers, and each one's DIFF state.
  py::tuple state() {
    const auto lock = hold();
    py::list previous;
    for (const TriggerPtr& t : t_)
      previous.append(t->fprevresult ? py::object(py::float_(*t->fprevresult)) : py::object(py::none()));
    return py::make_tuple(single_ ? triggers_[0] : py::object(triggers_), previous);
  }
  static std::unique_ptr<Replay> from_state(const py::tuple& s) {
    if (s.size() != 2) throw std::runtime_error("not a pickled qal3.Replay");
    auto r = std::make_unique<Replay>(s[0]);
    const py::list previous(s[1]);
    if (previous.size() != r->t_.size()) throw std::runtime_error("not a pickled qal3.Replay");
    for (std::size_t k = 0; k < previous.size(); ++k) {
      if (previous[k].is_none()) continue;
      const float value = float_of(previous[k], "the previous value of a pickled qal3.Replay");
      auto* p = static_cast<float*>(std::malloc(sizeof(float)));
      if (!p) throw std::bad_alloc();
      *p = value;
      r->t_[k]->fprevresult = p;
    }
    return r;
  }

 private:
  void add(py::handle trigger) {
    TriggerPtr t(qal3::records::Description<qal3_user_case_trigger>::make());
    fill_record(trigger, *t);
    t->fresult = static_cast<float*>(std::malloc(sizeof(float)));
    if (!t->fresult) throw std::bad_alloc();
    t_.push_back(std::move(t));
    triggers_.append(py::module_::import("copy").attr("deepcopy")(trigger));
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

  py::str channel(std::size_t k) const {
    return to_py(t_[k]->channel, strnlen(t_[k]->channel, sizeof t_[k]->channel));
  }

  qal3_user_case_trigger& only() {
    if (t_.size() != 1)
      throw py::value_error("a Replay of " + std::to_string(t_.size()) + " triggers replays a recording: use run()");
    return *t_.front();
  }

  // One trigger's (fired, value) over `n` events of the block `make` builds.
  template <typename Make>
  py::tuple one_column(py::ssize_t n, Make make) {
    only();
    std::vector<Group> groups;
    if (n > 0) {
      groups.push_back(make());
      groups.back().triggers.push_back(0);
    }
    const py::tuple both = evaluate(n, groups);
    return py::make_tuple(both[0].attr("reshape")(n), both[1].attr("reshape")(n));
  }

  // Runs each group's triggers over `n` events into (n, triggers) tables.
  py::tuple evaluate(py::ssize_t n, std::vector<Group>& groups) {
    const auto nt = static_cast<py::ssize_t>(t_.size());
    py::array_t<bool> fired({n, nt});
    py::array_t<float> value({n, nt});
    bool* f = fired.mutable_data();
    float* v = value.mutable_data();
    std::fill(f, f + n * nt, false);
    std::fill(v, v + n * nt, kNaN);
    if (groups.empty()) return py::make_tuple(fired, value);
    if (looping_ == this) throw std::runtime_error("a Replay cannot be used by a function it is evaluating");
    std::unique_ptr<MessageLog> log;
    {
      py::gil_scoped_release nogil;
      std::lock_guard<std::mutex> lock(busy_);
      const Evaluating evaluating;  // no registration meanwhile
      const Looping looping(this);
      // Errors only, each once: SUM writes a line per event.
      log = std::make_unique<MessageLog>(MessageLog::Keep::problems);
      for (Group& g : groups) {
        qal3_serv_block_subhead_2010* block = g.block.get();
        for (py::ssize_t i = 0; i < n && !interrupted(); ++i) {
          g.load(i);
          for (const std::size_t k : g.triggers) {
            qal3_user_case_trigger* t = t_[k].get();
            *t->fresult = kNaN;
            const bool primed = t->fprevresult != nullptr;
            const int rc = qal3_is_trigger_on(block, t);
            f[i * nt + static_cast<py::ssize_t>(k)] = rc == 1;
            // A DIFF function's first result only records the value to compare with.
            v[i * nt + static_cast<py::ssize_t>(k)] = (!primed && t->fprevresult) ? kNaN : *t->fresult;
          }
        }
      }
    }
    const py::list messages = log->records(py::none());
    log.reset();
    raise_interruption();  // a Python function's KeyboardInterrupt ends the call
    warn_messages(messages);
    return py::make_tuple(fired, value);
  }

  // The replay whose loop the thread runs (its Python functions run in it).
  static thread_local const Replay* looping_;
  struct Looping {
    explicit Looping(const Replay* r) : outer(looping_) { looping_ = r; }
    ~Looping() { looping_ = outer; }
    const Replay* outer;
  };

  std::vector<TriggerPtr> t_;
  py::list triggers_;  // copies of the records given, for run() and pickling
  bool single_ = true;
  std::mutex busy_;
};

thread_local const Replay* Replay::looping_ = nullptr;

}  // namespace

void bind_replay(py::module_& m) {
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
          [](py::object self, py::object recording, py::object start, py::object inc) {
            made<Replay>(self);
            return py::module_::import("qal3._replay").attr("run")(self, recording, start, inc);
          },
          py::arg("recording"), py::arg("start") = 0.0, py::arg("inc") = 1.0,
          "Replays the triggers over `recording` (see qal3.replay) and returns a qal3.ReplayTable; "
          "DIFF functions go on from the previous run().")
      .def("_run_arrays", method(&Replay::run_arrays), py::arg("events"), py::arg("data"), py::arg("starts"),
           py::arg("incs"))
      .def_property_readonly("triggers", method(&Replay::triggers), "Copies of the triggers replayed, in order.")
      .def("__len__", method(&Replay::size))
      .def("reset", method(&Replay::reset), "Forgets the previous event of DIFF functions.")
      .def("__repr__", method(&Replay::repr))
      .def(py::pickle([](py::handle self) { return made<Replay>(self).state(); }, &Replay::from_state));
}

}  // namespace qal3py
