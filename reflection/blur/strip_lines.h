#pragma once

// A strip of columns (left, right) copied from the picture's mirror into
// lines of its own for the blur, and from them into the strip: the blur's
// passes want a line's pixels side by side. Included by strip_blur.cpp only.

#include "reflection/blur/blur_passes.h"
#include "reflection/blur/strip_blur.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace strip_lines {

using Byte = std::uint8_t;

// Lines of a strip of columns copied from the mirror into `lines`, and from
// them into the strip, a block of `block` rows at a time: each row is read or
// written from one end of the strip to the other, which the processor sees
// coming, and each line gets a run of neighbouring pixels. The lines hold W
// bytes a pixel: alpha may be left out, and then comes from the mirror (255
// where its pixels have three bytes).
constexpr int block = 16;

// Pixels of three bytes are moved as four where the fourth is written over
// afterwards (or lies beyond a line, which has room for it): one load and one
// store each. `wide` says whether the fourth byte read exists.
template <int W> void movePixel(Byte* to, const Byte* from, bool wide)
{
    if (W == 4 || wide)
        std::memcpy(to, from, 4);
    else
        std::memcpy(to, from, W);
}

template <int SC, int W>
void copyInPixels(const StripView& mirror, Byte* const* lines, int from, int to, int firstPixel)
{
    for (int u0 = firstPixel; u0 < mirror.width; u0 += block) {
        const int count = std::min(block, mirror.width - u0);
        for (int t = from; t < to; ++t) {
            const Byte* pixel = mirror.first + u0 * mirror.pixelStep + t * mirror.lineStep;
            // The byte after a three-byte pixel is the next pixel's, but for
            // the last pixel of a row it may lie beyond the picture.
            const bool wide = SC == 4 || (mirror.lineStep < 0 ? t > 0 : t < mirror.lines - 1);
            Byte* own = lines[t] + u0 * W;
            for (int k = 0; k < count; ++k, pixel += mirror.pixelStep, own += W)
                movePixel<W>(own, pixel, wide);
        }
    }
}

