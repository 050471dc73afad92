// How the commands show values: on one line of text, and as JSON.
#ifndef QAL3_CLI_FORMS_H
#define QAL3_CLI_FORMS_H

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

namespace cli {

// `text` on one line: backslash, newline, carriage return and tab shown as
// \\, \n, \r and \t.
std::string one_line(const std::string& text);

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
