// The vector versions of the fitting's inner loops give the numbers of the plain ones, ties and
// limits included. The program uses only one of them on a given processor, so neither the golden
// nor the differential test can catch a fault in the others.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <vector>

#include "convert/kernels.hpp"
#include "convert/stages.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
using I = std::int32_t;

TEST(Kernels, VectorVersionsGiveThePlainNumbers) {
    if (kernels::vector_variant_count() == 0) GTEST_SKIP() << "no vector version on this processor";
    std::vector<const kernels::Variant*> variants = {&kernels::plain_variant()};
    for (int k = 0; k < kernels::vector_variant_count(); ++k)
        variants.push_back(&kernels::vector_variant(k));
    test::Lcg lcg{7};
    const auto in = [&](I low, I high) {
        return low + I(lcg.below(std::uint32_t(high - low + 1)));
    };
    const auto random = [&]<std::size_t N>(std::array<I, N>& a, I low, I high) {
        for (I& v : a)
            v = in(low, high);
    };
    constexpr std::size_t room = (max_mix_entries + 15) / 16 * 16;
    std::array<I, 16> pr, pg, pb, d;
    std::array<I, 3> dst, src;
    std::array<I, 128> other, alternative, start, lane_f, lane_b;
    std::array<I, 8> own8, cheapest;
    std::array<I, 128> tables[3];  // 8 x 16 each
    std::array<std::array<I, 128>, 8> costs, colours;
    std::array<I, room> mr, mg, mb, ma, mc, wa, wb, to_palette;
    std::array<std::array<std::int64_t, 120>, 4> rests;
    std::array<std::array<I, 128>, 4> own_rows, rest_rows32, key_rows;
    std::array<std::array<I, 16 * kernels::key_room>, 4> by_colour_rows;
    std::array<I, 16 * kernels::key_room> by_key_rows;
    std::array<std::array<I, kernels::key_room>, 3> key_values;
    std::array<I, kernels::key_room> own_least, first_taken, second_taken;
    std::array<int, 4> key_counts;
    std::array<I, 256> second;
    std::array<std::uint8_t, 128> fg_bits;
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
        random(lane_f, 0, 15);
        random(lane_b, 0, 15);
        random(own8, 0, spread);
        random(cheapest, 0, spread);
        for (auto& t : tables)
            random(t, 0, spread);
        for (int j = 0; j < 8; ++j) {
            random(costs[j], 0, spread);
            random(colours[j], 0, 15);
        }
        for (auto* a : {&mr, &mg, &mb})
            random(*a, 0, top);  // entries repeat: the first of equal scores wins
        for (auto* a : {&ma, &mc})
            random(*a, 0, 15);
        random(wa, 0, 512);
        random(wb, 0, 512);
        random(to_palette, 0, spread);
        for (int k = 0; k < 4; ++k) {
            random(own_rows[k], 0, spread);
            random(rest_rows32[k], 0, spread);
            // Up to 16, 32, 64 and more tables in a cell: each a way of its own in the kernels.
            key_counts[k] = in(1, std::array{16, 32, 64, 120}[k]);
            random(key_rows[k], 0, key_counts[k] - 1);
            random(by_colour_rows[k], 0, spread);
        }
        random(by_key_rows, 0, spread);
        for (auto& v : key_values)
            random(v, -128, 383);
        random(own_least, 0, spread);
        random(first_taken, 0, 15);
        random(second_taken, 0, 15);
        const int key_count = in(1, 120);
        const int row_a = in(0, 14), row_b = in(row_a + 1, 15);
        random(second, 0, spread);
        for (std::uint8_t& v : fg_bits)
            v = static_cast<std::uint8_t>(in(0, 255));
        for (auto& a : rests) {
            for (std::int64_t& v : a)
                v = std::int64_t{in(0, spread)} << in(0, 30);
        }
        const std::int64_t* rest_rows[4] = {rests[0].data(), rests[1].data(), rests[2].data(),
                                            rests[3].data()};
        const std::int64_t own64 = std::int64_t{in(0, spread)} << in(0, 20);
        const std::array<I, 3> w =
            trial % 3 ? std::array<I, 3>{2, 4, 1} : std::array<I, 3>{1, 1, 1};
        const I weight = in(0, 500), first = in(0, 1), r = in(-128, 383), g = in(-128, 383),
                b = in(-128, 383), scale = in(0, 256), low = trial % 2 ? -96 : -48, sp = in(0, 1),
                n = in(1, 120), own = in(0, spread), cap = in(0, 2 * spread),
                count = 8 * in(1, (max_mix_entries + 7) / 8), transposed = in(0, 1);
        const std::int64_t limits[] = {other[0], other[n - 1] + std::int64_t{1}, -1,
                                       std::int64_t{INT32_MAX} + 1, INT64_MAX};
        const std::int64_t limit = limits[in(0, 4)];
        const I *cost_rows[8], *colour_rows[8], *first_rows[8], *back_f[8], *back_b[8];
        for (int j = 0; j < 8; ++j) {
            cost_rows[j] = costs[j].data();
            colour_rows[j] = colours[j].data();
            first_rows[j] = tables[0].data() + 16 * j;
            back_f[j] = tables[1].data() + 16 * (7 - j);
            back_b[j] = tables[2].data() + 16 * j;
        }
        struct Out {
            std::array<I, 120> cost{}, colour{};
            std::array<I, 16> dist{}, least{}, cost_least{}, cost_across{};
            std::array<I, 256> received{}, costs{};
            std::array<I, 128> acc{}, floors{}, row{};
            std::array<std::int64_t, 120> rest{}, cell{};
            std::uint64_t bits[2]{};
            int below = 0, best = 0;
            std::array<I, 120> capped{};
            std::array<I, 128> floor_row{}, pair_least{}, key_least{};
            std::array<I, 16 * kernels::key_room> by_colour{}, by_key{};
            std::array<std::array<I, kernels::key_room>, 3> values{};
            std::array<I, 256> shared{};
            std::array<I, 120> own_cost{};
            std::array<std::uint8_t, 120> key{}, colours{};
            std::int64_t cell_least = 0;
            bool operator==(const Out&) const = default;
        };
        std::vector<Out> out(variants.size());
        for (std::size_t v = 0; v < variants.size(); ++v) {
            const kernels::Variant& k = *variants[v];
            Out& o = out[v];
            k.pair_costs(d.data(), weight, first, o.cost.data(), o.colour.data());
            k.distances(pr.data(), pg.data(), pb.data(), w.data(), r, g, b, o.dist.data());
            k.received_distances(pr.data(), pg.data(), pb.data(), w.data(), dst.data(), src.data(),
                                 scale, sp, low, 255 - low, o.received.data(), o.least.data());
            k.received_costs(pr.data(), pg.data(), pb.data(), w.data(), dst.data(), src.data(),
                             scale, sp, low, 255 - low, weight, transposed, o.costs.data(),
                             o.cost_least.data(), o.cost_across.data());
            k.row_floors(cost_rows, colour_rows, tables[0].data(), cheapest.data(),
                         tables[1].data(), lane_f.data(), lane_b.data(), n, cap, o.floors.data());
            k.column_row(own8.data(), first_rows, back_f, back_b, cost_rows, colour_rows,
                         lane_f.data(), lane_b.data(), n, cap, o.row.data());
            o.acc = start;
            k.add_floor_terms(o.acc.data(), own, other.data(), alternative.data(), n, cap);
            o.below = k.below(other.data(), n, limit, o.bits);
            o.best = k.best_mix(mr.data(), mg.data(), mb.data(), ma.data(), mc.data(), wa.data(),
                                wb.data(), count, w.data(), to_palette.data(), r, g, b);
            const kernels::CellRest rest{pr.data(),
                                         pg.data(),
                                         pb.data(),
                                         w.data(),
                                         d.data(),
                                         {dst[0], dst[1], dst[2]},
                                         {src[0], src[1], src[2]},
                                         I(trial % 9),
                                         scale,
                                         sp != 0,
                                         low,
                                         255 - low,
                                         weight,
                                         own8[0] % 640 - 128,
                                         first};
            k.cells->cell_own(second.data(), costs[0].data(), fg_bits.data(), trial % 8, weight,
                              first, trial % 3 == 0, o.own_cost.data(), o.key.data(),
                              o.colours.data());
            k.cells->cell_rest(rest, cap, o.rest.data(), nullptr);
            k.cells->cell_rest(rest, cap, nullptr, o.capped.data());
            o.cell_least = k.cells->cell_row(own64, rest_rows, n, o.cell.data());
            const I* floor_rest[4] = {rest_rows32[0].data(), rest_rows32[1].data(),
                                      rest_rows32[2].data(), rest_rows32[3].data()};
            const I* floor_own[4] = {own_rows[0].data(), own_rows[1].data(), own_rows[2].data(),
                                     own_rows[3].data()};
            const I* floor_key[4] = {key_rows[0].data(), key_rows[1].data(), key_rows[2].data(),
                                     key_rows[3].data()};
            const I* floor_by_colour[4] = {by_colour_rows[0].data(), by_colour_rows[1].data(),
                                           by_colour_rows[2].data(), by_colour_rows[3].data()};
            const I floor_weight[4] = {own8[0] % 320, own8[1] % 320, own8[2] % 320, weight};
            k.cells->cell_floor_row(own8.data(), floor_rest, floor_own, floor_key, floor_by_colour,
                                    floor_weight, key_counts.data(), row_a, row_b, n, cap,
                                    o.floor_row.data());
            const kernels::KeyValues kv{pr.data(),
                                        pg.data(),
                                        pb.data(),
                                        {dst[0], dst[1], dst[2]},
                                        {src[0], src[1], src[2]},
                                        {src[2], dst[1], dst[0]},
                                        I(trial % 9),
                                        scale,
                                        I(8 - trial % 9),
                                        256 - scale,
                                        sp != 0,
                                        trial % 3 != 0,
                                        low,
                                        255 - low};
            k.cells->shared_distances(pr.data(), pg.data(), pb.data(), w.data(), dst.data(),
                                      src.data(), I(8 - trial % 9), scale, sp, low, 255 - low,
                                      o.shared.data());
            k.cells->key_values(kv, first_taken.data(), second_taken.data(), key_count,
                                o.values[0].data(), o.values[1].data(), o.values[2].data());
            k.cells->key_distances(key_values[0].data(), key_values[1].data(), key_values[2].data(),
                                   key_count, pr.data(), pg.data(), pb.data(), w.data(),
                                   o.by_colour.data(), o.by_key.data());
            k.cells->key_floors(by_key_rows.data(), key_count, weight % 320, own_least.data(),
                                first, o.pair_least.data(), o.key_least.data());
            // Only the first n lanes are defined (pairs: as many as the list holds).
            const std::size_t pairs = first ? 105 : 120;
            std::fill(o.rest.begin() + pairs, o.rest.end(), 0);
            std::fill(o.cell.begin() + n, o.cell.end(), 0);
            std::fill(o.capped.begin() + pairs, o.capped.end(), 0);
            std::fill(o.own_cost.begin() + pairs, o.own_cost.end(), 0);
            std::fill(o.key.begin() + pairs, o.key.end(), 0);
            std::fill(o.colours.begin() + pairs, o.colours.end(), 0);
            std::fill(o.floor_row.begin() + n, o.floor_row.end(), 0);
            std::fill(o.pair_least.begin() + pairs, o.pair_least.end(), 0);
            std::fill(o.key_least.begin() + key_count, o.key_least.end(), 0);
            std::fill(o.by_key.begin() + 16 * key_count, o.by_key.end(), 0);
            for (auto& v : o.values)
                std::fill(v.begin() + key_count, v.end(), 0);
            for (int c = 0; c < 16; ++c) {
                std::fill(o.by_colour.begin() + kernels::key_room * c + key_count,
                          o.by_colour.begin() + kernels::key_room * (c + 1), 0);
            }
            std::fill(o.cost.begin() + pairs, o.cost.end(), 0);
            std::fill(o.colour.begin() + pairs, o.colour.end(), 0);
            for (auto* a : {&o.acc, &o.floors, &o.row})
                std::fill(a->begin() + n, a->end(), 0);
        }
        for (std::size_t v = 1; v < variants.size(); ++v) {
            SCOPED_TRACE(variants[v]->name);
            const Out &p = out[0], &o = out[v];
            EXPECT_TRUE(p.cost == o.cost && p.colour == o.colour) << "pair_costs";
            EXPECT_TRUE(p.dist == o.dist) << "distances";
            EXPECT_TRUE(p.received == o.received && p.least == o.least) << "received_distances";
            EXPECT_TRUE(p.costs == o.costs && p.cost_least == o.cost_least &&
                        p.cost_across == o.cost_across)
                << "received_costs";
            EXPECT_TRUE(p.floors == o.floors) << "row_floors";
            EXPECT_TRUE(p.row == o.row) << "column_row";
            EXPECT_TRUE(p.acc == o.acc) << "add_floor_terms";
            EXPECT_EQ(std::tuple(p.below, p.bits[0], p.bits[1]),
                      std::tuple(o.below, o.bits[0], o.bits[1]));
            EXPECT_EQ(p.best, o.best) << "best_mix";
            EXPECT_TRUE(p.own_cost == o.own_cost && p.key == o.key && p.colours == o.colours)
                << "cell_own";
            EXPECT_TRUE(p.rest == o.rest && p.capped == o.capped) << "cell_rest";
            EXPECT_TRUE(p.floor_row == o.floor_row) << "cell_floor_row";
            EXPECT_TRUE(p.values == o.values) << "key_values";
            EXPECT_TRUE(p.shared == o.shared) << "shared_distances";
            EXPECT_TRUE(p.by_colour == o.by_colour && p.by_key == o.by_key) << "key_distances";
            EXPECT_TRUE(p.pair_least == o.pair_least && p.key_least == o.key_least) << "key_floors";
            EXPECT_TRUE(p.cell == o.cell && p.cell_least == o.cell_least) << "cell_row";
        }
        if (HasFailure()) return;
    }
}
