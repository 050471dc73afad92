#include "cli_files.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

namespace cli {

ReadResult read_bounded(int fd, std::size_t limit, std::string& out) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return ReadResult::kFailed;
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return ReadResult::kFailed;
  }
  out.clear();
  if (S_ISREG(st.st_mode) && st.st_size > 0) {
    if (static_cast<std::uintmax_t>(st.st_size) > limit) return ReadResult::kTooLarge;
    out.reserve(static_cast<std::size_t>(st.st_size));
  }
  std::vector<char> chunk(64 * 1024);
  for (;;) {
    // Up to one byte past the limit, so that a larger input shows.
    const std::size_t room = limit - out.size();
    const ssize_t n = ::read(fd, chunk.data(), room < chunk.size() ? room + 1 : chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ReadResult::kFailed;
    if (n == 0) return ReadResult::kDone;
    const std::size_t size = out.size() + static_cast<std::size_t>(n);
    if (size > limit) return ReadResult::kTooLarge;
    // Grows as append would, but never past the limit.
    if (size > out.capacity()) out.reserve(std::min(std::max(size, 2 * out.capacity()), limit));
    out.append(chunk.data(), static_cast<std::size_t>(n));
  }
}

int memory_file(const char* name) { return ::memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING); }

}  // namespace cli
