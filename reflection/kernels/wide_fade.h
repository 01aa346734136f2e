#pragma once

// The fade and the opacity 64 bytes at a time, on processors with AVX-512's
// byte instructions (BW and VBMI), chosen when the program runs: the same
// bytes as the SSE2 path in reflection_pixels.h, which every other processor
// takes. A fade of one strength along its bytes (a row of a top or bottom
// strip, the opacity) looks every byte's change up in a table of 256, made by
// the SSE2 path's own arithmetic; a fade whose strength changes along its
// bytes (a row of a left or right strip) repeats that arithmetic in 32
// 16-bit lanes.

#include <cstddef>
#include <cstdint>

namespace wide_fade {

using Byte = std::uint8_t;

// True on a processor that has the instructions, unless turned off.
bool available();
// Lets the tests compare the SSE2 path with this one on the same processor.
void setAllowed(bool allowed);

// Which bytes fade and towards what, for 64 bytes that start at each of a
// pixel's bytes.
struct Shape {
    int bytesPerPixel = 3;
    bool alphaFades = false; // transparency mode: the alpha bytes fade, else the colours
    std::uint64_t active[4]{};
    alignas(64) Byte target[4][64]{};
    void prepare(int bytesPerPixel, const int colour[3], bool alphaFades);
};

// A strength for every byte: the numbers the SSE2 path takes (reflection_pixels.h),
// and the opacity's multiplier over 100, or -1 without it.
struct Lanes {
    const std::uint16_t* k = nullptr;
    const std::uint16_t* m = nullptr;
    int f = 0;
    int opacityMultiplier = -1;
};

// n bytes from src into dst (which may be src). The change of each fading
// byte is table[d], d its distance to the colour (colour mode) or its alpha,
// or with `lanes` the change the lanes give. With `stream`, whole 64-byte
// blocks of dst are written past the cache.
void fade(const Shape& shape, const Byte* src, Byte* dst, std::size_t n, const Byte* table,
          const Lanes* lanes, bool stream);

} // namespace wide_fade
