#include "chan_selector.h"
