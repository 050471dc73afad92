// A text field on a line of the libraries' listings and text files.
// Internal to libQAL3XML and libQAL3USERTRIG. Not installed.
#ifndef QAL3_TEXT_FIELD_H
#define QAL3_TEXT_FIELD_H

#include <string>

namespace qal3 {
namespace text {

// `s` with tab, line feed and carriage return, which would split a record
// of a line- or tab-separated listing, shown as \t, \n and \r. Every other
// byte stays as it is, so a field without those three is written unchanged.
inline std::string one_line(const char* s) {
  std::string out;
  if (!s) return out;
  for (; *s; ++s) {
    switch (*s) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += *s;
    }
  }
  return out;
}

inline std::string one_line(const std::string& s) { return one_line(s.c_str()); }

}  // namespace text
}  // namespace qal3

#endif  // QAL3_TEXT_FIELD_H
