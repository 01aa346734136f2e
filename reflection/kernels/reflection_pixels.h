#pragma once

// The building blocks of the renderer's kernels (reflection_kernels.cpp):
// pixel loads and stores, copies of runs of pixels in order and mirrored, the
// exact fade of a run of bytes (SSE2 where it has it), the opacity, the gap's
// pixels. Included by reflection_kernels.cpp only.

#include "reflection/kernels/reflection_kernels.h"
#include "reflection/kernels/wide_fade.h"

#include <FreeImage.h>

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <limits>
#include <new>
#include <vector>

namespace reflection_pixels {

using Byte = std::uint8_t;
using Word = std::uint32_t;
using Pair = std::uint64_t;

enum class Fade { Colour, Alpha };

// Pixels are moved as little-endian words: blue in the low byte, alpha in the
// high one.
static_assert(FI_RGBA_BLUE == 0 && FI_RGBA_GREEN == 1 && FI_RGBA_RED == 2 && FI_RGBA_ALPHA == 3,
              "FreeImage's little-endian pixel layout is assumed");

inline Word load32(const Byte* p)
{
    Word w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

inline void store32(Byte* p, Word w)
{
    std::memcpy(p, &w, sizeof w);
}

inline void store64(Byte* p, Pair w)
{
    std::memcpy(p, &w, sizeof w);
}

// Four 24-bit pixels from three little-endian words (12 bytes).
inline void unpack4(const Byte* p, Word& p0, Word& p1, Word& p2, Word& p3)
{
    const Word w0 = load32(p);
    const Word w1 = load32(p + 4);
    const Word w2 = load32(p + 8);
    p0 = w0 & 0xFFFFFF;
    p1 = (w0 >> 24) | ((w1 & 0xFFFF) << 8);
    p2 = (w1 >> 16) | ((w2 & 0xFF) << 16);
    p3 = w2 >> 8;
}

// Two 32-bit pixels in one store.
inline void store2(Byte* p, Word first, Word second)
{
    store64(p, Pair(first) | Pair(second) << 32);
}

// Bytes the render does not read again are written with stores that bypass
// the cache where SSE2 has them: an ordinary store first fetches the whole
// cache line from memory, only to overwrite it.
#if defined(__SSE2__)
inline void storeVector(Byte* p, __m128i v, bool stream)
{
    if (stream)
        _mm_stream_si128(reinterpret_cast<__m128i*>(p), v);
    else
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

inline bool aligned16(const Byte* p)
{
    return (reinterpret_cast<std::uintptr_t>(p) & 15) == 0;
}
#endif

void streamCopy(Byte* dst, const Byte* src, std::size_t n)
{
#if defined(__SSE2__)
    const std::size_t head =
        std::min<std::size_t>(n, (16 - (reinterpret_cast<std::uintptr_t>(dst) & 15)) & 15);
    std::memcpy(dst, src, head);
    dst += head;
    src += head;
    n -= head;
    for (; n >= 64; n -= 64, dst += 64, src += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 48));
        storeVector(dst, a, true);
        storeVector(dst + 16, b, true);
        storeVector(dst + 32, c, true);
        storeVector(dst + 48, d, true);
    }
    for (; n >= 16; n -= 16, dst += 16, src += 16)
        storeVector(dst, _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)), true);
#endif
    std::memcpy(dst, src, n);
}

