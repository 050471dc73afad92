// The one output sink of the writers: a finished document goes to a file, a
// descriptor and/or a string, written completely (short writes and EINTR are
// continued) and every failure reported. Not installed.
#ifndef QAL3_XML_OUTPUT_H
#define QAL3_XML_OUTPUT_H

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace qal3 {
namespace output {

// Writes all `len` bytes to `fd`. False on a real error (errno set).
inline bool write_all(int fd, const char* data, std::size_t len) {
  while (len > 0) {
    const ssize_t n = ::write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    data += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

inline bool write_all(int fd, const std::string& text) {
  return write_all(fd, text.data(), text.size());
}

// An output file opened for writing ("w"), closed on destruction. Writes
// are checked when the file is closed: ok() is false once anything failed.
class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { close(); }

  // Opens `name` for writing; false when that fails (errno set).
  bool open(const char* name) {
    file_ = std::fopen(name, "w");
    failed_ = false;
    return file_ != nullptr;
  }
  bool is_open() const { return file_ != nullptr; }
  FILE* get() const { return file_; }

  // Writes the whole text.
  void put(const std::string& text) {
    if (file_ && !text.empty() && std::fwrite(text.data(), 1, text.size(), file_) != text.size())
      failed_ = true;
  }
  // Formatted output, checked like put().
  template <class... Args>
  void printf(const char* format, Args... args) {
    if (file_ && std::fprintf(file_, format, args...) < 0) failed_ = true;
  }

  // Flushes and closes; false when any write, the flush or the close failed.
  bool close() {
    if (!file_) return !failed_;
    if (std::ferror(file_)) failed_ = true;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return !failed_;
  }

 private:
  FILE* file_ = nullptr;
  bool failed_ = false;
};

}  // namespace output
}  // namespace qal3

#endif  // QAL3_XML_OUTPUT_H
