#include <gtest/gtest.h>

#include "io/config.hpp"

TEST(Config, Placeholder) { EXPECT_EQ(lumaweave::DefaultPalettes{}.msx1[47], 7); }