// n pixels copied in order, with streaming stores when `stream`. 24-bit
// pixels widened to 32 bits get `alpha`.
template <int SB, int DB, bool stream = false>
void copyRun(const Byte* src, Byte* dst, int n, Byte alpha = 0xFF)
{
    if constexpr (SB == DB) {
        if (stream)
            streamCopy(dst, src, std::size_t(n) * SB);
        else
            std::memcpy(dst, src, std::size_t(n) * SB);
    } else {
        static_assert(SB == 3 && DB == 4);
        const Word a = Word(alpha) << 24;
        int i = 0;
#if defined(__SSE2__)
        if (stream && (reinterpret_cast<std::uintptr_t>(dst) & 3) == 0) {
            for (; i < n && !aligned16(dst); ++i, src += 3, dst += 4)
                store32(dst, Word(src[0]) | Word(src[1]) << 8 | Word(src[2]) << 16 | a);
            for (; i + 4 <= n; i += 4, src += 12, dst += 16) {
                Word p0, p1, p2, p3;
                unpack4(src, p0, p1, p2, p3);
                storeVector(dst, _mm_set_epi32(int(p3 | a), int(p2 | a), int(p1 | a), int(p0 | a)),
                            true);
            }
        }
#endif
        for (; i + 4 <= n; i += 4, src += 12, dst += 16) {
            Word p0, p1, p2, p3;
            unpack4(src, p0, p1, p2, p3);
            store2(dst, p0 | a, p1 | a);
            store2(dst + 8, p2 | a, p3 | a);
        }
        for (; i < n; ++i, src += 3, dst += 4) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            dst[3] = alpha;
        }
    }
}

// n pixels copied in reverse order: `src` is the first pixel read, the next
// one lies SB bytes before it. 24-bit pixels widened to 32 bits get alpha 255.
template <int SB, int DB> void copyRunReversed(const Byte* src, Byte* dst, int n)
{
    int i = 0;
    if constexpr (SB == 4) {
        for (; i + 2 <= n; i += 2, src -= 8, dst += 8)
            store2(dst, load32(src), load32(src - 4));
        for (; i < n; ++i, src -= 4, dst += 4)
            store32(dst, load32(src));
    } else {
        // Four pixels at a time from the 12 bytes that end with the pixel at src.
        for (; i + 4 <= n; i += 4, src -= 12, dst += DB * 4) {
            Word p0, p1, p2, p3;
            unpack4(src - 9, p0, p1, p2, p3);
            if constexpr (DB == 4) {
                constexpr Word opaque = 0xFF000000u;
                store2(dst, p3 | opaque, p2 | opaque);
                store2(dst + 8, p1 | opaque, p0 | opaque);
            } else {
                store64(dst, Pair(p3) | Pair(p2) << 24 | Pair(p1) << 48);
                store32(dst + 8, (p1 >> 16) | (p0 << 8));
            }
        }
        for (; i < n; ++i, src -= 3, dst += DB) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            if constexpr (DB == 4)
                dst[3] = 0xFF;
        }
    }
}

// The fade of a byte v in a line of strength k (0 <= k < F):
//   colour mode: v + (k * (c - v)) / F, truncated towards zero, k = F - 1 - s;
//   transparency mode, alpha bytes: v * k / F, k = s.
// Both come down to q = floor(k * d / F) for d = |c - v| or d = alpha, 0..255.
//
// With SSE2 this is computed 16 bytes at a time in 16-bit lanes, exactly:
// q0 = (d * M) >> 16 with M = ceil(k * 65536 / F) is q or q + 1, because M
// overshoots k * 65536 / F by less than 1 and d < 256. Which one shows in the
// sign of q0 * F - k * d: it lies in (-F, F], so its low 16 bits read as a
// signed number are exact for F < 32768. Longer fades take the scalar path.
constexpr int longestVectorFade = 32767;

inline std::uint16_t multiplier(int k, int f)
{
    return std::uint16_t((std::int64_t(k) * 65536 + f - 1) / f);
}

struct Fader {
    int f = 0;       // F, the number of faded lines
    int colour[3]{}; // by byte position: blue, green, red
    bool vector = false;
    bool wide = false; // 64 bytes at a time (wide_fade.h), where vector
    wide_fade::Shape shape;
#if defined(__SSE2__)
    // 48 bytes (16 pixels of 3 bytes, 12 of 4) per round: the byte pattern of
    // the colour and of the bytes that fade repeats after 48 bytes.
    __m128i target[3];
    __m128i active[3];
#endif

