#include "user_case_trigger.h"
