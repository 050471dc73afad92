// The text cells of a library record, made from its field table
// (record_fields.h): one cell per field in the table's order, for the
// tab-separated lines of the tool's listings. Texts are shown on one line
// (cli::one_line), numbers as the writers write them, data types in their
// sign. A record with list or record fields has no one-line form and does
// not compile here.
#ifndef QAL3_TOOL_RECORD_TEXT_H
#define QAL3_TOOL_RECORD_TEXT_H

#include <string>
#include <vector>

#include "cli_forms.h"
#include "float_text.h"
#include "record_fields.h"

namespace cli {

// One field's cell.
struct ValueText {
  qal3::records::Kind kind;

  template <class V>
  std::string integer(V v) const {
    return std::to_string(qal3::records::number_value(kind, v));
  }
  std::string real(float v) const { return qal3::number::float_text(v); }  // as the writers write it
  template <std::size_t N>
  std::string text(const char (&v)[N]) const {
    return one_line(field_text(v));
  }
  std::string string(const std::string& v) const { return one_line(v); }
};

// The cells of `record`'s fields, in the order of its field table.
template <class R>
std::vector<std::string> record_cells(const R& record) {
  std::vector<std::string> cells;
  qal3::records::for_each_field<R>(
      [&](const auto& field) { cells.push_back(qal3::records::visit_value(field.of(record), ValueText{field.kind})); });
  return cells;
}

// `cells` joined by tabs, ended by a line feed.
inline std::string tab_line(const std::vector<std::string>& cells) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) line += (i ? "\t" : "") + cells[i];
  return line + "\n";
}

}  // namespace cli

#endif  // QAL3_TOOL_RECORD_TEXT_H
