// Test helpers: capture of standard output and error, scratch files.
#ifndef QAL3_TEST_UTIL_H
#define QAL3_TEST_UTIL_H

#include <functional>
#include <string>

namespace testutil {

// Runs `body` and returns what it wrote to standard output (C stdio and
// iostreams alike).
std::string capture_stdout(const std::function<void()>& body);
// Same for standard error.
std::string capture_stderr(const std::function<void()>& body);

// A scratch file removed on destruction.
class TempFile {
 public:
  explicit TempFile(const std::string& content = "", const std::string& suffix = ".xml");
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }
  char* c_path() { return &path_[0]; }
  std::string read() const;

 private:
  std::string path_;
};

// Whole content of a file ("" when it cannot be read).
std::string read_file(const std::string& path);

// Runs a shell command; returns its exit status and fills out/err.
int run_command(const std::string& command, std::string* out = nullptr, std::string* err = nullptr);

// The start of a shell command that runs the program `path` of this build:
// the program itself, or the program under the emulator when the build is a
// cross build (QAL3_TEST_LAUNCHER).
std::string program_command(const std::string& path);
// The same for the qal3 tool of this build.
std::string tool_command();
// The path of the running test program.
std::string self_path();

}  // namespace testutil

#endif  // QAL3_TEST_UTIL_H
