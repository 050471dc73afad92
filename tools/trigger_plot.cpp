#include "trigger_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "event_util.h"
#include "trigger_window.h"

namespace plot {

namespace {

// Geometry of one panel, in SVG user units.
constexpr double kWidth = 900;
constexpr double kPanelHeight = 340;
constexpr double kLeft = 78;
constexpr double kRight = 600;  // the legend is right of this
constexpr double kTop = 58;
constexpr double kBottom = 288;
// Above this many samples the curve is drawn as a min/max envelope and the
// selected samples are not marked one by one.
constexpr std::size_t kMaxPoints = 1500;
constexpr int kMaxMarkers = 300;

const char kSampleColour[] = "#1f4e79";
const char kWindowColour[] = "#f0b27a";
const char kSelectedColour[] = "#d35400";
const char kResultColour[] = "#1e8449";
const char kLimitColour[] = "#c0392b";

bool is_one_of(const std::string& s, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (s == n) return true;
  return false;
}

// Text for SVG: markup characters escaped, bytes that are not UTF-8 and
// control characters replaced.
std::string xml_text(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool ok = len > 0 && i + len <= s.size();
    for (std::size_t k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    if (!ok) {
      out += '?';
      ++i;
      continue;
    }
    if (len == 1) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
      }
    } else {
      out.append(s, i, len);
    }
    i += len;
  }
  return out;
}

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

