// Tag-writing helpers, the XML declaration and the time stamps.
#include "attr_tags_functions.h"

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <string>

#include "parse_chan_descr.h"

namespace {

void append_attributes(std::string& a, const char* b, std::vector<char*>* at, std::vector<char*>* v,
                       const char* close) {
  a += '<';
  a += b;
  a += ' ';
  for (std::size_t i = 0; i < at->size(); ++i) {
    if (i != 0) a += ' ';
    a += at->at(i);
    a += "=\"";
    a += v->at(i);
    a += '"';
  }
  a += close;
}

// Length of the well-formed UTF-8 sequence of two to four bytes at `s`,
// storing its code point in `code`; 1 (and `code` unchanged) when `s` starts
// none.
std::size_t utf8_sequence(const unsigned char* s, unsigned& code) {
  unsigned cp;
  std::size_t n;
  unsigned min;
  if (s[0] >= 0xC2 && s[0] <= 0xDF) {
    cp = s[0] & 0x1Fu, n = 2, min = 0x80;
  } else if (s[0] >= 0xE0 && s[0] <= 0xEF) {
    cp = s[0] & 0x0Fu, n = 3, min = 0x800;
  } else if (s[0] >= 0xF0 && s[0] <= 0xF4) {
    cp = s[0] & 0x07u, n = 4, min = 0x10000;
  } else {
    return 1;
  }
  for (std::size_t i = 1; i < n; ++i) {
    if ((s[i] & 0xC0u) != 0x80u) return 1;  // also stops at the terminating NUL
    cp = cp << 6 | (s[i] & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 1;
  code = cp;
  return n;
}

}  // namespace

void START_TAG(std::string& a, const char* b) {
  a += '<';
  a += b;
  a += '>';
}

void START_TAGN(std::string& a, const char* b) {
  START_TAG(a, b);
  a += '\n';
}

void END_TAG(std::string& a, const char* b) {
  a += "</";
  a += b;
  a += '>';
}

void END_TAGN(std::string& a, const char* b) {
  END_TAG(a, b);
  a += '\n';
}

void START_TAG_ATTR(std::string& a, const char* b, std::vector<char*>* at, std::vector<char*>* v) {
  append_attributes(a, b, at, v, "/>");
}

void START_TAG_ATTRN(std::string& a, const char* b, std::vector<char*>* at, std::vector<char*>* v) {
  append_attributes(a, b, at, v, "/>\n");
}

void START_TAG_ATTRNS(std::string& a, const char* b, std::vector<char*>* at, std::vector<char*>* v) {
  append_attributes(a, b, at, v, ">");
}

void START_TAG_ATTRNNS(std::string& a, const char* b, std::vector<char*>* at, std::vector<char*>* v) {
  append_attributes(a, b, at, v, ">\n");
}

void xml_escape(std::string& a, const char* text) {
  if (!text) return;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  while (*s) {
    switch (*s) {
      case '&':
        a += "&amp;";
        break;
      case '<':
        a += "&lt;";
        break;
      case '>':
        a += "&gt;";
        break;
      case '"':
        a += "&quot;";
        break;
      case '\t':
        a += "&#9;";
        break;
      case '\n':
        a += "&#10;";
        break;
      case '\r':
        a += "&#13;";
        break;
      default:
        if (*s < 0x20) {
          // Other control characters (an XML 1.1 document can hold them)
          // cannot be written in an XML 1.0 document, not even as references.
          a += '?';
        } else if (*s < 0x80) {
          a += static_cast<char>(*s);
        } else {
          // The readers hand out text as UTF-8, while the documents declare
          // ISO-8859-1: every other character goes out as a character
          // reference, so that it reads back as the same text. A byte that
          // starts no valid sequence stands for its ISO-8859-1 character.
          unsigned code = *s;
          const std::size_t n = utf8_sequence(s, code);
          if (code == 0xFFFE || code == 0xFFFF) {
            a += '?';  // not characters of XML either
          } else {
            a += "&#";
            a += std::to_string(code);
            a += ';';
          }
          s += n - 1;
        }
        break;
    }
    ++s;
  }
}

std::string xml_escaped(const char* text) {
  std::string out;
  xml_escape(out, text);
  return out;
}

void set_xml_header(std::string& str) { str.assign("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n"); }

namespace {

// The calling thread's fixed time, when it has one.
struct Clock {
  bool fixed = false;
  time_t when = 0;
};
thread_local Clock t_clock;

// `when` as "%FT%T" into the 40 bytes at `out` ("" when it has no such
// text), in UTC or in local time.
void format_isodate(char* out, time_t when, bool utc) {
  struct tm broken {};
  if (!(utc ? gmtime_r(&when, &broken) : localtime_r(&when, &broken)) || strftime(out, 40, "%FT%T", &broken) == 0)
    out[0] = '\0';
}

}  // namespace

// The last second of year 9999 in UTC: later times have no four-digit year.
constexpr long long kLatestClock = 253402300799LL;

extern "C" int qal3_set_thread_clock(const time_t* when) {
  if (when && (*when < 0 || static_cast<long long>(*when) > kLatestClock)) return -1;
  t_clock = when ? Clock{true, *when} : Clock{};
  return 0;
}

extern "C" int qal3_get_thread_clock(time_t* when) {
  if (when) *when = t_clock.fixed ? t_clock.when : time(nullptr);
  return t_clock.fixed ? 1 : 0;
}

void create_isodate(char* isodate_str, time_t* t) {
  if (isodate_str) format_isodate(isodate_str, t ? *t : time(nullptr), false);
}

void create_isodate(char* isodate_str) {
  if (!isodate_str) return;
  time_t now = 0;
  const bool fixed = qal3_get_thread_clock(&now) != 0;
  format_isodate(isodate_str, now, fixed);
}

void add_iso_date(std::string& str) {
  char date[64] = {0};
  create_isodate(date);
  char line[80];
  std::snprintf(line, sizeof line, "\t<isodate>%.*s</isodate>\n", 58, date);
  str += line;
}
