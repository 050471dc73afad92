// The trigger list commands' common part (trigger print, convert, test):
// a trigger list read from a file or standard input, and the names of
// registry slots.
#ifndef QAL3_TRIGGER_LIST_H
#define QAL3_TRIGGER_LIST_H

#include <string>
#include <vector>

#include "cli_commands.h"
#include "cli_input.h"
#include "cli_output.h"
#include "record_fields.h"
#include "user_case_trigger.h"

namespace trigger {

// The trigger list's reader and writer.
using Triggers = qal3::records::Description<qal3_user_case_trigger>;

// A trigger list read from the command line; releases its records.
class TriggerList {
 public:
  // Reads `arg` (a path or "-"); false, with a message, when it fails.
  bool read(const std::string& arg, std::size_t max_input);
  // Parses a document read from the command line; false, with a message,
  // when it fails.
  bool read(cli::Input& in);

  const std::string& name() const { return name_; }
  std::vector<qal3_user_case_trigger*>& records() { return list_.items; }

 private:
  qal3::records::OwnedList<qal3_user_case_trigger> list_;
  std::string name_;
};

// A slot's name ("" for null).
inline std::string slot_name(const char* s) { return s ? s : ""; }

}  // namespace trigger

#endif  // QAL3_TRIGGER_LIST_H
