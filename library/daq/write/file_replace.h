// A file replaced whole, keeping what it has besides its bytes: the one way
// the tool's -o and the Python writers put a document at a path. Internal
// to the project (QAL3::internal), not installed.
#ifndef QAL3_FILE_REPLACE_H
#define QAL3_FILE_REPLACE_H

#include <cstddef>
#include <string>

namespace qal3 {
namespace io {

// How a symbolic link at the target is treated: replaced by the new file
// (as `sed -i` does), or followed, the file at its end being replaced in
// its own folder while the link stays.
enum class Links { replace, follow };

// The end of a step: error 0 when it succeeded, else the error number and,
// where the reason alone would mislead, what could not be done.
struct Outcome {
  int error = 0;
  const char* step = nullptr;
  bool failed() const { return error != 0; }
  // "<step>: <reason>", or the system's reason alone.
  std::string message() const;
};

// Puts the `size` bytes at `data` at `target`, whole or not at all.
// - A device or FIFO there (also at the end of a link) is opened once and
//   written; what was opened is checked, so a regular file is never written
//   in place.
// - Otherwise a new file in the target's folder takes the bytes; it has no
//   name until it is complete (O_TMPFILE, then a link under a scratch name
//   that is renamed over the target at once; where the file system has no
//   O_TMPFILE, or /proc is missing, a named scratch file ".qal3-XXXXXXXX"
//   that a killed process may leave behind). It is made private (0600) and
//   gets, before any byte is written, the owner and group of the file it
//   replaces (as far as the system allows), its access control list, mode
//   and extended attributes, but never its set-user-ID and set-group-ID
//   bits nor its file capabilities; a new name gets the mode that the umask
//   and the folder's default ACL give. It is synced before and the folder
//   after the rename.
// - A file the caller may not write (as a shell redirection would find) is
//   refused. A file with other hard links is replaced under this name only:
//   the other names keep the old bytes.
// - A symbolic link replaced (Links::replace) is judged as the link: its
//   folder must be writable, the file it leads to need not be (it is not
//   written); the new file takes what that file has when it can be opened,
//   else what a new name gets. A link to a folder is refused.
// - A failure to make the new file names the folder it was to be made in.
// Safe to call from any thread; it never changes the umask.
Outcome replace_file(const std::string& target, const char* data, std::size_t size, Links links);

// The checks replace_file makes before it writes, made early (so that a
// command can refuse before it works): the target's folder writable, an
// existing regular file writable, no folder at the target. Advisory only:
// replace_file decides on what it opens.
Outcome check_replaceable(const std::string& target, Links links);

}  // namespace io
}  // namespace qal3

#endif  // QAL3_FILE_REPLACE_H
