#include "reflection/blur/blur_passes.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Every box pass is a running sum, so a pass costs the same at any radius:
// along a line, prefix sums of the values (plus the edge repeated); across
// lines, each window's sum is the last one's plus the lines entering minus
// those leaving. The sums are 16-bit and wrap; a window's sum is exact while
// it is below 2^16: at most 2 * 99 + 1 values of 255 at the largest blur.
// 16 bits keep a line's sums in the first-level cache and twice as many in a
// vector. The inner loops run over independent bytes and are written for the
// compiler's vectoriser (this file is built with -O3).

// The passes are built three times where the compiler can: for processors
// with AVX-512 (four times the lanes of SSE2), with AVX2, and for all others,
// chosen when the program starts. Every build gives the same bytes: the
// passes work in integers, and unpremultiplying's floats give exact quotients.
// Premultiplying and its way back, written with SSE2's intrinsics, get a
// second AVX-512 version of their own (BLUR_WIDE), with the same arithmetic.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define BLUR_KERNEL __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define BLUR_KERNEL
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define BLUR_WIDE __attribute__((target("avx512f,avx512bw")))
#endif

namespace blur_passes {

namespace {

// A pass's weights in 1/65536: `inner` for each of the 2n + 1 values around,
// `tails` for the two next ones, together exactly 65536, so that a plain area
// stays plain. inner is even, the closest below 65536 * 256 / d with
// d = 2 * h256 + 256; the tails take the rest.
struct Weights {
    std::uint16_t inner;
    std::uint16_t tails;
    explicit Weights(int h256)
    {
        const int half = (32768 * 256) / (2 * h256 + 256);
        inner = std::uint16_t(2 * half);
        tails = std::uint16_t(32768 - (2 * (h256 >> 8) + 1) * half);
    }
};

// out = (inner * W + tails * V + 32768) >> 16 for the window sums
// high - low (high alone without `low`) and the tails before + after, in
// 16-bit lanes: the high halves of both products, plus the carries out of
// their low halves and the 32768. The sum is below 2^24, so the result is a
// byte.
#if defined(BLUR_WIDE)
bool useWideVectors();

// What weigh() and weighMoving() below do, 64 lanes a round, with AVX-512's
// masked addition for the carry and one saturating pack for the bytes (the
// results are bytes already). With `Moving`, `entering` and `before` move the
// window on by a line; with neither, `high` is the window's sums; else they
// are high - low. Returns the lanes done.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
BLUR_WIDE inline __m512i bytes(const Byte* at)
{
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)));
}

template <bool Difference, bool Moving>
BLUR_WIDE int weighWide(Sum* high, const Sum* low, const Byte* entering, const Byte* before,
                        const Byte* after, Byte* out, int count, Weights weights)
{
    const __m512i w = _mm512_set1_epi16(short(weights.inner));
    const __m512i v = _mm512_set1_epi16(short(weights.tails));
    const __m512i one = _mm512_set1_epi16(1);
    // packus interleaves the quarters of its two vectors.
    const __m512i order = _mm512_set_epi64(7, 5, 3, 1, 6, 4, 2, 0);
    int j = 0;
    for (; j + 64 <= count; j += 64) {
        __m512i result[2];
        for (int h = 0; h < 2; ++h) {
            const int at = j + 32 * h;
            __m512i inner = _mm512_loadu_si512(high + at);
            const __m512i first = bytes(before + at);
            if constexpr (Difference)
                inner = _mm512_sub_epi16(inner, _mm512_loadu_si512(low + at));
            if constexpr (Moving) {
                inner = _mm512_sub_epi16(_mm512_add_epi16(inner, bytes(entering + at)), first);
                _mm512_storeu_si512(high + at, inner);
            }
            const __m512i tails = _mm512_add_epi16(first, bytes(after + at));
            const __m512i innerLow = _mm512_mullo_epi16(inner, w);
            const __m512i sum = _mm512_add_epi16(innerLow, _mm512_mullo_epi16(tails, v));
            __m512i r =
                _mm512_add_epi16(_mm512_mulhi_epu16(inner, w), _mm512_mulhi_epu16(tails, v));
            r = _mm512_add_epi16(r, _mm512_srli_epi16(sum, 15));
            result[h] = _mm512_mask_add_epi16(r, _mm512_cmplt_epu16_mask(sum, innerLow), r, one);
        }
        _mm512_storeu_si512(
            out + j, _mm512_permutexvar_epi64(order, _mm512_packus_epi16(result[0], result[1])));
    }
    return j;
}
#pragma GCC diagnostic pop
#endif

