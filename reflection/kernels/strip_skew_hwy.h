// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The skew's mix of two neighbours, a vector at a time (strip_skew_hwy.cpp),
// for every instruction set Highway builds, the best one chosen when the
// program runs. The plain loops in strip_skew.cpp are the reference each is
// held to.

#include <cstdint>

namespace strip_skew {

// out[j] = (a[j] * (256 - f) + b[j] * f + 128) >> 8 for j < n, 0 <= f < 256.
void blendBytesVector(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, int n,
                      int f);
// The same with f = weights[j] for every byte.
void blendLanesVector(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* weights,
                      std::uint8_t* out, int n);

// `n` pixels of 4 bytes, colours weighed by alpha where the neighbours'
// alphas differ and f is not 0, f = weights[4 * p] for pixel p (or `f` when
// `weights` is null): blendPixelByAlpha for each.
void blendByAlphaVector(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* weights,
                        int f, std::uint8_t* out, int n);

// One row of runs of pixels, `bytes` each, copied from lines of their own:
// run r ends at pixel ends[r] (the last at the row's end) and comes from the
// line at lines[r] (its pixel 0).
void gatherRunsVector(const std::uint8_t* const* lines, const int* ends, int runs, int bytes,
                      std::uint8_t* out);

// The plain form of one such pixel, the reference.
void blendPixelByAlpha(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, int f);

// The `n` pixels that end with the one at `src` in reverse order, pixel q of
// `out` the source's pixel -q, 24-bit ones widened to 32 bits with alpha 255
// where outBytes is 4: the mirrored strip of the left and right edges.
void mirrorRunVector(const std::uint8_t* src, std::uint8_t* out, int n, int sourceBytes,
                     int outBytes);

} // namespace strip_skew