    template <int DB> void prepare(int faded, const int c[3], Fade fade)
    {
        f = faded;
        for (int i = 0; i < 3; ++i)
            colour[i] = c[i];
#if defined(__SSE2__)
        vector = f > 0 && f <= longestVectorFade;
        wide = vector && wide_fade::available();
        if (wide)
            shape.prepare(DB, c, fade == Fade::Alpha);
        alignas(16) Byte targets[48];
        alignas(16) Byte actives[48];
        for (int j = 0; j < 48; ++j) {
            const int channel = j % DB;
            const bool fades = fade == Fade::Colour ? channel < 3 : channel == 3;
            targets[j] = channel < 3 ? Byte(c[channel]) : 0;
            actives[j] = fades ? 0xFF : 0;
        }
        for (int part = 0; part < 3; ++part) {
            target[part] = _mm_load_si128(reinterpret_cast<const __m128i*>(targets + 16 * part));
            active[part] = _mm_load_si128(reinterpret_cast<const __m128i*>(actives + 16 * part));
        }
#endif
    }
};

#if defined(__SSE2__)
inline __m128i scaleWords(__m128i d, __m128i k, __m128i m, __m128i f)
{
    const __m128i q0 = _mm_mulhi_epu16(d, m);
    const __m128i excess = _mm_sub_epi16(_mm_mullo_epi16(q0, f), _mm_mullo_epi16(d, k));
    return _mm_add_epi16(q0, _mm_cmpgt_epi16(excess, _mm_setzero_si128()));
}

// With F <= 256 the first estimate is already exact: it overshoots k * d / F
// by less than 255 / 65536 < 1 / F, and the fraction of k * d / F is at most
// (F - 1) / F, so the overshoot never reaches the next whole number. The
// opacity (over 100) always takes this road.
//
// The opacity step before the fade, both exact, in the same 16-bit lanes:
// `first` holds the opacity's multiplier over 100 (strength -1 when there is
// no opacity step). Colour mode: d is the distance to the colour; the opacity
// moves q1 of it, the fade its share of the rest. Alpha mode: d is the alpha,
// scaled twice.
struct FirstStep {
    int k = -1;
    bool shortFade = false; // F <= 256
    __m128i mWords = _mm_setzero_si128();
};

template <Fade fade>
inline __m128i scaleWordsAfter(const FirstStep& first, __m128i d, __m128i k, __m128i m, __m128i f)
{
    const auto fadeWords = [&](__m128i x) {
        return first.shortFade ? _mm_mulhi_epu16(x, m) : scaleWords(x, k, m, f);
    };
    if (first.k < 0)
        return fadeWords(d);
    const __m128i q1 = _mm_mulhi_epu16(d, first.mWords);
    if constexpr (fade == Fade::Colour)
        return _mm_add_epi16(q1, fadeWords(_mm_sub_epi16(d, q1)));
    else
        return fadeWords(q1);
}

inline FirstStep firstStep(const Fader& fader, int opacityK)
{
    FirstStep first;
    first.k = opacityK;
    first.shortFade = fader.f <= 256;
    if (opacityK >= 0)
        first.mWords = _mm_set1_epi16(short(multiplier(opacityK, 100)));
    return first;
}

// The change every distance d = 0..255 (or alpha) takes in a fade of strength
// k, for the wide path's lookups, made by this path's own arithmetic.
template <Fade fade> void fadeTable(const Fader& fader, int k, int opacityK, Byte* table)
{
    const FirstStep first = firstStep(fader, opacityK);
    const __m128i f = _mm_set1_epi16(short(fader.f));
    const __m128i strength = _mm_set1_epi16(short(k));
    const __m128i m = _mm_set1_epi16(short(multiplier(k, fader.f)));
    const __m128i eight = _mm_set1_epi16(8);
    __m128i d = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
    for (int at = 0; at < 256; at += 16) {
        const __m128i low = scaleWordsAfter<fade>(first, d, strength, m, f);
        d = _mm_add_epi16(d, eight);
        const __m128i high = scaleWordsAfter<fade>(first, d, strength, m, f);
        d = _mm_add_epi16(d, eight);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(table + at), _mm_packus_epi16(low, high));
    }
}

