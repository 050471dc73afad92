// Descriptors as the project's writers and readers use them: whole writes,
// and a document handed to a reader that takes only a path. Header only;
// internal to the project, not installed.
#ifndef QAL3_DESCRIPTORS_H
#define QAL3_DESCRIPTORS_H

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace qal3 {
namespace io {

// Writes all `len` bytes to `fd`, short writes and EINTR continued. False
// on a real error (errno set; EIO when the system wrote nothing).
inline bool write_all(int fd, const char* data, std::size_t len) {
  while (len > 0) {
    const ssize_t n = ::write(fd, data, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

// The path /proc/self/fd/N of a descriptor.
inline std::string path_of(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// The bytes of a document in an anonymous memory file (in no folder),
// sealed against change where the system seals, and closed with the
// object: path() names exactly those bytes for a reader that takes a path.
class MemoryDocument {
 public:
  // ok() is false (errno set) when the file cannot be made or written.
  MemoryDocument(const char* data, std::size_t size)
      : fd_(::memfd_create("qal3-document", MFD_CLOEXEC | MFD_ALLOW_SEALING)) {
    if (fd_ < 0) return;
    if (!write_all(fd_, data, size)) {
      const int err = errno;
      ::close(fd_);
      fd_ = -1;
      errno = err;
      return;
    }
    ::fcntl(fd_, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    path_ = path_of(fd_);
  }
  MemoryDocument(const MemoryDocument&) = delete;
  MemoryDocument& operator=(const MemoryDocument&) = delete;
  ~MemoryDocument() {
    if (fd_ >= 0) ::close(fd_);
  }

  bool ok() const { return fd_ >= 0; }
  // /proc/self/fd/N; empty when !ok().
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

}  // namespace io
}  // namespace qal3

#endif  // QAL3_DESCRIPTORS_H
