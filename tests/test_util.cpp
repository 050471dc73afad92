#include "test_util.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace testutil {

namespace {

std::string capture_fd(int fd, FILE* stream, const std::function<void()>& body) {
  std::fflush(stream);
  std::cout.flush();
  std::cerr.flush();
  char path[] = "/tmp/qal3-capture-XXXXXX";
  const int tmp = mkstemp(path);
  if (tmp < 0) throw std::runtime_error("mkstemp failed");
  const int saved = dup(fd);
  dup2(tmp, fd);
  try {
    body();
  } catch (...) {
    std::fflush(stream);
    dup2(saved, fd);
    close(saved);
    close(tmp);
    unlink(path);
    throw;
  }
  std::fflush(stream);
  std::cout.flush();
  std::cerr.flush();
  dup2(saved, fd);
  close(saved);
  close(tmp);
  std::string out = read_file(path);
  unlink(path);
  return out;
}

}  // namespace

std::string capture_stdout(const std::function<void()>& body) { return capture_fd(STDOUT_FILENO, stdout, body); }

std::string capture_stderr(const std::function<void()>& body) { return capture_fd(STDERR_FILENO, stderr, body); }

TempFile::TempFile(const std::string& content, const std::string& suffix) {
  std::string tmpl = "/tmp/qal3-test-XXXXXX" + suffix;
  const int fd = mkstemps(&tmpl[0], static_cast<int>(suffix.size()));
  if (fd < 0) throw std::runtime_error("mkstemps failed");
  path_ = tmpl;
  if (!content.empty() && write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
    close(fd);
    throw std::runtime_error("write failed");
  }
  close(fd);
}

TempFile::~TempFile() { unlink(path_.c_str()); }

std::string TempFile::read() const { return read_file(path_); }

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

int run_command(const std::string& command, std::string* out, std::string* err) {
  TempFile o("", ".out");
  TempFile e("", ".err");
  const std::string full = command + " >" + o.path() + " 2>" + e.path();
  const int status = std::system(full.c_str());
  if (out) *out = o.read();
  if (err) *err = e.read();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string program_command(const std::string& path) {
  std::string quoted = "'";
  for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  const std::string launcher = QAL3_TEST_LAUNCHER;
  return launcher.empty() ? quoted : launcher + " " + quoted;
}

std::string tool_command() { return program_command(QAL3_TOOL_PATH); }

std::string self_path() {
  // Under a user-mode emulator too, this names the test program, not the emulator.
  std::vector<char> buf(4096);
  const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) throw std::runtime_error("cannot read /proc/self/exe");
  return std::string(buf.data(), static_cast<std::size_t>(n));
}

}  // namespace testutil
