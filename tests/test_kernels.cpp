// The vector versions of the fitting's inner loops give the numbers of the plain ones, ties and
// limits included. The program uses only one of them on a given processor, so neither the golden
// nor the differential test can catch a fault in the other.
#include <gtest/gtest.h>

#include <array>
#include <climits>

#include "convert/kernels.hpp"
#include "support/conversion_fixture.hpp"

using namespace lumaweave;
using I = std::int32_t;

namespace {

struct Random : test::Lcg {
    using Lcg::Lcg;
    I in(I low, I high) {
        return low + static_cast<I>(below(static_cast<std::uint32_t>(high - low + 1)));
    }
    template <std::size_t N>
    std::array<I, N> array(I low, I high) {
        std::array<I, N> a;
        for (I& v : a)
            v = in(low, high);
        return a;
    }
};

TEST(Kernels, VectorVersionsGiveThePlainNumbers) {
    const kernels::Variant* vec = kernels::vector_variant();
    if (vec == nullptr) GTEST_SKIP() << "no vector version on this processor";
    const kernels::Variant& plain = kernels::plain_variant();
    Random rnd(7);
    for (int trial = 0; trial < 3000; ++trial) {
        SCOPED_TRACE(trial);
        // Few distinct values one time in two, so that ties are common.
        const I spread = trial % 2 ? 3 : 1 << 20;
        const auto pr = rnd.array<16>(-64, 320), pg = rnd.array<16>(-64, 320),
                   pb = rnd.array<16>(-64, 320);
        const std::array<I, 3> w =
            trial % 3 ? std::array<I, 3>{2, 4, 1} : std::array<I, 3>{1, 1, 1};
        const auto d = rnd.array<16>(0, spread);
        const I weight = rnd.in(0, 500);
        const int first = rnd.in(0, 1);
        std::array<I, 120> cost[2], colour[2];
        plain.pair_costs(d.data(), weight, first, cost[0].data(), colour[0].data());
        vec->pair_costs(d.data(), weight, first, cost[1].data(), colour[1].data());
        const int pairs = first ? 105 : 120;
        EXPECT_TRUE(std::equal(cost[0].begin(), cost[0].begin() + pairs, cost[1].begin()));
        EXPECT_TRUE(std::equal(colour[0].begin(), colour[0].begin() + pairs, colour[1].begin()));

        std::array<I, 16> dist[2];
        const I r = rnd.in(-128, 383), g = rnd.in(-128, 383), b = rnd.in(-128, 383);
        plain.distances(pr.data(), pg.data(), pb.data(), w.data(), r, g, b, dist[0].data());
        vec->distances(pr.data(), pg.data(), pb.data(), w.data(), r, g, b, dist[1].data());
        EXPECT_EQ(dist[0], dist[1]);

        const auto dst = rnd.array<3>(-128, 383), src = rnd.array<3>(-128, 383);
        const I scale = rnd.in(0, 256), low = trial % 2 ? -96 : -48;
        const bool sp = rnd.in(0, 1);
        std::array<I, 256> received[2];
        std::array<I, 16> least[2];
        for (int v = 0; v < 2; ++v) {
            (v ? vec->received_distances : plain.received_distances)(
                pr.data(), pg.data(), pb.data(), w.data(), dst.data(), src.data(), scale, sp, low,
                255 - low, received[v].data(), least[v].data());
        }
        EXPECT_EQ(received[0], received[1]);
        EXPECT_EQ(least[0], least[1]);

        const int n = rnd.in(1, 120);
        const auto other = rnd.array<128>(0, spread), alternative = rnd.array<128>(0, spread);
        const I own = rnd.in(0, spread), cap = rnd.in(0, 2 * spread);
        std::array<I, 128> acc[2];
        acc[0] = acc[1] = rnd.array<128>(0, spread);
        plain.add_floor_terms(acc[0].data(), own, other.data(), alternative.data(), n, cap);
        vec->add_floor_terms(acc[1].data(), own, other.data(), alternative.data(), n, cap);
        EXPECT_TRUE(std::equal(acc[0].begin(), acc[0].begin() + n, acc[1].begin()));

        const std::int64_t limits[] = {other[0], other[n - 1] + std::int64_t{1}, -1,
                                       std::int64_t{INT32_MAX} + 1, INT64_MAX};
        const std::int64_t limit = limits[rnd.in(0, 4)];
        std::uint64_t bits[2][2];
        EXPECT_EQ(plain.below(other.data(), n, limit, bits[0]),
                  vec->below(other.data(), n, limit, bits[1]));
        EXPECT_EQ(bits[0][0], bits[1][0]);
        EXPECT_EQ(bits[0][1], bits[1][1]);

        const int count = 8 * rnd.in(1, (max_mix_entries + 7) / 8);
        constexpr std::size_t room = (max_mix_entries + 7) / 8 * 8;
        const I top = trial % 2 ? 1 : 320;  // entries repeat: the first of equal scores wins
        const auto mr = rnd.array<room>(0, top), mg = rnd.array<room>(0, top),
                   mb = rnd.array<room>(0, top), ma = rnd.array<room>(0, 15),
                   mc = rnd.array<room>(0, 15), wa = rnd.array<room>(0, 512),
                   wb = rnd.array<room>(0, 512), to_palette = rnd.array<room>(0, spread);
        const auto best = [&](const kernels::Variant& k) {
            return k.best_mix(mr.data(), mg.data(), mb.data(), ma.data(), mc.data(), wa.data(),
                              wb.data(), count, w.data(), to_palette.data(), r, g, b);
        };
        EXPECT_EQ(best(plain), best(*vec));
    }
}

}  // namespace
