// The kernels for one instruction set each live in a file of their own (kernels_avx2.cpp,
// kernels_avx512.cpp), built function by function for that set behind a guard; kernels.cpp holds
// the plain loops, which every platform has, and picks once the widest version the processor runs.
#pragma once

#include <cstdint>

#include "convert/kernels.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LUMAWEAVE_X86_VECTORS 1
#endif

namespace lumaweave::kernels {

// The plain loop that a vector version falls back on where its lanes are too narrow.
int below_plain(const std::int32_t* values, int n, std::int64_t limit, std::uint64_t* bits);

#ifdef LUMAWEAVE_X86_VECTORS
// 256-bit integer vectors (kernels_avx2.cpp): only for processors that have AVX2.
extern const Variant avx2_variant;
// 512-bit integer vectors (kernels_avx512.cpp): only for processors that have AVX-512 F, BW, VL
// and DQ (and AVX2).
extern const Variant avx512_variant;
#endif

}  // namespace lumaweave::kernels
