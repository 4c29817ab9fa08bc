// The few loops of the fitting that run over all pairs or all colours at once, with versions for
// processors with 256-bit and 512-bit integer vectors (the widest the processor has is chosen
// once, at start) and a plain one. All give the same numbers.
#pragma once

#include <cstdint>

namespace lumaweave::kernels {

// For every pair (a, b), a < b, in list order, a running from `first` (0, or 1 without colour
// 0) to 14: cost[p] = weight * min(d[a], d[b]); when `colour` is given, colour[p] = a when
// d[a] < d[b], else b (the colour a pixel of those distances takes with that pair).
void pair_costs(const std::int32_t* d, std::int32_t weight, int first, std::int32_t* cost,
                std::int32_t* colour);

// d[k] = weighted squared distance of (r, g, b) to palette colour k, k = 0..15.
void distances(const std::int32_t* palette_r, const std::int32_t* palette_g,
               const std::int32_t* palette_b, const std::int32_t* weight, std::int32_t r,
               std::int32_t g, std::int32_t b, std::int32_t* d);

// For each colour c = 0..15 a source pixel (src) may take: the value of a receiving pixel
// (dst) after the whole error src - palette[c] (scaled by scale / 256 when sp), clamped to
// low..high; d[16 * c + k] its distances to palette colour k, least[c] the least of them.
void received_distances(const std::int32_t* palette_r, const std::int32_t* palette_g,
                        const std::int32_t* palette_b, const std::int32_t* weight,
                        const std::int32_t* dst, const std::int32_t* src, std::int32_t scale,
                        bool sp, std::int32_t low, std::int32_t high, std::int32_t* d,
                        std::int32_t* least);

// Cell modes, for each colour c = 0..15 a source pixel (src) may take: the value of a receiving
// pixel (dst) after `share` eighths of the error src - palette[c] (then scaled by scale / 256
// when sp), clamped to low..high; d[16 * c + k] its distances to palette colour k.
void shared_distances(const std::int32_t* palette_r, const std::int32_t* palette_g,
                      const std::int32_t* palette_b, const std::int32_t* weight,
                      const std::int32_t* dst, const std::int32_t* src, std::int32_t share,
                      std::int32_t scale, bool sp, std::int32_t low, std::int32_t high,
                      std::int32_t* d);

// Column mode, for each colour c = 0..15 a source pixel (src) may take: `weight` times the
// distances to palette colour k of a receiving pixel (dst) after the whole error src - palette[c]
// (scaled by scale / 256 when sp), clamped to low..high: d[16 * c + k], or d[16 * k + c] when
// `transposed`. row_least[r] is the least of d[16 r .. 16 r + 15], column_least[q] the least of
// d[q], d[16 + q], ..., d[240 + q].
void received_costs(const std::int32_t* palette_r, const std::int32_t* palette_g,
                    const std::int32_t* palette_b, const std::int32_t* square_weight,
                    const std::int32_t* dst, const std::int32_t* src, std::int32_t scale, bool sp,
                    std::int32_t low, std::int32_t high, std::int32_t weight, bool transposed,
                    std::int32_t* d, std::int32_t* row_least, std::int32_t* column_least);

// Lower bounds of the candidates' errors by one side's pair p < n: out[p] is the sum over the 8
// columns j of min(own[j][p] + nearest[16 j + colour[j][p]], cheapest[j] + min(here[16 j +
// f[p]], here[16 j + b[p]]), cap). The lane arrays have room for n rounded up to 16.
void row_floors(const std::int32_t* const* own, const std::int32_t* const* colour,
                const std::int32_t* nearest, const std::int32_t* cheapest, const std::int32_t* here,
                const std::int32_t* f, const std::int32_t* b, int n, std::int32_t cap,
                std::int32_t* out);

// Column mode, one upper pair against lower pairs q < n: out[q] is the sum over the 8 columns j
// of min(own[j] + min(first[j][f[q]], first[j][b[q]]), other[j][q] + min(back_f[j][colour[j][q]],
// back_b[j][colour[j][q]]), cap): the cheaper of the two orders of each column. The tables have
// 16 entries; the lane arrays have room for n rounded up to 16.
void column_row(const std::int32_t* own, const std::int32_t* const* first,
                const std::int32_t* const* back_f, const std::int32_t* const* back_b,
                const std::int32_t* const* other, const std::int32_t* const* colour,
                const std::int32_t* f, const std::int32_t* b, int n, std::int32_t cap,
                std::int32_t* out);

// acc[q] += min(own + other[q], alternative[q], cap) for q < n. The arrays have room for n
// rounded up to a multiple of 8.
void add_floor_terms(std::int32_t* acc, std::int32_t own, const std::int32_t* other,
                     const std::int32_t* alternative, int n, std::int32_t cap);

// bits[q / 64] bit q % 64 set where values[q] < limit, for q < n (n <= 128; values has room
// for n rounded up to a multiple of 8). Returns the number of bits set.
int below(const std::int32_t* values, int n, std::int64_t limit, std::uint64_t* bits);

// Cell modes: the two pixels of a cell on the row an order starts on, for each pair p (a, b) in
// list order from `first` (as pair_costs). The first takes t = a where bit `bit` of fg[p] is
// set, else b; the second, of distances second[16 t ..], takes u = a where second[16 t + a] <
// second[16 t + b], else b. own[p] = cost[p] + weight * second[16 t + u], colours[p] = 16 t + u,
// and key[p] = colours[p] when by_both, else t. fg and cost have room for the pair count
// rounded up to 8.
void cell_own(const std::int32_t* second, const std::int32_t* cost, const std::uint8_t* fg, int bit,
              std::int32_t weight, int first, bool by_both, std::int32_t* own, std::uint8_t* key,
              std::uint8_t* colours);

// Cell modes: the other row's two pixels of a cell after the row an order starts on, for each
// pair p (a, b) in list order from `first` (as pair_costs). The first receiving pixel, of
// distances d1, takes c = a where d1[a] < d1[b], else b; the second then has the value base +
// `share` eighths of the error value - palette[c] (scaled by scale / 256 when sp), clamped to
// low..high, and takes the nearer of a and b. Their cost, w1 * min(d1[a], d1[b]) + w2 * that
// distance, goes to out[p] when out is given, and at most cap to capped[p] when that is given;
// both have room for the pair count rounded up to 8.
struct CellRest {
    const std::int32_t *palette_r, *palette_g, *palette_b, *weight;  // as for distances
    const std::int32_t* d1;
    std::int32_t base[3], value[3];
    std::int32_t share, scale;
    bool sp;
    std::int32_t low, high, w1, w2;
    int first;
};
void cell_rest(const CellRest& c, std::int32_t cap, std::int64_t* out, std::int32_t* capped);

// Room of the tables by key below: up to this many keys (pairs have at most 120).
inline constexpr int key_room = 128;

// Cell modes with lumi_sort: the value the other row's first receiving pixel of a cell gets after
// the pixels of the row an order starts on took colours (first[j], second[j]), j < count: the
// error e = own_first - palette[first[j]] (per channel); where `two_stage`, the row's second
// pixel first gets first_share eighths of it (scaled by first_scale / 256 with sp), clamped to
// low..high, and e = that - palette[second[j]]; the receiving pixel then gets share eighths of e
// (scaled by scale / 256 with sp) on own_target, clamped: r[j], g[j], b[j]. The arrays have room
// for count rounded up to 16.
struct KeyValues {
    const std::int32_t *palette_r, *palette_g, *palette_b;
    std::int32_t own_first[3], own_second[3], own_target[3];
    std::int32_t first_share, first_scale, share, scale;
    bool sp, two_stage;
    std::int32_t low, high;
};
void key_values(const KeyValues& v, const std::int32_t* first, const std::int32_t* second,
                int count, std::int32_t* r, std::int32_t* g, std::int32_t* b);

// Cell modes with lumi_sort, the distances of values j < count (r, g, b; room for count rounded up
// to 16) to palette colour c, twice: by_colour[key_room * c + j] and by_key[16 * j + c].
void key_distances(const std::int32_t* r, const std::int32_t* g, const std::int32_t* b, int count,
                   const std::int32_t* palette_r, const std::int32_t* palette_g,
                   const std::int32_t* palette_b, const std::int32_t* weight,
                   std::int32_t* by_colour, std::int32_t* by_key);

// Cell modes with lumi_sort, for keys j < count of distances by_key[16 j ..] (as key_distances)
// and the pairs p (a, b) in list order from `first` (as pair_costs), cost(j, p) = weight *
// min(by_key[16 j + a], by_key[16 j + b]): pair_least[p] = the least of own_least[j] + cost(j, p)
// over j, key_least[j] = the least of cost(j, p) over p. pair_least has room for the pair count
// rounded up to 8.
void key_floors(const std::int32_t* by_key, int count, std::int32_t weight,
                const std::int32_t* own_least, int first, std::int32_t* pair_least,
                std::int32_t* key_least);

// Cell modes with lumi_sort, lower bounds of the candidates that pair an upper pair (colours a, b)
// with the lower pairs q < n: out[q] = the sum over the cells k of min(cap, own[k] + rest[k][q],
// other_own[k][q] + weight[k] * min(by_colour[k][key_room a + j], by_colour[k][key_room b + j]))
// with j = key[k][q] < key_count[k], the cheaper of the cell's two orders (the second at least).
// Each sum fits in 32 bits; the lane arrays have room for n rounded up to 16 (key[k] holds 0 past
// n), by_colour[k]'s rows for key_count[k] rounded up to 16.
void cell_floor_row(const std::int32_t* own, const std::int32_t* const* rest,
                    const std::int32_t* const* other_own, const std::int32_t* const* key,
                    const std::int32_t* const* by_colour, const std::int32_t* weight,
                    const int* key_count, int a, int b, int n, std::int32_t cap, std::int32_t* out);

// out[q] = own + rest[0][q] + rest[1][q] + rest[2][q] + rest[3][q] for q < n; returns the least.
// The arrays have room for n rounded up to a multiple of 8.
std::int64_t cell_row(std::int64_t own, const std::int64_t* const* rest, int n, std::int64_t* out);

// The colour reduction's choice for one pixel: over the entries i < count (count a multiple
// of 8) of a mix list given by field (blend colour r, g, b; palette colours a, c; weights wa,
// wb), the first of least ((to_palette[a] * wa + to_palette[c] * wb) >> 9) + weighted squared
// distance of (pr, pg, pb) to the blend colour.
int best_mix(const std::int32_t* r, const std::int32_t* g, const std::int32_t* b,
             const std::int32_t* a, const std::int32_t* c, const std::int32_t* wa,
             const std::int32_t* wb, int count, const std::int32_t* weight,
             const std::int32_t* to_palette, std::int32_t pr, std::int32_t pg, std::int32_t pb);

// The cell modes' kernels of one version (kernels_cells*.cpp).
struct CellKernels {
    decltype(&kernels::shared_distances) shared_distances;
    decltype(&kernels::cell_own) cell_own;
    decltype(&kernels::cell_rest) cell_rest;
    decltype(&kernels::cell_row) cell_row;
    decltype(&kernels::key_values) key_values;
    decltype(&kernels::key_distances) key_distances;
    decltype(&kernels::key_floors) key_floors;
    decltype(&kernels::cell_floor_row) cell_floor_row;
};

// Every version by name, so that they can be compared where the processor has them.
struct Variant {
    const char* name;
    decltype(&kernels::pair_costs) pair_costs;
    decltype(&kernels::distances) distances;
    decltype(&kernels::received_distances) received_distances;
    decltype(&kernels::received_costs) received_costs;
    decltype(&kernels::row_floors) row_floors;
    decltype(&kernels::column_row) column_row;
    decltype(&kernels::add_floor_terms) add_floor_terms;
    decltype(&kernels::below) below;
    decltype(&kernels::best_mix) best_mix;
    const CellKernels* cells;
};
const Variant& plain_variant();
// The vector versions this processor runs, narrowest first (none, AVX2, AVX2 and AVX-512).
int vector_variant_count();
const Variant& vector_variant(int k);

}  // namespace lumaweave::kernels
