// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The exact fade and opacity of a run of bytes, and the copies that write
// past the cache, in the widest vectors the processor has (fade_kernel.cpp),
// for reflection_pixels.h.

#include <cstddef>
#include <cstdint>

namespace fade_kernel {

using Byte = std::uint8_t;

// The fade of a byte v in a line of strength k (0 <= k < F):
//   colour mode: v + (k * (c - v)) / F, truncated towards zero, k = F - 1 - s;
//   transparency mode, alpha bytes: v * k / F, k = s.
// Both come down to q = floor(k * d / F) for d = |c - v| or d = alpha, 0..255.
// Vectors compute it in 16-bit lanes for F up to this.
constexpr int longestVectorFade = 32767;

// ceil(k * 65536 / F), the vectors' multiplier for strength k (k < F).
inline std::uint16_t multiplier(int k, int f)
{
    return std::uint16_t((std::int64_t(k) * 65536 + f - 1) / f);
}

// Which bytes of a pixel fade and towards what.
struct Shape {
    int bytesPerPixel = 3;
    bool alphaFades = false; // transparency mode: the alpha bytes fade, else the colours
    int colour[3]{};         // by byte position: blue, green, red
};

// A fade's strength k over F for every byte, or one per byte: byte j of a
// run has kFirst + (j / bytesPerPixel) * kStep, which `kLanes` and `mLanes`
// (its multipliers) hold byte by byte where F allows vectors. With
// `opacityK` >= 0 the bytes first get the opacity of that strength over 100,
// in the same step (0 < opacityK < 100).
struct Strength {
    int f = 0;
    int kFirst = 0;
    int kStep = 0;
    const std::uint16_t* kLanes = nullptr;
    const std::uint16_t* mLanes = nullptr;
    int opacityK = -1;
};

// n bytes from src into dst (which may be src), src at a pixel's first byte.
// With `stream`, dst is written past the cache where the processor can.
void fade(const Shape& shape, const Strength& strength, const Byte* src, Byte* dst, std::size_t n,
          bool stream);

// n bytes copied past the cache.
void streamCopy(Byte* dst, const Byte* src, std::size_t n);
// n pixels of three bytes widened to four with `alpha`, past the cache.
void streamWiden(const Byte* src, Byte* dst, int n, Byte alpha);
// The copies past the cache are done before anyone reads what they wrote.
void streamsDone();

} // namespace fade_kernel
