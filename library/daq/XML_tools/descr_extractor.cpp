#include "descr_extractor.h"
