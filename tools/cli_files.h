// Descriptors as the tool's input and output use them: reads bounded by a
// limit and anonymous memory files; whole writes and descriptor paths are
// the libraries' (descriptors.h).
#ifndef QAL3_CLI_FILES_H
#define QAL3_CLI_FILES_H

#include <cstddef>
#include <string>

#include "descriptors.h"

namespace cli {

using qal3::io::path_of;
using qal3::io::write_all;

enum class ReadResult { kDone, kTooLarge, kFailed };

// Reads `fd` to its end into `out`, which never holds more than `limit`
// bytes: a byte past the limit ends the read.
ReadResult read_bounded(int fd, std::size_t limit, std::string& out);

// An anonymous memory file, in no folder; -1 (errno set) on failure.
int memory_file(const char* name);

}  // namespace cli

#endif  // QAL3_CLI_FILES_H
