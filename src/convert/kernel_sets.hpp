// The kernels for one instruction set live in files of their own (kernels_avx2.cpp and, for the
// cell modes, kernels_cells_avx2.cpp; the same for AVX-512), built function by function for that
// set behind a guard, with the small inline functions they share in kernels_avx2_lanes.hpp and
// kernels_avx512_lanes.hpp; kernels.cpp and kernels_cells.cpp hold the plain loops, which every
// platform has, and kernels.cpp picks once the widest version the processor runs.
#pragma once

#include <cstdint>

#include "convert/kernels.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LUMAWEAVE_X86_VECTORS 1
#endif

namespace lumaweave::kernels {

// Pair p of the list (a, b), a < b, with colour 0: lane p of a and b (the lanes past the last
// pair hold 0). Without colour 0 the list is the same from pair (1, 2) on, the 16th.
struct PairIndex {
    alignas(64) std::int32_t a[128], b[128];
};
inline constexpr PairIndex pair_index = [] {
    PairIndex t{};
    int p = 0;
    for (int a = 0; a < 15; ++a) {
        for (int b = a + 1; b < 16; ++b) {
            t.a[p] = a;
            t.b[p] = b;
            ++p;
        }
    }
    return t;
}();

// The plain loop that a vector version falls back on where its lanes are too narrow.
int below_plain(const std::int32_t* values, int n, std::int64_t limit, std::uint64_t* bits);

// The cell modes' plain loops (kernels_cells.cpp).
extern const CellKernels plain_cells;

#ifdef LUMAWEAVE_X86_VECTORS
// The cell modes' kernels of each vector set (kernels_cells_avx2.cpp, kernels_cells_avx512.cpp).
extern const CellKernels avx2_cells, avx512_cells;
// 256-bit integer vectors (kernels_avx2.cpp): only for processors that have AVX2.
extern const Variant avx2_variant;
// 512-bit integer vectors (kernels_avx512.cpp): only for processors that have AVX-512 F, BW, VL
// and DQ (and AVX2).
extern const Variant avx512_variant;
#endif

}  // namespace lumaweave::kernels
