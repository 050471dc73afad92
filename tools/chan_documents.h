// The channel description commands' common part (chan print, convert,
// listing, names, merge, select): their options, and documents read into
// one list or written from it.
#ifndef QAL3_CHAN_DOCUMENTS_H
#define QAL3_CHAN_DOCUMENTS_H

#include <string>
#include <vector>

#include "cli_commands.h"
#include "cli_input.h"
#include "cli_output.h"
#include "parse_chan_descr.h"
#include "record_fields.h"

namespace chan_docs {

// The command line of a chan command that reads documents, with the format
// --to names.
struct Options : cli::Args {
  int format = 0;           // 0 CHANDESCRIPTIONS, 1 DAQvariables
  bool json_input = false;  // --from json: the documents are the tool's JSON of channels
};

// The descriptions read by a command, released on every path.
using List = qal3::records::OwnedList<chan_descr_2010>;

// Parses the options of a chan command that reads documents. Returns -1 to
// go on, else the exit status (help shown or usage error).
int parse_options(const cli::CommandInfo& command_info, int argc, char** argv, Options& o);

// Parses a channel description document read from the command line with
// `memory` (its text) or `file` (a path): a named file with the file
// reader's rules, whose details differ; standard input with the memory
// reader. False (message printed) when it fails.
bool parse_descriptions(cli::Input& in, const cli::Reader& memory, const cli::Reader& file);

// Parses one document read from the command line into *list.
bool parse_document(cli::Input& in, std::vector<chan_descr_2010*>* list, bool shift, bool merge);

// How documents are combined into one list: appended as read, or merged
// by property name.
enum class Combine { append, merge };
// What is said of each document: the reader's notes alone (texts it cut,
// records it dropped or merged), or check's findings, reported before it is
// read (what a conversion would drop or change).
enum class Findings { cuts, warn };
// What is written: the writer's modes.
enum class Form : int { listing = 1, xml = 2, names = 3 };

// What one of the commands that read documents into one list and write it
// does (cmd_chan_write runs it).
struct Writing {
  Combine combine;
  Findings findings;
  Form form;
  bool format_required;  // --to FORMAT must be given
};

}  // namespace chan_docs

#endif  // QAL3_CHAN_DOCUMENTS_H
