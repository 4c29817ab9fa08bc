// The block fitting pass and the evaluation of one candidate: the pixel fit and the error
// passed inside a column or cell, the choice between the two orders, the inversion limit and
// its rejection value, the dominant channel, the candidate lists and their move to front, and
// the two-colour ordering; then whole pictures whose answer follows from these rules.
//
// Every whole picture is fitted by the fast search and by the straightforward one that walks the
// lists entry by entry; both must write the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "convert/candidates.hpp"
#include "convert/fitting.hpp"
#include "support/fitting_fixture.hpp"

using namespace lumaweave;
using test::BlockBytes;
using test::Color;
using test::msx1;

namespace {

Color grey(int v) {
    const auto c = static_cast<std::uint8_t>(v);
    return {c, c, c};
}

// One 8x2 block (the whole picture) with the MSX1 palette and every fitting table.
std::unique_ptr<Conversion> one_block(
    const std::function<Color(int, int)>& color, const ConversionSettings& s,
    std::function<std::int32_t(int, int)> weight = [](int, int) { return 1; },
    std::function<std::int32_t(int, int)> scale = [](int, int) { return 255; }) {
    test::PreparedPicture p;
    p.width = 8;
    p.height = 2;
    p.color = color;
    p.settings = s;
    p.weight = std::move(weight);
    p.error_scale = std::move(scale);
    return p.build();
}

// A block whose rows show the given colour numbers of the MSX1 palette, column 0 first.
std::unique_ptr<Conversion> block_of_colours(const std::array<int, 8>& upper,
                                             const std::array<int, 8>& lower,
                                             const ConversionSettings& s) {
    return one_block([upper, lower](int x, int y) { return msx1[y == 0 ? upper[x] : lower[x]]; },
                     s);
}

// Evaluates one candidate of the block at (0, 0) with its row bounds filled, as the pass does.
Evaluation evaluate(Conversion& conv, FitMode mode, std::uint8_t upper, std::uint8_t lower,
                    std::int64_t best = no_best_error) {
    reset_row_bounds(conv);
    compute_row_bounds(conv, mode, 0, 0, false, upper);
    compute_row_bounds(conv, mode, 0, 0, true, lower);
    const FitContext ctx(conv, mode);
    return mode == FitMode::column ? evaluate_columns(ctx, 0, 0, upper, lower, best, Pruning::full)
                                   : evaluate_cells(ctx, 0, 0, upper, lower, best);
}

ConversionSettings plain_brightness() {
    ConversionSettings s;
    s.brightness = 0;  // distance of a grey g to a grey c: 3 (g - c)^2
    s.sp = 0;
    return s;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Pixel fit and the error passed within a column

// Grey 100 above grey 100, pair (1, 14) = black / grey 182 on both rows, distances 3 d^2,
// upper weight 2, lower weight 3. Upper first: the upper pixel takes 14 (20172 < 30000), cost
// 40344, and passes -82: the lower pixel at 18 takes black, 972 x 3 = 2916; 43260 in all.
// Lower first: 14 below (60516), black above at 18 (1944): 62460. Upper first is smaller.
TEST(ColumnMode, ReceivingPixelGetsTheWholeErrorAtItsOwnWeight) {
    auto conv = one_block([](int, int) { return grey(100); }, plain_brightness(),
                          [](int, int y) { return y == 0 ? 2 : 3; });
    const Evaluation e = evaluate(*conv, FitMode::column, 0x1E, 0x1E);
    EXPECT_EQ(e.error, 8 * 43260);
    EXPECT_EQ(e.upper_pattern, 0x00);  // 14 is the background
    EXPECT_EQ(e.lower_pattern, 0xFF);
}

// With "Sp" the passed error is (e x F) >> 8 with F of the pixel that passes it, rounded towards
// minus infinity: -82 x 192 >> 8 = -62 (lower at 38: 3 x 1444 = 4332, x 3 = 12996, so 53340 per
// column); -82 x 255 >> 8 = -82 (not -81), as without "Sp".
TEST(ColumnMode, SpScalesThePassedErrorBySourcePixel) {
    ConversionSettings s = plain_brightness();
    s.sp = 1;
    auto weight = [](int, int y) { return y == 0 ? 2 : 3; };
    auto scaled =
        one_block([](int, int) { return grey(100); }, s, weight, [](int, int) { return 192; });
    EXPECT_EQ(evaluate(*scaled, FitMode::column, 0x1E, 0x1E).error, 8 * 53340);

    auto full =
        one_block([](int, int) { return grey(100); }, s, weight, [](int, int) { return 255; });
    EXPECT_EQ(evaluate(*full, FitMode::column, 0x1E, 0x1E).error, 8 * 43260);

    // The upper pixel passes with its own 255: the 192 of the receiving pixel does not count.
    auto receiver_low = one_block([](int, int) { return grey(100); }, s, weight,
                                  [](int, int y) { return y == 0 ? 255 : 192; });
    EXPECT_EQ(evaluate(*receiver_low, FitMode::column, 0x1E, 0x1E).error, 8 * 43260);
}

// Black above black, pair (14, 15) on both rows: the first pixel takes 14 (182) and passes
// -182; the receiving value is held at -96 ("Brightness" "No": 3 x 278^2 = 231852) or -48
// ("Yes": 7 x 230^2 = 370300). Both orders cost the same; both pixels take 14, the foreground.
TEST(ColumnMode, ReceivingValueIsClamped) {
    auto no = one_block([](int, int) { return grey(0); }, plain_brightness());
    const Evaluation e = evaluate(*no, FitMode::column, 0xEF, 0xEF);
    EXPECT_EQ(e.error, 8 * (3 * 182 * 182 + 231852));
    EXPECT_EQ(e.upper_pattern, 0xFF);
    EXPECT_EQ(e.lower_pattern, 0xFF);

    ConversionSettings s;
    s.sp = 0;
    auto yes = one_block([](int, int) { return grey(0); }, s);
    EXPECT_EQ(evaluate(*yes, FitMode::column, 0xEF, 0xEF).error, 8 * (7 * 182 * 182 + 370300));
}

// A pixel as far from both colours takes the background: black with the pair (0, 1).
TEST(ColumnMode, EqualDistancesTakeTheBackground) {
    ConversionSettings s;
    s.color_no0 = 1;
    auto conv = one_block([](int, int) { return grey(0); }, s);
    const Evaluation e = evaluate(*conv, FitMode::column, 0x01, 0x01);
    EXPECT_EQ(e.error, 0);
    EXPECT_EQ(e.upper_pattern, 0x00);
    EXPECT_EQ(e.lower_pattern, 0x00);
}

// ---------------------------------------------------------------------------------------------
// Choice between the two orders

// Grey 128 on both rows with black / white on both rows, distances 3 d^2: the first pixel takes
// white (48387 < 49152) and passes -127, the other takes black at 1 (3). Both orders cost 48390;
// the lower-first order wins the tie: black above, white below.
TEST(OrderChoice, EqualErrorTakesTheLowerFirstOrderInColumns) {
    auto conv = one_block([](int, int) { return grey(128); }, plain_brightness());
    const Evaluation e = evaluate(*conv, FitMode::column, 0x1F, 0x1F);
    EXPECT_EQ(e.error, 8 * 48390);
    EXPECT_EQ(e.upper_pattern, 0xFF);  // black, the foreground of (1, 15)
    EXPECT_EQ(e.lower_pattern, 0x00);
}

// Grey 140 above 120: upper first costs 39675 (white) + 75 (black at 5) = 39750, lower first
// 43200 (black) + 75 (white at 260) = 43275; the strictly smaller upper-first order is taken.
TEST(OrderChoice, StrictlySmallerUpperFirstOrderIsTaken) {
    auto conv = one_block([](int, int y) { return grey(y == 0 ? 140 : 120); }, plain_brightness());
    const Evaluation e = evaluate(*conv, FitMode::column, 0x1F, 0x1F);
    EXPECT_EQ(e.error, 8 * 39750);
    EXPECT_EQ(e.upper_pattern, 0x00);
    EXPECT_EQ(e.lower_pattern, 0xFF);
}

// Grey 100 everywhere, black / white, ratio 8. Per cell the primary order gives black above,
// white below (P00 black passes 100 down, P10 at 200 takes white; P01 black, P11 at 200 white);
// the lower-first order mirrors it at the same cost 2 x 30000 + 2 x 3 x 55^2 = 78150. With "Lumi
// Sort" the lower-first order wins the tie; without it only the primary order runs.
TEST(OrderChoice, EqualErrorTakesTheLowerFirstOrderInCells) {
    for (FitMode mode : {FitMode::vertical_cell, FitMode::circular_cell}) {
        SCOPED_TRACE(mode == FitMode::vertical_cell ? "vertical" : "circular");
        ConversionSettings s = plain_brightness();
        s.vertical_error_ratio = 8;
        s.lumi_sort = 1;
        auto both = one_block([](int, int) { return grey(100); }, s);
        const Evaluation e = evaluate(*both, mode, 0x1F, 0x1F);
        EXPECT_EQ(e.error, 4 * 78150);
        EXPECT_EQ(e.upper_pattern, 0x00);
        EXPECT_EQ(e.lower_pattern, 0xFF);

        s.lumi_sort = 0;
        auto primary = one_block([](int, int) { return grey(100); }, s);
        const Evaluation p = evaluate(*primary, mode, 0x1F, 0x1F);
        EXPECT_EQ(p.error, 4 * 78150);
        EXPECT_EQ(p.upper_pattern, 0xFF);
        EXPECT_EQ(p.lower_pattern, 0x00);
    }
}

// ---------------------------------------------------------------------------------------------
// Cell modes: the shares of the vertical error ratio

// Grey 100 everywhere, black / white on both rows, distances 3 d^2, primary order only. A pixel
// at 100 takes black (30000) and passes 100, one at 200 takes white (9075) and passes -55.
//   vertical r = 8: P00 black, P10 200 white, P01 gets nothing: black, P11 gets all of P01: white
//   vertical r = 0: P00 black, P10 gets nothing: black, P01 200 white, P11 gets all of P10: white
//   circular r = 8: P01 black, P00 gets nothing: black, P10 200 white, P11 gets P01's 100: white
//   circular r = 0: P01 black, P00 200 white, P10 gets nothing: black, P11 gets P10's 100: white
// Each cell costs 78150.
TEST(CellModes, RatioEightAndZeroGiveTheWholeErrorToOneNeighbour) {
    struct Case {
        FitMode mode;
        int ratio;
        int upper, lower;
    };
    for (const Case& c :
         {Case{FitMode::vertical_cell, 8, 0xFF, 0x00}, Case{FitMode::vertical_cell, 0, 0xAA, 0xAA},
          Case{FitMode::circular_cell, 8, 0xFF, 0x00},
          Case{FitMode::circular_cell, 0, 0x55, 0xAA}}) {
        SCOPED_TRACE(testing::Message()
                     << (c.mode == FitMode::vertical_cell ? "vertical" : "circular")
                     << " r = " << c.ratio);
        ConversionSettings s = plain_brightness();
        s.lumi_sort = 0;
        s.vertical_error_ratio = c.ratio;
        auto conv = one_block([](int, int) { return grey(100); }, s);
        const Evaluation e = evaluate(*conv, c.mode, 0x1F, 0x1F);
        EXPECT_EQ(e.error, 4 * 78150);
        EXPECT_EQ(e.upper_pattern, c.upper);
        EXPECT_EQ(e.lower_pattern, c.lower);
    }
}

// r = 4: shares of 4 eighths, each shifted on its own with rounding towards minus infinity.
//   vertical: P00 black (100); P10 = 150: white (33075), -105; P01 = 150: white, -105;
//     P11 = 100 + (-420 >> 3) + (-420 >> 3) = 100 - 53 - 53 = -6: black (108). 96258 per cell.
//   circular: P01 black (100); P00 = 150: white, -105; P10 = 100 - 53 = 47: black (6627);
//     P11 = 100 + (188 >> 3) + (400 >> 3) = 173: white (3 x 82^2 = 20172). 89874 per cell.
TEST(CellModes, HalfSharesRoundEachContributionDown) {
    ConversionSettings s = plain_brightness();
    s.lumi_sort = 0;
    s.vertical_error_ratio = 4;
    auto conv = one_block([](int, int) { return grey(100); }, s);
    const Evaluation v = evaluate(*conv, FitMode::vertical_cell, 0x1F, 0x1F);
    EXPECT_EQ(v.error, 4 * 96258);
    EXPECT_EQ(v.upper_pattern, 0xAA);
    EXPECT_EQ(v.lower_pattern, 0x55);
    const Evaluation c = evaluate(*conv, FitMode::circular_cell, 0x1F, 0x1F);
    EXPECT_EQ(c.error, 4 * 89874);
    EXPECT_EQ(c.upper_pattern, 0x55);
    EXPECT_EQ(c.lower_pattern, 0xAA);
}

// Vertical r = 8 with "Sp", F = 192 on the upper row and 255 on the lower one: P10 receives
// (100 x 192) >> 8 = 75 from P00 and sits at 175 (white, 3 x 80^2 = 19200); P11 receives 75
// from P01 the same way. 98400 per cell; with the receiver's 255 it would be 99 each.
TEST(CellModes, SpScalesEachShareBySourcePixel) {
    ConversionSettings s = plain_brightness();
    s.lumi_sort = 0;
    s.sp = 1;
    s.vertical_error_ratio = 8;
    auto conv = one_block([](int, int) { return grey(100); }, s, [](int, int) { return 1; },
                          [](int, int y) { return y == 0 ? 192 : 255; });
    const Evaluation e = evaluate(*conv, FitMode::vertical_cell, 0x1F, 0x1F);
    EXPECT_EQ(e.error, 4 * (2 * 30000 + 2 * 19200));
    EXPECT_EQ(e.upper_pattern, 0xFF);
    EXPECT_EQ(e.lower_pattern, 0x00);
}

// ---------------------------------------------------------------------------------------------
// Inversion limit and rejection value

namespace {

std::unique_ptr<Conversion> msx1_tables() {
    return one_block([](int, int) { return grey(0); }, {});
}

constexpr std::int64_t rejection_value = 0x07FFFFFFFFFFFFFF;

bool broken(const Conversion& conv, int upper, int lower, int pu, int pl, int fitted, int checked,
            int mitigation) {
    return inversion_limit_broken(conv, upper >> 4, upper & 15, lower >> 4, lower & 15,
                                  static_cast<std::uint8_t>(pu), static_cast<std::uint8_t>(pl),
                                  static_cast<std::uint8_t>(fitted),
                                  static_cast<std::uint8_t>(checked), mitigation);
}

}  // namespace

// Upper (4, 11), lower (2, 10): luminance 10323, 21000 above and 15207, 19521 below. Colour 11
// above 2 or 10 is a darker-below column, colour 4 above either is not.
TEST(InversionLimit, CountsDarkerBelowColumnsAgainstMitigation) {
    auto conv = msx1_tables();
    // 11 above in columns 0 and 1 (4 is the foreground: bits clear there), 2 below in the even
    // columns: four colours, two darker-below columns.
    EXPECT_FALSE(broken(*conv, 0x4B, 0x2A, 0x3F, 0xAA, 0xFF, 0xFF, 3));
    EXPECT_TRUE(broken(*conv, 0x4B, 0x2A, 0x3F, 0xAA, 0xFF, 0xFF, 1));
    EXPECT_TRUE(broken(*conv, 0x4B, 0x2A, 0x3F, 0xAA, 0xFF, 0xFF, 2));
    // A third one (column 2) breaks it with "Mitigation" checked too.
    EXPECT_TRUE(broken(*conv, 0x4B, 0x2A, 0x1F, 0xAA, 0xFF, 0xFF, 3));
    // Only the checked columns count.
    EXPECT_FALSE(broken(*conv, 0x4B, 0x2A, 0x1F, 0xAA, 0xFF, 0x7F, 3));
    // Without darker-below columns nothing breaks it.
    EXPECT_FALSE(broken(*conv, 0x4B, 0x2A, 0xFF, 0xAA, 0xFF, 0xFF, 1));
}

// Pu = 0 means the upper row shows only its background, Pu = M only its foreground; the colours
// in use are judged on the fitted columns.
TEST(InversionLimit, TwoColoursInUseNeverBreakIt) {
    auto conv = msx1_tables();
    // White (15) above black (1) in every column: eight darker-below columns, but two colours.
    EXPECT_FALSE(broken(*conv, 0x1F, 0x1F, 0x00, 0xFF, 0xFF, 0xFF, 1));
    // After one column of (4, 11) over (2, 10): 11 above, 2 below, one darker-below column and
    // two colours in use.
    EXPECT_FALSE(broken(*conv, 0x4B, 0x2A, 0x00, 0x80, 0x80, 0x80, 1));
    // The second column shows 10 below: three colours, and column 0 breaks it.
    EXPECT_TRUE(broken(*conv, 0x4B, 0x2A, 0x00, 0x80, 0xC0, 0xC0, 1));
}

// Cell modes check all 8 columns while only M is fitted: unfitted columns count with both
// backgrounds. Upper (4, 15), lower (2, 14): 15 above 14 is darker below.
TEST(InversionLimit, UnfittedColumnsCountWithTheBackgrounds) {
    auto conv = msx1_tables();
    // Cell 0 fitted: 4 over 2, then 15 over 14. Columns 2..7 count as 15 over 14: seven.
    EXPECT_TRUE(broken(*conv, 0x4F, 0x2E, 0x80, 0x80, 0xC0, 0xFF, 3));
    EXPECT_FALSE(broken(*conv, 0x4F, 0x2E, 0x80, 0x80, 0xC0, 0xC0, 3));
}

// Upper 11 11 4 4 4 4 4 4 over 2 10 2 10 2 10 2 10: every pixel is exact with (4, 11) over (2, 10),
// with two darker-below columns.
TEST(InversionLimit, MitigationAllowsTwoDarkerBelowColumns) {
    const std::array<int, 8> upper{11, 11, 4, 4, 4, 4, 4, 4};
    const std::array<int, 8> lower{2, 10, 2, 10, 2, 10, 2, 10};
    ConversionSettings s;
    s.mitigation = 3;
    auto checked = block_of_colours(upper, lower, s);
    const Evaluation e = evaluate(*checked, FitMode::column, 0x4B, 0x2A);
    EXPECT_EQ(e.error, 0);
    EXPECT_EQ(e.upper_pattern, 0x3F);
    EXPECT_EQ(e.lower_pattern, 0xAA);

    s.mitigation = 1;
    auto clear = block_of_colours(upper, lower, s);
    EXPECT_EQ(evaluate(*clear, FitMode::column, 0x4B, 0x2A).error, rejection_value);

    // A third darker-below column is refused with "Mitigation" checked as well.
    s.mitigation = 3;
    auto three = block_of_colours({11, 11, 11, 4, 4, 4, 4, 4}, lower, s);
    EXPECT_EQ(evaluate(*three, FitMode::column, 0x4B, 0x2A).error, rejection_value);

    // Without "Optimizat" no order is refused.
    s.optimization = 0;
    auto off = block_of_colours({11, 11, 11, 4, 4, 4, 4, 4}, lower, s);
    EXPECT_EQ(evaluate(*off, FitMode::column, 0x4B, 0x2A).error, 0);
}

// The running error of a refused order is replaced by 0x07FFFFFFFFFFFFFF, not increased: column
// 0 costs 2 (the lower pixel is one step of red off colour 2), column 1 is refused.
TEST(InversionLimit, RefusedOrderTakesTheRejectionValue) {
    ConversionSettings s;
    s.mitigation = 1;
    auto conv = one_block(
        [](int x, int y) {
            if (y == 0) return msx1[x < 2 ? 11 : 4];
            if (x == 0) return Color{110, 182, 109};
            return msx1[x % 2 == 0 ? 2 : 10];
        },
        s);
    EXPECT_EQ(evaluate(*conv, FitMode::column, 0x4B, 0x2A).error, rejection_value);
    // Refused also when the best error is real: the candidate is lost with that value.
    EXPECT_EQ(evaluate(*conv, FitMode::column, 0x4B, 0x2A, 1000).error, rejection_value);

    s.mitigation = 3;
    auto allowed = one_block(
        [](int x, int y) {
            if (y == 0) return msx1[x < 2 ? 11 : 4];
            if (x == 0) return Color{110, 182, 109};
            return msx1[x % 2 == 0 ? 2 : 10];
        },
        s);
    EXPECT_EQ(evaluate(*allowed, FitMode::column, 0x4B, 0x2A).error, 2);
}

// Upper 4 15 4 4 4 4 4 4 over 2 14 2 2 2 2 2 2, exact with (4, 15) over (2, 14), one darker-below
// column (1). Column mode accepts it; the cell modes with "Lumi Sort" refuse it in cell 0, where
// columns 2..7 still count as 15 over 14; without "Lumi Sort" they check nothing.
TEST(InversionLimit, CellModesRefuseLaterColumnsShowingTheBackgrounds) {
    const std::array<int, 8> upper{4, 15, 4, 4, 4, 4, 4, 4};
    const std::array<int, 8> lower{2, 14, 2, 2, 2, 2, 2, 2};
    ConversionSettings s;
    s.vertical_error_ratio = 4;
    s.lumi_sort = 1;
    auto conv = block_of_colours(upper, lower, s);
    const Evaluation column = evaluate(*conv, FitMode::column, 0x4F, 0x2E);
    EXPECT_EQ(column.error, 0);
    EXPECT_EQ(column.upper_pattern, 0xBF);
    EXPECT_EQ(column.lower_pattern, 0xBF);
    EXPECT_EQ(evaluate(*conv, FitMode::vertical_cell, 0x4F, 0x2E, 1000).error, rejection_value);
    EXPECT_EQ(evaluate(*conv, FitMode::circular_cell, 0x4F, 0x2E, 1000).error, rejection_value);

    s.lumi_sort = 0;
    auto primary = block_of_colours(upper, lower, s);
    const Evaluation cell = evaluate(*primary, FitMode::vertical_cell, 0x4F, 0x2E, 1000);
    EXPECT_EQ(cell.error, 0);
    EXPECT_EQ(cell.upper_pattern, 0xBF);
    EXPECT_EQ(cell.lower_pattern, 0xBF);
}

// ---------------------------------------------------------------------------------------------
// Dominant channel

TEST(DominantChannel, LargestSumWithTiesToTheEarlierChannel) {
    struct Case {
        Color c;
        int channel;
    };
    for (const Case& k :
         {Case{{10, 10, 10}, 0}, Case{{0, 0, 0}, 0}, Case{{5, 9, 9}, 1}, Case{{5, 5, 9}, 2},
          Case{{9, 9, 5}, 0}, Case{{9, 5, 9}, 0}, Case{{5, 9, 5}, 1}}) {
        auto conv = test::conversion_with(16, 4, [&k](int, int) { return k.c; });
        EXPECT_EQ(dominant_channel(*conv, 0, 0), k.channel)
            << int{k.c.r} << "," << int{k.c.g} << "," << int{k.c.b};
    }
}

// The sums run over the 16 pixels of the block only: columns x .. x + 7 of rows y and y + 1.
TEST(DominantChannel, SumsTheSixteenPixelsOfTheBlock) {
    auto conv = test::conversion_with(16, 4, [](int x, int y) {
        if (x >= 8 && y >= 2) return (x + y) % 2 ? Color{200, 0, 0} : Color{0, 101, 100};
        return Color{0, 0, 255};
    });
    // Red 8 x 200 = 1600, green 8 x 101 = 808, blue 800.
    EXPECT_EQ(dominant_channel(*conv, 8, 2), 0);
    EXPECT_EQ(dominant_channel(*conv, 0, 0), 2);
}

// ---------------------------------------------------------------------------------------------
// Candidate lists and move to front

namespace {

std::vector<std::uint16_t> ids(std::initializer_list<int> list) {
    return {list.begin(), list.end()};
}

}  // namespace

// The winner goes to index 0; the entries that stood before it move one place back; the
// entries after it keep their places.
TEST(CandidateList, MoveToFrontShiftsOnlyTheEntriesBeforeTheWinner) {
    CandidateList list;
    list.reset(3);  // 9 entries, ids 0..8 in order
    EXPECT_EQ(list.entries(), ids({0, 1, 2, 3, 4, 5, 6, 7, 8}));
    list.move_to_front(5);
    EXPECT_EQ(list.entries(), ids({5, 0, 1, 2, 3, 4, 6, 7, 8}));
    list.move_to_front(7);
    EXPECT_EQ(list.entries(), ids({7, 5, 0, 1, 2, 3, 4, 6, 8}));
    list.move_to_front(5);  // from index 1
    EXPECT_EQ(list.entries(), ids({5, 7, 0, 1, 2, 3, 4, 6, 8}));
    list.move_to_front(5);  // already first: unchanged
    EXPECT_EQ(list.entries(), ids({5, 7, 0, 1, 2, 3, 4, 6, 8}));
    list.move_to_front(3);
    EXPECT_EQ(list.entries(), ids({3, 5, 7, 0, 1, 2, 4, 6, 8}));
    list.move_to_front(8);  // the last entry
    EXPECT_EQ(list.entries(), ids({8, 3, 5, 7, 0, 1, 2, 4, 6}));

    const std::vector<std::uint16_t> order = list.entries();
    for (std::size_t a = 0; a < order.size(); ++a) {
        for (std::size_t b = 0; b < order.size(); ++b) {
            EXPECT_EQ(list.before(order[a], order[b]), a < b) << order[a] << " " << order[b];
        }
    }

    list.reset(3);
    EXPECT_EQ(list.entries(), ids({0, 1, 2, 3, 4, 5, 6, 7, 8}));
}

// The stored lists of the straightforward search: the winner of a block moves to the front of
// its channel's list only.
TEST(CandidateList, StoredListMovesTheWinnerInItsChannelOnly) {
    ConversionSettings s;
    s.lumi_sort = 0;
    auto conv = one_block([](int, int) { return grey(0); }, s);
    const auto before = conv->pair_pairs;
    finish_block_reference(*conv, 1, 0, 0, 3, 0x0F, 0xF0);
    const auto& green = conv->pair_pairs[1];
    EXPECT_EQ(green[0].upper, before[1][3].upper);
    EXPECT_EQ(green[0].lower, before[1][3].lower);  // (0x12, 0x15)
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(green[i].upper, before[1][i - 1].upper) << i;
        EXPECT_EQ(green[i].lower, before[1][i - 1].lower) << i;
    }
    for (int i = 4; i < 105 * 105; ++i) {
        ASSERT_EQ(green[i].upper, before[1][i].upper) << i;
        ASSERT_EQ(green[i].lower, before[1][i].lower) << i;
    }
    for (int list : {0, 2}) {
        for (int i = 0; i < 105 * 105; ++i) {
            ASSERT_EQ(conv->pair_pairs[list][i].upper, before[list][i].upper) << i;
            ASSERT_EQ(conv->pair_pairs[list][i].lower, before[list][i].lower) << i;
        }
    }
    // The block received the winner's pairs and the given patterns.
    EXPECT_EQ(test::block_bytes(*conv, 0, 0), (BlockBytes{0x0F, 0xF0, 0x12, 0x15}));
}

// ---------------------------------------------------------------------------------------------
// Two-colour ordering

namespace {

// A block with hand-set distances: d[column][row] to each colour, all 1000 unless set.
struct OrderingBlock {
    std::unique_ptr<Conversion> conv = one_block([](int, int) { return grey(0); }, {});
    OrderingBlock() {
        for (int row = 0; row < 2; ++row) {
            for (int j = 0; j < 8; ++j)
                conv->distance[row * max_width + j].fill(1000);
        }
    }
    std::int32_t& d(int column, int row, int colour) {
        return conv->distance[row * max_width + column][colour];
    }
    BlockBytes order(int upper_pattern, int lower_pattern, int upper_pair, int lower_pair) {
        auto pu = static_cast<std::uint8_t>(upper_pattern);
        auto pl = static_cast<std::uint8_t>(lower_pattern);
        auto up = static_cast<std::uint8_t>(upper_pair);
        auto lp = static_cast<std::uint8_t>(lower_pair);
        order_two_colors(*conv, 0, 0, pu, pl, up, lp);
        return {pu, pl, up, lp};
    }
};

}  // namespace

// Upper (2, 15) showing 15 everywhere, lower (1, 2) showing 2 everywhere: colours 2 and 15, so
// both rows get the pair 0x2F with a bit set where 2 shows (0x00 above, 0xFF below). Every
// column has the brighter 15 above 2 and flips where 2 (d0 + d1) >= d2 + d3, with d0 the upper
// pixel's distance to 15, d1 the lower pixel's to 2, d2 the upper's to 2, d3 the lower's to 15.
TEST(TwoColourOrdering, FlipsColumnsWhereTheSwapCostsAtMostTwice) {
    OrderingBlock b;
    auto set = [&b](int j, int d0, int d1, int d2, int d3) {
        b.d(j, 0, 15) = d0;
        b.d(j, 1, 2) = d1;
        b.d(j, 0, 2) = d2;
        b.d(j, 1, 15) = d3;
    };
    set(0, 10, 15, 25, 25);  // 50 >= 50: flips
    set(1, 10, 15, 25, 26);  // 50 < 51: stays
    set(2, 0, 0, 1, 0);      // 0 < 1: stays
    set(3, 0, 0, 0, 0);      // 0 >= 0: flips
    for (int j = 4; j < 8; ++j)
        set(j, 0, 0, 500, 500);  // exact pixels stay
    EXPECT_EQ(b.order(0x00, 0x00, 0x2F, 0x12), (BlockBytes{0x90, 0x6F, 0x2F, 0x2F}));
}

// A column whose two pixels show the same colour never flips; nor does one whose colours are
// equally bright (colours 0 and 1 are both black).
TEST(TwoColourOrdering, SameColourOrEqualBrightnessNeverFlips) {
    OrderingBlock b;
    // Column 0 shows 2 above and below, the others 15 above 15.
    b.d(0, 0, 2) = 100;
    b.d(0, 1, 2) = 100;
    b.d(0, 0, 15) = 0;
    b.d(0, 1, 15) = 0;
    EXPECT_EQ(b.order(0x80, 0x80, 0x2F, 0x2F), (BlockBytes{0x80, 0x80, 0x2F, 0x2F}));

    OrderingBlock black;
    for (int j = 0; j < 8; ++j) {
        black.d(j, 0, 1) = 100;  // the upper pixels are far from colour 1, which they show
        black.d(j, 1, 0) = 100;
        black.d(j, 0, 0) = 0;
        black.d(j, 1, 1) = 0;
    }
    // Colour 1 above 0 everywhere: pair 0x01, bits where 0 shows.
    EXPECT_EQ(black.order(0x00, 0xFF, 0x01, 0x01), (BlockBytes{0x00, 0xFF, 0x01, 0x01}));
}

// Whatever pairs the winner had, two colours give one pair with the lower number first; one or
// three colours leave the block as it is.
TEST(TwoColourOrdering, OnlyBlocksOfExactlyTwoColoursChange) {
    OrderingBlock b;
    // 15 above as the background of (2, 15), 2 below as the foreground of (2, 3): pair 0x2F,
    // bits where 2 shows; no column flips, the pixels being exact.
    for (int j = 0; j < 8; ++j) {
        b.d(j, 0, 2) = 500;
        b.d(j, 1, 15) = 500;
        b.d(j, 0, 15) = 0;
        b.d(j, 1, 2) = 0;
    }
    EXPECT_EQ(b.order(0x00, 0xFF, 0x2F, 0x23), (BlockBytes{0x00, 0xFF, 0x2F, 0x2F}));
    // One colour (2 in both rows, from different pairs): unchanged.
    EXPECT_EQ(b.order(0xFF, 0xFF, 0x2F, 0x23), (BlockBytes{0xFF, 0xFF, 0x2F, 0x23}));
    // Three colours: unchanged.
    EXPECT_EQ(b.order(0xF0, 0xFF, 0x2F, 0x34), (BlockBytes{0xF0, 0xFF, 0x2F, 0x34}));
}

// ---------------------------------------------------------------------------------------------
// Whole pictures

namespace {

ConversionSettings without_refinement() {
    ConversionSettings s;
    s.mix = 0;
    s.block_noise = 0;
    return s;
}

// Expects every block of a width x height picture to hold `bytes`.
void expect_every_block(const Conversion& conv, int width, int height, const BlockBytes& bytes) {
    for (int y = 0; y < height; y += 2) {
        for (int x = 0; x < width; x += 8) {
            ASSERT_EQ(test::block_bytes(conv, x, y), bytes) << "block " << x << "," << y;
        }
    }
}

}  // namespace

// A flat picture of colour 14 (182, 182, 182): only pairs holding 14 on both rows fit exactly.
// The first such entry, in every mode, is (0x1E, 0x1E) (0x0E with "Color No.0"); 14 is its
// background, and once at the front it wins every later block.
TEST(WholePicture, FlatPaletteColourTakesTheFirstPairHoldingIt) {
    std::vector<ConversionSettings> all;
    all.push_back({});
    all.push_back(without_refinement());
    {
        ConversionSettings s = without_refinement();
        s.vertical_error_ratio = 4;
        s.dither_order = 0;
        all.push_back(s);
        s.vertical_error_ratio = 0;
        s.dither_order = 1;
        s.lumi_sort = 0;
        all.push_back(s);
    }
    {
        ConversionSettings s;
        s.lumi_sort = 0;
        s.brightness = 0;
        s.edge_emph = 1;
        s.palette = 2;
        s.col_reduction = 0;
        s.edge_calc = 0;
        s.sp = 0;
        all.push_back(s);
    }
    const auto bmp = test::make_flat_bmp(24, 16, msx1[14]);
    for (std::size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(i);
        ConversionSettings s = all[i];
        auto conv = test::convert_both(bmp, s);
        expect_every_block(*conv, 24, 16, {0x00, 0x00, 0x1E, 0x1E});
        s.color_no0 = 1;
        auto with0 = test::convert_both(bmp, s);
        expect_every_block(*with0, 24, 16, {0x00, 0x00, 0x0E, 0x0E});
    }
}

// Black: entry 0 fits exactly. Without "Color No.0" it is (0x12, 0x12) and black, colour 1, is
// the foreground; with it, (0x01, 0x01), whose colours are both black: the background.
TEST(WholePicture, FlatBlackTakesEntryZero) {
    const auto bmp = test::make_flat_bmp(16, 16, {0, 0, 0});
    ConversionSettings s;
    expect_every_block(*test::convert_both(bmp, s), 16, 16, {0xFF, 0xFF, 0x12, 0x12});
    s.color_no0 = 1;
    expect_every_block(*test::convert_both(bmp, s), 16, 16, {0x00, 0x00, 0x01, 0x01});
}

namespace {

// A picture of 8x2 blocks whose rows each show two colour numbers of the MSX1 palette (never
// colour 0, two different numbers per row, each present), with random patterns.
struct TwoColourRows {
    struct Block {
        int a, b, c, d;    // upper row's colours a, b; lower row's c, d
        int upper, lower;  // bit set: a (upper), c (lower)
    };
    int width, height;
    std::vector<Block> blocks;  // row-major

