// The fast search against the straightforward one: many small pictures (noise, flat areas,
// gradients, exact palette colours, few-colour areas and dark areas where colours 0 and 1 tie)
// converted under settings drawn from every field's domain, with and without a companion
// palette. Both searches must write the same VRAM image and preview, byte for byte.
//
// A search only shows the candidates that win; so the fast evaluations are also compared with the
// straightforward ones candidate by candidate, in every mode, on blocks of such pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "convert/fitting.hpp"
#include "convert/settings.hpp"
#include "support/fitting_fixture.hpp"

using namespace lumaweave;
using test::Color;
using test::Lcg;

namespace {

#ifdef LUMAWEAVE_SANITIZED_TESTS
constexpr int case_count = 40;
constexpr int evaluation_cases = 8;
#else
constexpr int case_count = 128;
constexpr int evaluation_cases = 48;
#endif

Color random_color(Lcg& lcg) {
    return {static_cast<std::uint8_t>(lcg.below(256)), static_cast<std::uint8_t>(lcg.below(256)),
            static_cast<std::uint8_t>(lcg.below(256))};
}

// A colour of the palette the picture is meant for (0..7 values scaled as the display palette).
Color palette_color(const std::array<std::int32_t, 48>& table, int k) {
    auto v = [&](int i) { return static_cast<std::uint8_t>(table[3 * k + i] * 255 / 7); };
    return {v(0), v(1), v(2)};
}

struct Area {
    int kind;
    int x0, y0, x1, y1;  // x1, y1 exclusive
    Color a, b;
    std::array<int, 3> colours;  // palette colour numbers for the few-colour areas
    std::uint32_t seed;
};

// A picture of a background and several rectangles, each one of seven kinds.
std::vector<std::uint8_t> random_picture(Lcg& lcg, int width, int height,
                                         const std::array<std::int32_t, 48>& table) {
    std::vector<Area> areas;
    const int count = 1 + static_cast<int>(lcg.below(6));
    for (int i = 0; i < count; ++i) {
        Area r{};
        r.kind = static_cast<int>(lcg.below(7));
        if (i == 0) {
            r.x0 = r.y0 = 0;
            r.x1 = width;
            r.y1 = height;
        } else {
            r.x0 = static_cast<int>(lcg.below(static_cast<std::uint32_t>(width)));
            r.y0 = static_cast<int>(lcg.below(static_cast<std::uint32_t>(height)));
            r.x1 = r.x0 + 2 + static_cast<int>(lcg.below(static_cast<std::uint32_t>(width)));
            r.y1 = r.y0 + 2 + static_cast<int>(lcg.below(static_cast<std::uint32_t>(height)));
        }
        r.a = random_color(lcg);
        r.b = random_color(lcg);
        for (int& c : r.colours)
            c = static_cast<int>(lcg.below(16));
        r.seed = lcg.next();
        areas.push_back(r);
    }
    std::vector<Color> pixels(static_cast<std::size_t>(width * height));
    for (const Area& r : areas) {
        Lcg noise(r.seed);
        for (int y = std::max(r.y0, 0); y < std::min(r.y1, height); ++y) {
            for (int x = std::max(r.x0, 0); x < std::min(r.x1, width); ++x) {
                Color& p = pixels[static_cast<std::size_t>(y * width + x)];
                switch (r.kind) {
                    case 0:  // noise
                        p = random_color(noise);
                        break;
                    case 1:  // flat
                        p = r.a;
                        break;
                    case 2:  // flat palette colour
                        p = palette_color(table, r.colours[0]);
                        break;
                    case 3: {  // gradient from a to b, horizontal or vertical
                        const bool across = r.seed % 2 == 0;
                        const int t = across ? x - r.x0 : y - r.y0;
                        const int n = std::max(1, across ? r.x1 - r.x0 - 1 : r.y1 - r.y0 - 1);
                        auto mix = [&](std::uint8_t u, std::uint8_t v) {
                            return static_cast<std::uint8_t>((u * (n - t) + v * t) / n);
                        };
                        p = {mix(r.a.r, r.b.r), mix(r.a.g, r.b.g), mix(r.a.b, r.b.b)};
                        break;
                    }
                    case 4:  // few palette colours
                        p = palette_color(table, r.colours[noise.below(3)]);
                        break;
                    case 5: {  // dark greys: black ties between colours 0 and 1
                        const auto v = static_cast<std::uint8_t>(noise.below(48));
                        p = {v, v, v};
                        break;
                    }
                    default:  // stripes of two palette colours
                        p = palette_color(table, r.colours[(r.seed & 4 ? x : y) % 2]);
                        break;
                }
            }
        }
    }
    return test::make_bmp(width, height, [&](int x, int y) {
        return pixels[static_cast<std::size_t>(y * width + x)];
    });
}

// Every field of the record takes one of the values its controls can store: its initial value
// one time in four (so that the initial ratio 8 and the column mode it brings stay frequent),
// else any value of its domain.
ConversionSettings random_settings(Lcg& lcg) {
    ConversionSettings s;
    for (const SettingField& f : setting_fields()) {
        if (lcg.below(4) == 0) {
            s.*f.member = f.initial;
            continue;
        }
        std::vector<std::int32_t> domain;
        if (f.kind == ControlKind::check_box) domain.push_back(f.clear_value);
        for (const SettingControl& c : f.controls)
            domain.push_back(c.value);
        s.*f.member = domain[lcg.below(static_cast<std::uint32_t>(domain.size()))];
    }
    return s;
}

std::string describe(const ConversionSettings& s) {
    std::ostringstream out;
    for (const SettingField& f : setting_fields())
        out << f.name << "=" << s.*f.member << " ";
    return out.str();
}

struct Case {
    std::uint32_t seed;
    int width, height;
    bool companion;
    ConversionSettings settings;
    std::vector<std::uint8_t> bmp, s05;
};

Case make_case(std::uint32_t seed) {
    Lcg lcg(seed);
    Case c;
    c.seed = seed;
    // Mostly 16 to 40 wide, one in four 48 to 64; 16 to 32 high (cropped to 16, 24 or 32).
    c.width = lcg.below(4) == 0 ? 48 + 8 * static_cast<int>(lcg.below(3))
                                : 16 + 8 * static_cast<int>(lcg.below(4));
    c.height = 16 + static_cast<int>(lcg.below(17));
    c.settings = random_settings(lcg);
    c.companion = lcg.below(3) == 0;
    std::array<std::int32_t, 48> table =
        c.settings.palette == 2 ? DefaultPalettes{}.msx2 : DefaultPalettes{}.msx1;
    if (c.companion) {
        // Few distinct values, so that some colours repeat.
        for (std::int32_t& v : table)
            v = static_cast<std::int32_t>(lcg.below(4)) * 7 / 3;
        c.s05 = test::make_s05([&table](int k) {
            return std::array<int, 3>{table[3 * k], table[3 * k + 1], table[3 * k + 2]};
        });
    }
    c.bmp = random_picture(lcg, c.width, c.height, table);
    return c;
}

// The first block whose bytes differ, as "x,y".
std::string first_difference(const Conversion& a, const Conversion& b) {
    for (int y = 0; y < max_height; y += 2) {
        for (int x = 0; x < max_width; x += 8) {
            if (test::block_bytes(a, x, y) != test::block_bytes(b, x, y)) {
                std::ostringstream out;
                out << x << "," << y << ": " << test::block_bytes(a, x, y) << " (straightforward) "
                    << test::block_bytes(b, x, y) << " (fast)";
                return out.str();
            }
        }
    }
    return "preview only";
}

}  // namespace

