// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The skew of the strip: every line moved along the edge by its share of the
// skew, between whole pixels by linear interpolation of its two neighbours.
// reflection_renderer.h gives the definition; the kernels call these for the
// lines of the strip, after the blur and before the opacity and the fade.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace strip_skew {

// Where the pixels of a line come from: pixel x of the skewed line is made of
// the unskewed line's pixels x - whole and x - whole - 1, the second weighing
// fraction / 256 (0..255).
struct Shift {
    int whole = 0;
    int fraction = 0;
};

// Line t of a strip of `lines` lines (two or more), with the picture `base`
// pixels from the start of the result's line (|skew| for a negative skew,
// else 0): the line's shift of skew * t / (lines - 1) pixels in 1/256 pixel,
// rounded, halves away from zero, plus the base.
Shift shiftOf(int t, int lines, int skew);

// The `outWidth` pixels of one skewed line, written into `out` from the
// `width` pixels of the unskewed line `in` (no byte of which `out` may
// share), `bytes` (3 or 4) per pixel. Pixels beyond `in` are `background`.
// The line is moved within `out`: width + shift.whole is at most outWidth,
// below it where the shift has a fraction (shiftOf's for the |skew| wider).
// With `byAlpha` (4 bytes), colours are weighed by their alpha where the two
// neighbours' alphas differ; with `oneAlpha` too, every pixel of `in` has the
// same alpha (a 24-bit line widened), so that only its ends, beside the
// background, can differ from their neighbours.
void skewLine(const std::uint8_t* in, int width, std::uint8_t* out, int outWidth, Shift shift,
              int bytes, const std::uint8_t* background, bool byAlpha, bool oneAlpha = false);

// The ends of the runs of columns with one whole shift among shifts[0..count),
// each run within one piece of `piece` columns.
std::vector<int> runEnds(const Shift* shifts, int count, int piece);

// The mix of the first pixels `a` and the second `b` of a row of `count`
// pixels across the result's rows (left and right), each pixel with its
// column's fraction, which `weights` repeats for each of its `bytes` bytes.
void blendAcross(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* weights,
                 int count, int bytes, bool byAlpha, std::uint8_t* out);

} // namespace strip_skew
