#include <gtest/gtest.h>
#include "common/messages.h"
TEST(Placeholder, Runs) { EXPECT_TRUE(IsBlank(' ')); }
