// Trigger records and trigger list XML.
#include "user_case_trigger.h"
