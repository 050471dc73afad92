// A picture of trigger evaluations on spectra: one SVG panel per trigger and
// spectrum, with the samples, the window the trigger sets and the samples
// its function read, the function's value, the limits, the operation and the
// verdict. A value that is a level of the samples (MIN, MAX, MEAN, VALUE) is
// drawn on the sample axis; any other value, and its limits, on a scale of
// its own beside the samples.
#ifndef QAL3_TRIGGER_PLOT_H
#define QAL3_TRIGGER_PLOT_H

#include <optional>
#include <string>
#include <vector>

#include "event.h"
#include "trigger_window.h"
#include "user_case_trigger.h"

namespace plot {

// The samples a function read, in sample indices: first, first + step, ...
// below end. `position_only` for VALUE-like functions (one sample).
struct Window : qal3::trigger::Window {
  bool valid = false;
  bool position_only = false;
};

// The window as the trigger sets it, on the spectrum's axis.
struct SetWindow {
  bool present = false;  // the function reads a window or a position
  bool position_only = false;
  float start = 0;  // or the position
  float end = 0;
  float step = 1;  // in samples
};

struct Panel {
  std::string title;  // "event 1, trigger 2"
  std::string channel;
  int subchannel = 0;
  std::string function;
  std::string operation;
  float low = 0;
  float upper = 0;
  unsigned bitmask = 0;
  bool has_result = false;
  float result = 0;
  std::string verdict;  // as the test table gives it
  float axis_start = 0;
  float axis_inc = 0;
  std::vector<float> samples;
  Window window;
  SetWindow set;
};

// The window of a built-in function over `ndata` samples of an axis from
// `start` in steps of `inc`, as the evaluation takes it from the trigger's
// parameters (0 start, 1 end, 2 step in samples).
Window evaluated_window(const std::string& function, const float* fparam, float start, float inc, int ndata);

// Builds the panel of trigger `t`, evaluated on `block` with `verdict` and
// `result` (none when the function gave none);
// false when the block holds no spectrum for the trigger's subchannel.
bool make_panel(qal3_serv_block_subhead_2010* block, const qal3_user_case_trigger& t, const std::string& title,
                const std::string& verdict, std::optional<float> result, Panel& out);

// The SVG document of the panels, one below the other.
std::string render_svg(const std::vector<Panel>& panels);

}  // namespace plot

#endif  // QAL3_TRIGGER_PLOT_H
