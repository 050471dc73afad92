// qal3_replace_file (qal3_family.h): the file replacement of the tool's -o
// and the Python writers (file_replace.h), for programs outside the project.
#include <cerrno>
#include <cstring>
#include <string>

#include "file_replace.h"
#include "qal3_family.h"

int qal3_replace_file(const char* path, const char* data, size_t size, char* reason, size_t reason_size) {
  int error = EINVAL;
  std::string why = "no file named";
  if (path && *path && (data || size == 0)) {
    try {
      const qal3::io::Outcome o = qal3::io::replace_file(path, data ? data : "", size, qal3::io::Links::replace);
      error = o.error;
      if (error != 0) why = o.message();
    } catch (...) {
      error = ENOMEM;
      why = "out of memory";
    }
  }
  if (error != 0 && reason && reason_size > 0) {
    const std::size_t n = why.size() < reason_size - 1 ? why.size() : reason_size - 1;
    std::memcpy(reason, why.data(), n);
    reason[n] = '\0';
  }
  return error;
}
