// The documents named on the command line: each read once, whole and
// bounded, and handed to the library's readers with their messages shown
// under the name the user gave.
#ifndef QAL3_CLI_INPUT_H
#define QAL3_CLI_INPUT_H

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "qal3_family.h"
#include "record_fields.h"

namespace cli {

// A document named on the command line: a path, or "-" for standard input.
struct Input {
  std::string name;  // as shown in messages: the path, or "<stdin>"
  bool from_stdin = false;
  std::string text;   // the whole document, as read once
  std::string error;  // why it could not be read ("" when it was)
};

// Why an input larger than `limit` bytes is not read.
std::string too_large(std::size_t limit);

// Reads the whole of `arg` (a path or "-"), once, through one descriptor:
// files, pipes, FIFOs and terminals alike. More than `limit` bytes (a
// regular file larger than that, or a stream that goes past it) is refused
// as soon as it shows. False, with a message naming the file and the
// system's reason ("No such file or directory", "Is a directory") or the
// limit, when that fails.
bool read_input(const std::string& arg, std::size_t limit, Input& in);

// The root element of a document and the family it names, as the library
// finds them (qal3_family.h): QAL3_FAMILY_UNKNOWN, with an empty name when
// no root element could be read.
struct Root {
  qal3_family family = QAL3_FAMILY_UNKNOWN;
  std::string name;
  long long line = 0;    // where the root's start tag ends, as the library counts
  long long column = 0;  // (0 when no root was read)
};
Root root_of(const Input& in);

// document_error at the '<' of the root's start tag (a document in an
// encoding with NUL bytes: where the library saw the tag end; no root: the
// start of the document).
void root_error(const Input& in, const Root& root, const std::string& message);

// Prints "NAME:LINE:COLUMN: message" on standard error, the position being
// byte `offset` of the input's text.
void document_error(const Input& in, std::size_t offset, const std::string& message);

// Where a document's DOCTYPE is (line and column from 1; found false when
// it has none), and whether it names declarations outside the document.
struct Doctype {
  bool found = false;
  long long line = 0;
  long long column = 0;
  bool external = false;  // a SYSTEM or PUBLIC identifier
};
Doctype doctype_of(const std::string& xml);

// A library reader: given the document's NUL-terminated text or a path to
// its bytes, it succeeds by returning 0 (or false).
using Reader = std::function<long(char*)>;

// Parses the document of `in` with the memory reader `memory` on its text,
// under the input's name in the library's messages. The memory readers take
// NUL-terminated text, so a document holding a NUL byte (UTF-16, or no text
// at all) goes to the path reader `file` instead, which reads the very same
// bytes from an anonymous memory file sealed against change
// (/proc/self/fd/N). The second form takes the path reader alone. When the
// reader fails, or the document cannot be handed to it, "NAME: <what> not
// read" is printed and false returned.
bool parse_input(Input& in, const char* what, const Reader& memory, const Reader& file);
bool parse_input(Input& in, const char* what, const Reader& file);

// parse_input with the readers of the family of R (its record description)
// into `list`, under `what` (the family's document name when null). `by_path`:
// a named file goes to the path reader, whose details differ; standard
// input still goes to the memory reader.
template <class R>
bool read_records(Input& in, std::vector<R*>* list, const qal3::records::Options& options = {}, bool by_path = false,
                  const char* what = nullptr) {
  using D = qal3::records::Description<R>;
  const Reader file = [&](char* path) { return D::read_file(path, list, options); };
  if (!what) what = D::document;
  if (by_path && !in.from_stdin) return parse_input(in, what, file);
  return parse_input(
      in, what, [&](char* xml) { return D::read_text(xml, std::strlen(xml), list, options); }, file);
}

}  // namespace cli

#endif  // QAL3_CLI_INPUT_H
