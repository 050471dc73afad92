#include "cli_forms.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "cli_output.h"

namespace cli {

std::string printable(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\t' || line[i] == '\n') {
      out += line[i];
      continue;
    }
    const std::size_t n = qal3::text::append_control_escape(line, i, out);
    if (n == 0)
      out += line[i];
    else
      i += n - 1;
  }
  return out;
}

nlohmann::json json_float(float v) {
  if (!std::isfinite(v)) return nullptr;
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::strtod(std::string(buf, r.ptr).c_str(), nullptr);
}

void print_json(const nlohmann::json& doc) {
  put(doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

}  // namespace cli