    TwoColourRows(int w, int h, std::uint32_t seed) : width(w), height(h) {
        test::Lcg lcg(seed);
        auto pick_two = [&lcg](int& p, int& q) {
            p = 1 + static_cast<int>(lcg.below(15));
            do {
                q = 1 + static_cast<int>(lcg.below(15));
            } while (q == p);
        };
        for (int i = 0; i < (w / 8) * (h / 2); ++i) {
            Block b{};
            pick_two(b.a, b.b);
            pick_two(b.c, b.d);
            b.upper = 1 + static_cast<int>(lcg.below(254));
            b.lower = 1 + static_cast<int>(lcg.below(254));
            blocks.push_back(b);
        }
    }
    const Block& at(int x, int y) const { return blocks[(y / 2) * (width / 8) + x / 8]; }
    int colour(int x, int y) const {
        const Block& b = at(x, y);
        const int bit = 0x80 >> (x % 8);
        if (y % 2 == 0) return (b.upper & bit) ? b.a : b.b;
        return (b.lower & bit) ? b.c : b.d;
    }
    std::vector<std::uint8_t> bmp() const {
        return test::make_bmp(width, height, [this](int x, int y) { return msx1[colour(x, y)]; });
    }
    // The exact answer: per row the pair of its two colours, lower number first, and a bit set
    // where the lower number shows (a pixel on its own colour is nearer to it than to the other).
    BlockBytes expected(int x, int y) const {
        const Block& b = at(x, y);
        auto row = [](int p, int q, int bits, int& pair) {
            pair = std::min(p, q) * 16 + std::max(p, q);
            return p < q ? bits : ~bits & 0xFF;
        };
        BlockBytes e{};
        e.upper_pattern = row(b.a, b.b, b.upper, e.upper_pair);
        e.lower_pattern = row(b.c, b.d, b.lower, e.lower_pair);
        return e;
    }
};

}  // namespace

// A picture that two colours per row represent exactly: the exact pairs give zero error in every
// mode (no error is ever passed on), and no other combination does. Without "Lumi Sort" and
// "Optimizat" nothing is excluded or refused, so every block gets its exact pairs and patterns,
// whatever the mode, the shares, "Sp", "Brightness" and the rest.
TEST(WholePicture, TwoColoursPerRowAreRepresentedExactly) {
    const TwoColourRows picture(32, 16, 7);
    const auto bmp = picture.bmp();
    struct Variant {
        int mix, ratio, dither, sp, brightness, edge_calc, col_reduction, block_noise;
    };
    for (const Variant& v : {Variant{1, 8, 1, 1, 1, 1, 1, 1}, Variant{0, 8, 1, 1, 1, 1, 1, 0},
                             Variant{0, 8, 0, 0, 0, 0, 0, 0}, Variant{0, 5, 0, 1, 1, 1, 0, 1},
                             Variant{0, 0, 1, 0, 1, 0, 1, 0}, Variant{1, 3, 0, 1, 0, 1, 1, 1},
                             Variant{0, 1, 1, 1, 1, 1, 1, 1}}) {
        ConversionSettings s;
        s.lumi_sort = 0;
        s.optimization = 0;
        s.mix = v.mix;
        s.vertical_error_ratio = v.ratio;
        s.dither_order = v.dither;
        s.sp = v.sp;
        s.brightness = v.brightness;
        s.edge_calc = v.edge_calc;
        s.col_reduction = v.col_reduction;
        s.block_noise = v.block_noise;
        SCOPED_TRACE(testing::Message()
                     << "mix " << v.mix << " ratio " << v.ratio << " dither " << v.dither);
        auto conv = test::convert_both(bmp, s);
        for (int y = 0; y < 16; y += 2) {
            for (int x = 0; x < 32; x += 8) {
                ASSERT_EQ(test::block_bytes(*conv, x, y), picture.expected(x, y))
                    << "block " << x << "," << y;
            }
        }
    }
}

// With "Lumi Sort" the exact answer must also be admitted: colours 4 and 6 (luminance 10323,
// 12683) above 2 and 15 (15207, 25500) pass both exclusion rules, show no darker-below column,
// and use four colours, so the two-colour ordering leaves them. Every mode finds them.
TEST(WholePicture, ExactAnswerAdmittedUnderLumiSort) {
    const std::array<int, 8> upper{4, 6, 6, 4, 4, 4, 6, 4};
    const std::array<int, 8> lower{15, 15, 2, 2, 15, 2, 15, 15};
    const auto bmp = test::make_bmp(
        16, 16, [&](int x, int y) { return msx1[y % 2 == 0 ? upper[x % 8] : lower[x % 8]]; });
    const BlockBytes exact{0x9D, 0x34, 0x46, 0x2F};  // bits where 4 shows, where 2 shows
    for (int optimization : {0, 1}) {
        for (int ratio : {8, 4}) {
            for (int dither : {0, 1}) {
                ConversionSettings s = without_refinement();
                s.optimization = optimization;
                s.vertical_error_ratio = ratio;  // 8: column mode; 4: the cell mode of dither
                s.dither_order = dither;
                SCOPED_TRACE(testing::Message()
                             << "optimization " << optimization << " ratio " << ratio);
                expect_every_block(*test::convert_both(bmp, s), 16, 16, exact);
            }
        }
    }
}

namespace {

// Colours 0..14 black, 15 white.
DefaultPalettes black_and_white() {
    DefaultPalettes p;
    p.msx1.fill(0);
    p.msx1[45] = p.msx1[46] = p.msx1[47] = 7;
    return p;
}

}  // namespace

// Flat grey 128 with only black (colours 1..14) and white (15), distances 7 d^2, column mode.
// Per column the first pixel costs at least 7 x 127^2 = 112903 (white) and the other at least
// 7 (black at 1): 112910. The first entry reaching it is (0x12, 0x1F), the lower row first:
// white below, black (colour 2, the background of (1, 2)) above. Later entries such as
// (0x1F, 0x12) cost the same and lose the tie.
TEST(WholePicture, EqualErrorsGoToTheFirstEntryOfTheList) {
    const auto bmp = test::make_flat_bmp(16, 16, grey(128));
    ConversionSettings s;
    s.col_reduction = 0;  // keep 128 (the blend of black and white is 127)
    s.lumi_sort = 0;      // "Mix" keeps column mode; nothing excluded, no reordering
    expect_every_block(*test::convert_both(bmp, s, black_and_white()), 16, 16,
                       {0x00, 0x00, 0x12, 0x1F});

    // With "Lumi Sort" the two colours 2 and 15 become the pair 0x2F, bits where 2 shows; black
    // above white is not flipped.
    s.lumi_sort = 1;
    expect_every_block(*test::convert_both(bmp, s, black_and_white()), 16, 16,
                       {0xFF, 0x00, 0x2F, 0x2F});
}

// Move to front, block by block in one block row (all other rows white, checked only for
// agreement of the two searches). Without "Lumi Sort" the colour bytes are the winners' pairs.
//   B0 8/15 mixed (red list):   only (0x8F, 0x8F) is exact              -> red list front
//   B1 3/15 mixed (green list): only (0x3F, 0x3F) is exact              -> green list front
//   B2 white (red list): (0x8F, 0x8F) at index 0 is exact; the green list's (0x3F, 0x3F) is not
//      in this list, and the list's first exact entry was (0x1F, 0x1F)
//   B3 8/9 mixed (red list): only (0x89, 0x89)                          -> red list front
//   B4 white (red list): (0x8F, 0x8F) now stands at index 1, behind (0x89, 0x89), not exact
//   B5 white above 3 (green list): (0x3F, 0x3F) is still first there; the list's first exact
//      entry was (0x1F, 0x13)
TEST(WholePicture, WinnersMoveToTheFrontOfTheirChannelsList) {
    auto colour = [](int x, int y) -> int {
        if (y >= 2) return 15;
        const int j = x % 8;
        switch (x / 8) {
            case 0:
                return (j + y) % 2 ? 8 : 15;
            case 1:
                return (j / 2 + y) % 2 ? 15 : 3;
            case 3:
                return (j < 4) != (y == 1) ? 8 : 9;
            case 5:
                return y == 0 ? 15 : 3;
            default:
                return 15;
        }
    };
    const auto bmp = test::make_bmp(48, 16, [&](int x, int y) { return msx1[colour(x, y)]; });
    for (int mix : {0, 1}) {
        SCOPED_TRACE(mix ? "column mode" : "cell mode");
        ConversionSettings s;
        s.lumi_sort = 0;
        s.mix = mix;
        auto conv = test::convert_both(bmp, s);
        EXPECT_EQ(test::block_bytes(*conv, 0, 0), (BlockBytes{0x55, 0xAA, 0x8F, 0x8F}));
        EXPECT_EQ(test::block_bytes(*conv, 8, 0), (BlockBytes{0xCC, 0x33, 0x3F, 0x3F}));
        EXPECT_EQ(test::block_bytes(*conv, 16, 0), (BlockBytes{0x00, 0x00, 0x8F, 0x8F}));
        EXPECT_EQ(test::block_bytes(*conv, 24, 0), (BlockBytes{0xF0, 0x0F, 0x89, 0x89}));
        EXPECT_EQ(test::block_bytes(*conv, 32, 0), (BlockBytes{0x00, 0x00, 0x8F, 0x8F}));
        EXPECT_EQ(test::block_bytes(*conv, 40, 0), (BlockBytes{0x00, 0xFF, 0x3F, 0x3F}));
    }
}

// Column mode with "Lumi Sort" and "Optimizat". Block 0: 11 11 4 4 4 4 4 4 over 2 10 2 10 ...,
// exact with (0x4B, 0x2A), admitted (19521 + 15207 >= 21000 + 10323) and showing two
// darker-below columns. Block 1: white over black, eight darker-below columns but two colours:
// its first admitted exact entry is (0x1F, 0x1F) (every (0x1F, 0x1x) below has a smaller sum),
// which the two-colour ordering keeps (exact pixels never flip).
TEST(WholePicture, InversionLimitFollowsMitigation) {
    auto picture = [](int third) {
        return test::make_bmp(16, 16, [third](int x, int y) {
            if (x >= 8) return msx1[y % 2 == 0 ? 15 : 1];
            if (y % 2 == 0) return msx1[x < 2 || (third && x == 2) ? 11 : 4];
            return msx1[x % 2 == 0 ? 2 : 10];
        });
    };
    ConversionSettings s = without_refinement();
    s.col_reduction = 0;
    const BlockBytes two_colours{0x00, 0xFF, 0x1F, 0x1F};

    s.mitigation = 3;
    auto allowed = test::convert_both(picture(false), s);
    EXPECT_EQ(test::block_bytes(*allowed, 0, 0), (BlockBytes{0x3F, 0xAA, 0x4B, 0x2A}));
    EXPECT_EQ(test::block_bytes(*allowed, 8, 0), two_colours);

    // Refused: whatever wins instead shows no darker-below column among more than two colours.
    auto expect_within_limit = [](const Conversion& conv, int mitigation) {
        const BlockBytes b = test::block_bytes(conv, 0, 0);
        EXPECT_NE(b, (BlockBytes{0x3F, 0xAA, 0x4B, 0x2A}));
        EXPECT_FALSE(inversion_limit_broken(
            conv, b.upper_pair >> 4, b.upper_pair & 15, b.lower_pair >> 4, b.lower_pair & 15,
            static_cast<std::uint8_t>(b.upper_pattern), static_cast<std::uint8_t>(b.lower_pattern),
            0xFF, 0xFF, mitigation))
            << b;
    };
    s.mitigation = 1;
    auto refused = test::convert_both(picture(false), s);
    expect_within_limit(*refused, 1);
    EXPECT_EQ(test::block_bytes(*refused, 8, 0), two_colours);

    s.mitigation = 3;
    auto third = test::convert_both(picture(true), s);
    expect_within_limit(*third, 3);
}

// White over colour 2 (green list): (0x1F, 0x12) is excluded under "Lumi Sort" (15207 < 25500),
// so (0x1F, 0x23) is the first admitted exact entry, white its upper background, 2 its lower
// foreground. Two colours: both rows get 0x2F, bits where 2 shows; exact pixels never flip.
// Without "Lumi Sort" the winner is (0x1F, 0x12) and its bytes stay as they are.
TEST(WholePicture, TwoColourBlockGetsOnePairWithTheLowerNumberFirst) {
    const auto bmp = test::make_bmp(16, 16, [](int, int y) { return msx1[y % 2 ? 2 : 15]; });
    ConversionSettings s = without_refinement();
    expect_every_block(*test::convert_both(bmp, s), 16, 16, {0x00, 0xFF, 0x2F, 0x2F});
    s.lumi_sort = 0;
    s.mix = 1;  // column mode without "Lumi Sort"
    expect_every_block(*test::convert_both(bmp, s), 16, 16, {0x00, 0x00, 0x1F, 0x12});
}

// Grey 140 over grey 120 with only black and white, distances 7 d^2, column mode. The least
// column error is upper first: white above (92575), black below at 5 (175). Upper pairs of black
// only cost more; lower pairs of black only are excluded under (0x1F, ...), so (0x1F, 0x1F) wins:
// white above black. The ordering flips every column: 2 (92575 + 100800) >= 137200 + 127575, so
// black goes above and white below.
TEST(WholePicture, TwoColourOrderingPutsTheDarkerColourAbove) {
    const auto bmp = test::make_bmp(16, 16, [](int, int y) { return grey(y % 2 ? 120 : 140); });
    ConversionSettings s;
    s.col_reduction = 0;
    s.edge_calc = 0;
    s.sp = 0;
    expect_every_block(*test::convert_both(bmp, s, black_and_white()), 16, 16,
                       {0xFF, 0x00, 0x1F, 0x1F});
}