inline Byte weighed(Sum inner, Sum tails, std::uint32_t w, std::uint32_t v)
{
    const Sum innerLow = Sum(inner * w);
    const Sum sum = Sum(innerLow + Sum(tails * v));
    const Sum carries = Sum((sum < innerLow) + (sum >> 15));
    const Sum result = Sum(((inner * w) >> 16) + ((tails * v) >> 16) + carries);
    // The sum is at most 255; the minimum keeps the compiler from narrowing
    // each of its terms to bytes on their own.
    return Byte(std::min<Sum>(result, 255));
}

template <bool Difference>
inline void weigh(const Sum* __restrict high, const Sum* __restrict low,
                  const Byte* __restrict before, const Byte* __restrict after, Byte* __restrict out,
                  int count, Weights weights)
{
    const std::uint32_t w = weights.inner;
    const std::uint32_t v = weights.tails;
    int j = 0;
#if defined(BLUR_WIDE)
    if (useWideVectors())
        j = weighWide<Difference, false>(const_cast<Sum*>(high), low, nullptr, before, after, out,
                                         count, weights);
#endif
    for (; j < count; ++j) {
        const Sum inner = Difference ? Sum(high[j] - low[j]) : high[j];
        out[j] = weighed(inner, Sum(before[j] + after[j]), w, v);
    }
}

// weigh() for a window that moves on by one line: `entering` joins it and
// `before`, the line below it, leaves it.
inline void weighMoving(Sum* __restrict window, const Byte* __restrict entering,
                        const Byte* __restrict before, const Byte* __restrict after,
                        Byte* __restrict out, int count, Weights weights)
{
    const std::uint32_t w = weights.inner;
    const std::uint32_t v = weights.tails;
    int j = 0;
#if defined(BLUR_WIDE)
    if (useWideVectors())
        j = weighWide<false, true>(window, nullptr, entering, before, after, out, count, weights);
#endif
    for (; j < count; ++j) {
        const Sum inner = Sum(window[j] + entering[j] - before[j]);
        window[j] = inner;
        out[j] = weighed(inner, Sum(before[j] + after[j]), w, v);
    }
}

