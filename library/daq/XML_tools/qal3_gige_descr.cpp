#include "qal3_gige_descr.h"
