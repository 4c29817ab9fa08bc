// The vector versions of the fitting's inner loops give the numbers of the plain ones, ties and
// limits included. The program uses only one of them on a given processor, so neither the golden
// nor the differential test can catch a fault in the other.
#include <gtest/gtest.h>

#include <array>
#include <climits>

#include "convert/kernels.hpp"
#include "convert/stages.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
using I = std::int32_t;

TEST(Kernels, VectorVersionsGiveThePlainNumbers) {
    const kernels::Variant* vec = kernels::vector_variant();
    if (vec == nullptr) GTEST_SKIP() << "no vector version on this processor";
    const kernels::Variant* variants[] = {&kernels::plain_variant(), vec};
    test::Lcg lcg{7};
    const auto in = [&](I low, I high) {
        return low + I(lcg.below(std::uint32_t(high - low + 1)));
    };
    const auto random = [&]<std::size_t N>(std::array<I, N>& a, I low, I high) {
        for (I& v : a)
            v = in(low, high);
    };
    constexpr std::size_t room = (max_mix_entries + 7) / 8 * 8;
    std::array<I, 16> pr, pg, pb, d;
    std::array<I, 3> dst, src;
    std::array<I, 128> other, alternative, start;
    std::array<I, room> mr, mg, mb, ma, mc, wa, wb, to_palette;
    for (int trial = 0; trial < 3000; ++trial) {
        SCOPED_TRACE(trial);
        // Few distinct values one time in two, so that ties are common.
        const I spread = trial % 2 ? 3 : 1 << 20, top = trial % 2 ? 1 : 320;
        for (auto* a : {&pr, &pg, &pb})
            random(*a, -64, 320);
        random(d, 0, spread);
        random(dst, -128, 383);
        random(src, -128, 383);
        for (auto* a : {&other, &alternative, &start})
            random(*a, 0, spread);
        for (auto* a : {&mr, &mg, &mb})
            random(*a, 0, top);  // entries repeat: the first of equal scores wins
        for (auto* a : {&ma, &mc})
            random(*a, 0, 15);
        random(wa, 0, 512);
        random(wb, 0, 512);
        random(to_palette, 0, spread);
        const std::array<I, 3> w =
            trial % 3 ? std::array<I, 3>{2, 4, 1} : std::array<I, 3>{1, 1, 1};
        const I weight = in(0, 500), first = in(0, 1), r = in(-128, 383), g = in(-128, 383),
                b = in(-128, 383), scale = in(0, 256), low = trial % 2 ? -96 : -48, sp = in(0, 1),
                n = in(1, 120), own = in(0, spread), cap = in(0, 2 * spread),
                count = 8 * in(1, (max_mix_entries + 7) / 8);
        const std::int64_t limits[] = {other[0], other[n - 1] + std::int64_t{1}, -1,
                                       std::int64_t{INT32_MAX} + 1, INT64_MAX};
        const std::int64_t limit = limits[in(0, 4)];
        struct {
            std::array<I, 120> cost{}, colour{};
            std::array<I, 16> dist{}, least{};
            std::array<I, 256> received{};
            std::array<I, 128> acc{};
            std::uint64_t bits[2]{};
            int below = 0, best = 0;
        } out[2];
        for (int v = 0; v < 2; ++v) {
            const kernels::Variant& k = *variants[v];
            k.pair_costs(d.data(), weight, first, out[v].cost.data(), out[v].colour.data());
            k.distances(pr.data(), pg.data(), pb.data(), w.data(), r, g, b, out[v].dist.data());
            k.received_distances(pr.data(), pg.data(), pb.data(), w.data(), dst.data(), src.data(),
                                 scale, sp, low, 255 - low, out[v].received.data(),
                                 out[v].least.data());
            out[v].acc = start;
            k.add_floor_terms(out[v].acc.data(), own, other.data(), alternative.data(), n, cap);
            out[v].below = k.below(other.data(), n, limit, out[v].bits);
            out[v].best =
                k.best_mix(mr.data(), mg.data(), mb.data(), ma.data(), mc.data(), wa.data(),
                           wb.data(), count, w.data(), to_palette.data(), r, g, b);
        }
        const auto prefix = [](const auto& a, const auto& b, std::size_t n) {
            return std::equal(a.begin(), a.begin() + n, b.begin());
        };
        const std::size_t pairs = first ? 105 : 120;
        EXPECT_TRUE(prefix(out[0].cost, out[1].cost, pairs));
        EXPECT_TRUE(prefix(out[0].colour, out[1].colour, pairs));
        EXPECT_TRUE(out[0].dist == out[1].dist && out[0].received == out[1].received &&
                    out[0].least == out[1].least);
        EXPECT_TRUE(prefix(out[0].acc, out[1].acc, std::size_t(n)));
        EXPECT_EQ(std::tuple(out[0].below, out[0].bits[0], out[0].bits[1]),
                  std::tuple(out[1].below, out[1].bits[0], out[1].bits[1]));
        EXPECT_EQ(out[0].best, out[1].best);
    }
}
