// SPDX-License-Identifier: GPL-3.0-or-later
#include "reflection/kernels/strip_skew.h"

#include "reflection/kernels/strip_skew_hwy.h"

#include <FreeImage.h>

#include <cstdlib>
#include <cstring>

// The plain form of the skew: byte loops, the reference for the vector form
// (strip_skew_hwy.cpp) that runs of bytes take, where neighbouring alphas
// agree (all of colour mode, and nearly all of a picture's pixels in
// transparency mode).

namespace strip_skew {

namespace {

using Byte = std::uint8_t;

static_assert(FI_RGBA_ALPHA == 3, "alpha is the fourth byte");

// Runs this long or longer take the vector form: bytes, or pixels weighed by
// alpha.
constexpr int vectorRun = 32;
constexpr int vectorPixels = 16;

// Both neighbours straight: (a * (256 - f) + b * f + 128) / 256 for each of
// `n` bytes.
inline void blendBytes(const Byte* a, const Byte* b, Byte* out, int n, int f)
{
    if (n >= vectorRun) {
        blendBytesVector(a, b, out, n, f);
        return;
    }
    const int keep = 256 - f;
    for (int j = 0; j < n; ++j)
        out[j] = Byte((a[j] * keep + b[j] * f + 128) >> 8);
}

// 256 * part / total, rounded, halves to even: the mix's weights then do
// not change when the two neighbours change places.
inline int shareOf(int part, int total)
{
    const int q = 256 * part / total;
    const int twice = 2 * (256 * part % total);
    return q + (twice > total || (twice == total && (q & 1)));
}

// One pixel of 4 bytes whose neighbours' alphas differ: the colours mixed
// with b's share of the alpha-weighed total, so that a transparent neighbour
// lends no colour.
inline void blendByAlpha(const Byte* a, const Byte* b, Byte* out, int f)
{
    const int wa = a[3] * (256 - f);
    const int wb = b[3] * f;
    const int total = wa + wb; // > 0: the alphas differ, so one is above 0
    const int g = shareOf(wb, total);
    for (int c = 0; c < 3; ++c)
        out[c] = Byte((a[c] * (256 - g) + b[c] * g + 128) >> 8);
    out[3] = Byte((total + 128) >> 8);
}

// The same with a weight for every byte.
inline void blendLanes(const Byte* a, const Byte* b, const Byte* weights, Byte* out, int n)
{
    if (n >= vectorRun) {
        blendLanesVector(a, b, weights, out, n);
        return;
    }
    for (int j = 0; j < n; ++j) {
        const int f = weights[j];
        out[j] = Byte((a[j] * (256 - f) + b[j] * f + 128) >> 8);
    }
}

template <int B, bool byAlpha>
inline void blendPixel(const Byte* a, const Byte* b, Byte* out, int f)
{
    if (f == 0) {
        for (int c = 0; c < B; ++c)
            out[c] = a[c];
    } else if (byAlpha && a[3] != b[3]) {
        blendByAlpha(a, b, out, f);
    } else {
        blendBytes(a, b, out, B, f);
    }
}

// `n` pixels whose neighbours a[k] and b[k] = a[k - 1] both lie in the line.
template <int B, bool byAlpha> void blendRun(const Byte* a, const Byte* b, Byte* out, int n, int f)
{
    if constexpr (!byAlpha) {
        blendBytes(a, b, out, n * B, f);
    } else if (n >= vectorPixels) {
        blendByAlphaVector(a, b, nullptr, f, out, n);
    } else {
        for (int k = 0; k < n; ++k)
            blendPixel<B, true>(a + k * B, b + k * B, out + k * B, f);
    }
}

// Pixels x whose neighbours u = x - whole and u - 1 both lie beyond the line
// are the background itself; those beside its ends mix it with the line's end
// pixels; all others lie in the line. Every pixel of the line lands in `out`:
// whole <= outWidth - width, and below it where there is a fraction.
template <int B, bool byAlpha>
void skewLineOf(const Byte* in, int width, Byte* out, int outWidth, Shift shift,
                const Byte* background, bool oneAlpha = false)
{
    const auto fill = [&](int from, int to) {
        for (int x = from; x < to; ++x)
            std::memcpy(out + x * B, background, B);
    };
    const int first = shift.whole;
    fill(0, first);
    if (shift.fraction == 0) { // whole pixels: the line itself, moved
        std::memcpy(out + first * B, in, std::size_t(width) * B);
        fill(first + width, outWidth);
        return;
    }
    const int f = shift.fraction;
    blendPixel<B, byAlpha>(in, background, out + first * B, f);
    if (width > 1) { // neighbours of one alpha mix straight
        if (oneAlpha)
            blendBytes(in + B, in, out + (first + 1) * B, (width - 1) * B, f);
        else
            blendRun<B, byAlpha>(in + B, in, out + (first + 1) * B, width - 1, f);
    }
    blendPixel<B, byAlpha>(background, in + (width - 1) * B, out + (first + width) * B, f);
    fill(first + width + 1, outWidth);
}

// Pixels of 4 bytes with a weight for every byte, colours weighed by alpha
// where the neighbours' alphas differ.
void blendLanesByAlpha(const Byte* a, const Byte* b, const Byte* weights, Byte* out, int n)
{
    if (n >= vectorPixels) {
        blendByAlphaVector(a, b, weights, 0, out, n);
        return;
    }
    for (int k = 0; k < n; ++k)
        blendPixel<4, true>(a + k * 4, b + k * 4, out + k * 4, weights[k * 4]);
}

} // namespace

void blendPixelByAlpha(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, int f)
{
    blendPixel<4, true>(a, b, out, f);
}

Shift shiftOf(int t, int lines, int skew)
{
    const long long span = 2LL * (lines - 1);
    const long long d256 = (512LL * std::abs(skew) * t + (lines - 1)) / span;
    const long long at = skew < 0 ? 256LL * -skew - d256 : d256;
    return {int(at >> 8), int(at & 255)};
}

void skewLine(const std::uint8_t* in, int width, std::uint8_t* out, int outWidth, Shift shift,
              int bytes, const std::uint8_t* background, bool byAlpha, bool oneAlpha)
{
    if (bytes == 3)
        skewLineOf<3, false>(in, width, out, outWidth, shift, background);
    else if (byAlpha)
        skewLineOf<4, true>(in, width, out, outWidth, shift, background, oneAlpha);
    else
        skewLineOf<4, false>(in, width, out, outWidth, shift, background);
}

std::vector<int> runEnds(const Shift* shifts, int count, int piece)
{
    std::vector<int> ends;
    for (int u = 1; u <= count; ++u) {
        if (u == count || u % piece == 0 || shifts[u].whole != shifts[u - 1].whole)
            ends.push_back(u);
    }
    return ends;
}

void blendAcross(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* weights,
                 int count, int bytes, bool byAlpha, std::uint8_t* out)
{
    if (byAlpha)
        blendLanesByAlpha(a, b, weights, out, count);
    else
        blendLanes(a, b, weights, out, count * bytes);
}

} // namespace strip_skew
