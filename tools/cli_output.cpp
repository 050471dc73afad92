#include "cli_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "cli_files.h"

namespace cli {

void file_error(const std::string& where, const std::string& message) {
  flush_stdout();
  std::fprintf(stderr, "qal3: %s: %s\n", where.c_str(), message.c_str());
}

namespace {

// The scratch files being written, for the signal handler: each path is
// set (with the signals blocked) before its file exists and cleared after
// the file is renamed or removed, so that the handler only has to unlink.
constexpr int kScratchSlots = 4;
struct ScratchSlot {
  volatile std::sig_atomic_t used;
  char path[PATH_MAX];
};
ScratchSlot g_scratch[kScratchSlots];

const int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void remove_scratch_and_end(int sig) {
  for (ScratchSlot& s : g_scratch)
    if (s.used) ::unlink(s.path);
  ::signal(sig, SIG_DFL);
  ::raise(sig);  // delivered, with the default action, when the handler returns
}

// While alive, SIGINT, SIGTERM and SIGHUP wait.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kCleanupSignals) sigaddset(&set, sig);
    ::sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
  ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }

 private:
  sigset_t saved_;
};

// Creates a scratch file from the template `tmpl` (mkstemp) and enters it
// for the signal handler. The descriptor, or -1 (errno set); `slot` is its
// entry.
int make_scratch(const std::string& tmpl, int& slot) {
  const SignalsHeld held;
  for (int i = 0; i < kScratchSlots; ++i) {
    ScratchSlot& s = g_scratch[i];
    if (s.used) continue;
    if (tmpl.size() >= sizeof s.path) {
      errno = ENAMETOOLONG;
      return -1;
    }
    std::memcpy(s.path, tmpl.c_str(), tmpl.size() + 1);
    const int fd = ::mkostemp(s.path, O_CLOEXEC);
    if (fd < 0) return -1;
    s.used = 1;
    slot = i;
    return fd;
  }
  errno = EMFILE;
  return -1;
}

// Renames the scratch file of `slot` to `to` (or, with `to` null, removes
// it) and takes it off the handler's list; false (errno set) when the
// rename fails, and the file is then still there.
bool settle_scratch(int& slot, const char* to) {
  if (slot < 0) return true;
  const SignalsHeld held;
  ScratchSlot& s = g_scratch[slot];
  if (to && ::rename(s.path, to) != 0) return false;
  if (!to) ::unlink(s.path);
  s.used = 0;
  slot = -1;
  return true;
}

// The folder part of `path` ("" for the current folder) and the rest.
std::pair<std::string, std::string> split_path(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {"", path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// The file that `path` leads to through its symbolic links (each one read
// relative to its own folder); `path` itself when it is no link or does not
// exist. False (errno set) when the links do not end.
bool follow_links(const std::string& path, std::string& out) {
  out = path;
  for (int hops = 0; hops < 40; ++hops) {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(out.c_str(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINVAL || errno == ENOENT) return true;  // no link: the end
      return false;
    }
    if (static_cast<std::size_t>(n) >= sizeof buf) {
      errno = ENAMETOOLONG;
      return false;
    }
    const std::string link(buf, static_cast<std::size_t>(n));
    out = link[0] == '/' ? link : split_path(out).first + link;
  }
  errno = ELOOP;
  return false;
}

// Syncs the folder `dir` ("" the current one), so that a rename in it lasts.
// File systems that cannot sync a folder are not a failure.
bool sync_folder(const std::string& dir) {
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
  const int err = errno;
  ::close(fd);
  errno = err;
  return ok;
}

// Closes `fd`: `ok` unless the close fails, errno telling the first
// failure.
bool closed(int fd, bool ok) {
  const int err = errno;
  if (::close(fd) != 0 && ok) return false;
  errno = err;
  return ok;
}

// Gives the file `fd` the owner and group of `st` where the system allows
// (as root), else the group alone where the user may give it.
void keep_owner(int fd, const struct stat& st) {
  if (::fchown(fd, st.st_uid, st.st_gid) == 0) return;
  const int ignored = ::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
  static_cast<void>(ignored);
}

// True when `path` exists and is neither a regular file nor a folder (a
// device, a FIFO, a socket), through its links: such a file is written to,
// never replaced.
bool written_through(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

// Writes `text` to the existing non-regular file `path` (a device or a
// FIFO), as a shell redirection would. False (errno set) on failure.
bool write_through(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  return closed(fd, write_all(fd, text.data(), text.size()));
}

// Reports a failed write to standard output with the system's reason,
// unless the stream had failed before (put and flush_stdout, the only
// writers of standard output, reported that one).
void report_stdout_failure(bool failed_before, int err) {
  if (failed_before || err == EPIPE) return;  // EPIPE: the reader left, no message
  file_error("<stdout>", err ? std::strerror(err) : "write error");
}

}  // namespace

void remove_scratch_on_signals() {
  for (int sig : kCleanupSignals) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction sa {};
    sa.sa_handler = remove_scratch_and_end;
    sigemptyset(&sa.sa_mask);
    for (int other : kCleanupSignals) sigaddset(&sa.sa_mask, other);
    ::sigaction(sig, &sa, nullptr);
  }
}

Output::Links links_option(const Args& args) {
  return args.has("follow-symlinks") ? Output::Links::follow : Output::Links::replace;
}

Output::Output(std::string target, Links links) : target_(std::move(target)), links_(links) {
  name_ = target_.empty() || target_ == "-" ? "<stdout>" : target_;
}

Output::~Output() { discard(); }

void Output::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  settle_scratch(slot_, nullptr);
}

