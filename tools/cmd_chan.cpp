#include "cli_common.h"

int cmd_chan(int, char**) { return cli::usage_error("chan", "not available in this build"); }
