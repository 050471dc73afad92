// Tag-writing helpers.
#include "attr_tags_functions.h"

namespace {

void append_attributes(std::string& a, const char* b, std::vector<char*>* at,
                       std::vector<char*>* v, const char* close) {
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

void START_TAG_ATTRNS(std::string& a, const char* b, std::vector<char*>* at,
                      std::vector<char*>* v) {
  append_attributes(a, b, at, v, ">");
}

void START_TAG_ATTRNNS(std::string& a, const char* b, std::vector<char*>* at,
                       std::vector<char*>* v) {
  append_attributes(a, b, at, v, ">\n");
}

void xml_escape(std::string& a, const char* text) {
  if (!text) return;
  for (const char* s = text; *s; ++s) {
    switch (*s) {
      case '&': a += "&amp;"; break;
      case '<': a += "&lt;"; break;
      case '>': a += "&gt;"; break;
      case '"': a += "&quot;"; break;
      case '\t': a += "&#9;"; break;
      case '\n': a += "&#10;"; break;
      case '\r': a += "&#13;"; break;
      default: a += *s; break;
    }
  }
}

std::string xml_escaped(const char* text) {
  std::string out;
  xml_escape(out, text);
  return out;
}
