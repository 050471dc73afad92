#include "cli_common.h"

int cmd_gige(int, char**) { return cli::usage_error("gige", "not available in this build"); }
