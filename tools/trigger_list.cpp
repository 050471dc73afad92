// The trigger list commands' common part.
#include "trigger_list.h"

#include <cstring>

namespace trigger {

bool TriggerList::read(const std::string& arg, std::size_t max_input) {
  cli::Input in;
  return cli::read_input(arg, max_input, in) && read(in);
}

bool TriggerList::read(cli::Input& in) {
  name_ = in.name;
  return cli::parse_input(
      in, "trigger list", [this](char* xml) { return Triggers::read_text(xml, std::strlen(xml), &list_.items, {}); },
      [this](char* path) { return Triggers::read_file(path, &list_.items, {}); });
}

}  // namespace trigger
