#include <gtest/gtest.h>

#include "base/general.h"

TEST(Skeleton, NoSystemStateBeforeStartUp) { EXPECT_EQ(g_SystemState, nullptr); }
