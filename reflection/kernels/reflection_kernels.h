// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The renderer's pixel kernels. reflection_renderer.cpp lays the result out
// (its size, the strip's lines, whether the previous bitmap can take it) and
// hands the kernels a frame; they write every byte of it.

#include "reflection/renderer/reflection_renderer.h"

#include <cstddef>
#include <cstdint>

// The source's and the result's pixels and the strip's measures, held to
// their meaningful ranges; rows are FreeImage scan lines (bottom-up).
struct ReflectionFrame {
    const std::uint8_t* srcBits;
    std::ptrdiff_t srcPitch;
    int width;  // source
    int height; // source
    std::uint8_t* outBits;
    std::ptrdiff_t outPitch;
    int outWidth;
    int outHeight;
    Direction direction;
    int strip; // R
    int faded; // F
    int gap;
    int extraLines;
    int colour[3]; // blue, green, red
    int opacity;   // 0..100
    int blur;      // 0..maximumBlur, 0 when the strip has fewer than two lines
    int skew;      // -maximumSkew..maximumSkew, 0 when the strip has fewer than two lines
};

// Writes every byte of the result `frame` describes, padding included, from a
// standard source of `sourceBytes` (3 or 4) per pixel, in transparency mode
// (32-bit result, alpha fades) or colour mode (the source's depth). Throws
// std::bad_alloc, before the first byte is written, when memory runs out.
void renderReflectionFrame(const ReflectionFrame& frame, int sourceBytes, bool transparent);
