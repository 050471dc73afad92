#include "cli_common.h"

int cmd_envdict(int, char**) { return cli::usage_error("envdict", "not available in this build"); }
