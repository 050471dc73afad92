#include <gtest/gtest.h>
#include "SAX_Memory_Parser.h"
TEST(Smoke, Builds) { SUCCEED(); }