// prefix[k * C + c] = the sum of channel c over the first k positions, the
// running sums kept in registers: through memory each would wait for the store
// of the one before. With SSE2 one position's channels are added at once, four
// 16-bit lanes read and written whole: with three channels the fourth lane
// reads the next position's first byte (or the byte after `values`) and is
// written where the next position's first sum goes (or one past `prefix`'s
// sums), so both buffers have one spare element.
#if defined(BLUR_WIDE)
// The same sums read as one stream: sum i (after the first C) is value i plus
// sum i - C. Thirty-two of them a round: within the round by shifts of C,
// 2C, 4C, ... lanes, then each lane adds the last sum of its channel from the
// round before. The rounds wait for each other by one addition and one
// permute only, where the positions one at a time wait for every load.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
template <int C> BLUR_WIDE void prefixSumsWide(const Byte* values, Sum* prefix, int positions)
{
    alignas(64) std::uint16_t before[5][32];
    alignas(64) std::uint16_t last[32];
    __mmask32 shifted[5];
    int steps = 0;
    for (int shift = C; shift < 32; shift *= 2, ++steps) {
        for (int j = 0; j < 32; ++j)
            before[steps][j] = std::uint16_t(std::max(0, j - shift));
        shifted[steps] = __mmask32(~0u << shift);
    }
    for (int j = 0; j < 32; ++j)
        last[j] = std::uint16_t(32 - C + j % C);
    __m512i index[5];
    for (int k = 0; k < steps; ++k)
        index[k] = _mm512_load_si512(before[k]);
    const __m512i lastOfChannel = _mm512_load_si512(last);
    const int count = positions * C;
    Sum* sums = prefix + C;
    __m512i previous = _mm512_setzero_si512();
    for (int b = 0; b < count; b += 32) {
        const __mmask32 present =
            count - b >= 32 ? ~__mmask32(0) : (__mmask32(1) << (count - b)) - 1;
        __m512i sum = _mm512_cvtepu8_epi16(
            _mm512_castsi512_si256(_mm512_maskz_loadu_epi8(__mmask64(present), values + b)));
        for (int k = 0; k < steps; ++k)
            sum = _mm512_add_epi16(sum, _mm512_maskz_permutexvar_epi16(shifted[k], index[k], sum));
        sum = _mm512_add_epi16(sum, _mm512_permutexvar_epi16(lastOfChannel, previous));
        _mm512_mask_storeu_epi16(sums + b, present, sum);
        previous = sum;
    }
}
#pragma GCC diagnostic pop
#endif

template <int C> void prefixSums(const Byte* values, Sum* prefix, int positions)
{
    for (int c = 0; c < C; ++c)
        prefix[c] = 0;
#if defined(BLUR_WIDE)
    if (useWideVectors()) {
        prefixSumsWide<C>(values, prefix, positions);
        return;
    }
#endif
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const auto load = [&](const Byte* at) {
        std::uint32_t four;
        std::memcpy(&four, at, sizeof four);
        return _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(four)), zero);
    };
    __m128i sum = zero;
    int k = 0;
    // Two positions a round, the running sum waiting for one addition only.
    for (; k + 2 <= positions; k += 2, values += 2 * C, prefix += 2 * C) {
        const __m128i first = load(values);
        const __m128i second = load(values + C);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(prefix + C), _mm_add_epi16(sum, first));
        sum = _mm_add_epi16(sum, _mm_add_epi16(first, second));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(prefix + 2 * C), sum);
    }
    if (k < positions) {
        sum = _mm_add_epi16(sum, load(values));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(prefix + C), sum);
    }
#else
    Sum sum[C] = {};
    for (int k = 0; k < positions; ++k, values += C, prefix += C) {
        for (int c = 0; c < C; ++c) {
            sum[c] += values[c];
            prefix[C + c] = sum[c];
        }
    }
#endif
}

} // namespace

BLUR_KERNEL void passAlong(const Byte* extended, Sum* prefix, Byte* out, int count, int lanes,
                           int pad, int h256)
{
    const int positions = count + 2 * pad;
    if (lanes == 3)
        prefixSums<3>(extended, prefix, positions);
    else
        prefixSums<4>(extended, prefix, positions);
    const int n = h256 >> 8;
    weigh<true>(prefix + (pad + n + 1) * lanes, prefix + (pad - n) * lanes,
                extended + (pad - n - 1) * lanes, extended + (pad + n + 1) * lanes, out,
                count * lanes, Weights(h256));
}

int acrossRingLines(const int* h256, int lines)
{
    int most = 1;
    for (int t = 0; t < lines; ++t) {
        const int n = h256[t] >> 8;
        most = std::max(most, std::min(lines - 1, t + n + 1) - std::max(0, t - n - 1) + 1);
    }
    // A power of two: a line's place in its ring is a mask away.
    int ring = 1;
    while (ring < most)
        ring *= 2;
    return ring;
}

