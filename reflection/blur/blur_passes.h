// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The strip blur's inner loops (strip_blur.cpp arranges them): box passes
// along a line and across lines, premultiplying and bringing colours back, in
// the widest vectors the processor has (blur_passes.cpp). reflection_renderer.h
// gives the formulas.

#include <cstddef>
#include <cstdint>

namespace blur_passes {

using Byte = std::uint8_t;
using Sum = std::uint16_t;

// The three passes' window sums, ahead of their rings in blurAcross's scratch.
constexpr std::size_t acrossWindowsBytes(int lanes)
{
    return (3 * std::size_t(lanes) * sizeof(Sum) + 63) / 64 * 64;
}

// One pass along a line of `count` positions, `lanes` (3 or 4) bytes each,
// with one half-width for the whole line. `extended` is the line with `pad`
// positions of its edge values repeated on both sides, plus one spare byte;
// `prefix` has room for (count + 2 * pad + 1) * lanes + 1 sums.
void passAlong(const Byte* extended, Sum* prefix, Byte* out, int count, int lanes, int pad,
               int h256);

// The three passes across the lines of a band of `lanes` bytes, in one sweep
// and in place: line t of the band starts at band + t * step and has the
// half-width h256[t]. Each pass keeps the lines that the next one still needs
// in a ring of `ringLines` lines (acrossRingLines() says how many), so that
// the band's lines are read and written once and all else stays in the
// cache. `scratch` has acrossScratchBytes() bytes, aligned to 64.
// With `unpremultiplied`, the pixels (of four bytes) are brought back from
// premultiplied as they are written.
int acrossRingLines(const int* h256, int lines);
std::size_t acrossScratchBytes(int ringLines, int lanes);
void blurAcross(Byte* band, std::ptrdiff_t step, int lines, int lanes, const int* h256,
                int ringLines, Byte* scratch, bool unpremultiplied);

// `width` pixels of blue, green, red, alpha from `in` to `out` (which may be
// `in`), colours weighted by their alpha (blurAcross brings them back).
void premultiply(const Byte* in, Byte* out, int width);

// `width` pixels of four bytes made three, the fourth left out, and back, the
// fourth byte from the pixels of four bytes at `alpha`, or 255 where it is
// null.
void dropAlpha(const Byte* in, Byte* out, int width);
void addAlpha(const Byte* in, const Byte* alpha, Byte* out, int width);

} // namespace blur_passes
