#include "parse_env_index_dictionary.h"
