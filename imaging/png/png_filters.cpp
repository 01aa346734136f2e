#include "imaging/png/png_filters.h"

#include <emmintrin.h>
#include <immintrin.h>

#include <cstdlib>
#include <cstring>

namespace {

// ---- the filters one byte at a time (row ends and the reference for the vectors)

std::uint8_t paethByte(int a, int b, int c)
{
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc)
        return std::uint8_t(a);
    return std::uint8_t(pb <= pc ? b : c);
}

// What filter 0..4 (none, sub, up, average, Paeth) predicts from the left
// neighbour a, the byte above b and the one above-left c.
std::uint8_t predictByte(int filter, std::uint8_t a, std::uint8_t b, std::uint8_t c)
{
    switch (filter) {
    case 0:
        return 0;
    case 1:
        return a;
    case 2:
        return b;
    case 3:
        return std::uint8_t((a + b) >> 1);
    default:
        return paethByte(a, b, c);
    }
}

// |byte read as signed|: the measure libpng's heuristic also uses.
unsigned absoluteByte(std::uint8_t value)
{
    return value < 128 ? value : 256u - value;
}

} // namespace

// ---- SSE2, which every x86-64 processor has
namespace sse2 {
namespace {
using Vec = __m128i;
constexpr std::size_t kWidth = 16;
inline Vec zero()
{
    return _mm_setzero_si128();
}
inline Vec load(const std::uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const Vec*>(p));
}
inline void store(std::uint8_t* p, Vec v)
{
    _mm_storeu_si128(reinterpret_cast<Vec*>(p), v);
}
inline Vec sub(Vec x, Vec y)
{
    return _mm_sub_epi8(x, y);
}
// pavgb rounds up; the PNG average rounds down.
inline Vec floorAverage(Vec a, Vec b)
{
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}
inline Vec abs16(Vec v)
{
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}
// The Paeth predictor on eight 16-bit lanes.
inline Vec paeth16(Vec a, Vec b, Vec c)
{
    const Vec bc = _mm_sub_epi16(b, c);
    const Vec ac = _mm_sub_epi16(a, c);
    const Vec pa = abs16(bc);
    const Vec pb = abs16(ac);
    const Vec pc = abs16(_mm_add_epi16(bc, ac));
    const Vec notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
    const Vec notB = _mm_cmpgt_epi16(pb, pc);
    const Vec bOrC = _mm_or_si128(_mm_andnot_si128(notB, b), _mm_and_si128(notB, c));
    return _mm_or_si128(_mm_andnot_si128(notA, a), _mm_and_si128(notA, bOrC));
}
inline Vec paeth(Vec a, Vec b, Vec c)
{
    const Vec z = _mm_setzero_si128();
    const Vec low =
        paeth16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z), _mm_unpacklo_epi8(c, z));
    const Vec high =
        paeth16(_mm_unpackhi_epi8(a, z), _mm_unpackhi_epi8(b, z), _mm_unpackhi_epi8(c, z));
    return _mm_packus_epi16(low, high);
}
// min(v, -v) as unsigned bytes is |v as signed|; psadbw adds them up.
inline Vec addAbsSum(Vec sum, Vec v)
{
    const Vec magnitude = _mm_min_epu8(v, _mm_sub_epi8(_mm_setzero_si128(), v));
    return _mm_add_epi64(sum, _mm_sad_epu8(magnitude, _mm_setzero_si128()));
}
inline std::uint64_t total(Vec v)
{
    return std::uint64_t(_mm_cvtsi128_si64(v)) +
           std::uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v)));
}
#include "imaging/png/png_filter_kernel.inc"
} // namespace
} // namespace sse2

// ---- AVX2, chosen at run time where the processor has it
// clang ignores GCC's target pragma (the fuzz build uses clang); it has its own.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace avx2 {
namespace {
using Vec = __m256i;
constexpr std::size_t kWidth = 32;
inline Vec zero()
{
    return _mm256_setzero_si256();
}
inline Vec load(const std::uint8_t* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const Vec*>(p));
}
inline void store(std::uint8_t* p, Vec v)
{
    _mm256_storeu_si256(reinterpret_cast<Vec*>(p), v);
}
inline Vec sub(Vec x, Vec y)
{
    return _mm256_sub_epi8(x, y);
}
inline Vec floorAverage(Vec a, Vec b)
{
    return _mm256_sub_epi8(_mm256_avg_epu8(a, b),
                           _mm256_and_si256(_mm256_xor_si256(a, b), _mm256_set1_epi8(1)));
}
inline Vec paeth16(Vec a, Vec b, Vec c)
{
    const Vec bc = _mm256_sub_epi16(b, c);
    const Vec ac = _mm256_sub_epi16(a, c);
    const Vec pa = _mm256_abs_epi16(bc);
    const Vec pb = _mm256_abs_epi16(ac);
    const Vec pc = _mm256_abs_epi16(_mm256_add_epi16(bc, ac));
    const Vec notA = _mm256_or_si256(_mm256_cmpgt_epi16(pa, pb), _mm256_cmpgt_epi16(pa, pc));
    const Vec notB = _mm256_cmpgt_epi16(pb, pc);
    return _mm256_blendv_epi8(a, _mm256_blendv_epi8(b, c, notB), notA);
}
// Unpacking and packing both work within each 128-bit half, so the bytes
// come back in their order.
inline Vec paeth(Vec a, Vec b, Vec c)
{
    const Vec z = _mm256_setzero_si256();
    const Vec low =
        paeth16(_mm256_unpacklo_epi8(a, z), _mm256_unpacklo_epi8(b, z), _mm256_unpacklo_epi8(c, z));
    const Vec high =
        paeth16(_mm256_unpackhi_epi8(a, z), _mm256_unpackhi_epi8(b, z), _mm256_unpackhi_epi8(c, z));
    return _mm256_packus_epi16(low, high);
}
inline Vec addAbsSum(Vec sum, Vec v)
{
    const Vec magnitude = _mm256_abs_epi8(v);
    return _mm256_add_epi64(sum, _mm256_sad_epu8(magnitude, _mm256_setzero_si256()));
}
inline std::uint64_t total(Vec v)
{
    const __m128i halves = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return std::uint64_t(_mm_cvtsi128_si64(halves)) +
           std::uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(halves, halves)));
}
#include "imaging/png/png_filter_kernel.inc"
} // namespace
} // namespace avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

const FilterKernels& filterKernels(bool avx2Allowed)
{
    static const FilterKernels sse2Kernels{sse2::sumFilters, sse2::applyFilter};
    static const FilterKernels avx2Kernels{avx2::sumFilters, avx2::applyFilter};
    static const bool hasAvx2 = __builtin_cpu_supports("avx2");
    return avx2Allowed && hasAvx2 ? avx2Kernels : sse2Kernels;
}