std::string coord(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
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
  void add(double v) {
    if (!std::isfinite(v)) return;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  // A range of some width, with a margin.
  void finish(double margin) {
    if (lo > hi) lo = 0, hi = 1;
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

// What the operation compares, and the condition in words.
struct Condition {
  bool uses_low = false;
  bool uses_upper = false;
  std::string text;
};

Condition condition(const Panel& p) {
  const std::string& op = p.operation;
  const std::string ll = "LL " + num(p.low);
  const std::string ul = "UL " + num(p.upper);
  char mask[16];
  std::snprintf(mask, sizeof mask, "0x%X", p.bitmask);
  if (op == "GT") return {false, true, "fires when result > " + ul};
  if (op == "GTE") return {false, true, "fires when result \u2265 " + ul};
  if (op == "EQ") return {true, false, "fires when result = " + ll};
  if (op == "LTE") return {true, false, "fires when result \u2264 " + ll};
  if (op == "LT") return {true, false, "fires when result < " + ll};
  if (op == "INSIDE") return {true, true, "fires when " + ll + " < result < " + ul};
  if (op == "INSIDEWITHLIMITS") return {true, true, "fires when " + ll + " \u2264 result \u2264 " + ul};
  if (op == "OUTSIDE") return {true, true, "fires when result < " + ll + " or > " + ul};
  if (op == "OUTSIDEWITHLIMITS") return {true, true, "fires when result \u2264 " + ll + " or \u2265 " + ul};
  if (op == "AND") return {false, false, std::string("fires when all bits of ") + mask + " are set"};
  if (op == "BITS") return {false, false, std::string("fires when a bit of ") + mask + " is set"};
  if (op == "TRUE") return {false, false, "always fires"};
  if (op == "FALSE") return {false, false, "never fires"};
  return {false, false, "site operation " + op};
}

const char* verdict_colour(const std::string& verdict) {
  if (verdict == "fires") return "#c0392b";
  if (verdict == "does not fire") return "#566573";
  return "#b9770e";
}

class PanelWriter {
 public:
  PanelWriter(std::ostringstream& out, const Panel& p, double y0) : out_(out), p_(p), y0_(y0) {}

  void write() {
    scale();
    out_ << "<g transform=\"translate(0," << coord(y0_) << ")\">\n";
    frame();
    window();
    curve();
    markers();
    levels();
    legend();
    heading();
    out_ << "</g>\n";
  }

 private:
  double x_of_index(double i) const { return x(p_.axis_start + i * p_.axis_inc); }
  double x(double v) const { return kLeft + (v - xr_.lo) / (xr_.hi - xr_.lo) * (kRight - kLeft); }
  double y(double v) const { return kBottom - (v - yr_.lo) / (yr_.hi - yr_.lo) * (kBottom - kTop); }
  bool in_y(double v) const { return std::isfinite(v) && v >= yr_.lo && v <= yr_.hi; }

  void scale() {
    const std::size_t n = p_.samples.size();
    xr_.add(p_.axis_start);
    xr_.add(p_.axis_start + static_cast<double>(n ? n - 1 : 0) * p_.axis_inc);
    xr_.finish(0.04);
    for (float s : p_.samples) yr_.add(s);
    cond_ = condition(p_);
    if (p_.has_result) yr_.add(p_.result);
    if (cond_.uses_low) yr_.add(p_.low);
    if (cond_.uses_upper) yr_.add(p_.upper);
    yr_.finish(0.08);
  }

  void frame() {
    out_ << "<rect x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << kRight - kLeft << "\" height=\""
         << kBottom - kTop << "\" fill=\"#ffffff\" stroke=\"#555555\"/>\n";
    for (double t : ticks(xr_.lo, xr_.hi)) {
      const std::string cx = coord(x(t));
      out_ << "<line x1=\"" << cx << "\" y1=\"" << kTop << "\" x2=\"" << cx << "\" y2=\"" << kBottom
           << "\" stroke=\"#e5e5e5\"/>\n"
           << "<text x=\"" << cx << "\" y=\"" << kBottom + 16 << "\" text-anchor=\"middle\" class=\"tick\">"
           << num(t) << "</text>\n";
    }
    for (double t : ticks(yr_.lo, yr_.hi)) {
      const std::string cy = coord(y(t));
      out_ << "<line x1=\"" << kLeft << "\" y1=\"" << cy << "\" x2=\"" << kRight << "\" y2=\"" << cy
           << "\" stroke=\"#e5e5e5\"/>\n"
           << "<text x=\"" << kLeft - 6 << "\" y=\"" << coord(y(t) + 4) << "\" text-anchor=\"end\" class=\"tick\">"
           << num(t) << "</text>\n";
    }
    out_ << "<text x=\"" << (kLeft + kRight) / 2 << "\" y=\"" << kBottom + 36
         << "\" text-anchor=\"middle\" class=\"axis\">time (\u00b5s)</text>\n"
         << "<text transform=\"translate(" << kLeft - 52 << "," << (kTop + kBottom) / 2
         << ") rotate(-90)\" text-anchor=\"middle\" class=\"axis\">sample value</text>\n";
  }

  void window() {
    const Window& w = p_.window;
    if (!w.valid) return;
    const double half = 0.5;
    const double last = w.position_only ? w.first : w.first + static_cast<double>(w.count - 1) * w.step;
    double a = x_of_index(w.first - half);
    double b = x_of_index(last + half);
    if (a > b) std::swap(a, b);
    a = std::clamp(a, kLeft, kRight);
    b = std::clamp(b, kLeft, kRight);
    out_ << "<rect x=\"" << coord(a) << "\" y=\"" << kTop << "\" width=\"" << coord(std::max(b - a, 1.0))
         << "\" height=\"" << kBottom - kTop << "\" fill=\"" << kWindowColour << "\" fill-opacity=\"0.35\"/>\n";
  }

  void curve() {
    const std::size_t n = p_.samples.size();
    if (n == 0) return;
    out_ << "<polyline fill=\"none\" stroke=\"" << kSampleColour << "\" stroke-width=\"1.5\" points=\"";
    const std::size_t buckets = std::min(n, kMaxPoints);
    for (std::size_t b = 0; b < buckets; ++b) {
      // Each bucket: its lowest and highest sample, so that spikes stay.
      const std::size_t from = b * n / buckets;
      const std::size_t to = std::max(from + 1, (b + 1) * n / buckets);
      std::size_t lo = from;
      std::size_t hi = from;
      for (std::size_t i = from; i < to; ++i) {
        if (!std::isfinite(p_.samples[i])) continue;
        if (!std::isfinite(p_.samples[lo]) || p_.samples[i] < p_.samples[lo]) lo = i;
        if (!std::isfinite(p_.samples[hi]) || p_.samples[i] > p_.samples[hi]) hi = i;
      }
      for (std::size_t i : {std::min(lo, hi), std::max(lo, hi)}) {
        if (!std::isfinite(p_.samples[i])) continue;
        out_ << coord(x_of_index(static_cast<double>(i))) << "," << coord(y(p_.samples[i])) << " ";
        if (lo == hi) break;
      }
    }
    out_ << "\"/>\n";
    if (n <= static_cast<std::size_t>(kMaxMarkers))
      for (std::size_t i = 0; i < n; ++i) marker(static_cast<int>(i), 2.5, kSampleColour);
  }

  void marker(int i, double r, const char* colour) {
    const float v = p_.samples[static_cast<std::size_t>(i)];
    if (!std::isfinite(v)) return;
    out_ << "<circle cx=\"" << coord(x_of_index(i)) << "\" cy=\"" << coord(y(v)) << "\" r=\"" << r
         << "\" fill=\"" << colour << "\"/>\n";
  }

  void markers() {
    const Window& w = p_.window;
    if (!w.valid || w.count > kMaxMarkers) return;
    for (int k = 0; k < w.count; ++k) marker(w.first + k * w.step, 4.5, kSelectedColour);
  }

  struct Label {
    double y;
    const char* colour;
    std::string text;
  };

  void level(double v, const char* colour, const char* dash, const std::string& label) {
    if (!in_y(v)) return;
    const std::string cy = coord(y(v));
    out_ << "<line x1=\"" << kLeft << "\" y1=\"" << cy << "\" x2=\"" << kRight << "\" y2=\"" << cy
         << "\" stroke=\"" << colour << "\" stroke-width=\"2\"" << dash << "/>\n";
    labels_.push_back({y(v) - 5, colour, label});
  }

  // The labels of the lines, right-aligned above them, moved apart where
  // lines lie close together.
  void place_labels() {
    constexpr double kGap = 14;
    std::sort(labels_.begin(), labels_.end(), [](const Label& a, const Label& b) { return a.y < b.y; });
    for (std::size_t i = 1; i < labels_.size(); ++i)
      labels_[i].y = std::max(labels_[i].y, labels_[i - 1].y + kGap);
    for (const Label& l : labels_)
      out_ << "<text x=\"" << kRight - 4 << "\" y=\"" << coord(l.y) << "\" text-anchor=\"end\" fill=\""
           << l.colour << "\" class=\"label\" stroke=\"#ffffff\" stroke-width=\"3\" paint-order=\"stroke\">"
           << xml_text(l.text) << "</text>\n";
  }

  void levels() {
    if (cond_.uses_low) level(p_.low, kLimitColour, " stroke-dasharray=\"8 5\"", "LL " + num(p_.low));
    if (cond_.uses_upper) level(p_.upper, kLimitColour, " stroke-dasharray=\"8 5\"", "UL " + num(p_.upper));
    if (p_.has_result) level(p_.result, kResultColour, "", p_.function + " = " + num(p_.result));
    place_labels();
  }

  void legend_line(double& ly, const std::string& swatch, const std::string& text) {
    out_ << swatch << "<text x=\"" << kRight + 44 << "\" y=\"" << coord(ly + 4) << "\" class=\"legend\">"
         << xml_text(text) << "</text>\n";
    ly += 22;
  }

  void legend() {
    const double lx = kRight + 14;
    double ly = kTop + 10;
    const auto line = [&](const char* colour, const char* dash) {
      return "<line x1=\"" + coord(lx) + "\" y1=\"" + coord(ly) + "\" x2=\"" + coord(lx + 24) + "\" y2=\"" +
             coord(ly) + "\" stroke=\"" + colour + "\" stroke-width=\"2\"" + dash + "/>";
    };
    legend_line(ly, line(kSampleColour, ""), "samples (" + std::to_string(p_.samples.size()) + ")");
    const Window& w = p_.window;
    if (w.valid) {
      const std::string box = "<rect x=\"" + coord(lx) + "\" y=\"" + coord(ly - 7) +
                              "\" width=\"24\" height=\"14\" fill=\"" + kWindowColour + "\" fill-opacity=\"0.6\"/>" +
                              "<circle cx=\"" + coord(lx + 12) + "\" cy=\"" + coord(ly) + "\" r=\"4\" fill=\"" +
                              kSelectedColour + "\"/>";
      const double at = p_.axis_start + static_cast<double>(w.first) * p_.axis_inc;
      const double last =
          p_.axis_start + (w.first + static_cast<double>(w.count - 1) * w.step) * p_.axis_inc;
      if (w.position_only) {
        legend_line(ly, box, "sample read: " + std::to_string(w.first) + " at " + num(at) + " \u00b5s");
      } else {
        legend_line(ly, box, "window read: " + num(at) + " to " + num(last) + " \u00b5s");
        legend_line(ly, "", "step " + std::to_string(w.step) + (w.step == 1 ? " sample, " : " samples, ") +
                                std::to_string(w.count) + " samples read");
      }
    } else {
      legend_line(ly, "", "no window: the function read no sample");
    }
    if (p_.has_result) legend_line(ly, line(kResultColour, ""), p_.function + " = " + num(p_.result));
    if (cond_.uses_low || cond_.uses_upper)
      legend_line(ly, line(kLimitColour, " stroke-dasharray=\"8 5\""), "limits of " + p_.operation);
    // The condition on two lines: "OUTSIDE fires when" / "result < LL 1 or > UL 2".
    const std::string lead = "fires when ";
    if (cond_.text.compare(0, lead.size(), lead) == 0) {
      legend_line(ly, "", p_.operation + " fires when");
      legend_line(ly, "", cond_.text.substr(lead.size()));
    } else {
      legend_line(ly, "", p_.operation + ": " + cond_.text);
    }
  }

  void heading() {
    std::string head = p_.title + ": " + p_.function + " of " + p_.channel + " [subchannel " +
                       std::to_string(p_.subchannel) + "], " + p_.operation;
    out_ << "<text x=\"" << kLeft << "\" y=\"24\" class=\"title\">" << xml_text(head) << "</text>\n";
    const std::string verdict = p_.verdict == "fires" ? "FIRES" : p_.verdict;
    const double bw = 16 + 8.2 * static_cast<double>(verdict.size());
    out_ << "<rect x=\"" << coord(kWidth - 16 - bw) << "\" y=\"8\" width=\"" << coord(bw)
         << "\" height=\"24\" rx=\"5\" fill=\"" << verdict_colour(p_.verdict) << "\"/>\n"
         << "<text x=\"" << coord(kWidth - 16 - bw / 2) << "\" y=\"25\" text-anchor=\"middle\" class=\"verdict\">"
         << xml_text(verdict) << "</text>\n";
    std::string sub = p_.has_result ? "result " + num(p_.result) : "no result";
    sub += " \u2014 " + cond_.text;
    out_ << "<text x=\"" << kLeft << "\" y=\"44\" class=\"sub\">" << xml_text(sub) << "</text>\n";
  }

  std::ostringstream& out_;
  const Panel& p_;
  double y0_;
  Range xr_;
  Range yr_;
  Condition cond_;
  std::vector<Label> labels_;
};

}  // namespace

Window evaluated_window(const std::string& function, const float* fparam, float start, float inc, int ndata) {
  Window w;
  static const std::initializer_list<const char*> kWindowed = {
      "MIN", "MAX", "MEAN", "RMS", "STD", "SUM", "P2P", "DIFFMIN", "DIFFMAX", "DIFFMEAN", "DIFFRMS",
      "DIFFSTD", "DIFFSUM", "DIFFP2P"};
  w.position_only = is_one_of(function, {"VALUE", "DIFFVALUE"});
  if (!w.position_only && !is_one_of(function, kWindowed)) return w;
  // The evaluation's own rule, so the plot shows what the function read.
  qal3::trigger::Window read;
  if (!qal3::trigger::select_window(fparam, start, inc, ndata, w.position_only, read)) return w;
  w.first = read.first;
  if (w.position_only) {
    w.end = read.first + 1;
    w.count = 1;
    w.valid = true;
    return w;
  }
  w.step = read.step;
  w.end = read.end;
  w.count = (w.end - w.first - 1) / w.step + 1;
  w.valid = true;
  return w;
}

bool make_panel(qal3_serv_block_subhead_2010* block, const qal3_user_case_trigger& t, const std::string& title,
                const std::string& verdict, Panel& out) {
  if (!block) return false;
  const int kind = get_data_structure_type(static_cast<int>(block->dtype));
  if (kind != QAL3_DATA_SPECTRUM && kind != QAL3_DATA_GSPECTRUM) return false;
  const float* samples = get_pointer_to_data_2010(block, t.subchannel);
  float start = 0, inc = 0, group_inc = 1.0f;
  int ndata = 0, groups = 1;
  qal3_spect_statistics_2010* stat = nullptr;
  if (!samples || get_spect_params_for_data_type_2010(block, &start, &inc, nullptr, &ndata, &groups, &group_inc,
                                                      &stat, t.subchannel) != 0 || ndata < 0)
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
  out.has_result = t.fresult != nullptr;
  out.result = t.fresult ? *t.fresult : 0.0f;
  out.verdict = verdict;
  out.axis_start = start;
  out.axis_inc = inc;
  out.samples.assign(samples, samples + ndata);
  out.window = evaluated_window(out.function, t.fparam, start, inc, ndata);
  return true;
}

std::string render_svg(const std::vector<Panel>& panels) {
  std::ostringstream out;
  const double height = kPanelHeight * static_cast<double>(std::max<std::size_t>(panels.size(), 1));
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" << kWidth << "\" height=\""
      << height << "\" viewBox=\"0 0 " << kWidth << " " << height << "\">\n"
      << "<title>qal3 trigger test</title>\n"
      << "<style>text{font-family:DejaVu Sans,Helvetica,Arial,sans-serif;fill:#222222}"
         ".tick{font-size:11px}.axis{font-size:13px}.legend{font-size:12px}.label{font-size:12px;font-weight:bold}"
         ".title{font-size:15px;font-weight:bold}.sub{font-size:12px}"
         ".verdict{font-size:13px;font-weight:bold;fill:#ffffff}</style>\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"#fbfbfb\"/>\n";
  if (panels.empty())
    out << "<text x=\"20\" y=\"40\" class=\"title\">no trigger was evaluated on a spectrum</text>\n";
  for (std::size_t i = 0; i < panels.size(); ++i) {
    PanelWriter(out, panels[i], kPanelHeight * static_cast<double>(i)).write();
    if (i + 1 < panels.size())
      out << "<line x1=\"0\" y1=\"" << coord(kPanelHeight * static_cast<double>(i + 1)) << "\" x2=\"" << kWidth
          << "\" y2=\"" << coord(kPanelHeight * static_cast<double>(i + 1)) << "\" stroke=\"#bbbbbb\"/>\n";
  }
  out << "</svg>\n";
  return out.str();
}

}  // namespace plot
