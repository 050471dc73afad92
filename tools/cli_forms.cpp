#include "cli_forms.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "cli_output.h"

namespace cli {

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
