#include "cli_common.h"

int cmd_trigger(int, char**) { return cli::usage_error("trigger", "not available in this build"); }
