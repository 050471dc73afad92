// qal3 trigger test --plot: the layout of the picture in the hard cases,
// checked on the SVG's structure (positions and boxes), not on pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

using testutil::run_command;
using testutil::TempFile;

namespace {

const std::string kTool = testutil::tool_command();
const std::string kPulse = std::string(QAL3_EXAMPLES_DIR) + "/plot_spectrum.txt";

struct Box {
  double x0, y0, x1, y1;
  bool overlaps(const Box& o) const { return x0 < o.x1 && o.x0 < x1 && y0 < o.y1 && o.y0 < y1; }
  bool inside(const Box& o) const {
    return x0 >= o.x0 - 0.5 && x1 <= o.x1 + 0.5 && y0 >= o.y0 - 0.5 && y1 <= o.y1 + 0.5;
  }
};

struct Element {
  std::string tag;
  std::map<std::string, std::string> attr;
  std::string text;  // of a <text>, entities resolved
  double dy = 0;     // the offset of its panel
  std::string cls() const { return attr.count("class") ? attr.at("class") : ""; }
  double num(const std::string& name) const { return std::stod(attr.at(name)); }
};

struct Plot {
  double width = 0;
  std::map<std::string, double> font_size;  // by class
  std::vector<std::vector<Element>> panels;

  // The panel's elements of a tag and class.
  std::vector<Element> find(std::size_t panel, const std::string& tag, const std::string& cls) const {
    std::vector<Element> out;
    for (const Element& e : panels.at(panel))
      if (e.tag == tag && e.cls() == cls) out.push_back(e);
    return out;
  }
  // The texts of a class in a panel, joined by spaces.
  std::string texts(std::size_t panel, const std::string& cls) const {
    std::string out;
    for (const Element& e : find(panel, "text", cls)) out += e.text + " ";
    return out;
  }
  // The box a text covers, estimated from an average glyph width.
  Box text_box(const Element& e) const {
    const double size = font_size.count(e.cls()) ? font_size.at(e.cls()) : 12;
    const bool bold = e.cls() == "label" || e.cls() == "title" || e.cls() == "verdict";
    // Narrow glyphs, capitals and wide ones, others; a character beyond ASCII as a capital.
    double ems = 0;
    for (unsigned char c : e.text) {
      if (c >= 0x80)
        ems += (c & 0xC0) == 0x80 ? 0 : 0.7;
      else if (std::strchr(" .,:;!|'ijlftr()[]-/", c))
        ems += 0.33;
      else
        ems += std::isupper(c) || c == 'm' || c == 'w' ? 0.7 : 0.6;
    }
    const double w = ems * size * (bold ? 1.1 : 1.0);
    const std::string anchor = e.attr.count("text-anchor") ? e.attr.at("text-anchor") : "start";
    const double x = e.num("x") - (anchor == "middle" ? w / 2 : anchor == "end" ? w : 0);
    const double y = e.num("y") + e.dy;
    return {x, y - 0.75 * size, x + w, y + 0.22 * size};
  }
  Box rect_box(const Element& e) const {
    return {e.num("x"), e.num("y") + e.dy, e.num("x") + e.num("width"), e.num("y") + e.dy + e.num("height")};
  }
};

std::string unescape(std::string s) {
  for (const auto& [from, to] :
       std::vector<std::pair<std::string, std::string>>{{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}})
    for (std::size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
      s.replace(at, from.size(), to);
  return s;
}

Plot parse_plot(const std::string& svg) {
  Plot plot;
  const std::regex tag_re(R"(<(/?)([a-z]+)((?:\s+[\w:-]+="[^"]*")*)\s*/?>)");
  const std::regex attr_re(R"(([\w:-]+)="([^"]*)\")");
  const std::regex style_re(R"(\.([\w-]+)\{font-size:(\d+)px)");
  for (std::sregex_iterator s(svg.begin(), svg.end(), style_re), end; s != end; ++s)
    plot.font_size[(*s)[1]] = std::stod((*s)[2]);
  double dy = 0;
  bool in_panel = false;
  for (std::sregex_iterator m(svg.begin(), svg.end(), tag_re), end; m != end; ++m) {
    if ((*m)[1] == "/") {
      if ((*m)[2] == "g") in_panel = false;
      continue;
    }
    Element e;
    e.tag = (*m)[2];
    const std::string attrs = (*m)[3];
    for (std::sregex_iterator a(attrs.begin(), attrs.end(), attr_re); a != end; ++a) e.attr[(*a)[1]] = (*a)[2];
    if (e.tag == "svg") plot.width = e.num("width");
    if (e.tag == "g" && e.cls() == "panel") {
      dy = std::stod(e.attr["transform"].substr(e.attr["transform"].find(',') + 1));
      plot.panels.emplace_back();
      in_panel = true;
      continue;
    }
    if (!in_panel) continue;
    if (e.tag == "text") {
      const std::size_t from = m->position() + m->length();
      e.text = unescape(svg.substr(from, svg.find("</text>", from) - from));
    }
    e.dy = dy;
    plot.panels.back().push_back(e);
  }
  return plot;
}

// Runs 'trigger test' on the list and spectra, and parses the picture.
Plot plot_of(const std::string& triggers, const std::vector<std::string>& spectra) {
  TempFile list("<QAL3USERTRIGGERLIST>" + triggers + "</QAL3USERTRIGGERLIST>\n");
  TempFile svg("", ".svg");
  std::string cmd = kTool + " trigger test " + list.path() + " --plot " + svg.path();
  for (const std::string& s : spectra) cmd += " --spectrum " + s;
  std::string out, err;
  EXPECT_EQ(run_command(cmd, &out, &err), 0) << err;
  TempFile png("", ".png");  // rsvg-convert: Debian librsvg2-bin
  EXPECT_EQ(run_command("rsvg-convert -o " + png.path() + " " + svg.path(), &out, &err), 0) << err;
  return parse_plot(svg.read());
}

std::string trigger_xml(const std::string& channel, const std::string& function, const std::string& op,
                        const std::string& low = "", const std::string& upper = "") {
  return "<USERTRIGGER><Chan name=\"" + channel + "\"/>" + function + "<Operation name=\"" + op + "\"/>" +
         (low.empty() ? "" : "<LowLimit value=\"" + low + "\"/>") +
         (upper.empty() ? "" : "<UpperLimit value=\"" + upper + "\"/>") + "</USERTRIGGER>";
}

std::string window(const std::string& function, const std::string& start = "12", const std::string& end = "28",
                   const std::string& step = "1") {
  return "<Function name=\"" + function + "\" start=\"" + start + "\" end=\"" + end + "\" incr=\"" + step + "\"/>";
}

// The points of the curve's lines, in order.
std::vector<std::pair<double, double>> curve_points(const Plot& plot, std::size_t panel) {
  std::vector<std::pair<double, double>> out;
  for (const Element& e : plot.find(panel, "polyline", "curve")) {
    std::istringstream in(e.attr.at("points"));
    double x, y;
    char comma;
    while (in >> x >> comma >> y) out.emplace_back(x, y + e.dy);
  }
  return out;
}

// Every text within the page, none over another or the verdict badge; the
// labels of values and limits outside the plot, and the curve inside it.
void expect_tidy(const Plot& plot) {
  std::vector<std::pair<Box, std::string>> boxes;
  for (std::size_t p = 0; p < plot.panels.size(); ++p) {
    const Box frame = plot.rect_box(plot.find(p, "rect", "frame").at(0));
    for (const Element& e : plot.panels[p]) {
      if (e.tag == "text" && !e.attr.count("transform")) {
        const Box b = plot.text_box(e);
        EXPECT_TRUE(b.x0 >= 0 && b.x1 <= plot.width) << e.text;
        if (e.cls() == "label") {
          EXPECT_FALSE(b.overlaps(frame)) << e.text;
        }
        if (e.cls() != "verdict") boxes.emplace_back(b, e.text);
      }
      if (e.tag == "rect" && e.cls() == "badge") boxes.emplace_back(plot.rect_box(e), "(badge)");
    }
    for (const auto& [x, y] : curve_points(plot, p)) EXPECT_TRUE((Box{x, y, x, y}.inside(frame))) << x << "," << y;
  }
  for (std::size_t i = 0; i < boxes.size(); ++i)
    for (std::size_t k = i + 1; k < boxes.size(); ++k)
      EXPECT_FALSE(boxes[i].first.overlaps(boxes[k].first)) << boxes[i].second << " | " << boxes[k].second;
}

const char kLongName[] =
    "TS.MAGNETS/QUADRUPOLES/SECTOR-07/Q3-HORIZONTAL-FOCUSING/POWER-SUPPLY/CURRENT.READBACK.VALUE.AVERAGED";

}  // namespace

// Long names, crowded and far limits, large numbers, windows beyond the
// samples and samples that are not finite: a tidy picture each time.
TEST(ToolPlot, TidyInTheHardCases) {
  std::string broken_text = "0 0.5\n0 1 nan 3 inf 5 -inf 7 nan 9";
  for (int i = 10; i < 80; ++i) broken_text += " " + std::to_string(i % 7);
  TempFile broken(broken_text + "\n", ".txt");
  const Plot plot =
      plot_of(trigger_xml(kLongName, window("MEAN"), "INSIDE", "0.999", "1.0") +
                  trigger_xml("BEAM/Current", window("MAX"), "OUTSIDE", "-1e+30", "1.2") +
                  trigger_xml("BEAM/Current", window("DIFFSUM", "10", "1e9", "3"), "OUTSIDEWITHLIMITS", "-12345.678",
                              "123456789") +
                  trigger_xml("BEAM/Current", window("RMS", "5", "-100", "3"), "INSIDEWITHLIMITS", "0.79", "0.8") +
                  trigger_xml("B", "<Function name=\"VALUE\" position=\"8\"/>", "EQ", "0.6"),
              {kPulse, broken.path()});
  ASSERT_EQ(plot.panels.size(), 10u);
  expect_tidy(plot);
  // The long name, shortened in the title, is whole in the legend.
  EXPECT_FALSE(plot.texts(0, "title").find(kLongName) != std::string::npos);
  std::string legend = plot.texts(0, "legend");
  legend.erase(std::remove(legend.begin(), legend.end(), ' '), legend.end());
  EXPECT_NE(legend.find(kLongName), std::string::npos) << legend;
}

// A NaN is marked by a cross, an infinity by a triangle at its edge, each at
// its sample's place; the count says how many were left out.
TEST(ToolPlot, MarksSamplesThatAreNotFinite) {
  TempFile samples("0 1\n1 nan 2 inf -inf 3 nan\n", ".txt");
  const Plot plot = plot_of(trigger_xml("S", window("MAX", "0", "-1"), "TRUE"), {samples.path()});
  ASSERT_EQ(plot.panels.size(), 1u);
  const auto points = curve_points(plot, 0);  // samples 0, 2 and 5
  ASSERT_EQ(points.size(), 3u);
  EXPECT_EQ(plot.find(0, "polyline", "curve").size(), 3u);  // broken at each gap
  const double x0 = points[0].first, step = (points[2].first - points[0].first) / 5;
  const auto at = [&](const Element& e) {
    const std::string d = e.attr.at("d");
    return std::stod(d.substr(1, d.find(',') - 1));
  };
  const auto nan = plot.find(0, "path", "no-number"), inf = plot.find(0, "path", "infinite");
  ASSERT_EQ(nan.size(), 2u);
  ASSERT_EQ(inf.size(), 2u);
  EXPECT_NEAR(at(nan[0]) + 3.5, x0 + 1 * step, 0.2);  // a cross's path starts at its upper left
  EXPECT_NEAR(at(nan[1]) + 3.5, x0 + 6 * step, 0.2);
  EXPECT_NEAR(at(inf[0]), x0 + 3 * step, 0.2);
  EXPECT_NEAR(at(inf[1]), x0 + 4 * step, 0.2);
  EXPECT_NE(plot.texts(0, "legend").find("samples: 7 4 not drawn: 2 NaN, 2 infinite"), std::string::npos)
      << plot.texts(0, "legend");
}

// A limit far from the samples is an arrow at the plot's edge, and the
// samples keep the height of the plot; a near one is a line across it.
TEST(ToolPlot, FarLimitsAtTheEdge) {
  struct Case {
    const char* op;
    const char* low;
    const char* upper;
    int beyond;  // -1 below, +1 above, 0 a line in the plot
  };
  for (const Case& c : {Case{"GT", "", "1000000", 1}, Case{"LT", "-1e30", "", -1}, Case{"GT", "", "1.5", 0}}) {
    const Plot plot = plot_of(trigger_xml("BEAM/Current", window("MAX"), c.op, c.low, c.upper), {kPulse});
    const Box frame = plot.rect_box(plot.find(0, "rect", "frame").at(0));
    double top = 1e9, bottom = -1e9;
    for (const auto& p : curve_points(plot, 0)) top = std::min(top, p.second), bottom = std::max(bottom, p.second);
    EXPECT_GT(bottom - top, 0.5 * (frame.y1 - frame.y0)) << c.op;
    const auto arrows = plot.find(0, "path", "beyond");
    const auto levels = plot.find(0, "line", "level");
    EXPECT_EQ(levels.size(), c.beyond ? 1u : 2u) << c.op;  // the result's line, and the limit's
    ASSERT_EQ(arrows.size(), c.beyond ? 1u : 0u) << c.op;
    if (c.beyond) {
      const std::string d = arrows[0].attr.at("d");
      const double tip = std::stod(d.substr(d.find(',') + 1)) + arrows[0].dy;
      EXPECT_NEAR(tip, c.beyond > 0 ? frame.y0 : frame.y1, 6) << c.op;
      EXPECT_NE(plot.texts(0, "label").find(c.beyond > 0 ? "(above)" : "(below)"), std::string::npos);
    }
  }
}

// Only MIN, MAX, MEAN and VALUE are levels of the samples; every other
// value, with its limits, is drawn on a scale of its own beside the plot.
TEST(ToolPlot, ValuesThatAreNotLevelsOnTheirOwnScale) {
  const std::vector<std::pair<std::string, bool>> functions = {
      {"MIN", true},      {"MAX", true},      {"MEAN", true},      {"VALUE", true},
      {"P2P", false},     {"SUM", false},     {"STD", false},      {"RMS", false},
      {"DIFFMIN", false}, {"DIFFMAX", false}, {"DIFFMEAN", false}, {"DIFFRMS", false},
      {"DIFFSTD", false}, {"DIFFSUM", false}, {"DIFFP2P", false},  {"DIFFVALUE", false}};
  std::string list;
  for (const auto& f : functions) list += trigger_xml("BEAM/Current", window(f.first), "GT", "", "0.5");
  const Plot plot = plot_of(list, {kPulse});
  ASSERT_EQ(plot.panels.size(), functions.size());
  for (std::size_t p = 0; p < functions.size(); ++p) {
    const bool level = functions[p].second;
    const Box frame = plot.rect_box(plot.find(p, "rect", "frame").at(0));
    EXPECT_EQ(plot.find(p, "line", "level").size(), level ? 2u : 0u) << functions[p].first;
    EXPECT_EQ(plot.find(p, "rect", "value-scale").size(), level ? 0u : 1u) << functions[p].first;
    // A DIFF function's first event has no value to draw.
    const bool drawn = !level && functions[p].first.rfind("DIFF", 0) != 0;
    const auto value = plot.find(p, "line", "scale-value");
    ASSERT_EQ(value.size(), drawn ? 1u : 0u) << functions[p].first;
    if (drawn) {
      EXPECT_GT(value[0].num("x1"), frame.x1) << functions[p].first;
    }
  }
  expect_tidy(plot);
}

// The window as set is drawn above the plot, apart from the samples read;
// a set end beyond the samples is an arrow, and an end before the spectrum
// is explained.
TEST(ToolPlot, TheSetWindow) {
  const Plot plot = plot_of(trigger_xml("B", window("MEAN", "12", "28", "2"), "TRUE") +
                                trigger_xml("B", window("MEAN", "10", "1e9"), "TRUE") +
                                trigger_xml("B", window("MEAN", "5", "-100"), "TRUE"),
                            {kPulse});
  ASSERT_EQ(plot.panels.size(), 3u);
  const auto points = curve_points(plot, 0);  // 0.5 us per sample
  ASSERT_EQ(points.size(), 80u);
  const Box frame = plot.rect_box(plot.find(0, "rect", "frame").at(0));
  const Box set = plot.rect_box(plot.find(0, "rect", "set-window").at(0));
  const Box read = plot.rect_box(plot.find(0, "rect", "read-window").at(0));
  EXPECT_NEAR(set.x0, points[24].first, 0.2);  // 12 us
  EXPECT_NEAR(set.x1, points[56].first, 0.2);  // 28 us; the last sample read is at 27 us
  EXPECT_LT(read.x1, set.x1 - 2);
  EXPECT_LE(set.y1, frame.y0);

  EXPECT_NEAR(plot.rect_box(plot.find(1, "rect", "set-window").at(0)).x1, frame.x1, 0.2);
  EXPECT_EQ(plot.find(1, "path", "set-beyond").size(), 1u);
  EXPECT_TRUE(plot.find(2, "rect", "set-window").empty());
  EXPECT_NE(plot.texts(2, "legend").find("an end before the spectrum reads to its end"), std::string::npos);
  EXPECT_NE(plot.texts(2, "legend").find("read: 5 to 39.5 \u00b5s"), std::string::npos);
}

// The pictures in examples/ are what the tool draws today, and tidy.
TEST(ToolPlot, ExamplesAreCurrent) {
  const std::string dir = std::string(QAL3_EXAMPLES_DIR) + "/";
  for (const auto& [list, spectrum, picture] : std::vector<std::array<std::string, 3>>{
           {"plot_triggers.xml", "plot_spectrum.txt", "plot_pulse.svg"},
           {"plot_hard_triggers.xml", "plot_spectrum_gaps.txt", "plot_hard_cases.svg"}}) {
    TempFile svg("", ".svg");
    std::string out, err;
    ASSERT_EQ(run_command("cd " + dir + " && " + kTool + " trigger test " + list + " --spectrum " + spectrum +
                              " --plot " + svg.path(),
                          &out, &err),
              0)
        << err;
    EXPECT_EQ(svg.read(), testutil::read_file(dir + picture))
        << picture << " is out of date: in examples/, run 'qal3 trigger test " << list << " --spectrum " << spectrum
        << " --plot " << picture << "'";
    expect_tidy(parse_plot(svg.read()));
  }
}
