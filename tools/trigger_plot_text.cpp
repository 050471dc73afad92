#include "trigger_plot_text.h"

#include <algorithm>
#include <cctype>

namespace plot {

namespace {

// Advance widths of DejaVu Sans for ' ' to '~', in thousandths of an em.
constexpr unsigned short kAdvance[95] = {
    318,  401, 460, 838, 636, 950, 780, 275, 390, 390, 500, 838, 318, 361, 318, 337,  //  !"#$%&'()*+,-./
    636,  636, 636, 636, 636, 636, 636, 636, 636, 636, 337, 337, 838, 838, 838, 531,  // 0-9 :;<=>?
    1000, 684, 686, 698, 770, 632, 575, 775, 752, 295, 295, 656, 557, 863, 748, 787,  // @A-O
    603,  787, 695, 635, 611, 732, 684, 989, 685, 611, 685, 390, 337, 390, 838, 500,  // P-Z [\]^_
    500,  613, 635, 550, 635, 615, 352, 635, 634, 278, 278, 579, 278, 974, 634, 612,  // `a-o
    635,  635, 411, 521, 392, 634, 592, 818, 592, 592, 525, 636, 337, 636, 838};      // p-z {|}~
// The bold face is this much wider; every estimate has this margin.
constexpr double kBoldFactor = 1.12;
constexpr double kMargin = 1.04;
const char kEllipsis[] = "\u2026";

// The length of the UTF-8 character starting with `c`; 1 for a stray byte.
std::size_t char_length(unsigned char c) {
  if (c >= 0xF0 && c < 0xF8) return 4;
  if (c >= 0xE0) return c < 0xF0 ? 3 : 1;
  if (c >= 0xC0) return 2;
  return 1;
}

// The characters of `s`, each as its bytes.
std::vector<std::string> characters(const std::string& s) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t len = std::min(char_length(static_cast<unsigned char>(s[i])), s.size() - i);
    out.push_back(s.substr(i, len));
    i += len;
  }
  return out;
}

// The width of one character in ems.
double advance(const std::string& ch) {
  const unsigned char c = static_cast<unsigned char>(ch[0]);
  if (ch.size() == 1) return c >= 32 && c < 127 ? kAdvance[c - 32] / 1000.0 : 0.64;
  if (ch.size() == 2) return 0.7;  // Latin, Greek, Cyrillic: about the width of a capital
  return 1.0;                      // symbols, dashes, ideographs
}

std::string joined(const std::vector<std::string>& chars, std::size_t from, std::size_t to) {
  std::string out;
  for (std::size_t i = from; i < to; ++i) out += chars[i];
  return out;
}

bool breaks_after(const std::string& ch) {
  return ch.size() == 1 && std::string("/._:-,").find(ch[0]) != std::string::npos;
}

// Whether a number starts at chars[i]: a digit, or a sign and a digit.
bool starts_number(const std::vector<std::string>& chars, std::size_t i) {
  const auto digit = [&](std::size_t k) {
    return k < chars.size() && std::isdigit(static_cast<unsigned char>(chars[k][0]));
  };
  return digit(i) || ((chars[i] == "-" || chars[i] == "+") && digit(i + 1));
}

}  // namespace

double text_width(const std::string& s, Font font) {
  double ems = 0;
  for (const std::string& ch : characters(s)) ems += advance(ch);
  return ems * font.size * (font.bold ? kBoldFactor : 1.0) * kMargin;
}

std::string shorten(const std::string& s, double width, Font font) {
  if (text_width(s, font) <= width) return s;
  const std::vector<std::string> chars = characters(s);
  // Grow the kept start and end in turn while the whole still fits.
  std::size_t head = 0, tail = 0;
  for (bool grew = true; grew && head + tail < chars.size();) {
    grew = false;
    for (const bool at_head : {true, false}) {
      if (head + tail >= chars.size()) break;
      const std::size_t h = head + (at_head ? 1 : 0), t = tail + (at_head ? 0 : 1);
      const std::string candidate = joined(chars, 0, h) + kEllipsis + joined(chars, chars.size() - t, chars.size());
      if (text_width(candidate, font) > width) continue;
      head = h, tail = t, grew = true;
    }
  }
  return joined(chars, 0, head) + kEllipsis + joined(chars, chars.size() - tail, chars.size());
}

std::vector<std::string> wrap(const std::string& s, double width, Font font, std::size_t max_lines) {
  const std::vector<std::string> chars = characters(s);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < chars.size()) {
    while (start < chars.size() && chars[start] == " ") ++start;
    if (start == chars.size()) break;
    if (lines.size() + 1 == max_lines) {
      lines.push_back(shorten(joined(chars, start, chars.size()), width, font));
      break;
    }
    // The longest run from `start` that fits, ended at a break if there is one.
    // A space is the better break; none is taken before a number.
    std::size_t end = start, at_space = 0, at_mark = 0;
    double w = 0;
    const double per_em = font.size * (font.bold ? kBoldFactor : 1.0) * kMargin;
    while (end < chars.size() && w + advance(chars[end]) * per_em <= width) {
      w += advance(chars[end]) * per_em;
      ++end;
      if (end == chars.size()) break;
      const bool number_next = starts_number(chars, end);
      if (chars[end - 1] == " ") {
        if (!number_next) at_space = end;
      } else if (breaks_after(chars[end - 1]) && !(chars[end - 1] == "." && number_next)) {
        at_mark = end;
      }
    }
    std::size_t cut = end == chars.size() ? end : at_space > start ? at_space : at_mark;
    if (cut <= start) cut = std::max(end, start + 1);
    std::string line = joined(chars, start, cut);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(line);
    start = cut;
  }
  return lines;
}

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
        case '&':
          out += "&amp;";
          break;
        case '<':
          out += "&lt;";
          break;
        case '>':
          out += "&gt;";
          break;
        case '"':
          out += "&quot;";
          break;
        default:
          out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
      }
    } else {
      out.append(s, i, len);
    }
    i += len;
  }
  return out;
}

}  // namespace plot
