// A text field on one line: the libraries' listings and text files, and the
// tool's own lines.
// Internal to libQAL3XML and libQAL3USERTRIG. Not installed.
#ifndef QAL3_TEXT_FIELD_H
#define QAL3_TEXT_FIELD_H

#include <string>
#include <string_view>

namespace qal3 {
namespace text {

// How a backslash of the text is shown: as it is (the libraries' listings
// and text files), or as \\ (the tool's lines, so that \n in them always
// stands for a line feed).
enum class Backslash { kept, escaped };

// `s` with tab, line feed and carriage return, which would split a record
// of a line- or tab-separated listing, shown as \t, \n and \r; a backslash
// as `backslash` says. Every other byte stays as it is, so a field without
// those is written unchanged.
inline std::string one_line(std::string_view s, Backslash backslash = Backslash::kept) {
  std::string out;
  out.reserve(s.size());
  for (const char c : s) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += backslash == Backslash::escaped ? "\\\\" : "\\";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A C string field; null is the empty text.
inline std::string one_line(const char* s, Backslash backslash = Backslash::kept) {
  return one_line(std::string_view(s ? s : ""), backslash);
}

inline std::string one_line(const std::string& s, Backslash backslash = Backslash::kept) {
  return one_line(std::string_view(s), backslash);
}

}  // namespace text
}  // namespace qal3

#endif  // QAL3_TEXT_FIELD_H