template <Fade fade>
inline __m128i scaleBytes(const FirstStep& first, __m128i d, __m128i kLow, __m128i kHigh,
                          __m128i mLow, __m128i mHigh, __m128i f)
{
    const __m128i zero = _mm_setzero_si128();
    return _mm_packus_epi16(
        scaleWordsAfter<fade>(first, _mm_unpacklo_epi8(d, zero), kLow, mLow, f),
        scaleWordsAfter<fade>(first, _mm_unpackhi_epi8(d, zero), kHigh, mHigh, f));
}
#endif

// Fades n bytes of DB-byte pixels from src into dst (which may be src). The
// strength is k for every pixel, or with `lanes` one per byte in kLanes and
// mLanes (their multipliers), which the scalar path reads as
// kFirst + pixel * kStep. With `opacityK` >= 0 the bytes are first given the
// opacity of that strength over 100, in the same step (0 < opacityK < 100).
template <int DB, Fade fade, bool lanes, bool stream = false>
void fadeBytes(const Fader& fader, const Byte* src, Byte* dst, int n, int kFirst, int kStep,
               const std::uint16_t* kLanes, const std::uint16_t* mLanes, int opacityK = -1)
{
    int j = 0;
#if defined(__SSE2__)
    if (fader.vector && fader.wide) {
        if constexpr (lanes) {
            wide_fade::Lanes strengths;
            strengths.k = kLanes;
            strengths.m = mLanes;
            strengths.f = fader.f;
            strengths.opacityMultiplier = opacityK >= 0 ? multiplier(opacityK, 100) : -1;
            wide_fade::fade(fader.shape, src, dst, std::size_t(n), nullptr, &strengths, stream);
        } else {
            alignas(64) Byte table[256];
            fadeTable<fade>(fader, kFirst, opacityK, table);
            wide_fade::fade(fader.shape, src, dst, std::size_t(n), table, nullptr, stream);
        }
        return;
    }
    if (fader.vector) {
        const FirstStep first = firstStep(fader, opacityK);
        const __m128i f = _mm_set1_epi16(short(fader.f));
        const __m128i k = _mm_set1_epi16(short(kFirst));
        const __m128i m = _mm_set1_epi16(short(multiplier(kFirst, fader.f)));
        const __m128i zero = _mm_setzero_si128();
        const bool streamNow = stream && aligned16(dst);
        for (; j + 48 <= n; j += 48) {
            for (int part = 0; part < 3; ++part) {
                const int o = j + 16 * part;
                __m128i kLow = k, kHigh = k, mLow = m, mHigh = m;
                if constexpr (lanes) {
                    kLow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLanes + o));
                    kHigh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLanes + o + 8));
                    mLow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mLanes + o));
                    mHigh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mLanes + o + 8));
                }
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + o));
                const __m128i active = fader.active[part];
                __m128i result;
                if constexpr (fade == Fade::Colour) {
                    const __m128i c = fader.target[part];
                    const __m128i up = _mm_and_si128(_mm_subs_epu8(c, v), active);
                    const __m128i down = _mm_and_si128(_mm_subs_epu8(v, c), active);
                    const __m128i q = scaleBytes<fade>(first, _mm_or_si128(up, down), kLow, kHigh,
                                                       mLow, mHigh, f);
                    const __m128i rising = _mm_cmpeq_epi8(down, zero);
                    result = _mm_sub_epi8(_mm_add_epi8(v, _mm_and_si128(q, rising)),
                                          _mm_andnot_si128(rising, q));
                } else {
                    const __m128i q = scaleBytes<fade>(first, _mm_and_si128(v, active), kLow, kHigh,
                                                       mLow, mHigh, f);
                    result = _mm_or_si128(_mm_andnot_si128(active, v), q);
                }
                storeVector(dst + o, result, streamNow);
            }
        }
    }
