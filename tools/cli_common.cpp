#include "cli_common.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace cli {

bool read_all(const std::string& path, std::string& out) {
  if (path == "-") {
    std::ostringstream buf;
    buf << std::cin.rdbuf();
    if (std::cin.bad()) return false;
    out = buf.str();
    return true;
  }
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return !f.bad();
}

bool open_input(const std::string& arg, Input& in) {
  in.from_stdin = (arg == "-");
  in.name = in.from_stdin ? "<stdin>" : arg;
  if (!in.from_stdin) return true;
  if (!read_all("-", in.text)) {
    file_error(in.name, "cannot read standard input");
    return false;
  }
  return true;
}

int usage_error(const char* cmd, const std::string& message) {
  std::fprintf(stderr, "qal3 %s: %s\nTry 'qal3 %s --help'.\n", cmd, message.c_str(), cmd);
  return kUsage;
}

void file_error(const std::string& file, const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "qal3: %s: %s\n", file.c_str(), message.c_str());
}

bool is_help(const std::string& arg) { return arg == "-h" || arg == "--help"; }

}  // namespace cli
