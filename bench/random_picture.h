// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A picture of random bytes, shared by the render and window benchmarks: the
// renderer's fade tables see every value.

#include <FreeImagePlus.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

inline fipImage randomPicture(unsigned width, unsigned height, int bpp)
{
    fipImage image(FIT_BITMAP, width, height, unsigned(bpp));
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    BYTE* bits = image.accessPixels();
    const std::size_t size = std::size_t(image.getScanWidth()) * image.getHeight();
    for (std::size_t i = 0; i < size; i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(bits + i, &state, std::min<std::size_t>(8, size - i));
    }
    return image;
}
