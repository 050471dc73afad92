// Documents checked through the C++ face (qal3::check):
//
//   check_face PATH
//
// Prints each finding as one JSON object per line, with the members
// document, line, column, severity ("error" or "warning"), code, message
// and across, for the surfaces' agreement test.
#include <cstdio>
#include <string>

#include "qal3.hpp"

namespace {

// `s` as a JSON string: quotes, backslashes and control characters escaped,
// the other bytes (UTF-8) as they are.
std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", u);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PATH\n", argv[0]);
    return 2;
  }
  const qal3::CheckReport report = qal3::check(argv[1]);
  for (const qal3::Finding& f : report.findings)
    std::printf(
        "{\"document\": %s, \"line\": %lld, \"column\": %lld, \"severity\": %s, \"code\": %s, "
        "\"message\": %s, \"across\": %s}\n",
        quoted(f.document).c_str(), f.line, f.column, f.severity == qal3::Severity::error ? "\"error\"" : "\"warning\"",
        quoted(f.code).c_str(), quoted(f.message).c_str(), f.across ? "true" : "false");
  return report.passes() ? 0 : 1;
}
