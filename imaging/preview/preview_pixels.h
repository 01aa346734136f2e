// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace preview_pixels {

// A line of `width` 32-bit pixels (blue, green, red, alpha bytes) to Qt's
// premultiplied ARGB words, rounded exactly as qPremultiply rounds. Returns
// the AND of all the line's pixels: its top byte is 0xFF only when every
// pixel is opaque.
std::uint32_t premultiplyLine(const std::uint8_t* src, std::uint32_t* dst, int width);

} // namespace preview_pixels
