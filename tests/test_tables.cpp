// The tables the block fitting consults.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/conversion_fixture.hpp"

using namespace lumaweave;

// Luminances 0 (colours 0, 1), 15207 (2), 18807 (3), 18200 (14), 25500 (15). Excluded: darkest
// below darker than brightest above, or with "Optimizat" a smaller sum below; never U over U.
TEST(ExclusionTable, LumiSortRules) {
    // Optimizat, upper pair, lower pair, excluded.
    const int cases[][4] = {{0, 0x2E, 0x1F, 1}, {0, 0x01, 0x1F, 0}, {0, 0x3E, 0x2F, 1},
                            {0, 0x2E, 0x3F, 0}, {1, 0x2E, 0x1F, 1}, {1, 0x3E, 0x2F, 0},
                            {1, 0x01, 0x1F, 0}, {1, 0x1F, 0x01, 1}};
    for (const auto& c : cases) {
        auto conv = test::flat_conversion(16, 16, {60, 90, 120}, {.optimization = c[0]});
        setup_palette(*conv, DefaultPalettes{}.msx1, std::nullopt);
        build_distance_tables(*conv);
        build_fitting_tables(*conv);
        EXPECT_EQ(conv->excluded[c[1] * 256 + c[2]], c[3]) << std::hex << c[1] << " over " << c[2];
        for (int u = 0; u < 256; ++u)
            ASSERT_EQ(conv->excluded[u * 257], 0) << u;
        conv->settings.lumi_sort = 0;  // built again in the same object
        build_fitting_tables(*conv);
        EXPECT_EQ(std::count(conv->excluded.begin(), conv->excluded.end(), 0), 65536);
    }
}
