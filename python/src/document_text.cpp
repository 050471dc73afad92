#include "document_text.h"

#include <cstring>

namespace qal3py {

void declare_utf8(std::string& doc) {
  static const char kBom[] = "\xEF\xBB\xBF";
  static const char kStart[] = "<?xml";
  std::size_t at = doc.compare(0, 3, kBom) == 0 ? 3 : 0;
  if (doc.compare(at, sizeof kStart - 1, kStart) != 0) return;
  at += sizeof kStart - 1;
  const auto blank = [&](std::size_t i) { return i < doc.size() && std::strchr(" \t\r\n", doc[i]) && doc[i]; };
  if (!blank(at)) return;  // "<?xml-stylesheet ..." and the like
  const std::size_t end = doc.find("?>", at);
  if (end == std::string::npos) return;
  // The pseudo-attributes: name, blanks, '=', blanks, a quoted value.
  std::size_t i = at;
  while (i < end) {
    while (blank(i)) ++i;
    const std::size_t name = i;
    while (i < end && !blank(i) && doc[i] != '=') ++i;
    const bool encoding = doc.compare(name, i - name, "encoding") == 0;
    while (blank(i)) ++i;
    if (i >= end || doc[i] != '=') return;
    ++i;
    while (blank(i)) ++i;
    if (i >= end || (doc[i] != '"' && doc[i] != '\'')) return;
    const char quote = doc[i];
    const std::size_t value = i + 1;
    const std::size_t close = doc.find(quote, value);
    if (close == std::string::npos || close >= end) return;
    if (encoding) {
      static const char kUtf8[] = "UTF-8";
      const std::size_t old_length = close - value;
      const std::size_t new_length = sizeof kUtf8 - 1;
      std::string replacement(kUtf8);
      replacement += quote;
      if (old_length > new_length) replacement.append(old_length - new_length, ' ');
      doc.replace(value, old_length + 1, replacement);
      return;
    }
    i = close + 1;
  }
}

}  // namespace qal3py
