// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Pixels moved as little-endian words: blue in the low byte, alpha in the
// high one, so that FreeImage's 32-bit pixel read as a word is also Qt's
// 0xAARRGGBB. For the renderer's copies and the preview; and lines turned
// between FreeImage's byte order and the one of the files' pixels.

#include <FreeImage.h>

#include <cstdint>
#include <cstring>

namespace pixel_words {

using Byte = std::uint8_t;
using Word = std::uint32_t;
using Pair = std::uint64_t;

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

// n pixels of three bytes widened to four, each given `alpha`.
inline void widen(const Byte* src, Byte* dst, int n, Byte alpha)
{
    const Word a = Word(alpha) << 24;
    int i = 0;
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

// `width` pixels between FreeImage's order (blue, green, red, alpha) and the
// files' (red, green, blue, alpha), which turn alike: In bytes a pixel read
// (3 or 4), Out written (3, or 4 where In is 4).
template <int In, int Out> inline void swapRedBlue(const Byte* in, Byte* out, unsigned width)
{
    static_assert(Out <= In);
    for (unsigned x = 0; x < width; ++x, in += In, out += Out) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        if constexpr (Out == 4)
            out[3] = in[3];
    }
}

} // namespace pixel_words
