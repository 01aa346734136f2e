// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The contact edge: the margin at the reflecting edge of a picture, taken
// away before it is reflected (reflection_renderer.h states the rule).

#include "reflection/renderer/reflection_renderer.h"

#include <FreeImage.h>

// The margin of a 24/32-bit standard bitmap at `direction`'s edge, in lines
// (rows for top and bottom, columns for left and right); 0 when the picture
// is all margin.
int contactMarginOf(FIBITMAP* standard, Direction direction);

// The tolerance of a picture without alpha: a margin line's every channel is
// within this much of the outermost line's first pixel.
constexpr int contactTolerance = 8;
