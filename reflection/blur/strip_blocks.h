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

// The lines have 3 or 4 bytes a pixel, side by side.
void copyIn(const StripView& mirror, const StripView& lines, int from, int to);
// Where the lines leave alpha out, it comes from the mirror (255 where its
// pixels have three bytes).
void copyOut(const StripView& mirror, const StripView& strip, const StripView& lines, int from,
             int to);

} // namespace strip_blocks
