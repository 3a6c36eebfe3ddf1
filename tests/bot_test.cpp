#include "bot/bot.h"
#include <gtest/gtest.h>
TEST(Bot, Placeholder) { EXPECT_EQ(kivf::indexb("abc  "), 3); }
