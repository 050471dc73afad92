#include "cli_input.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli_files.h"
#include "cli_forms.h"
#include "cli_messages.h"
#include "cli_output.h"

namespace cli {

namespace {

// A size as a person reads it: "256 MiB", "10 KiB", "1000 bytes".
std::string size_text(std::size_t bytes) {
  static const struct {
    unsigned shift;
    const char* unit;
  } kUnits[] = {{30, " GiB"}, {20, " MiB"}, {10, " KiB"}};
  for (const auto& u : kUnits)
    if (bytes >> u.shift && (bytes & ((std::size_t{1} << u.shift) - 1)) == 0)
      return std::to_string(bytes >> u.shift) + u.unit;
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

// Line and column (1-based, in bytes) of byte `offset` of `text`.
struct Position {
  long long line;
  long long column;
};

Position position_of(const std::string& text, std::size_t offset) {
  offset = std::min(offset, text.size());
  const auto end = text.begin() + static_cast<std::ptrdiff_t>(offset);
  const std::size_t line_start = offset == 0 ? std::string::npos : text.rfind('\n', offset - 1);
  return {1 + std::count(text.begin(), end, '\n'),
          static_cast<long long>(line_start == std::string::npos ? offset + 1 : offset - line_start)};
}

// The offset of the first '<' from `p` on that opens neither a processing
// instruction nor a comment; npos when there is none.
std::size_t next_markup(const std::string& xml, std::size_t p) {
  for (;; ++p) {
    p = xml.find('<', p);
    if (p == std::string::npos) return p;
    if (xml.compare(p, 2, "<?") == 0)
      p = xml.find("?>", p);
    else if (xml.compare(p, 4, "<!--") == 0)
      p = xml.find("-->", p);
    else
      return p;
    if (p == std::string::npos) return p;
  }
}

// Where the text starts, after a UTF-8 byte order mark.
std::size_t text_start(const std::string& xml) { return xml.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0; }

// Runs the path reader `file` on the bytes of `in` in an anonymous memory
// file (no file in any folder), sealed against change: its path
// /proc/self/fd/N names exactly the bytes the tool read.
bool read_as_file(const Input& in, const Reader& file) {
  const qal3::io::MemoryDocument doc(in.text.data(), in.text.size());
  if (!doc.ok()) {
    const int err = errno;
    file_error(in.name, std::string("cannot be handed to the reader: ") +
                            (qal3::io::descriptor_paths() ? std::strerror(err) : qal3::io::kNoDescriptorPaths));
    return false;
  }
  std::string path = doc.path();
  const MessageScope scope(in.name, path, &in.text);
  return file(&path[0]) == 0;
}

// `ok`, with "NAME: <what> not read" printed when false.
bool reported(const Input& in, const char* what, bool ok) {
  if (!ok) file_error(in.name, std::string(what) + " not read");
  return ok;
}

}  // namespace

std::string too_large(std::size_t limit) {
  return "larger than the input limit of " + size_text(limit) + " (--max-input-size changes it)";
}

bool read_input(const std::string& arg, std::size_t limit, Input& in) {
  in.from_stdin = arg == "-";
  in.name = in.from_stdin ? "<stdin>" : arg;
  const qal3::io::Descriptor file(in.from_stdin ? -1 : ::open(arg.c_str(), O_RDONLY | O_CLOEXEC));
  const int fd = in.from_stdin ? STDIN_FILENO : file.get();
  in.error.clear();
  const ReadResult result = fd < 0 ? ReadResult::kFailed : read_bounded(fd, limit, in.text);
  if (result == ReadResult::kDone) return true;
  in.error = result == ReadResult::kTooLarge ? too_large(limit) : std::strerror(errno);
  in.text = std::string();
  file_error(in.name, in.error);
  return false;
}

Root root_of(const Input& in) {
  qal3_root_element found;
  Root root;
  root.family = qal3_family_of_text(in.text.data(), in.text.size(), &found);
  root.name = found.name;
  root.line = found.line;
  root.column = found.column;
  return root;
}

void root_error(const Input& in, const Root& root, const std::string& message) {
  if (root.line == 0) return document_error(in, 0, message);
  if (in.text.find('\0') != std::string::npos) {
    flush_stdout();
    std::fprintf(stderr, "%s:%lld:%lld: %s\n", one_line(in.name).c_str(), root.line, root.column,
                 printable(message).c_str());
    return;
  }
  // The tag's end as a byte offset (lines end at line feeds, a character is
  // a UTF-8 lead byte with its continuation bytes), then its '<': no '<'
  // stands inside a start tag.
  std::size_t p = text_start(in.text);
  for (long long line = 1; line < root.line && p != std::string::npos; ++line) {
    p = in.text.find('\n', p);
    if (p != std::string::npos) ++p;
  }
  if (p == std::string::npos) return document_error(in, 0, message);
  const auto continuation = [&](std::size_t i) { return (static_cast<unsigned char>(in.text[i]) & 0xC0u) == 0x80u; };
  for (long long column = 1; column < root.column && p < in.text.size(); ++column)
    for (++p; p < in.text.size() && continuation(p); ++p) {
    }
  const std::size_t lt = p == 0 ? std::string::npos : in.text.rfind('<', p - 1);
  document_error(in, lt == std::string::npos ? 0 : lt, message);
}

Doctype doctype_of(const std::string& xml) {
  Doctype d;
  const std::size_t p = next_markup(xml, text_start(xml));
  if (p == std::string::npos || xml.compare(p, 9, "<!DOCTYPE") != 0) return d;
  d.found = true;
  const Position at = position_of(xml, p);
  d.line = at.line;
  d.column = at.column;
  // After the keyword and the root's name: SYSTEM or PUBLIC, or the subset.
  std::size_t q = xml.find_first_of(" \t\r\n", p);
  q = q == std::string::npos ? q : xml.find_first_not_of(" \t\r\n", q);
  q = q == std::string::npos ? q : xml.find_first_of(" \t\r\n[>", q);
  q = q == std::string::npos ? q : xml.find_first_not_of(" \t\r\n", q);
  d.external = q != std::string::npos && (xml.compare(q, 6, "SYSTEM") == 0 || xml.compare(q, 6, "PUBLIC") == 0);
  return d;
}

void document_error(const Input& in, std::size_t offset, const std::string& message) {
  const Position at = position_of(in.text, offset);
  flush_stdout();
  std::fprintf(stderr, "%s:%lld:%lld: %s\n", one_line(in.name).c_str(), at.line, at.column, printable(message).c_str());
}

bool parse_input(Input& in, const char* what, const Reader& memory, const Reader& file) {
  if (in.text.find('\0') != std::string::npos) return reported(in, what, read_as_file(in, file));
  const bool ok = [&] {
    const MessageScope scope(in.name, "", &in.text);
    return memory(&in.text[0]) == 0;
  }();
  return reported(in, what, ok);
}

bool parse_input(Input& in, const char* what, const Reader& file) { return reported(in, what, read_as_file(in, file)); }

}  // namespace cli
