// How the commands show values: on one line of text, and as JSON.
#ifndef QAL3_CLI_FORMS_H
#define QAL3_CLI_FORMS_H

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "text_field.h"

namespace cli {

// `text` on one line, as every line the tool itself writes shows a text:
// backslash, line feed, carriage return and tab shown as \\, \n, \r and \t,
// every other control character as \xHH (C0, DEL) or \u00HH (C1, U+0080 to
// U+009F in UTF-8), so that a document's text cannot act on a terminal.
inline std::string one_line(std::string_view text) {
  return qal3::text::one_line(text, qal3::text::Backslash::escaped);
}

// A line the libraries made (a listing's line, a message), as the tool
// passes it on: every control character but tab and line feed shown as
// one_line shows it; backslashes and every other byte as they are.
std::string printable(std::string_view line);

// A float as JSON number: its shortest decimal text (null for NaN and the
// infinities, as JSON has no such numbers).
nlohmann::json json_float(float v);

// A C string field of a record: the text up to its NUL or the field's end.
template <std::size_t N>
std::string field_text(const char (&field)[N]) {
  std::size_t n = 0;
  while (n < N && field[n] != '\0') ++n;
  return std::string(field, n);
}

// Prints one JSON document, pretty or compact, with a final newline.
void print_json(const nlohmann::json& doc);

}  // namespace cli

#endif  // QAL3_CLI_FORMS_H
