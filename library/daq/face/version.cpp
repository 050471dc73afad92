// The version of the library the program runs on.
#include "qal3_version.h"

extern "C" {

int qal3_version(void) { return QAL3_VERSION_NUMBER; }

const char* qal3_version_string(void) { return QAL3_VERSION_STRING; }

}  // extern "C"
