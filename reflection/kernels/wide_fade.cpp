#include "reflection/kernels/wide_fade.h"

#include <algorithm>
#include <atomic>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#include <immintrin.h>
#define HAS_WIDE_FADE 1
// GCC 12 takes the undefined vectors inside its own masked intrinsics for
// uninitialised variables.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// Only these functions use the instructions; the rest of the program runs anywhere.
#define WIDE __attribute__((target("avx512f,avx512bw,avx512vbmi")))
// Vectors passed to a call that is not inlined go through memory.
#define WIDE_INLINE WIDE inline __attribute__((always_inline))
#else
#define HAS_WIDE_FADE 0
#endif

namespace wide_fade {

namespace {

std::atomic<bool> allowedNow{true};

bool processorHasIt()
{
#if HAS_WIDE_FADE
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi");
#else
    return false;
#endif
}

} // namespace

bool available()
{
    static const bool processor = processorHasIt();
    return processor && allowedNow.load(std::memory_order_relaxed);
}

void setAllowed(bool allowed)
{
    allowedNow.store(allowed, std::memory_order_relaxed);
}

void Shape::prepare(int pixelBytes, const int colour[3], bool alpha)
{
    bytesPerPixel = pixelBytes;
    alphaFades = alpha;
    for (int phase = 0; phase < pixelBytes; ++phase) {
        active[phase] = 0;
        for (int i = 0; i < 64; ++i) {
            const int channel = (phase + i) % pixelBytes;
            const bool fades = alpha ? channel == 3 : channel < 3;
            target[phase][i] = channel < 3 ? Byte(colour[channel]) : 0;
            if (fades)
                active[phase] |= std::uint64_t(1) << i;
        }
    }
}

#if HAS_WIDE_FADE

namespace {

struct Context {
    const Shape* shape;
    __m512i table[4]; // the 256 changes, when the strength is one
    const Lanes* lanes;
    __m512i f;
    __m512i opacity; // the opacity's multiplier in every lane
    bool shortFade;  // F <= 256: the first estimate is exact
};

// table[d] for 64 bytes d: two lookups in 128 entries, chosen by d's top bit.
WIDE_INLINE __m512i lookUp(const Context& c, __m512i d)
{
    const __m512i low = _mm512_permutex2var_epi8(c.table[0], d, c.table[1]);
    const __m512i high = _mm512_permutex2var_epi8(c.table[2], d, c.table[3]);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(d), low, high);
}

// floor(k * x / F) in 16-bit lanes, as the SSE2 path computes it.
WIDE_INLINE __m512i fadeWords(const Context& c, __m512i x, __m512i k, __m512i m)
{
    const __m512i q0 = _mm512_mulhi_epu16(x, m);
    if (c.shortFade)
        return q0;
    const __m512i excess = _mm512_sub_epi16(_mm512_mullo_epi16(q0, c.f), _mm512_mullo_epi16(x, k));
    const __mmask32 over = _mm512_cmpgt_epi16_mask(excess, _mm512_setzero_si512());
    return _mm512_mask_sub_epi16(q0, over, q0, _mm512_set1_epi16(1));
}

// The opacity's change first, then the fade's share of what is left (colour
// mode) or of the alpha the opacity left.
WIDE_INLINE __m512i changeWords(const Context& c, __m512i d, __m512i k, __m512i m)
{
    if (c.lanes->opacityMultiplier < 0)
        return fadeWords(c, d, k, m);
    const __m512i q1 = _mm512_mulhi_epu16(d, c.opacity);
    if (c.shape->alphaFades)
        return fadeWords(c, q1, k, m);
    return _mm512_add_epi16(q1, fadeWords(c, _mm512_sub_epi16(d, q1), k, m));
}

// The change of the 64 bytes d that start at byte j; `mask` has the ones that exist.
WIDE_INLINE __m512i change(const Context& c, __m512i d, std::size_t j, __mmask64 mask)
{
    if (!c.lanes)
        return lookUp(c, d);
    const std::uint16_t* k = c.lanes->k + j;
    const std::uint16_t* m = c.lanes->m + j;
    const __mmask32 first = __mmask32(mask);
    const __mmask32 second = __mmask32(mask >> 32);
    const __m512i low =
        changeWords(c, _mm512_cvtepu8_epi16(_mm512_castsi512_si256(d)),
                    _mm512_maskz_loadu_epi16(first, k), _mm512_maskz_loadu_epi16(first, m));
    const __m512i high = changeWords(c, _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(d, 1)),
                                     _mm512_maskz_loadu_epi16(second, k + 32),
                                     _mm512_maskz_loadu_epi16(second, m + 32));
    return _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtepi16_epi8(low)),
                              _mm512_cvtepi16_epi8(high), 1);
}

