// Shared pieces of the fuzz targets.
#ifndef QAL3_FUZZ_COMMON_H
#define QAL3_FUZZ_COMMON_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <xercesc/util/PlatformUtils.hpp>

namespace fuzz {

// The input as a NUL-terminated document (the readers take C strings).
inline std::string text(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size).c_str();
}

// Holds one Xerces platform reference for the harness's life. (Run the
// fuzzers with -close_fd_mask=3 to silence the libraries' messages.)
inline void init() { xercesc::XMLPlatformUtils::Initialize(); }

// A scratch file holding the input, removed on destruction.
class ScratchFile {
 public:
  ScratchFile(const uint8_t* data, size_t size) {
    char tmpl[] = "/tmp/qal3-fuzz-XXXXXX";
    const int fd = mkstemp(tmpl);
    if (fd < 0) std::abort();
    path_ = tmpl;
    size_t done = 0;
    while (done < size) {
      const ssize_t n = write(fd, data + done, size - done);
      if (n <= 0) std::abort();
      done += static_cast<size_t>(n);
    }
    close(fd);
  }
  ~ScratchFile() { unlink(path_.c_str()); }
  char* path() { return &path_[0]; }

 private:
  std::string path_;
};

// `text` as a written XML 1.0 document carries it: control characters other
// than tab, newline and carriage return (which only an XML 1.1 input can
// hold) become '?'.
inline std::string as_written(const char* text) {
  std::string out(text);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') c = '?';
  return out;
}

// `text` as a written element text reads back: as as_written(), and empty
// when it is made only of blanks (space, tab, newline), which the parser
// reports as no text at all. (A text cut at a field's size can be such.)
inline std::string carried(const char* text) {
  std::string out = as_written(text);
  if (out.find_first_not_of(" \t\n") == std::string::npos) out.clear();
  return out;
}

// The first bytes of `text` that a field of `cap` bytes keeps: all when they
// fit, else cap - 1 bytes without the start of a cut UTF-8 character.
inline std::string fitted(const std::string& text, size_t cap) {
  if (text.size() < cap) return text;
  size_t n = cap - 1;
  for (int back = 0; back < 3 && n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80; ++back) --n;
  return text.substr(0, n);
}

}  // namespace fuzz

#endif  // QAL3_FUZZ_COMMON_H
