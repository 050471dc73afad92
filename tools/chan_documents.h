// The channel description commands' common part (chan print, convert,
// listing, names, merge, select): their options, and documents read into
// one list or written from it.
#ifndef QAL3_CHAN_DOCUMENTS_H
#define QAL3_CHAN_DOCUMENTS_H

#include <string>
#include <vector>

#include "cli_common.h"
#include "parse_chan_descr.h"
#include "record_fields.h"

namespace chan_docs {

// Options shared by the commands that read documents and write one.
struct Options {
  bool shift = false;
  bool strict = false;  // findings of the documents are fatal
  bool format_given = false;
  int format = 0;  // 0 CHANDESCRIPTIONS, 1 DAQvariables
  bool json = false;
  bool quiet = false;
  cli::Output::Links links = cli::Output::Links::replace;
  std::size_t max_input = cli::kDefaultMaxInput;
  std::string out;
  std::vector<std::string> files;
};

// The descriptions read by a command, released on every path.
struct List : qal3::records::OwnedList<chan_descr_2010> {
  std::vector<chan_descr_2010*>* get() { return &items; }
};

// Parses the options of `chan <sub>` (print/convert/listing/names/merge).
// Returns -1 to go on, else the exit status (help shown or usage error).
int parse_options(const char* sub, int argc, char** argv, Options& o);

// Parses a channel description document read from the command line with
// `memory(text)` or `file(path)`: a named file with the file reader's
// rules, whose details differ, as it always has; standard input with the
// memory reader. False (message printed) when it fails.
template <class Memory, class File>
bool parse_descriptions(cli::Input& in, Memory&& memory, File&& file) {
  static const char kWhat[] = "channel descriptions";
  return in.from_stdin ? cli::parse_input(in, kWhat, memory, file) : cli::parse_input(in, kWhat, file);
}

// Parses one document read from the command line into *list.
bool parse_document(cli::Input& in, std::vector<chan_descr_2010*>* list, bool shift, bool merge);

// How documents are combined into one list: appended as read, or merged
// by property name.
enum class Combine { append, merge };
// Whether the findings of each document (what a conversion would drop or
// change) are reported before it is read.
enum class Findings { silent, warn };

// Reads the documents into one list and writes it (mode 2 XML in o.format,
// 1 listing, 3 names table) to o.out or standard output, whole or not at
// all. The output is made first, so that a folder it cannot be made in
// shows before any reading.
int convert_documents(const Options& o, Combine combine, Findings findings, int mode = 2);

}  // namespace chan_docs

#endif  // QAL3_CHAN_DOCUMENTS_H
