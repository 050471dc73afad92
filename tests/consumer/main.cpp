// An outside program built against the installed QAL3 package.
#include <cstdio>
#include <vector>

#include "parse_ev_list.h"
#include "user_case_trigger.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::vector<qal3_ev_entry*> list;
  const int rc = qal3_parse_ev_list_readf(argv[1], &list);
  std::printf("result %d, entries %zu\n", rc, list.size());
  const bool ok = rc == 0 && !list.empty();
  qal3_clean_ev_list(&list);
  return ok ? 0 : 1;
}