std::size_t acrossScratchBytes(int ringLines, int lanes)
{
    return acrossWindowsBytes(lanes) + 3 * std::size_t(ringLines) * std::size_t(lanes);
}

// Line r of pass k (1..3) from the lines `in` gives of the pass before, into
// `target`: the window's sums move to lines r - n .. r + n, then are weighed.
// The window holds lines low..high-1; its high end only moves on (n does not
// shrink as r grows), its low end moves back where n grows by more than a
// line a line, and an empty one starts where it is needed.
template <typename Lines>
[[gnu::always_inline]] inline void acrossLine(const Lines& in, Sum* window, int& low, int& high,
                                              int r, int h256, int lanes, Byte* target)
{
    if (h256 == 0) {
        std::memcpy(target, in(r), std::size_t(lanes));
        return;
    }
    const int n = h256 >> 8;
    const auto add = [&](int t) {
        const Byte* values = in(t);
        for (int j = 0; j < lanes; ++j)
            window[j] = Sum(window[j] + values[j]);
    };
    if (low < high && high == r + n && low == r - n - 1) {
        weighMoving(window, in(r + n), in(r - n - 1), in(r + n + 1), target, lanes, Weights(h256));
        ++high;
        ++low;
        return;
    }
    if (low == high)
        low = high = r - n;
    for (; high < r + n + 1; ++high)
        add(high);
    for (; low < r - n; ++low) {
        const Byte* values = in(low);
        for (int j = 0; j < lanes; ++j)
            window[j] = Sum(window[j] - values[j]);
    }
    while (low > r - n)
        add(--low);
    weigh<false>(window, nullptr, in(r - n - 1), in(r + n + 1), target, lanes, Weights(h256));
}

BLUR_KERNEL void blurAcross(Byte* band, std::ptrdiff_t step, int lines, int lanes, const int* h256,
                            int ringLines, Byte* scratch, bool unpremultiplied)
{
    Sum* windows = reinterpret_cast<Sum*>(scratch);
    Byte* const rings = scratch + acrossWindowsBytes(lanes);
    std::memset(windows, 0, 3 * std::size_t(lanes) * sizeof(Sum));
    int low[3] = {0, 0, 0};
    int high[3] = {0, 0, 0};
    // Line t (held to the band, as lines beyond it repeat its edge) of the
    // band as read (k = 0) and of passes 1 and 2, in their rings.
    const auto ring = [&](int k) {
        return [=](int t) -> const Byte* {
            t = std::clamp(t, 0, lines - 1);
            return rings + (std::ptrdiff_t(k) * ringLines + (t & (ringLines - 1))) * lanes;
        };
    };
    const auto in0 = ring(0);
    const auto in1 = ring(1);
    const auto in2 = ring(2);
    // The last line of the pass before that line r of a pass needs.
    const auto reach = [&](int r) { return std::min(lines - 1, r + (h256[r] >> 8) + 1); };
    int read = 0; // lines read, and done by passes 1 and 2
    int done1 = 0;
    int done2 = 0;
    for (int t = 0; t < lines; ++t) {
        for (const int need2 = reach(t); done2 <= need2; ++done2) {
            for (const int need1 = reach(done2); done1 <= need1; ++done1) {
                for (const int need0 = reach(done1); read <= need0; ++read) {
                    // Lines lie far apart: the processor does not fetch
                    // ahead by itself.
                    const Byte* ahead = band + std::min(lines - 1, read + 16) * step;
                    for (int j = 0; j < lanes; j += 64)
                        __builtin_prefetch(ahead + j);
                    std::memcpy(const_cast<Byte*>(in0(read)), band + read * step,
                                std::size_t(lanes));
                }
                acrossLine(in0, windows, low[0], high[0], done1, h256[done1], lanes,
                           const_cast<Byte*>(in1(done1)));
            }
            acrossLine(in1, windows + lanes, low[1], high[1], done2, h256[done2], lanes,
                       const_cast<Byte*>(in2(done2)));
        }
        Byte* target = band + t * step;
        acrossLine(in2, windows + 2 * lanes, low[2], high[2], t, h256[t], lanes, target);
        // While the line is in the first-level cache.
        if (unpremultiplied)
            unpremultiply(target, lanes / 4);
    }
}

