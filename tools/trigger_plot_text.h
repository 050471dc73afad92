// Text in the trigger plot: how wide a line renders, and how a line too
// long for its place is shortened or wrapped. SVG has no layout of its own,
// so the plot places every text from these estimates.
#ifndef QAL3_TRIGGER_PLOT_TEXT_H
#define QAL3_TRIGGER_PLOT_TEXT_H

#include <cstddef>
#include <string>
#include <vector>

namespace plot {

struct Font {
  double size = 12;
  bool bold = false;
};

// The width of `s` in `font`, from the advance widths of the face the plot
// asks for first (DejaVu Sans), with a small margin; other characters are
// counted as wide ones.
double text_width(const std::string& s, Font font);

// `s` if it fits `width`, else its start and its end around an ellipsis
// ("TS.MAGN…URRENT.RBV"), cut at whole UTF-8 characters.
std::string shorten(const std::string& s, double width, Font font);

// `s` in lines that fit `width`: broken after spaces, or else after '/',
// '.', ':', '_', '-' or ',', or else anywhere. With more than `max_lines`
// lines, the last one is shortened at its end.
std::vector<std::string> wrap(const std::string& s, double width, Font font, std::size_t max_lines);

// Text for SVG: markup characters escaped, bytes that are not UTF-8 and
// control characters replaced by '?'.
std::string xml_text(const std::string& s);

}  // namespace plot

#endif  // QAL3_TRIGGER_PLOT_TEXT_H
