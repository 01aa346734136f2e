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

// A line of `width` pixels from `in`, whose pixels have `inBytes` (3 or 4),
// into `line` (which may be `in`), of `lanes` bytes a pixel (3, or 4 with
// alpha): premultiplied where it has four (blurAcross brings the colours
// back), its alpha left out where only `in` has one; then, with a half-width
// above 0, three box passes along it. `scratch` has alongScratchBytes() bytes
// for the largest half-width, aligned to 64.
std::size_t alongScratchBytes(int width, int lanes, int h256);
void blurAlong(const Byte* in, int inBytes, Byte* line, int width, int lanes, int h256,
               Byte* scratch);

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

// `width` pixels of three bytes given a fourth, from the pixels of four bytes
// at `alpha`, or 255 where it is null.
void addAlpha(const Byte* in, const Byte* alpha, Byte* out, int width);

} // namespace blur_passes