bool wideVectors = true;

#if defined(BLUR_WIDE)
// GCC 12 takes the intrinsics' deliberately undefined vectors for uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
namespace {

// Read once, before main: the processor's AVX-512 with byte and word lanes.
const bool hasWideVectors = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512bw") != 0;
}();

bool useWideVectors()
{
    return wideVectors && hasWideVectors;
}

// And its byte permutes.
const bool hasBytePermutes = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512vbmi") != 0;
}();

bool useBytePermutes()
{
    return wideVectors && hasBytePermutes;
}

#define BLUR_PERMUTES __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// dropAlpha() and addAlpha() sixteen pixels a round; they return the pixels
// done.
BLUR_PERMUTES int dropAlphaWide(const Byte* in, Byte* out, int width)
{
    alignas(64) Byte order[64];
    for (int i = 0; i < 64; ++i)
        order[i] = Byte(i / 3 * 4 + i % 3);
    const __m512i take = _mm512_load_si512(order);
    const __mmask64 kept = 0xFFFFFFFFFFFFull;
    int u = 0;
    for (; u + 16 <= width; u += 16) {
        const __m512i v = _mm512_loadu_si512(in + 4 * u);
        _mm512_mask_storeu_epi8(out + 3 * u, kept, _mm512_permutexvar_epi8(take, v));
    }
    return u;
}

BLUR_PERMUTES int addAlphaWide(const Byte* in, const Byte* alpha, Byte* out, int width)
{
    alignas(64) Byte order[64];
    for (int i = 0; i < 64; ++i)
        order[i] = Byte(i / 4 * 3 + std::min(i % 4, 2));
    const __m512i spread = _mm512_load_si512(order);
    const __mmask64 read = 0xFFFFFFFFFFFFull;
    const __mmask64 alphas = 0x8888888888888888ull;
    int u = 0;
    for (; u + 16 <= width; u += 16) {
        const __m512i colours =
            _mm512_permutexvar_epi8(spread, _mm512_maskz_loadu_epi8(read, in + 3 * u));
        const __m512i from = alpha ? _mm512_loadu_si512(alpha + 4 * u) : _mm512_set1_epi8(-1);
        _mm512_storeu_si512(out + 4 * u, _mm512_mask_blend_epi8(alphas, colours, from));
    }
    return u;
}

// Eight pixels in 16-bit lanes, premultiplied as below.
BLUR_WIDE inline __m512i premultiplied(__m512i pixels)
{
    const __m512i alpha = _mm512_shufflehi_epi16(_mm512_shufflelo_epi16(pixels, 0xFF), 0xFF);
    const __m512i x = _mm512_add_epi16(_mm512_mullo_epi16(pixels, alpha), _mm512_set1_epi16(128));
    return _mm512_srli_epi16(_mm512_add_epi16(x, _mm512_srli_epi16(x, 8)), 8);
}

// premultiply() and unpremultiply() sixteen pixels a round, with the same
// arithmetic; they return the pixels done.
BLUR_WIDE int premultiplyWide(const Byte* in, Byte* out, int width)
{
    const __mmask64 alphas = 0x8888888888888888ull;
    int u = 0;
    for (; u + 16 <= width; u += 16) {
        const __m512i v = _mm512_loadu_si512(in + 4 * u);
        const __m256i low =
            _mm512_cvtepi16_epi8(premultiplied(_mm512_cvtepu8_epi16(_mm512_castsi512_si256(v))));
        const __m256i high = _mm512_cvtepi16_epi8(
            premultiplied(_mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(v, 1))));
        const __m512i p = _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
        _mm512_storeu_si512(out + 4 * u, _mm512_mask_blend_epi8(alphas, p, v));
    }
    return u;
}