// 64 bytes v starting at byte j, whose first byte is byte `phase` of its pixel.
WIDE_INLINE __m512i fadeBlock(const Context& c, __m512i v, int phase, std::size_t j, __mmask64 mask)
{
    const __mmask64 active = c.shape->active[phase];
    if (c.shape->alphaFades)
        return _mm512_mask_mov_epi8(v, active, change(c, v, j, mask));
    const __m512i target = _mm512_load_si512(c.shape->target[phase]);
    const __m512i d = _mm512_or_si512(_mm512_subs_epu8(target, v), _mm512_subs_epu8(v, target));
    const __m512i q = change(c, d, j, mask);
    const __mmask64 rising = _mm512_mask_cmplt_epu8_mask(active, v, target);
    const __mmask64 falling = _mm512_mask_cmpgt_epu8_mask(active, v, target);
    return _mm512_mask_sub_epi8(_mm512_mask_add_epi8(v, rising, v, q), falling, v, q);
}

WIDE void fadeWide(const Shape& shape, const Byte* src, Byte* dst, std::size_t n, const Byte* table,
                   const Lanes* lanes, bool stream)
{
    Context c;
    c.shape = &shape;
    c.lanes = lanes;
    for (int part = 0; part < 4; ++part)
        c.table[part] = table ? _mm512_loadu_si512(table + 64 * part) : _mm512_setzero_si512();
    c.f = _mm512_set1_epi16(short(lanes ? lanes->f : 0));
    c.opacity = _mm512_set1_epi16(short(lanes ? lanes->opacityMultiplier : 0));
    c.shortFade = lanes && lanes->f <= 256;
    const int pixel = shape.bytesPerPixel;
    std::size_t j = 0;
    int phase = 0;
    // Bytes before the first 64-byte boundary of dst, so that the rest can be
    // streamed.
    const std::size_t head =
        stream ? std::min<std::size_t>(n, (64 - (reinterpret_cast<std::uintptr_t>(dst) & 63)) & 63)
               : 0;
    if (head > 0) {
        const __mmask64 mask = (std::uint64_t(1) << head) - 1;
        const __m512i v = _mm512_maskz_loadu_epi8(mask, src);
        _mm512_mask_storeu_epi8(dst, mask, fadeBlock(c, v, 0, 0, mask));
        j = head;
        phase = int(head % std::size_t(pixel));
    }
    for (; j + 64 <= n; j += 64) {
        const __m512i r = fadeBlock(c, _mm512_loadu_si512(src + j), phase, j, ~__mmask64(0));
        if (stream)
            _mm512_stream_si512(reinterpret_cast<__m512i*>(dst + j), r);
        else
            _mm512_storeu_si512(dst + j, r);
        phase = (phase + 64) % pixel;
    }
    if (j < n) {
        const __mmask64 mask = (std::uint64_t(1) << (n - j)) - 1;
        const __m512i v = _mm512_maskz_loadu_epi8(mask, src + j);
        _mm512_mask_storeu_epi8(dst + j, mask, fadeBlock(c, v, phase, j, mask));
    }
}

} // namespace

void fade(const Shape& shape, const Byte* src, Byte* dst, std::size_t n, const Byte* table,
          const Lanes* lanes, bool stream)
{
    fadeWide(shape, src, dst, n, table, lanes, stream);
}

#else

void fade(const Shape&, const Byte*, Byte*, std::size_t, const Byte*, const Lanes*, bool) {}

#endif

} // namespace wide_fade
