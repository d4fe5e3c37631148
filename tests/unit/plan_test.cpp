#include "cleave.h"
#include <gtest/gtest.h>
TEST(X, Y) { EXPECT_EQ(ParseSplitSize("12abc"), 12); }