BLUR_WIDE int unpremultiplyWide(Byte* line, int width)
{
    const __m512 scale = _mm512_set1_ps(255.0f);
    const __m512 nudge = _mm512_set1_ps(1.0f / 512.0f);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i byte = _mm512_set1_epi32(255);
    int u = 0;
    for (; u + 16 <= width; u += 16) {
        const __m512i v = _mm512_loadu_si512(line + 4 * u);
        const __m512i alpha = _mm512_srli_epi32(v, 24);
        const __m512 reciprocal = _mm512_div_ps(_mm512_set1_ps(1.0f), _mm512_cvtepi32_ps(alpha));
        const __m512 half = _mm512_cvtepi32_ps(_mm512_srli_epi32(alpha, 1));
        __m512i result = _mm512_and_si512(v, _mm512_set1_epi32(int(0xFF000000u)));
        for (int c = 0; c < 3; ++c) {
            const __m512i p = _mm512_and_si512(_mm512_srli_epi32(v, 8 * c), byte);
            const __m512 x = _mm512_add_ps(_mm512_mul_ps(_mm512_cvtepi32_ps(p), scale), half);
            const __m512i q =
                _mm512_cvttps_epi32(_mm512_add_ps(_mm512_mul_ps(x, reciprocal), nudge));
            // As the 128-bit path's packing: held to 0..255.
            const __m512i held = _mm512_min_epi32(_mm512_max_epi32(q, zero), byte);
            result = _mm512_or_si512(result, _mm512_slli_epi32(held, 8 * c));
        }
        _mm512_storeu_si512(line + 4 * u, result);
    }
    return u;
}

} // namespace
#pragma GCC diagnostic pop
#endif

bool bytePermutes()
{
#if defined(BLUR_WIDE)
    return useBytePermutes();
#else
    return false;
#endif
}

void dropAlpha(const Byte* in, Byte* out, int width)
{
    int u = 0;
#if defined(BLUR_WIDE)
    if (useBytePermutes())
        u = dropAlphaWide(in, out, width);
#endif
    for (; u < width; ++u)
        std::memcpy(out + 3 * u, in + 4 * u, 3);
}

void addAlpha(const Byte* in, const Byte* alpha, Byte* out, int width)
{
    int u = 0;
#if defined(BLUR_WIDE)
    if (useBytePermutes())
        u = addAlphaWide(in, alpha, out, width);
#endif
    for (; u < width; ++u) {
        std::memcpy(out + 4 * u, in + 3 * u, 3);
        out[4 * u + 3] = alpha ? alpha[4 * u + 3] : 255;
    }
}

// p = (c * alpha + 127) / 255: with x = c * alpha + 128 (at most 65153),
// (x + (x >> 8)) >> 8 is that quotient for every c and alpha (checked for all
// of them), in 16-bit lanes.
void premultiply(const Byte* in, Byte* out, int width)
{
    int u = 0;
#if defined(BLUR_WIDE)
    if (useWideVectors()) {
        u = premultiplyWide(in, out, width);
        in += 4 * u;
        out += 4 * u;
    }
#endif
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i alphas = _mm_set1_epi32(int(0xFF000000u));
    const __m128i half = _mm_set1_epi16(128);
    const auto scale = [&](__m128i pixels) { // two pixels in 16-bit lanes
        const __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(pixels, 0xFF), 0xFF);
        const __m128i x = _mm_add_epi16(_mm_mullo_epi16(pixels, alpha), half);
        return _mm_srli_epi16(_mm_add_epi16(x, _mm_srli_epi16(x, 8)), 8);
    };
    for (; u + 4 <= width; u += 4, in += 16, out += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i p =
            _mm_packus_epi16(scale(_mm_unpacklo_epi8(v, zero)), scale(_mm_unpackhi_epi8(v, zero)));
        const __m128i kept = _mm_or_si128(_mm_andnot_si128(alphas, p), _mm_and_si128(alphas, v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), kept);
    }