template <int SC, int DC, int W>
void copyOutPixels(const StripView& mirror, const StripView& strip, Byte* const* lines, int from,
                   int to, int firstPixel)
{
    // Three-byte pixels written four bytes at a time overwrite the next
    // line's pixel: the lines are taken in the order that writes it later, and
    // the last one, whose neighbour is another thread's or not the strip's,
    // three bytes at a time.
    const bool down = DC == 3 && strip.lineStep < 0;
    for (int u0 = firstPixel; u0 < strip.width; u0 += block) {
        const int count = std::min(block, strip.width - u0);
        for (int i = from; i < to; ++i) {
            const int t = down ? to - 1 - (i - from) : i;
            const Byte* alpha = mirror.first + u0 * mirror.pixelStep + t * mirror.lineStep + 3;
            Byte* pixel = strip.first + u0 * strip.pixelStep + t * strip.lineStep;
            const Byte* own = lines[t] + u0 * W;
            if constexpr (DC > W) {
                // The fourth byte read from the line is the next pixel's.
                for (int k = 0; k < count; ++k, pixel += strip.pixelStep, own += W) {
                    std::uint32_t value;
                    std::memcpy(&value, own, 4);
                    value = (value & 0xFFFFFFu) | std::uint32_t(SC == 4 ? *alpha : 255) << 24;
                    std::memcpy(pixel, &value, 4);
                    alpha += mirror.pixelStep;
                }
            } else {
                const bool wide = i != to - 1;
                for (int k = 0; k < count; ++k, pixel += strip.pixelStep, own += W)
                    movePixel<W>(pixel, own, wide);
            }
        }
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
#define STRIP_LINES_WIDE __attribute__((target("avx512f,avx512bw,avx512vbmi")))
// GCC 12 takes the intrinsics' deliberately undefined vectors for uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Sixteen vectors of sixteen 4-byte values turned: value c of vector r
// becomes value r of vector c.
STRIP_LINES_WIDE inline void transpose(__m512i* v)
{
    __m512i t[16];
    for (int i = 0; i < 8; ++i) {
        t[2 * i] = _mm512_unpacklo_epi32(v[2 * i], v[2 * i + 1]);
        t[2 * i + 1] = _mm512_unpackhi_epi32(v[2 * i], v[2 * i + 1]);
    }
    // Now vector 4i + k holds, in its quarter j, value 4j + k of vectors
    // 4i .. 4i + 3.
    for (int i = 0; i < 4; ++i) {
        v[4 * i] = _mm512_unpacklo_epi64(t[4 * i], t[4 * i + 2]);
        v[4 * i + 1] = _mm512_unpackhi_epi64(t[4 * i], t[4 * i + 2]);
        v[4 * i + 2] = _mm512_unpacklo_epi64(t[4 * i + 1], t[4 * i + 3]);
        v[4 * i + 3] = _mm512_unpackhi_epi64(t[4 * i + 1], t[4 * i + 3]);
    }
    for (int k = 0; k < 4; ++k) {
        const __m512i low0 = _mm512_shuffle_i32x4(v[k], v[4 + k], 0x44);
        const __m512i high0 = _mm512_shuffle_i32x4(v[k], v[4 + k], 0xEE);
        const __m512i low1 = _mm512_shuffle_i32x4(v[8 + k], v[12 + k], 0x44);
        const __m512i high1 = _mm512_shuffle_i32x4(v[8 + k], v[12 + k], 0xEE);
        t[k] = _mm512_shuffle_i32x4(low0, low1, 0x88);
        t[4 + k] = _mm512_shuffle_i32x4(low0, low1, 0xDD);
        t[8 + k] = _mm512_shuffle_i32x4(high0, high1, 0x88);
        t[12 + k] = _mm512_shuffle_i32x4(high0, high1, 0xDD);
    }
    for (int c = 0; c < 16; ++c)
        v[c] = t[c];
}

// Sixteen pixels of B bytes read as 4-byte values (the fourth byte of three
// undefined), and written back as B bytes.
template <int B> STRIP_LINES_WIDE inline __m512i loadPixels(const Byte* at)
{
    if constexpr (B == 4)
        return _mm512_loadu_si512(at);
    alignas(64) Byte order[64];
    for (int i = 0; i < 64; ++i)
        order[i] = Byte(i / 4 * 3 + std::min(i % 4, 2));
    return _mm512_permutexvar_epi8(_mm512_load_si512(order),
                                   _mm512_maskz_loadu_epi8(0xFFFFFFFFFFFFull, at));
}

template <int B> STRIP_LINES_WIDE inline void storePixels(Byte* at, __m512i pixels)
{
    if constexpr (B == 4) {
        _mm512_storeu_si512(at, pixels);
    } else {
        alignas(64) Byte order[64];
        for (int i = 0; i < 64; ++i)
            order[i] = Byte(i / 3 * 4 + i % 3);
        _mm512_mask_storeu_epi8(at, 0xFFFFFFFFFFFFull,
                                _mm512_permutexvar_epi8(_mm512_load_si512(order), pixels));
    }
}

// Blocks of 16 x 16 pixels turned in vectors; returns the lines done from
// `from` on, for pixels 0 .. width / 16 * 16 - 1 of each.
template <int SC, int W>
STRIP_LINES_WIDE int copyInBlocks(const StripView& mirror, Byte* const* lines, int from, int to)
{
    const int step = mirror.lineStep > 0 ? 1 : -1;
    const int end = from + (to - from) / 16 * 16;
    for (int u0 = 0; u0 + 16 <= mirror.width; u0 += 16) {
        for (int t0 = from; t0 < end; t0 += 16) {
            // The line whose pixels lie first in the picture's rows.
            const int lowest = step > 0 ? t0 : t0 + 15;
            const Byte* corner = mirror.first + u0 * mirror.pixelStep + lowest * mirror.lineStep;
            __m512i v[16];
            for (int r = 0; r < 16; ++r)
                v[r] = loadPixels<SC>(corner + r * mirror.pixelStep);
            transpose(v);
            for (int c = 0; c < 16; ++c)
                storePixels<W>(lines[lowest + step * c] + u0 * W, v[c]);
        }
    }
    return end - from;
}

template <int SC, int DC, int W>
STRIP_LINES_WIDE int copyOutBlocks(const StripView& mirror, const StripView& strip,
                                   Byte* const* lines, int from, int to)
{
    const int step = strip.lineStep > 0 ? 1 : -1;
    // The mirror's pixels for the strip's alpha, reversed where its lines run
    // the other way.
    const bool reversed = (mirror.lineStep > 0) != (strip.lineStep > 0);
    const __m512i backwards =
        _mm512_set_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __mmask64 alphas = 0x8888888888888888ull;
    const int end = from + (to - from) / 16 * 16;
    for (int u0 = 0; u0 + 16 <= strip.width; u0 += 16) {
        for (int t0 = from; t0 < end; t0 += 16) {
            const int lowest = step > 0 ? t0 : t0 + 15;
            __m512i v[16];
            for (int c = 0; c < 16; ++c)
                v[c] = loadPixels<W>(lines[lowest + step * c] + u0 * W);
            transpose(v);
            Byte* corner = strip.first + u0 * strip.pixelStep + lowest * strip.lineStep;
            const int mirrorLowest = reversed ? t0 + 15 - (lowest - t0) : lowest;
            const Byte* alpha =
                mirror.first + u0 * mirror.pixelStep + mirrorLowest * mirror.lineStep;
            for (int r = 0; r < 16; ++r) {
                __m512i pixels = v[r];
                if constexpr (DC > W) {
                    if constexpr (SC == 4) {
                        __m512i source = _mm512_loadu_si512(alpha + r * mirror.pixelStep);
                        if (reversed)
                            source = _mm512_permutexvar_epi32(backwards, source);
                        pixels = _mm512_mask_blend_epi8(alphas, pixels, source);
                    } else {
                        pixels = _mm512_or_si512(pixels, _mm512_set1_epi32(int(0xFF000000u)));
                    }
                }
                storePixels<DC>(corner + r * strip.pixelStep, pixels);
            }
        }
    }
    return end - from;
}
#pragma GCC diagnostic pop
#endif

// The copies, in blocks of vectors where the processor can.
template <int SC, int W> void copyIn(const StripView& mirror, Byte* const* lines, int from, int to)
{
    int done = 0;
#if defined(STRIP_LINES_WIDE)
    if (blur_passes::bytePermutes())
        done = copyInBlocks<SC, W>(mirror, lines, from, to);
#endif
    if (done > 0)
        copyInPixels<SC, W>(mirror, lines, from, from + done, mirror.width / 16 * 16);
    copyInPixels<SC, W>(mirror, lines, from + done, to, 0);
}

template <int SC, int DC, int W>
void copyOut(const StripView& mirror, const StripView& strip, Byte* const* lines, int from, int to)
{
    int done = 0;
#if defined(STRIP_LINES_WIDE)
    if (blur_passes::bytePermutes())
        done = copyOutBlocks<SC, DC, W>(mirror, strip, lines, from, to);
#endif
    if (done > 0)
        copyOutPixels<SC, DC, W>(mirror, strip, lines, from, from + done, strip.width / 16 * 16);
    copyOutPixels<SC, DC, W>(mirror, strip, lines, from + done, to, 0);
}

} // namespace strip_lines
