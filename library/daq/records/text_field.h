// A text field on one line: the libraries' listings and text files, and the
// tool's own lines; what a text field of a record keeps of a text.
// Internal to libQAL3XML and libQAL3USERTRIG. Not installed.
#ifndef QAL3_TEXT_FIELD_H
#define QAL3_TEXT_FIELD_H

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace qal3 {
namespace text {

// How a backslash of the text is shown: as it is (the libraries' listings
// and text files), or as \\ (the tool's lines, so that \n in them always
// stands for a line feed).
enum class Backslash { kept, escaped };

// Appends the escape of the control character that starts at s[i] (C0 and
// DEL as \xHH, a C1 character, U+0080..U+009F in UTF-8, as \u00HH) to
// `out` and returns its length in bytes; 0 (nothing appended) when s[i]
// starts no control character.
inline std::size_t append_control_escape(std::string_view s, std::size_t i, std::string& out) {
  static const char kHex[] = "0123456789abcdef";
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x20 || c == 0x7f) {
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 15];
    return 1;
  }
  const unsigned char next = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
  if (c != 0xc2 || next < 0x80 || next > 0x9f) return 0;
  out += "\\u00";
  out += kHex[next >> 4];
  out += kHex[next & 15];
  return 2;
}

// `s` with tab, line feed and carriage return, which would split a record
// of a line- or tab-separated listing, shown as \t, \n and \r; a backslash
// as `backslash` says. With Backslash::kept every other byte stays as it
// is, so a field without those is written unchanged; with
// Backslash::escaped (the tool's lines) every other control character is
// escaped too (append_control_escape), so that no text of a document
// reaches a terminal as a control sequence.
inline std::string one_line(std::string_view s, Backslash backslash = Backslash::kept) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
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
        if (backslash == Backslash::escaped) {
          const std::size_t n = append_control_escape(s, i, out);
          if (n > 0) {
            i += n - 1;
            break;
          }
        }
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

// How many bytes of the text `src` a field of `cap` bytes (its NUL included)
// keeps: all when they fit, else at most cap - 1 and never the first bytes
// of a UTF-8 character (the form of the parsers' text) whose last bytes would
// be cut off.
inline std::size_t fitting_length(const char* src, std::size_t cap) {
  if (!src || cap == 0) return 0;
  std::size_t n = strnlen(src, cap);
  if (n < cap) return n;
  n = cap - 1;
  const auto continuation = [&](std::size_t i) { return (static_cast<unsigned char>(src[i]) & 0xC0u) == 0x80u; };
  for (int back = 0; back < 3 && n > 0 && continuation(n); ++back) --n;
  return continuation(n) ? cap - 1 : n;
}

}  // namespace text
}  // namespace qal3

#endif  // QAL3_TEXT_FIELD_H
