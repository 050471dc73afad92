// Descriptors as the tool's input and output use them: whole writes,
// reads bounded by a limit, and anonymous memory files.
#ifndef QAL3_CLI_FILES_H
#define QAL3_CLI_FILES_H

#include <cstddef>
#include <string>

namespace cli {

// Writes all `size` bytes; false (errno set) on failure.
bool write_all(int fd, const char* data, std::size_t size);

enum class ReadResult { kDone, kTooLarge, kFailed };

// Reads `fd` to its end into `out`, which never holds more than `limit`
// bytes: a byte past the limit ends the read.
ReadResult read_bounded(int fd, std::size_t limit, std::string& out);

// An anonymous memory file, in no folder; -1 (errno set) on failure.
int memory_file(const char* name);

// The path /proc/self/fd/N of a descriptor.
std::string descriptor_path(int fd);

}  // namespace cli

#endif  // QAL3_CLI_FILES_H