TEST(FitDifferential, FastSearchWritesTheSameBytesAsTheStraightforwardOne) {
    test::ScratchDir dir;
    const std::string picture = (dir / "p.bmp").string();
    const std::string companion = (dir / "p.s05").string();
    // One conversion object per search, reused from picture to picture as the program does.
    auto reference = make_conversion();
    auto fast = make_conversion();
    reference->reference_fitting = true;
    fast->reference_fitting = false;
    ScratchPool pool;

    // How often each search mode and refinement test occurs among the cases.
    int modes[3] = {0, 0, 0};  // column, vertical cell, circular cell
    int test_a = 0, test_b = 0, no_refinement = 0, companions = 0;
    int differing = 0;
    std::string smallest;
    int smallest_area = 1 << 30;
    for (int i = 0; i < case_count; ++i) {
        const Case c = make_case(0x5EED0000u + static_cast<std::uint32_t>(i));
        const ConversionSettings& s = c.settings;
        ++modes[static_cast<int>(main_pass_mode(s))];
        const bool column_in_force = s.vertical_error_ratio == 8 && s.lumi_sort;
        if (s.mix || (s.block_noise && column_in_force)) {
            ++(column_in_force ? test_a : test_b);
        } else {
            ++no_refinement;
        }
        companions += c.companion ? 1 : 0;

        test::write_file(picture, c.bmp);
        std::filesystem::remove(companion);
        if (c.companion) test::write_file(companion, c.s05);

        ASSERT_EQ(convert_file(*reference, pool, picture, c.settings, DefaultPalettes{}), "");
        pool.free_all();
        ASSERT_EQ(convert_file(*fast, pool, picture, c.settings, DefaultPalettes{}), "");
        pool.free_all();
        if (reference->vram == fast->vram && reference->preview == fast->preview) continue;

        ++differing;
        if (c.width * c.height < smallest_area) {
            smallest_area = c.width * c.height;
            std::ostringstream out;
            out << "seed 0x" << std::hex << c.seed << std::dec << ", " << c.width << "x" << c.height
                << (c.companion ? " with companion palette" : "") << ", " << describe(c.settings)
                << "; first block " << first_difference(*reference, *fast);
            smallest = out.str();
        }
    }
    // The sample reaches every mode and both refinement tests.
    for (int count : {modes[0], modes[1], modes[2], test_a, test_b, no_refinement, companions}) {
        EXPECT_GE(count, case_count / 16)
            << "column " << modes[0] << ", vertical cell " << modes[1] << ", circular cell "
            << modes[2] << ", test A " << test_a << ", test B " << test_b << ", no refinement "
            << no_refinement << ", companion " << companions;
    }
    EXPECT_EQ(differing, 0) << "of " << case_count << " cases; smallest: " << smallest;
}

