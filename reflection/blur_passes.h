#pragma once

// The strip blur's inner loops (strip_blur.cpp arranges them): box passes
// along a line and across lines, premultiplying and bringing colours back.
// reflection_renderer.h gives the formulas.

#include <cstddef>
#include <cstdint>

namespace blur_passes {

using Byte = std::uint8_t;
using Sum = std::uint16_t;

// One pass along a line of `count` positions, `lanes` (3 or 4) bytes each,
// with one half-width for the whole line. `extended` is the line with `pad`
// positions of its edge values repeated on both sides, plus one spare byte;
// `prefix` has room for (count + 2 * pad + 1) * lanes + 1 sums.
void passAlong(const Byte* extended, Sum* prefix, Byte* out, int count, int lanes, int pad,
               int h256);

// One pass across the lines of a band of `lanes` bytes: line t of the band
// starts at in + t * inStep, and its result at out + t * outStep; line t has
// the half-width h256[t]. `prefix` has room for (lines + 2 * pad + 1) * lanes
// sums. With `unpremultiplied`, the pixels (of four bytes) are brought back
// from premultiplied as they are written.
void passAcross(const Byte* in, std::ptrdiff_t inStep, Byte* out, std::ptrdiff_t outStep,
                Sum* prefix, int lines, int lanes, int pad, const int* h256,
                bool unpremultiplied = false);

// `width` pixels of blue, green, red, alpha from `in` to `out` (which may be
// `in`), colours weighted by their alpha, and back.
void premultiply(const Byte* in, Byte* out, int width);
void unpremultiply(Byte* line, int width);

// Whether premultiply() and unpremultiply() may use AVX-512 where the processor
// has it (they give the same bytes without); tests turn it off to check the
// other path.
extern bool wideVectors;

} // namespace blur_passes
