// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A strip of columns turned into lines and back in blocks of 4 x 4 pixels,
// in vectors (strip_blocks.cpp), for strip_lines.h. Each returns the lines
// done from `from` on (a multiple of blockLines), for pixels
// 0 .. width / blockLines * blockLines - 1 of each; strip_lines.h copies the
// rest a pixel at a time.

#include "reflection/blur/strip_blur.h"

#include <cstdint>

namespace strip_blocks {

constexpr int blockLines = 4;

// The mirror's pixels have `sourceBytes` (3 or 4), the lines `lineBytes`.
int copyIn(const StripView& mirror, std::uint8_t* const* lines, int from, int to, int sourceBytes,
           int lineBytes);
// ... and the strip's `stripBytes`; where the lines leave alpha out, it
// comes from the mirror (255 where its pixels have three bytes).
int copyOut(const StripView& mirror, const StripView& strip, std::uint8_t* const* lines, int from,
            int to, int sourceBytes, int stripBytes, int lineBytes);

} // namespace strip_blocks