namespace {

struct CandidateCheck {
    int compared = 0, refused = 0, mismatches = 0;
    std::string first;

    void expect(bool ok, const std::function<std::string()>& what) {
        if (ok) return;
        if (mismatches++ == 0) first = what();
    }
};

const char* mode_name(FitMode mode) {
    switch (mode) {
        case FitMode::column:
            return "column";
        case FitMode::vertical_cell:
            return "vertical cell";
        default:
            return "circular cell";
    }
}

}  // namespace

// For sampled candidates of a few blocks per picture, in all three modes. The evaluation of a
// candidate depends on the best error it is measured against (an order whose running error plus
// its row bound exceeds the best skips its column), so the two evaluations are compared against
// the same best: the fast one must give the straightforward one's error and patterns when that is
// below the best, and report the candidate lost otherwise. The bests: the least error met so far
// in the block, as in a search; the candidate's own error E against no best, plus one, and E
// itself; and the largest best below the rejection value. The refinement's column evaluation has
// no bound checks: it must follow a candidate of error E up to a limit of E + 1 and drop it at E.
TEST(FitDifferential, FastEvaluationAgreesCandidateByCandidate) {
    test::ScratchDir dir;
    const std::string picture = (dir / "p.bmp").string();
    const std::string companion = (dir / "p.s05").string();
    auto conv = make_conversion();
    ScratchPool pool;
    CandidateCheck check;
    for (int i = 0; i < evaluation_cases; ++i) {
        const Case c = make_case(0xCA5E0000u + static_cast<std::uint32_t>(i));
        test::write_file(picture, c.bmp);
        std::filesystem::remove(companion);
        if (c.companion) test::write_file(companion, c.s05);
        ASSERT_EQ(convert_file(*conv, pool, picture, c.settings, DefaultPalettes{}), "");
        pool.free_all();

        Lcg pick(c.seed);
        const int n = conv->pair_count;
        for (int b = 0; b < 2; ++b) {
            const int x =
                8 * static_cast<int>(pick.below(static_cast<std::uint32_t>(conv->width / 8)));
            const int y =
                2 * static_cast<int>(pick.below(static_cast<std::uint32_t>(conv->height / 2)));
            for (FitMode mode : {FitMode::column, FitMode::vertical_cell, FitMode::circular_cell}) {
                const bool column = mode == FitMode::column;
                const bool lower_rows = column || conv->settings.lumi_sort;
                BlockData& bd = conv->block;
                prepare_block(*conv, bd, mode, x, y, lower_rows);
                reset_row_bounds(*conv);
                for (int p = 0; p < n; ++p) {
                    compute_row_bounds(*conv, mode, x, y, false, conv->pairs[p]);
                    if (lower_rows) compute_row_bounds(*conv, mode, x, y, true, conv->pairs[p]);
                }
                const FitContext ctx(*conv, mode);
                std::int64_t least = rejection_error - 1;
                const int step = 17 + static_cast<int>(pick.below(8));
                for (int id = static_cast<int>(pick.below(static_cast<std::uint32_t>(step)));
                     id < n * n; id += step) {
                    const std::uint8_t u = conv->pairs[id / n], l = conv->pairs[id % n];
                    auto reference = [&](std::int64_t best, Pruning pruning) {
                        return column ? evaluate_columns(ctx, x, y, u, l, best, pruning)
                                      : evaluate_cells(ctx, x, y, u, l, best);
                    };
                    auto fast = [&](std::int64_t best, std::uint8_t& pu, std::uint8_t& pl) {
                        return column
                                   ? evaluate_columns_fast(*conv, bd, id / n, id % n, best, pu, pl)
                                   : evaluate_cells_fast(*conv, bd, id / n, id % n, best, pu, pl);
                    };
                    auto where = [&](const char* what, std::int64_t expected, std::int64_t got) {
                        return [=, &c] {
                            std::ostringstream out;
                            out << what << ": seed 0x" << std::hex << c.seed << std::dec
                                << ", block " << x << "," << y << ", " << mode_name(mode)
                                << ", pairs 0x" << std::hex << int{u} << "/0x" << int{l} << std::dec
                                << ": expected " << expected << ", got " << got << "; "
                                << describe(c.settings);
                            return out.str();
                        };
                    };
                    ++check.compared;
                    auto compare = [&](std::int64_t best, const char* what) {
                        const Evaluation ref = reference(best, Pruning::full);
                        std::uint8_t pu = 0, pl = 0;
                        const std::int64_t got = fast(best, pu, pl);
                        const bool below = ref.error < best;
                        check.expect(below ? got == ref.error && pu == ref.upper_pattern &&
                                                 pl == ref.lower_pattern
                                           : got == dead_error,
                                     where(what, below ? ref.error : dead_error, got));
                    };
                    const Evaluation exact = reference(no_best_error, Pruning::full);
                    compare(least, "against the least error so far");
                    compare(rejection_error - 1, "against the largest best");
                    if (exact.error >= rejection_error) {
                        ++check.refused;
                        if (column) {
                            std::uint8_t pu = 0, pl = 0;
                            const std::int64_t r = evaluate_columns_unpruned(
                                *conv, bd, id / n, id % n, rejection_error, pu, pl);
                            check.expect(
                                r == dead_error,
                                where("refinement kept a refused candidate", dead_error, r));
                        }
                        continue;
                    }
                    compare(exact.error + 1, "against its own error plus one");
                    compare(exact.error, "against its own error");
                    if (column) {
                        const Evaluation followed = reference(exact.error, Pruning::refine);
                        check.expect(followed.error == exact.error &&
                                         followed.upper_pattern == exact.upper_pattern &&
                                         followed.lower_pattern == exact.lower_pattern,
                                     where("refinement evaluation", exact.error, followed.error));
                        std::uint8_t pu = 0, pl = 0;
                        const std::int64_t r = evaluate_columns_unpruned(*conv, bd, id / n, id % n,
                                                                         exact.error + 1, pu, pl);
                        check.expect(r == exact.error && pu == exact.upper_pattern &&
                                         pl == exact.lower_pattern,
                                     where("refinement below its limit", exact.error, r));
                        const std::int64_t d = evaluate_columns_unpruned(*conv, bd, id / n, id % n,
                                                                         exact.error, pu, pl);
                        check.expect(d == dead_error,
                                     where("refinement at its limit", dead_error, d));
                    }
                    least = std::min(least, exact.error);
                }
            }
        }
    }
    EXPECT_GT(check.refused, 0);
    EXPECT_EQ(check.mismatches, 0) << "of " << check.compared << " candidates (" << check.refused
                                   << " breaking the inversion limit); first: " << check.first;
}
