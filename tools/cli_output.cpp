#include "cli_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "cli_files.h"
#include "cli_forms.h"

namespace cli {

void file_error(const std::string& where, const std::string& message) {
  flush_stdout();
  std::fprintf(stderr, "qal3: %s: %s\n", one_line(where).c_str(), message.c_str());
}

namespace {

// Reports a failed write to standard output with the system's reason,
// unless the stream had failed before (put and flush_stdout, the only
// writers of standard output, reported that one).
void report_stdout_failure(bool failed_before, int err) {
  if (failed_before || err == EPIPE) return;  // EPIPE: the reader left, no message
  file_error("<stdout>", err ? std::strerror(err) : "write error");
}

}  // namespace

Output::Links links_option(const Args& args) {
  return args.has("follow-symlinks") ? Output::Links::follow : Output::Links::replace;
}

Output::Output(std::string target, Links links) : target_(std::move(target)), links_(links) {
  name_ = to_stdout() ? "<stdout>" : target_;
}

bool Output::open() {
  const qal3::io::Outcome o = to_stdout() ? qal3::io::Outcome{} : qal3::io::check_replaceable(target_, links_);
  if (o.failed()) {
    file_error(name_, o.message());
    return false;
  }
  if (!qal3::io::descriptor_paths()) {
    file_error(name_, qal3::io::kNoDescriptorPaths);
    return false;
  }
  fd_.reset(memory_file("qal3-output"));
  if (!fd_.ok()) {
    file_error(name_, std::strerror(errno));
    return false;
  }
  writer_path_ = path_of(fd_.get());
  return true;
}

bool Output::write(const std::string& data) {
  if (write_all(fd_.get(), data.data(), data.size())) return true;
  file_error(name_, std::strerror(errno));
  return false;
}

bool Output::commit() {
  if (!fd_.ok()) return false;
  std::string text;
  const bool ok = ::lseek(fd_.get(), 0, SEEK_SET) == 0 &&
                  read_bounded(fd_.get(), std::numeric_limits<std::size_t>::max(), text) == ReadResult::kDone;
  const int err = errno;
  fd_.reset(-1);
  if (!ok) {
    file_error(name_, std::strerror(err));
    return false;
  }
  if (to_stdout()) return put(text);
  const qal3::io::Outcome o = qal3::io::replace_file(target_, text.data(), text.size(), links_);
  if (o.failed()) file_error(name_, o.message());
  return !o.failed();
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