#else
    (void)kLanes;
    (void)mLanes;
#endif
    for (; j < n; ++j) {
        const int channel = j % DB;
        const int strength = lanes ? kFirst + (j / DB) * kStep : kFirst;
        int v = src[j];
        if (opacityK >= 0 && fade == Fade::Colour && channel < 3)
            v += (opacityK * (fader.colour[channel] - v)) / 100;
        else if (opacityK >= 0 && fade == Fade::Alpha && channel == 3)
            v = v * opacityK / 100;
        if (fade == Fade::Colour && channel < 3)
            dst[j] = Byte(v + (strength * (fader.colour[channel] - v)) / fader.f);
        else if (fade == Fade::Alpha && channel == 3)
            dst[j] = Byte(v * strength / fader.f);
        else
            dst[j] = Byte(v);
    }
}

// The strength of strip line s (s = F - 1 on the first faded line, 0 at the
// outer edge).
template <Fade fade> int strength(int s, int f)
{
    return fade == Fade::Colour ? f - 1 - s : s;
}

using Frame = ReflectionFrame;

// The opacity is a fade of one strength over the whole strip, with 100 in
// place of F: colour mode moves (100 - O) % towards the colour, transparency
// mode keeps O % of the alpha.
template <int DB, Fade fade> struct Opacity {
    Fader fader;
    int k = 0;
    bool active = false;
    explicit Opacity(const Frame& f)
    {
        active = f.opacity < 100;
        k = fade == Fade::Colour ? 100 - f.opacity : f.opacity;
        fader.prepare<DB>(100, f.colour, fade);
        // The vector path's multiplier takes strengths below F only; opacity
        // 0 in colour mode (k = F = 100) takes the scalar one.
        fader.vector = fader.vector && k < 100;
        fader.wide = fader.wide && fader.vector;
#if defined(__SSE2__)
        if (fader.wide && active) // made once, not for every run of bytes
            fadeTable<fade>(fader, k, -1, table);
#endif
    }
    // The strength a fade takes to give the opacity in the same step, -1 when
    // the opacity is its own step (none, or opacity 0 in colour mode).
    int beforeFade() const
    {
        return active && k < 100 ? k : -1;
    }
    template <bool stream = false> void apply(const Byte* src, Byte* dst, int bytes) const
    {
        if (fader.wide)
            wide_fade::fade(fader.shape, src, dst, std::size_t(bytes), table, nullptr, stream);
        else
            fadeBytes<DB, fade, false, stream>(fader, src, dst, bytes, k, 0, nullptr, nullptr);
    }
    alignas(64) Byte table[256]{};
};

// `count` pixels of the gap: the background colour, opaque, in colour mode;
// all 0 in transparency mode.
template <int DB, Fade fade> std::vector<Byte> gapPixels(const Frame& f, int count)
{
    std::vector<Byte> pixels(std::size_t(count) * DB, 0);
    if (fade == Fade::Colour) {
        for (int x = 0; x < count; ++x) {
            for (int c = 0; c < 3; ++c)
                pixels[std::size_t(x) * DB + c] = Byte(f.colour[c]);
            if (DB == 4)
                pixels[std::size_t(x) * DB + 3] = 0xFF;
        }
    }
    return pixels;
}

template <int DB> void zeroPadding(Byte* line, const Frame& f)
{
    const std::size_t used = std::size_t(f.outWidth) * DB;
    std::memset(line + used, 0, std::size_t(f.outPitch) - used);
}

} // namespace reflection_pixels
