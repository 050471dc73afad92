// The text cells of a library record, made from its field table
// (record_fields.h): one cell per field in the table's order, for the
// tab-separated lines of the tool's listings. Texts are shown on one line
// (cli::one_line), numbers as the writers write them, data types in their
// sign.
// Fields the reader sets but no document holds (Kind::state) are left out;
// a record with list or record fields has no one-line form and does not
// compile here.
#ifndef QAL3_TOOL_RECORD_TEXT_H
#define QAL3_TOOL_RECORD_TEXT_H

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "cli_forms.h"
#include "float_text.h"
#include "record_fields.h"

namespace cli {

template <class V>
std::string value_text(const V& v, qal3::records::Kind kind) {
  using qal3::records::Kind;
  if constexpr (std::is_same_v<V, std::string>) {
    return one_line(v);
  } else if constexpr (std::is_array_v<V> && std::is_same_v<std::remove_extent_t<V>, char>) {
    return one_line(field_text(v));
  } else if constexpr (std::is_same_v<V, float>) {
    return qal3::number::float_text(v);  // as the writers write it
  } else if constexpr (std::is_same_v<V, unsigned int>) {
    return kind == Kind::type_code ? std::to_string(static_cast<std::int32_t>(v)) : std::to_string(v);
  } else if constexpr (std::is_enum_v<V>) {
    return std::to_string(static_cast<long long>(v));
  } else {
    static_assert(std::is_arithmetic_v<V>, "a list or record field has no cell of its own");
    return std::to_string(v);
  }
}

// The cells of `record`'s fields, in the order of its field table.
template <class R>
std::vector<std::string> record_cells(const R& record) {
  std::vector<std::string> cells;
  qal3::records::for_each_field<R>([&](const auto& field) {
    if (field.kind != qal3::records::Kind::state) cells.push_back(value_text(field.of(record), field.kind));
  });
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
