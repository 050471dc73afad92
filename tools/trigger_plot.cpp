#include "trigger_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <sstream>

#include "event_util.h"
#include "trigger_facts.h"
#include "trigger_plot_text.h"
#include "trigger_window.h"

namespace plot {

namespace {

// Geometry of a panel, in SVG user units. Left to right: the sample plot,
// the side column (labels of the levels, or the scale of a value that is
// not a level), the legend.
constexpr double kWidth = 1080;
constexpr double kMinPanelHeight = 340;
constexpr double kLeft = 78;
constexpr double kRight = 580;
constexpr double kTop = 64;
constexpr double kBottom = 290;
constexpr double kSetTop = kTop - 9;  // the strip of the set window, above the plot
constexpr double kSetBottom = kTop - 3;
constexpr double kLegendX = 812;
constexpr double kLegendText = kLegendX + 32;
constexpr double kLegendRight = kWidth - 12;
constexpr double kLegendStep = 17;
constexpr double kBadgeRight = kWidth - 16;
constexpr double kLabelGap = 15;  // between the baselines of side labels
// Above this many samples the curve is drawn as a min/max envelope and the
// selected samples are not marked one by one.
constexpr std::size_t kMaxPoints = 1500;
constexpr int kMaxMarkers = 300;

const Font kTitleFont{15, true};
const Font kSubFont{12, false};
const Font kTickFont{11, false};
const Font kLabelFont{12, true};
const Font kLegendFont{12, false};
const Font kVerdictFont{13, true};

const char kSampleColour[] = "#1f4e79";
const char kWindowColour[] = "#f0b27a";
const char kSetColour[] = "#a04000";
const char kSelectedColour[] = "#d35400";
const char kResultColour[] = "#1e8449";
const char kLimitColour[] = "#c0392b";
const char kNanColour[] = "#7f8c8d";
const char kInfColour[] = "#8e44ad";
const char kLimitDash[] = " stroke-dasharray=\"8 5\"";

// The values that are levels of the samples, comparable with them on one axis.
bool is_level(const std::string& function) {
  const qal3::trigger::BuiltinFunction* f = qal3::trigger::builtin_function(function);
  return f && f->level;
}

// `text` with every `key` in it replaced by `value`.
void fill(std::string& text, const std::string& key, const std::string& value) {
  for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
    text.replace(at, key.size(), value);
}

std::string num(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "+inf" : "-inf";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

std::string coord(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

// <text> at (x, y) with the class `cls`; `anchor` "start", "middle" or "end".
std::string text_element(double x, double y, const char* cls, const std::string& s, const char* anchor = "start",
                         const std::string& extra = "") {
  std::string out = "<text x=\"" + coord(x) + "\" y=\"" + coord(y) + "\" class=\"" + cls + "\"";
  if (std::string(anchor) != "start") out += std::string(" text-anchor=\"") + anchor + "\"";
  return out + extra + ">" + xml_text(s) + "</text>\n";
}

std::string line_element(double x1, double y1, double x2, double y2, const char* colour, double width,
                         const std::string& extra = "") {
  return "<line x1=\"" + coord(x1) + "\" y1=\"" + coord(y1) + "\" x2=\"" + coord(x2) + "\" y2=\"" + coord(y2) +
         "\" stroke=\"" + colour + "\" stroke-width=\"" + coord(width) + "\"" + extra + "/>\n";
}

// A triangle with its tip at (x, y), pointing up (`dir` -1) or down (+1),
// or left (`horizontal`, -1) or right (+1).
std::string arrow(double x, double y, int dir, bool horizontal, const char* colour, const char* cls) {
  const double l = 7, h = 4;
  std::string d;
  if (horizontal)
    d = "M" + coord(x) + "," + coord(y) + " L" + coord(x - dir * l) + "," + coord(y - h) + " L" + coord(x - dir * l) +
        "," + coord(y + h) + " Z";
  else
    d = "M" + coord(x) + "," + coord(y) + " L" + coord(x - h) + "," + coord(y - dir * l) + " L" + coord(x + h) + "," +
        coord(y - dir * l) + " Z";
  return std::string("<path class=\"") + cls + "\" d=\"" + d + "\" fill=\"" + colour + "\"/>\n";
}

// Tick values for a range: about five round numbers.
std::vector<double> ticks(double lo, double hi) {
  std::vector<double> out;
  const double span = hi - lo;
  if (!(span > 0) || !std::isfinite(span)) return {lo};
  const double raw = span / 5;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  double step = mag;
  for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
    if (m * mag >= raw) {
      step = m * mag;
      break;
    }
  for (double t = std::ceil(lo / step) * step; t <= hi + step * 1e-9 && out.size() < 20; t += step)
    out.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
  return out;
}

struct Range {
  double lo = INFINITY;
  double hi = -INFINITY;
  bool empty() const { return lo > hi; }
  void add(double v) {
    if (!std::isfinite(v)) return;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  // Whether `v` lies within `spans` widths of the range, so that adding it
  // leaves the range at least 1 / (1 + 2 spans) of the whole.
  bool near(double v, double spans) const {
    const double w = hi - lo;
    return std::isfinite(v) && v >= lo - spans * w && v <= hi + spans * w;
  }
  // A range of some width, with a margin.
  void finish(double margin) {
    if (empty()) lo = 0, hi = 1;
    if (hi - lo < 1e-12 * std::max(1.0, std::fabs(lo))) {
      const double pad = std::max(1.0, std::fabs(lo) * 0.1);
      lo -= pad;
      hi += pad;
    }
    const double m = (hi - lo) * margin;
    lo -= m;
    hi += m;
  }
};

// A range drawn between two pixel positions.
struct Scale {
  Range range;
  double from = 0;  // the pixel of range.lo
  double to = 1;    // the pixel of range.hi
  double at(double v) const { return from + (v - range.lo) / (range.hi - range.lo) * (to - from); }
  // -1 below the range, +1 above it, 0 inside; NaN counts as inside.
  int side(double v) const { return v < range.lo ? -1 : v > range.hi ? 1 : 0; }
  // The pixel of `v`, or of the edge it lies beyond.
  double clamped(double v) const { return at(std::clamp(v, range.lo, range.hi)); }
};

// What the operation compares, and the condition in words.
struct Condition {
  bool uses_low = false;
  bool uses_upper = false;
  std::string text;
};

Condition condition(const Panel& p) {
  const qal3::trigger::BuiltinOperation* op = qal3::trigger::builtin_operation(p.operation);
  if (!op) return {false, false, "site operation " + p.operation};
  Condition c{op->low, op->upper, op->condition};
  fill(c.text, "{LL}", "LL " + num(p.low));
  fill(c.text, "{UL}", "UL " + num(p.upper));
  if (op->mask) {
    char mask[16];
    std::snprintf(mask, sizeof mask, "0x%X", p.bitmask);
    fill(c.text, "{mask}", mask);
  }
  return c;
}

const char* verdict_colour(const std::string& verdict) {
  if (verdict == "fires") return "#c0392b";
  if (verdict == "does not fire") return "#566573";
  return "#b9770e";
}

// Spreads the wanted centres of labels (sorted) at least `gap` apart within
// [top, bottom], moving each as little as the others allow.
std::vector<double> spread(std::vector<double> y, double top, double bottom, double gap) {
  for (std::size_t i = 0; i < y.size(); ++i) y[i] = std::max(y[i], i ? y[i - 1] + gap : top);
  for (std::size_t i = y.size(); i-- > 0;) y[i] = std::min(y[i], i + 1 < y.size() ? y[i + 1] - gap : bottom);
  for (std::size_t i = 0; i < y.size(); ++i) y[i] = std::max(y[i], i ? y[i - 1] + gap : top);
  return y;
}

// The samples that are not numbers or not finite.
struct Unplotted {
  std::size_t nan = 0;
  std::size_t infinite = 0;
  std::size_t total() const { return nan + infinite; }
};

Unplotted count_unplotted(const std::vector<float>& samples) {
  Unplotted u;
  for (float s : samples) {
    if (std::isnan(s))
      ++u.nan;
    else if (std::isinf(s))
      ++u.infinite;
  }
  return u;
}

// The legend's swatches.
enum class Swatch { none, curve, nan, inf, set, read, result_line, result_mark, limit };

struct LegendEntry {
  Swatch swatch;
  std::string text;
  std::size_t max_lines;
  bool continues = false;  // a further line of the entry before
};

// A label beside the plot or the scale: the line it names and its text.
struct Label {
  double want;  // the pixel of the value, or of the edge it lies beyond
  int side;     // as Scale::side
  const char* colour;
  std::string text;
};

class PanelWriter {
 public:
  explicit PanelWriter(const Panel& p) : p_(p), cond_(condition(p)), unplotted_(count_unplotted(p.samples)) {}

  // The panel's elements, from the top of the panel; returns its height.
  double write(std::ostringstream& out) {
    scales();
    frame();
    read_window();
    set_window();
    curve();
    read_markers();
    unplotted_marks();
    if (is_level(p_.function))
      levels();
    else
      value_scale();
    heading();
    const double bottom = legend();
    out << out_.str();
    return std::max(kMinPanelHeight, bottom + 16);
  }

 private:
  double x_of_index(double i) const { return xs_.at(p_.axis_start + i * p_.axis_inc); }
  bool has_value() const { return p_.has_result; }

  // The x axis holds the samples, and the set window where it lies near
  // them. The y axis holds the samples, and a level value and its limits
  // where they lie near the samples; what lies far is marked at the edge.
  void scales() {
    const std::size_t n = p_.samples.size();
    Range x;
    x.add(p_.axis_start);
    x.add(p_.axis_start + static_cast<double>(n ? n - 1 : 0) * p_.axis_inc);
    const Range data_x = x;
    if (p_.set.present && data_x.near(p_.set.start, 0.25)) x.add(p_.set.start);
    if (p_.set.present && !p_.set.position_only && data_x.near(p_.set.end, 0.25)) x.add(p_.set.end);
    x.finish(0.04);
    xs_ = {x, kLeft, kRight};

    Range data;
    for (float s : p_.samples) data.add(s);
    Range y = data;
    if (is_level(p_.function)) {
      Range fixed = data;
      fixed.finish(0);  // a flat curve counts as some width
      for (double v : level_values())
        if (data.empty() || fixed.near(v, 1.0)) y.add(v);
    }
    y.finish(0.08);
    ys_ = {y, kBottom, kTop};
  }

  // The result and the limits the operation uses.
  std::vector<double> level_values() const {
    std::vector<double> v;
    if (has_value()) v.push_back(p_.result);
    if (cond_.uses_low) v.push_back(p_.low);
    if (cond_.uses_upper) v.push_back(p_.upper);
    return v;
  }

  void frame() {
    out_ << "<rect class=\"frame\" x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << kRight - kLeft
         << "\" height=\"" << kBottom - kTop << "\" fill=\"#ffffff\" stroke=\"#555555\"/>\n";
    for (double t : ticks(xs_.range.lo, xs_.range.hi)) {
      out_ << line_element(xs_.at(t), kTop, xs_.at(t), kBottom, "#e5e5e5", 1)
           << text_element(xs_.at(t), kBottom + 16, "tick", num(t), "middle");
    }
    for (double t : ticks(ys_.range.lo, ys_.range.hi)) {
      out_ << line_element(kLeft, ys_.at(t), kRight, ys_.at(t), "#e5e5e5", 1)
           << text_element(kLeft - 6, ys_.at(t) + 4, "tick", num(t), "end");
    }
    out_ << text_element((kLeft + kRight) / 2, kBottom + 36, "axis", "time (\u00b5s)", "middle")
         << "<text transform=\"translate(" << kLeft - 52 << "," << (kTop + kBottom) / 2
         << ") rotate(-90)\" text-anchor=\"middle\" class=\"axis\">sample value</text>\n";
  }

  // The samples the function read: a band over them.
  void read_window() {
    const Window& w = p_.window;
    if (!w.valid) return;
    const double last = w.position_only ? w.first : w.first + static_cast<double>(w.count() - 1) * w.step;
    double a = x_of_index(w.first - 0.5);
    double b = x_of_index(last + 0.5);
    if (a > b) std::swap(a, b);
    a = std::clamp(a, kLeft, kRight);
    b = std::clamp(b, kLeft, kRight);
    out_ << "<rect class=\"read-window\" x=\"" << coord(a) << "\" y=\"" << kTop << "\" width=\""
         << coord(std::max(b - a, 1.0)) << "\" height=\"" << kBottom - kTop << "\" fill=\"" << kWindowColour
         << "\" fill-opacity=\"0.35\"/>\n";
  }

  // Whether the set end lies before the spectrum, so that the function reads
  // to its end.
  bool end_before_spectrum() const {
    const SetWindow& s = p_.set;
    return !s.position_only && qal3::trigger::to_int_saturated((s.end - p_.axis_start) / p_.axis_inc) < 0;
  }

  // One end of the set window: a dashed line through the plot, or an arrow
  // at the edge it lies beyond.
  void set_edge(double v) {
    if (std::isnan(v)) return;
    const int side = xs_.side(v);
    if (side != 0) {
      out_ << arrow(side > 0 ? kRight + 9 : kLeft - 9, (kSetTop + kSetBottom) / 2, side, true, kSetColour,
                    "set-beyond");
      return;
    }
    out_ << line_element(xs_.at(v), kSetTop, xs_.at(v), kBottom, kSetColour, 1.2,
                         " class=\"set-edge\" stroke-dasharray=\"3 3\"");
  }

  // The window as the trigger sets it: a bar above the plot from its start
  // to its end, and its ends through the plot.
  void set_window() {
    const SetWindow& s = p_.set;
    if (!s.present) return;
    set_edge(s.start);
    if (s.position_only) return;
    set_edge(s.end);
    if (!(s.end > s.start)) return;
    const double a = xs_.clamped(std::min(s.start, s.end)), b = xs_.clamped(std::max(s.start, s.end));
    out_ << "<rect class=\"set-window\" x=\"" << coord(std::min(a, b)) << "\" y=\"" << kSetTop << "\" width=\""
         << coord(std::max(std::fabs(b - a), 1.0)) << "\" height=\"" << kSetBottom - kSetTop << "\" fill=\""
         << kSetColour << "\"/>\n";
  }

  // The samples as a line, broken where a sample is not finite. Many samples
  // are drawn as the lowest and highest of each of kMaxPoints buckets, so
  // that spikes stay.
  void curve() {
    const std::size_t n = p_.samples.size();
    if (n == 0) return;
    const std::size_t buckets = std::min(n, kMaxPoints);
    std::string points;
    std::size_t count = 0;
    const auto flush = [&] {
      if (count > 0)
        out_ << "<polyline class=\"curve\" fill=\"none\" stroke=\"" << kSampleColour
             << "\" stroke-width=\"1.5\" stroke-linejoin=\"round\" stroke-linecap=\"round\" points=\"" << points
             << "\"/>\n";
      points.clear();
      count = 0;
    };
    for (std::size_t b = 0; b < buckets; ++b) {
      const std::size_t from = b * n / buckets;
      const std::size_t to = std::max(from + 1, (b + 1) * n / buckets);
      std::size_t lo = n, hi = n;
      for (std::size_t i = from; i < to; ++i) {
        const float v = p_.samples[i];
        if (!std::isfinite(v)) {
          if (to - from == 1) flush();
          continue;
        }
        if (lo == n || v < p_.samples[lo]) lo = i;
        if (hi == n || v > p_.samples[hi]) hi = i;
      }
      if (lo == n) {
        flush();
        continue;
      }
      for (std::size_t i : {std::min(lo, hi), std::max(lo, hi)}) {
        points += coord(x_of_index(static_cast<double>(i))) + "," + coord(ys_.at(p_.samples[i])) + " ";
        ++count;
        if (lo == hi) break;
      }
    }
    flush();
    if (n <= static_cast<std::size_t>(kMaxMarkers))
      for (std::size_t i = 0; i < n; ++i) marker(static_cast<int>(i), 2.5, kSampleColour);
  }

  void marker(int i, double r, const char* colour) {
    const float v = p_.samples[static_cast<std::size_t>(i)];
    if (!std::isfinite(v)) return;
    out_ << "<circle cx=\"" << coord(x_of_index(i)) << "\" cy=\"" << coord(ys_.at(v)) << "\" r=\"" << r << "\" fill=\""
         << colour << "\"/>\n";
  }

  void read_markers() {
    const Window& w = p_.window;
    if (!w.valid || w.count() > kMaxMarkers) return;
    for (int k = 0; k < w.count(); ++k) marker(w.first + k * w.step, 4.5, kSelectedColour);
  }

  // A cross near the bottom for each NaN sample, a triangle at the top or the
  // bottom for each infinite one; one mark per pixel column and kind.
  void unplotted_marks() {
    std::set<long> drawn[3];
    for (std::size_t i = 0; i < p_.samples.size(); ++i) {
      const float v = p_.samples[i];
      if (std::isfinite(v)) continue;
      const double x = x_of_index(static_cast<double>(i));
      const int kind = std::isnan(v) ? 0 : v > 0 ? 1 : 2;
      if (!std::isfinite(x) || !drawn[kind].insert(std::lround(x)).second) continue;
      if (kind == 0) {
        const double y = kBottom - 14, r = 3.5;
        out_ << "<path class=\"no-number\" d=\"M" << coord(x - r) << "," << coord(y - r) << " L" << coord(x + r) << ","
             << coord(y + r) << " M" << coord(x - r) << "," << coord(y + r) << " L" << coord(x + r) << ","
             << coord(y - r) << "\" stroke=\"" << kNanColour << "\" stroke-width=\"2\"/>\n";
      } else {
        out_ << arrow(x, kind == 1 ? kTop + 2 : kBottom - 2, kind == 1 ? -1 : 1, false, kInfColour, "infinite");
      }
    }
  }

  // A level value and its limits as lines across the plot, named beside it;
  // a limit far from the samples as an arrow at the edge.
  void levels() {
    std::vector<Label> labels;
    const auto add = [&](double v, const char* colour, const std::string& text, bool is_limit) {
      if (std::isnan(v)) return;
      const int side = ys_.side(v);
      if (side == 0)
        out_ << line_element(kLeft, ys_.at(v), kRight, ys_.at(v), colour, 2,
                             std::string(" class=\"level\"") + (is_limit ? kLimitDash : ""));
      labels.push_back({ys_.clamped(v), side, colour, text});
    };
    if (cond_.uses_low) add(p_.low, kLimitColour, "LL " + num(p_.low), true);
    if (cond_.uses_upper) add(p_.upper, kLimitColour, "UL " + num(p_.upper), true);
    if (has_value()) add(p_.result, kResultColour, p_.function + " = " + num(p_.result), false);
    side_labels(labels, kRight);
  }

  // A value that is not a level of the samples, and its limits, on a scale
  // of their own beside the plot.
  void value_scale() {
    Range r;
    for (double v : level_values()) r.add(v);
    if (r.empty()) return;
    r.finish(0.1);
    const Scale s{r, kBottom, kTop};
    std::vector<std::pair<double, std::string>> tick_texts;
    double widest = 0;
    for (double t : ticks(r.lo, r.hi)) {
      tick_texts.emplace_back(t, num(t));
      widest = std::max(widest, text_width(tick_texts.back().second, kTickFont));
    }
    const double gx = kRight + 14 + widest + 6;  // the scale's bar
    const double gw = 12;
    out_ << "<rect class=\"value-scale\" x=\"" << coord(gx) << "\" y=\"" << kTop << "\" width=\"" << gw
         << "\" height=\"" << kBottom - kTop << "\" fill=\"#ffffff\" stroke=\"#555555\"/>\n";
    for (const auto& t : tick_texts)
      out_ << line_element(gx - 3, s.at(t.first), gx, s.at(t.first), "#555555", 1)
           << text_element(gx - 5, s.at(t.first) + 4, "tick", t.second, "end");
    out_ << text_element(gx - 5 - widest, kBottom + 32, "axis", "scale of " + p_.function);
    std::vector<Label> labels;
    const auto add = [&](double v, const char* colour, const std::string& text, bool is_limit) {
      if (!std::isfinite(v)) return;
      out_ << line_element(gx - 4, s.at(v), gx + gw + 4, s.at(v), colour, is_limit ? 2 : 4,
                           std::string(" class=\"") + (is_limit ? "scale-limit\"" : "scale-value\"") +
                               (is_limit ? " stroke-dasharray=\"4 2\"" : ""));
      labels.push_back({s.at(v), 0, colour, text});
    };
    if (cond_.uses_low) add(p_.low, kLimitColour, "LL " + num(p_.low), true);
    if (cond_.uses_upper) add(p_.upper, kLimitColour, "UL " + num(p_.upper), true);
    // The scale's caption names the function: the value alone, if its name does not fit.
    const std::string named = p_.function + " = " + num(p_.result);
    const bool fits = text_width(named, kLabelFont) <= kLegendX - 12 - (gx + gw + 20);
    if (has_value()) add(p_.result, kResultColour, fits ? named : num(p_.result), false);
    side_labels(labels, gx + gw + 4);
  }

  // Labels right of `x0`, each joined to its line by a leader, spread so
  // that none overlaps another; one beyond the scale carries an arrow.
  void side_labels(std::vector<Label> labels, double x0) {
    std::sort(labels.begin(), labels.end(), [](const Label& a, const Label& b) { return a.want < b.want; });
    std::vector<double> want;
    for (const Label& l : labels) want.push_back(l.want);
    const std::vector<double> at = spread(want, kTop, kBottom, kLabelGap);
    const double tx = x0 + 16;
    for (std::size_t i = 0; i < labels.size(); ++i) {
      const Label& l = labels[i];
      if (l.side != 0)
        out_ << arrow(x0 + 6, l.side > 0 ? kTop : kBottom, l.side > 0 ? -1 : 1, false, l.colour, "beyond");
      else
        out_ << "<polyline class=\"leader\" fill=\"none\" stroke=\"" << l.colour << "\" points=\"" << coord(x0) << ","
             << coord(l.want) << " " << coord(x0 + 6) << "," << coord(l.want) << " " << coord(tx - 3) << ","
             << coord(at[i]) << "\"/>\n";
      const std::string text = shorten(l.text + (l.side > 0   ? " (above)"
                                                 : l.side < 0 ? " (below)"
                                                              : ""),
                                       kLegendX - 12 - tx, kLabelFont);
      out_ << text_element(tx, at[i] + 4, "label", text, "start", std::string(" fill=\"") + l.colour + "\"");
    }
  }

  // The title, shortened in the channel's name so that it ends before the
  // verdict, and the condition below it.
  void heading() {
    const std::string verdict = p_.verdict == "fires" ? "FIRES" : p_.verdict;
    const double bw = text_width(verdict, kVerdictFont) + 16;
    out_ << "<rect class=\"badge\" x=\"" << coord(kBadgeRight - bw) << "\" y=\"8\" width=\"" << coord(bw)
         << "\" height=\"24\" rx=\"5\" fill=\"" << verdict_colour(p_.verdict) << "\"/>\n"
         << text_element(kBadgeRight - bw / 2, 25, "verdict", verdict, "middle");
    const std::string before = p_.title + ": " + p_.function + " of ";
    const std::string after = " [subchannel " + std::to_string(p_.subchannel) + "], " + p_.operation;
    const double room = kBadgeRight - bw - 16 - kLeft;
    std::string channel = p_.channel;
    const double left = room - text_width(before + after, kTitleFont);
    if (text_width(before + channel + after, kTitleFont) > room) {
      channel_cut_ = true;
      channel = left > 60 ? shorten(channel, left, kTitleFont) : "\u2026";
    }
    out_ << text_element(kLeft, 24, "title", shorten(before + channel + after, room, kTitleFont));
    const std::string sub = (has_value() ? "result " + num(p_.result) : "no result") + " \u2014 " + cond_.text;
    out_ << text_element(kLeft, 44, "sub", shorten(sub, kWidth - 16 - kLeft, kSubFont));
  }

  std::string swatch(Swatch kind, double lx, double cy) const {
    switch (kind) {
      case Swatch::none:
        return "";
      case Swatch::curve:
        return line_element(lx, cy, lx + 24, cy, kSampleColour, 2);
      case Swatch::nan:
        return "<path d=\"M" + coord(lx + 8) + "," + coord(cy - 4) + " L" + coord(lx + 16) + "," + coord(cy + 4) +
               " M" + coord(lx + 8) + "," + coord(cy + 4) + " L" + coord(lx + 16) + "," + coord(cy - 4) +
               "\" stroke=\"" + kNanColour + "\" stroke-width=\"2\"/>\n";
      case Swatch::inf:
        return arrow(lx + 12, cy - 4, -1, false, kInfColour, "swatch");
      case Swatch::set:
        return "<rect x=\"" + coord(lx) + "\" y=\"" + coord(cy - 3) + "\" width=\"24\" height=\"6\" fill=\"" +
               kSetColour + "\"/>\n";
      case Swatch::read:
        return "<rect x=\"" + coord(lx) + "\" y=\"" + coord(cy - 7) + "\" width=\"24\" height=\"14\" fill=\"" +
               kWindowColour + "\" fill-opacity=\"0.6\"/><circle cx=\"" + coord(lx + 12) + "\" cy=\"" + coord(cy) +
               "\" r=\"4\" fill=\"" + kSelectedColour + "\"/>\n";
      case Swatch::result_line:
        return line_element(lx, cy, lx + 24, cy, kResultColour, 2);
      case Swatch::result_mark:
        return line_element(lx + 6, cy, lx + 18, cy, kResultColour, 4);
      case Swatch::limit:
        return line_element(lx, cy, lx + 24, cy, kLimitColour, 2, kLimitDash);
    }
    return "";
  }

  std::string axis_text(double v) const { return num(v) + " \u00b5s"; }

  std::vector<LegendEntry> legend_entries() const {
    std::vector<LegendEntry> e;
    if (channel_cut_) e.push_back({Swatch::none, "channel " + p_.channel, 6});
    e.push_back({Swatch::curve, "samples: " + std::to_string(p_.samples.size()), 1});
    if (unplotted_.total() > 0) {
      std::string kinds;
      if (unplotted_.nan > 0) kinds = std::to_string(unplotted_.nan) + " NaN";
      if (unplotted_.nan > 0 && unplotted_.infinite > 0) kinds += ", ";
      if (unplotted_.infinite > 0) kinds += std::to_string(unplotted_.infinite) + " infinite";
      e.push_back({Swatch::none, std::to_string(unplotted_.total()) + " not drawn: " + kinds, 2, true});
    }
    if (unplotted_.nan > 0) e.push_back({Swatch::nan, "NaN sample", 1});
    if (unplotted_.infinite > 0) e.push_back({Swatch::inf, "infinite sample, at its edge", 1});
    const SetWindow& s = p_.set;
    if (s.present && s.position_only) e.push_back({Swatch::set, "set: sample at " + axis_text(s.start), 2});
    if (s.present && !s.position_only)
      e.push_back({Swatch::set, "set: " + num(s.start) + " to " + axis_text(s.end) + ", step " + num(s.step), 2});
    if (s.present && !s.position_only && end_before_spectrum())
      e.push_back({Swatch::none, "an end before the spectrum reads to its end", 2, true});
    const Window& w = p_.window;
    const double at = p_.axis_start + static_cast<double>(w.first) * p_.axis_inc;
    const double last = p_.axis_start + (w.first + static_cast<double>(w.count() - 1) * w.step) * p_.axis_inc;
    if (!w.valid)
      e.push_back({Swatch::read, "read: no sample", 1});
    else if (w.position_only)
      e.push_back({Swatch::read, "sample read: " + std::to_string(w.first) + " at " + axis_text(at), 2});
    else {
      e.push_back({Swatch::read, "read: " + num(at) + " to " + axis_text(last), 2});
      e.push_back({Swatch::none,
                   "step " + std::to_string(w.step) + (w.step == 1 ? " sample, " : " samples, ") +
                       std::to_string(w.count()) + (w.count() == 1 ? " sample read" : " samples read"),
                   2, true});
    }
    if (has_value()) {
      const bool level = is_level(p_.function);
      e.push_back({level ? Swatch::result_line : Swatch::result_mark, p_.function + " = " + num(p_.result), 2});
      if (!level) e.push_back({Swatch::none, "on a scale of its own: not a level of the samples", 2, true});
    }
    if (cond_.uses_low || cond_.uses_upper) e.push_back({Swatch::limit, "limits of " + p_.operation, 2});
    const std::string lead = "fires when ";
    if (cond_.text.compare(0, lead.size(), lead) == 0) {
      e.push_back({Swatch::none, p_.operation + " fires when", 2});
      e.push_back({Swatch::none, cond_.text.substr(lead.size()), 3, true});
    } else {
      e.push_back({Swatch::none, p_.operation + ": " + cond_.text, 3});
    }
    return e;
  }

  // The legend right of the side column; returns the bottom of its last line.
  double legend() {
    double y = kTop + 4;
    for (const LegendEntry& e : legend_entries()) {
      if (e.continues) y -= 4;
      const std::vector<std::string> lines = wrap(e.text, kLegendRight - kLegendText, kLegendFont, e.max_lines);
      out_ << swatch(e.swatch, kLegendX, y);
      for (const std::string& line : lines) {
        out_ << text_element(kLegendText, y + 4, "legend", line);
        y += kLegendStep;
      }
      y += 4;
    }
    return y;
  }

  const Panel& p_;
  Condition cond_;
  Unplotted unplotted_;
  std::ostringstream out_;
  Scale xs_;
  Scale ys_;
  bool channel_cut_ = false;
};

}  // namespace
Window evaluated_window(const std::string& function, const float* fparam, float start, float inc, int ndata) {
  Window w;
  const qal3::trigger::BuiltinFunction* f = qal3::trigger::builtin_function(function);
  if (!f) return w;
  w.position_only = f->reads == qal3::trigger::Reads::position;
  // The evaluation's own rule, so the plot shows what the function read.
  qal3::trigger::Window read;
  if (!qal3::trigger::select_window(fparam, start, inc, ndata, w.position_only, read)) return w;
  if (w.position_only) read.end = read.first + 1;
  static_cast<qal3::trigger::Window&>(w) = read;
  w.valid = true;
  return w;
}

bool make_panel(qal3_serv_block_subhead_2010* block, const qal3_user_case_trigger& t, const std::string& title,
                const std::string& verdict, std::optional<float> result, Panel& out) {
  if (!block) return false;
  const int kind = get_data_structure_type(static_cast<int>(block->dtype));
  if (kind != QAL3_DATA_SPECTRUM && kind != QAL3_DATA_GSPECTRUM) return false;
  const float* samples = get_pointer_to_data_2010(block, t.subchannel);
  float start = 0, inc = 0, group_inc = 1.0f;
  int ndata = 0, groups = 1;
  qal3_spect_statistics_2010* stat = nullptr;
  if (!samples ||
      get_spect_params_for_data_type_2010(block, &start, &inc, nullptr, &ndata, &groups, &group_inc, &stat,
                                          t.subchannel) != 0 ||
      ndata < 0)
    return false;
  const char* function = qal3_get_function_string(t.function);
  const char* operation = qal3_get_operation_string(t.operation);
  out = Panel{};
  out.title = title;
  out.channel = t.channel;
  out.subchannel = t.subchannel;
  out.function = function ? function : "UNKNOWN";
  out.operation = operation ? operation : "UNKNOWN";
  out.low = t.low;
  out.upper = t.upper;
  out.bitmask = t.bitmask;
  out.has_result = result.has_value();
  out.result = result.value_or(0.0f);
  out.verdict = verdict;
  out.axis_start = start;
  out.axis_inc = inc;
  out.samples.assign(samples, samples + ndata);
  out.window = evaluated_window(out.function, t.fparam, start, inc, ndata);
  out.set.present = qal3::trigger::builtin_function(out.function) != nullptr;
  out.set.position_only = out.window.position_only;
  out.set.start = t.fparam[0];
  out.set.end = t.fparam[1];
  out.set.step = t.fparam[2];
  return true;
}

std::string render_svg(const std::vector<Panel>& panels) {
  std::ostringstream body;
  double height = 0;
  for (std::size_t i = 0; i < panels.size(); ++i) {
    if (i > 0) body << line_element(0, height, kWidth, height, "#bbbbbb", 1);
    std::ostringstream panel;
    const double h = PanelWriter(panels[i]).write(panel);
    body << "<g class=\"panel\" transform=\"translate(0," << coord(height) << ")\">\n" << panel.str() << "</g>\n";
    height += h;
  }
  if (panels.empty()) {
    body << "<text x=\"20\" y=\"40\" class=\"title\">no trigger was evaluated on a spectrum</text>\n";
    height = kMinPanelHeight;
  }
  std::ostringstream out;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" << kWidth << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << kWidth << " " << height << "\">\n"
      << "<title>qal3 trigger test</title>\n"
      << "<style>text{font-family:DejaVu Sans,Verdana,sans-serif;fill:#222222}"
         ".tick{font-size:11px}.axis{font-size:13px}.legend{font-size:12px}.label{font-size:12px;font-weight:bold}"
         ".title{font-size:15px;font-weight:bold}.sub{font-size:12px}"
         ".verdict{font-size:13px;font-weight:bold;fill:#ffffff}</style>\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"#fbfbfb\"/>\n"
      << body.str() << "</svg>\n";
  return out.str();
}

}  // namespace plot
