// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A strip of columns (left, right) copied into lines of its own for the blur
// and back (strip_blur.cpp): in blocks of 4 x 4 pixels turned in vectors
// where the processor has them (strip_blocks.cpp), the rest a pixel at a time
// (strip_lines.h).

#include "reflection/blur/strip_blur.h"

#include <cstdint>

namespace strip_blocks {

constexpr int blockLines = 4;

// The lines have `lineBytes` a pixel (3 or 4).
void copyIn(const StripView& mirror, std::uint8_t* const* lines, int from, int to, int lineBytes);
// Where the lines leave alpha out, it comes from the mirror (255 where its
// pixels have three bytes).
void copyOut(const StripView& mirror, const StripView& strip, std::uint8_t* const* lines, int from,
             int to, int lineBytes);

} // namespace strip_blocks
