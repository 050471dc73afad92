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

// A descriptor closed on destruction (-1: none).
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  // Closes the descriptor held, if any, and holds `fd`.
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Hands the descriptor over: the caller closes it.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// The path /proc/self/fd/N of a descriptor.
inline std::string path_of(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Whether the system gives descriptors paths (/proc/self/fd/N): false when
// /proc is not mounted.
inline bool descriptor_paths() { return ::access("/proc/self/fd", X_OK) == 0; }
constexpr char kNoDescriptorPaths[] = "/proc is not mounted (documents reach the libraries as /proc/self/fd/N)";

// The bytes of a document in an anonymous memory file (in no folder),
// sealed against change where the system seals, and closed with the
// object: path() names exactly those bytes for a reader that takes a path.
class MemoryDocument {
 public:
  // ok() is false (errno set) when the file cannot be made or written, or
  // has no path (ENOENT: see descriptor_paths).
  MemoryDocument(const char* data, std::size_t size)
      : fd_(::memfd_create("qal3-document", MFD_CLOEXEC | MFD_ALLOW_SEALING)) {
    if (!fd_.ok() || !write_all(fd_.get(), data, size)) return;
    ::fcntl(fd_.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    if (descriptor_paths())
      path_ = path_of(fd_.get());
    else
      errno = ENOENT;
  }

  bool ok() const { return !path_.empty(); }
  // /proc/self/fd/N; empty when !ok().
  const std::string& path() const { return path_; }

 private:
  Descriptor fd_;
  std::string path_;
};

}  // namespace io
}  // namespace qal3

#endif  // QAL3_DESCRIPTORS_H
