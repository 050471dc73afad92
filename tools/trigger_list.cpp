// The trigger list commands' common part.
#include "trigger_list.h"

namespace trigger {

bool TriggerList::read(const std::string& arg, std::size_t max_input) {
  cli::Input in;
  return cli::read_input(arg, max_input, in) && read(in);
}

bool TriggerList::read(cli::Input& in) {
  name_ = in.name;
  return cli::read_records(in, &list_.items);
}

}  // namespace trigger
