// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A strip of columns (left, right) copied from the picture's mirror into
// lines of its own for the blur, and from them into the strip: the blur's
// passes want a line's pixels side by side, a pixel at a time: the reference,
// and what the blocks of strip_blocks.cpp leave over. Included there only.

#include "reflection/blur/strip_blur.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

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
void copyInPixels(const StripView& mirror, const StripView& lines, int from, int to, int firstPixel)
{
    for (int u0 = firstPixel; u0 < mirror.width; u0 += block) {
        const int count = std::min(block, mirror.width - u0);
        for (int t = from; t < to; ++t) {
            const Byte* pixel = mirror.first + u0 * mirror.pixelStep + t * mirror.lineStep;
            // The byte after a three-byte pixel is the next pixel's, but for
            // the last pixel of a row it may lie beyond the picture.
            const bool wide = SC == 4 || (mirror.lineStep < 0 ? t > 0 : t < mirror.lines - 1);
            Byte* own = lines.line(t) + u0 * W;
            for (int k = 0; k < count; ++k, pixel += mirror.pixelStep, own += W)
                movePixel<W>(own, pixel, wide);
        }
    }
}

template <int SC, int DC, int W>
void copyOutPixels(const StripView& mirror, const StripView& strip, const StripView& lines,
                   int from, int to, int firstPixel)
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
            const Byte* own = lines.line(t) + u0 * W;
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

} // namespace strip_lines