bool Output::open() {
  through_ = name_ != "<stdout>" && written_through(target_);
  if (name_ == "<stdout>" || through_) {
    fd_ = memory_file("qal3-output");
  } else if (links_ == Links::replace || follow_links(target_, destination_)) {
    if (links_ == Links::replace) destination_ = target_;
    const auto parts = split_path(destination_);
    fd_ = make_scratch(parts.first + "." + parts.second + ".XXXXXX", slot_);
  }
  if (fd_ < 0) {
    file_error(name_, std::strerror(errno));
    return false;
  }
  writer_path_ = path_of(fd_);
  return true;
}

bool Output::write(const std::string& data) {
  if (write_all(fd_, data.data(), data.size())) return true;
  file_error(name_, std::strerror(errno));
  return false;
}

// Gives the scratch file the owner, group and mode of the file it replaces
// (the usual mode for a new file), syncs and closes it, renames it over the
// destination and syncs the folder. False (errno set) on failure.
bool Output::place() {
  struct stat st {};
  mode_t mode;
  if (::stat(destination_.c_str(), &st) == 0) {
    keep_owner(fd_, st);  // first: a change of owner clears set-id bits
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  const bool ok = closed(fd_, ::fchmod(fd_, mode) == 0 && ::fsync(fd_) == 0);
  fd_ = -1;
  return ok && settle_scratch(slot_, destination_.c_str()) && sync_folder(split_path(destination_).first);
}

bool Output::commit() {
  if (fd_ < 0) return false;
  if (name_ == "<stdout>" || through_) {
    // The whole result is staged in memory and goes out once complete.
    std::string text;
    const bool ok = ::lseek(fd_, 0, SEEK_SET) == 0 &&
                    read_bounded(fd_, std::numeric_limits<std::size_t>::max() - 1, text) == ReadResult::kDone;
    const int err = errno;
    discard();
    if (!ok) {
      file_error(name_, std::strerror(err));
      return false;
    }
    if (!through_) return put(text);
    if (write_through(target_, text)) return true;
    file_error(name_, std::strerror(errno));
    return false;
  }
  if (!place()) {
    file_error(name_, std::strerror(errno));
    discard();
    return false;
  }
  return true;
}

void flush_stdout() {
  const bool failed_before = std::ferror(stdout) != 0;
  errno = 0;
  if (std::fflush(stdout) != 0) report_stdout_failure(failed_before, errno);
}

bool put(const std::string& text) {
  const bool failed_before = std::ferror(stdout) != 0;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size()) return true;
  report_stdout_failure(failed_before, errno);
  return false;
}

int finish_stdout(int status) {
  const bool failed_before = std::ferror(stdout) != 0;
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  report_stdout_failure(failed_before, errno);
  return status == kOk ? kBadDocument : status;
}

}  // namespace cli