#endif
    for (; u < width; ++u, in += 4, out += 4) {
        const int alpha = in[3];
        for (int c = 0; c < 3; ++c)
            out[c] = Byte((in[c] * alpha + 127) / 255);
        out[3] = Byte(alpha);
    }
}

// c = min(255, (p * 255 + alpha / 2) / alpha), 0 where alpha is 0, through
// one float reciprocal r of alpha per pixel: x * r is within 3e-5 of x / alpha
// (x below 2^16, the quotient at most 255 since the blur keeps p <= alpha),
// so adding 1/512 and truncating gives the integer quotient: an exact one is
// not pushed below it, and one short of the next whole number (by 1 / alpha
// or more) is not pushed over it. Checked for all p <= alpha, with and
// without a fused multiply-add.
void unpremultiply(Byte* line, int width)
{
    int u = 0;
#if defined(BLUR_WIDE)
    if (useWideVectors()) {
        u = unpremultiplyWide(line, width);
        line += 4 * u;
    }
#endif
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i alphas = _mm_set1_epi32(int(0xFF000000u));
    const __m128 scale = _mm_set1_ps(255.0f);
    const __m128 nudge = _mm_set1_ps(1.0f / 512.0f);
    for (; u + 4 <= width; u += 4, line += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line));
        const __m128i alpha = _mm_srli_epi32(v, 24);
        // Alpha 0 gives an infinite reciprocal and p = 0: their product is
        // not a number, which converts to a value that packs to 0.
        const __m128 reciprocal = _mm_div_ps(_mm_set1_ps(1.0f), _mm_cvtepi32_ps(alpha));
        const __m128i halves = _mm_srli_epi32(alpha, 1);
        const __m128i low = _mm_unpacklo_epi8(v, zero);
        const __m128i high = _mm_unpackhi_epi8(v, zero);
        // Pixel k's colours, given the reciprocal and half alpha in lane k.
        const auto colours = [&](__m128i pixel, __m128 r, __m128i half) {
            const __m128 x =
                _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(pixel), scale), _mm_cvtepi32_ps(half));
            return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(x, r), nudge));
        };
        const __m128i bits = _mm_castps_si128(reciprocal);
        const __m128i pixel[4] = {
            colours(_mm_unpacklo_epi16(low, zero), _mm_castsi128_ps(_mm_shuffle_epi32(bits, 0x00)),
                    _mm_shuffle_epi32(halves, 0x00)),
            colours(_mm_unpackhi_epi16(low, zero), _mm_castsi128_ps(_mm_shuffle_epi32(bits, 0x55)),
                    _mm_shuffle_epi32(halves, 0x55)),
            colours(_mm_unpacklo_epi16(high, zero), _mm_castsi128_ps(_mm_shuffle_epi32(bits, 0xAA)),
                    _mm_shuffle_epi32(halves, 0xAA)),
            colours(_mm_unpackhi_epi16(high, zero), _mm_castsi128_ps(_mm_shuffle_epi32(bits, 0xFF)),
                    _mm_shuffle_epi32(halves, 0xFF))};
        const __m128i c = _mm_packus_epi16(_mm_packs_epi32(pixel[0], pixel[1]),
                                           _mm_packs_epi32(pixel[2], pixel[3]));
        const __m128i kept = _mm_or_si128(_mm_andnot_si128(alphas, c), _mm_and_si128(alphas, v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(line), kept);
    }
#endif
    for (; u < width; ++u, line += 4) {
        const int alpha = line[3];
        for (int c = 0; c < 3; ++c)
            line[c] = alpha == 0 ? 0 : Byte(std::min(255, (line[c] * 255 + alpha / 2) / alpha));
    }
}

} // namespace blur_passes
