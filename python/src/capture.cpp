#include "capture.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>

namespace qal3py {
namespace {

std::mutex& capture_mutex() {
  static std::mutex m;
  return m;
}

void flush_console() {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(stdout);
  std::fflush(stderr);
}

int anonymous_file() {
  int fd = memfd_create("qal3-messages", MFD_CLOEXEC);
  if (fd >= 0) return fd;
  std::FILE* f = std::tmpfile();  // kernels without memfd_create
  if (!f) return -1;
  fd = fcntl(fileno(f), F_DUPFD_CLOEXEC, 0);
  std::fclose(f);
  return fd;
}

std::string read_all(int fd) {
  std::string text;
  if (lseek(fd, 0, SEEK_SET) != 0) return text;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      text.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  return text;
}

}  // namespace

Capture::Capture() : lock_(capture_mutex()) {
  flush_console();
  sink_ = anonymous_file();
  if (sink_ < 0) return;  // nothing to redirect to: messages stay where they go
  saved_out_ = fcntl(1, F_DUPFD_CLOEXEC, 3);
  saved_err_ = fcntl(2, F_DUPFD_CLOEXEC, 3);
  if (saved_out_ < 0 || saved_err_ < 0 || dup2(sink_, 1) < 0 || dup2(sink_, 2) < 0) {
    restore();
    return;
  }
  active_ = true;
}

Capture::~Capture() {
  restore();
  if (sink_ >= 0) close(sink_);
}

void Capture::restore() {
  flush_console();
  if (saved_out_ >= 0) {
    dup2(saved_out_, 1);
    close(saved_out_);
    saved_out_ = -1;
  }
  if (saved_err_ >= 0) {
    dup2(saved_err_, 2);
    close(saved_err_);
    saved_err_ = -1;
  }
}

std::string Capture::finish() {
  if (!active_) return {};
  active_ = false;
  restore();
  std::string text = read_all(sink_);
  close(sink_);
  sink_ = -1;
  if (lock_.owns_lock()) lock_.unlock();
  return text;
}

}  // namespace qal3py
