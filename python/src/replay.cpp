// Trigger replay: one trigger evaluated by the library over recorded events
// held in numpy arrays. Each call builds one block of the event-utility
// layout with the stand-in's builders and refreshes only its data from
// event to event, so the loop allocates nothing per event and runs with
// the GIL released.
#include <pybind11/numpy.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common.h"
#include "event_util.h"
#include "messages.h"
#include "qal3_evutl_blocks.h"
#include "record_conversion.h"
#include "user_case_trigger.h"

namespace qal3py {
namespace {

// Subchannel numbers beyond this are not laid out in a block: a trigger
// asking for one finds no data, as it would in a real block.
constexpr int kMaxSubchannel = 4095;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct FreeTrigger {
  void operator()(qal3_user_case_trigger* t) const { QAL3_FREE_USER(t); }
};
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
// are converted to float32, as a DAQ block stores its samples.
Samples float32(py::handle a, const char* what) {
  const py::array arr = py::array::ensure(a);
  if (!arr) throw py::type_error(std::string(what) + " must be a numpy array");
  const char kind = arr.dtype().kind();
  if (kind != 'f' && kind != 'i' && kind != 'u')
    throw py::type_error(std::string(what) + " must be a float or integer array, not " +
                         std::string(py::str(arr.dtype())));
  if (arr.ndim() != 1 && arr.ndim() != 2) throw py::value_error(std::string(what) + " must have one or two dimensions");
  if (kind == 'f' && arr.itemsize() == 4) return Samples::ensure(arr);
  return Samples(py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(arr));
}

int checked_count(py::ssize_t n, const char* what) {
  if (n > INT32_MAX / 4) throw py::value_error(std::string(what) + " is too long for a block");
  return static_cast<int>(n);
}

// The subchannel a block lays out for the trigger: its own when it can be
// laid out, else 0 (where the trigger will not look).
int placed(int subchannel) { return subchannel >= 0 && subchannel <= kMaxSubchannel ? subchannel : 0; }

class Replay {
 public:
  explicit Replay(py::handle trigger) : t_(qal3::records::Description<qal3_user_case_trigger>::make()) {
    fill_record(trigger, *t_);
    prepare();
  }

  // Events x samples (or one spectrum) on the axis start + i * inc.
  py::tuple spectra(py::handle samples, float start, float inc) {
    const Samples a = float32(samples, "samples");
    const bool one = a.ndim() == 1;
    const py::ssize_t n = one ? 1 : a.shape(0);
    const int ns = checked_count(one ? a.shape(0) : a.shape(1), "a spectrum");
    return run(n, [&](std::vector<Block>& keep) {
      const int sub = placed(t_->subchannel);
      std::vector<qal3_spect_header_2010> heads(static_cast<std::size_t>(sub) + 1, qal3_spect_header_2010{});
      std::vector<const float*> rows(heads.size(), nullptr);
      heads[sub] = {start, inc, ns, 1, 1.0f};
      rows[sub] = a.data();
      keep.push_back(checked(qal3_evutl_make_spectrum(t_->channel, QAL3_DATA_SPECTRUM, static_cast<int>(heads.size()),
                                                      heads.data(), rows.data())));
      float* dst = get_pointer_to_data_2010(keep.back().get(), sub);
      const float* src = a.data();
      const std::size_t bytes = static_cast<std::size_t>(ns) * sizeof(float);
      return [dst, src, bytes, ns](py::ssize_t i) {
        if (i > 0 && bytes) std::memcpy(dst, src + i * ns, bytes);
      };
    });
  }

  // Name/value data: one value per event (placed at the trigger's
  // subchannel) or events x subchannels.
  py::tuple values(py::handle values) {
    const Samples a = float32(values, "values");
    const bool per_event = a.ndim() == 1;
    const py::ssize_t n = a.shape(0);
    return run(n, [&](std::vector<Block>& keep) {
      const int sub = placed(t_->subchannel);
      const int nsub = per_event ? sub + 1 : checked_count(a.shape(1), "a row of values");
      std::vector<float> first(static_cast<std::size_t>(nsub), kNaN);
      keep.push_back(checked(qal3_evutl_make_namval(t_->channel, nsub, first.data())));
      float* dst = nsub > 0 ? get_pointer_to_data_2010(keep.back().get(), 0) : nullptr;
      const float* src = a.data();
      return [dst, src, per_event, sub, nsub](py::ssize_t i) {
        if (per_event)
          dst[sub] = src[i];
        else if (nsub > 0)
          std::memcpy(dst, src + i * nsub, static_cast<std::size_t>(nsub) * sizeof(float));
      };
    });
  }

  // Slow data: the trigger channel's update value in each event.
  py::tuple slow(py::handle values) {
    const Samples a = float32(values, "values");
    if (a.ndim() != 1) throw py::value_error("slow values must have one dimension: one value per event");
    return run(a.shape(0), [&](std::vector<Block>& keep) {
      qal3_upd_data_block_2010 upd{};
      std::memcpy(upd.upd_prop, t_->channel, sizeof upd.upd_prop);
      keep.push_back(checked(qal3_evutl_make_slow("slow", 1, &upd, 0, nullptr)));
      qal3_upd_data_block_2010* found = nullptr;
      find_upd_channel_2010(keep.back().get(), t_.get(), &found);
      const float* src = a.data();
      return [found, src](py::ssize_t i) {
        if (found) found->upd_ch_data = src[i];
      };
    });
  }

  std::string repr() {
    std::lock_guard<std::mutex> lock(busy_);
    const py::str channel = to_py(t_->channel, strnlen(t_->channel, sizeof t_->channel));
    std::string out = "Replay(channel=" + std::string(py::repr(channel)) +
                      ", subchannel=" + std::to_string(t_->subchannel) +
                      ", function=" + qal3_get_function_string(t_->function) +
                      ", operation=" + qal3_get_operation_string(t_->operation);
    if (t_->fprevresult) out += ", previous=" + std::string(py::repr(py::float_(*t_->fprevresult)));
    return out + ")";
  }

  // Forgets the value DIFF functions compare the next event with.
  void reset() {
    std::lock_guard<std::mutex> lock(busy_);
    std::free(t_->fprevresult);
    t_->fprevresult = nullptr;
  }

 private:
  void prepare() {
    if (!t_->fresult) {
      t_->fresult = static_cast<float*>(std::malloc(sizeof(float)));
      if (!t_->fresult) throw std::bad_alloc();
    }
  }

  // Runs the trigger over `n` events. `setup` builds the block (kept alive
  // in `keep`) and returns the step that puts event i into it.
  template <typename Setup>
  py::tuple run(py::ssize_t n, Setup setup) {
    py::array_t<bool> fired(n);
    py::array_t<float> value(n);
    if (n == 0) return py::make_tuple(fired, value);
    std::vector<Block> keep;
    auto load = setup(keep);
    qal3_serv_block_subhead_2010* block = keep.back().get();
    bool* f = fired.mutable_data();
    float* v = value.mutable_data();
    std::unique_ptr<MessageLog> log;
    {
      py::gil_scoped_release nogil;
      std::lock_guard<std::mutex> lock(busy_);
      // Errors only, each once: SUM writes a line per event.
      log = std::make_unique<MessageLog>(MessageLog::Keep::problems);
      qal3_user_case_trigger* t = t_.get();
      for (py::ssize_t i = 0; i < n; ++i) {
        load(i);
        *t->fresult = kNaN;
        const bool primed = t->fprevresult != nullptr;
        const int rc = qal3_is_trigger_on(block, t);
        f[i] = rc == 1;
        // A DIFF function's first result only records the value to compare with.
        v[i] = (!primed && t->fprevresult) ? kNaN : *t->fresult;
      }
    }
    const py::list messages = log->records(py::none());
    log.reset();
    warn_messages(messages);
    return py::make_tuple(fired, value);
  }

  std::unique_ptr<qal3_user_case_trigger, FreeTrigger> t_;
  std::mutex busy_;
};

}  // namespace

void bind_replay(py::module_& m) {
  py::class_<Replay>(m, "Replay", R"(A trigger replayed over recorded events.

DIFF functions keep the previous event's value from call to call, as they
do in the DAQ, until reset(). The library's lines go to the replaying
thread's own message sink, never to the console: the per-event lines are
dropped, each distinct error comes back once as a qal3.Warning. Other
threads' output is left alone, and replays in several threads run in
parallel.)")
      .def(py::init<py::handle>(), py::arg("trigger"),
           "Replays `trigger` (a qal3.Trigger, or any object with its attributes; function and "
           "operation may be registry names).")
      .def("spectra", &Replay::spectra, py::arg("samples"), py::arg("start") = 0.0f, py::arg("inc") = 1.0f,
           "Evaluates spectra (1-D: one event; 2-D: events x samples) on the axis "
           "start + i * inc. float32 is used as it is; other float and integer arrays are "
           "converted to float32 first, as the DAQ block stores its samples. Returns "
           "(fired, value) numpy arrays, one entry per event: bool, and the function's float32 "
           "value (NaN where it gave none, as on a DIFF function's first event).")
      .def("values", &Replay::values, py::arg("values"),
           "Evaluates name/value data: 1-D (the trigger subchannel's value per event) "
           "or 2-D (events x subchannels), converted to float32 as spectra() does.")
      .def("slow", &Replay::slow, py::arg("values"),
           "Evaluates slow data: the update value of the trigger's channel, one per event "
           "(1-D, converted to float32 as spectra() does).")
      .def("reset", &Replay::reset, "Forgets the previous event of DIFF functions.")
      .def("__repr__", &Replay::repr);
}

}  // namespace qal3py
