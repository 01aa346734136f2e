// SPDX-License-Identifier: GPL-3.0-or-later
// The strip's blocks of 4 x 4 pixels turned in 128-bit vectors, which every
// instruction set Highway builds this file for has (once per set, through
// foreach_target.h); the single-lane build turns none and leaves every pixel
// to strip_lines.h's copies, the reference.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "reflection/blur/strip_blocks.cpp"
#include <hwy/foreach_target.h>

#include <hwy/highway.h>

#include "reflection/blur/strip_blocks.h"
#include "reflection/blur/strip_lines.h"

HWY_BEFORE_NAMESPACE();
namespace strip_blocks {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using Byte = std::uint8_t;

#if HWY_TARGET != HWY_SCALAR
using D = hn::FixedTag<std::uint32_t, 4>;
using D8 = hn::Repartition<Byte, D>;
using V = hn::Vec<D>;

// Four pixels of B bytes as four 4-byte values (the fourth byte of three
// undefined), read and written as exactly 4 * B bytes.
template <int B> HWY_INLINE V loadPixels(const Byte* at)
{
    const D d;
    if constexpr (B == 4) {
        return hn::BitCast(d, hn::LoadU(D8(), at));
    } else {
        const hn::FixedTag<Byte, 8> half;
        const hn::FixedTag<Byte, 4> quarter;
        const D8 d8;
        const auto bytes = hn::Combine(d8, hn::ZeroExtendVector(half, hn::LoadU(quarter, at + 8)),
                                       hn::LoadU(half, at));
        alignas(16) static constexpr Byte spread[16] = {0, 1, 2, 0, 3, 4,  5,  0,
                                                        6, 7, 8, 0, 9, 10, 11, 0};
        return hn::BitCast(d, hn::TableLookupBytes(bytes, hn::Load(d8, spread)));
    }
}

template <int B> HWY_INLINE void storePixels(Byte* at, V pixels)
{
    const D8 d8;
    if constexpr (B == 4) {
        hn::StoreU(hn::BitCast(d8, pixels), d8, at);
    } else {
        alignas(16) static constexpr Byte pack[16] = {0,  1,  2,  4,  5, 6, 8, 9,
                                                      10, 12, 13, 14, 0, 0, 0, 0};
        const auto packed = hn::TableLookupBytes(hn::BitCast(d8, pixels), hn::Load(d8, pack));
        const hn::FixedTag<Byte, 8> half;
        const hn::FixedTag<Byte, 4> quarter;
        hn::StoreU(hn::LowerHalf(half, packed), half, at);
        hn::StoreU(hn::LowerHalf(quarter, hn::UpperHalf(half, packed)), quarter, at + 8);
    }
}

// Four vectors of four values turned: value c of vector r becomes value r of
// vector c.
HWY_INLINE void turn(V& v0, V& v1, V& v2, V& v3)
{
    const D d;
    const hn::Repartition<std::uint64_t, D> d64;
    const auto t0 = hn::BitCast(d64, hn::InterleaveLower(d, v0, v1)); // 00 10 01 11
    const auto t1 = hn::BitCast(d64, hn::InterleaveUpper(d, v0, v1)); // 02 12 03 13
    const auto t2 = hn::BitCast(d64, hn::InterleaveLower(d, v2, v3)); // 20 30 21 31
    const auto t3 = hn::BitCast(d64, hn::InterleaveUpper(d, v2, v3)); // 22 32 23 33
    v0 = hn::BitCast(d, hn::InterleaveLower(d64, t0, t2));
    v1 = hn::BitCast(d, hn::InterleaveUpper(d64, t0, t2));
    v2 = hn::BitCast(d, hn::InterleaveLower(d64, t1, t3));
    v3 = hn::BitCast(d, hn::InterleaveUpper(d64, t1, t3));
}

// Each whole block of 4 lines of `view` among from..to-1 and 4 pixels given
// to `block` with its first pixel and the line whose pixels lie first in the
// picture's rows; the line after the blocks returned.
template <typename Block> int forBlocks(const StripView& view, int from, int to, const Block& block)
{
    const int end = from + (to - from) / blockLines * blockLines;
    for (int u0 = 0; u0 + blockLines <= view.width; u0 += blockLines) {
        for (int t0 = from; t0 < end; t0 += blockLines)
            block(u0, view.lineStep > 0 ? t0 : t0 + blockLines - 1);
    }
    return end;
}

template <int SC, int W>
int copyInBlocks(const StripView& mirror, const StripView& lines, int from, int to)
{
    const std::ptrdiff_t next = mirror.lineStep > 0 ? lines.lineStep : -lines.lineStep;
    return forBlocks(mirror, from, to, [&](int u0, int lowest) {
        const Byte* corner = mirror.first + u0 * mirror.pixelStep + lowest * mirror.lineStep;
        const std::ptrdiff_t p = mirror.pixelStep;
        V v0 = loadPixels<SC>(corner), v1 = loadPixels<SC>(corner + p);
        V v2 = loadPixels<SC>(corner + 2 * p), v3 = loadPixels<SC>(corner + 3 * p);
        turn(v0, v1, v2, v3);
        Byte* own = lines.line(lowest) + u0 * W;
        storePixels<W>(own, v0);
        storePixels<W>(own + next, v1);
        storePixels<W>(own + 2 * next, v2);
        storePixels<W>(own + 3 * next, v3);
    });
}

template <int SC, int DC, int W>
int copyOutBlocks(const StripView& mirror, const StripView& strip, const StripView& lines, int from,
                  int to)
{
    const D d;
    const int step = strip.lineStep > 0 ? 1 : -1;
    const std::ptrdiff_t next = step * lines.lineStep;
    // The mirror's pixels for the strip's alpha, reversed where its lines run
    // the other way.
    const bool reversed = (mirror.lineStep > 0) != (strip.lineStep > 0);
    const auto colours = hn::Set(d, 0x00FFFFFFu);
    return forBlocks(strip, from, to, [&](int u0, int lowest) {
        const Byte* own = lines.line(lowest) + u0 * W;
        V v0 = loadPixels<W>(own), v1 = loadPixels<W>(own + next);
        V v2 = loadPixels<W>(own + 2 * next), v3 = loadPixels<W>(own + 3 * next);
        turn(v0, v1, v2, v3);
        Byte* corner = strip.first + u0 * strip.pixelStep + lowest * strip.lineStep;
        const int mirrorLowest = reversed ? lowest + 3 * step : lowest;
        const Byte* alpha = mirror.first + u0 * mirror.pixelStep + mirrorLowest * mirror.lineStep;
        const auto put = [&](int r, V pixels) {
            if constexpr (DC > W) {
                V source = hn::Set(d, 0xFF000000u);
                if constexpr (SC == 4) {
                    source = loadPixels<4>(alpha + r * mirror.pixelStep);
                    if (reversed)
                        source = hn::Reverse(d, source);
                }
                pixels = hn::Or(hn::And(pixels, colours), hn::AndNot(colours, source));
            }
            storePixels<DC>(corner + r * strip.pixelStep, pixels);
        };
        put(0, v0);
        put(1, v1);
        put(2, v2);
        put(3, v3);
    });
}
#endif

// The blocks where the processor has vectors, then what they leave a pixel
// at a time: the pixels beside them, and the lines after them.
template <int SC, int W>
void copyInAll(const StripView& mirror, const StripView& lines, int from, int to)
{
    int end = from;
#if HWY_TARGET != HWY_SCALAR
    end = copyInBlocks<SC, W>(mirror, lines, from, to);
#endif
    const int beside = mirror.width / blockLines * blockLines;
    strip_lines::copyInPixels<SC, W>(mirror, lines, from, end, beside);
    strip_lines::copyInPixels<SC, W>(mirror, lines, end, to, 0);
}

template <int SC, int DC, int W>
void copyOutAll(const StripView& mirror, const StripView& strip, const StripView& lines, int from,
                int to)
{
    int end = from;
#if HWY_TARGET != HWY_SCALAR
    end = copyOutBlocks<SC, DC, W>(mirror, strip, lines, from, to);
#endif
    const int beside = strip.width / blockLines * blockLines;
    strip_lines::copyOutPixels<SC, DC, W>(mirror, strip, lines, from, end, beside);
    strip_lines::copyOutPixels<SC, DC, W>(mirror, strip, lines, end, to, 0);
}

void copyInOn(const StripView& mirror, const StripView& lines, int from, int to)
{
    if (mirror.channels == 3)
        copyInAll<3, 3>(mirror, lines, from, to);
    else if (lines.channels == 3)
        copyInAll<4, 3>(mirror, lines, from, to);
    else
        copyInAll<4, 4>(mirror, lines, from, to);
}

void copyOutOn(const StripView& mirror, const StripView& strip, const StripView& lines, int from,
               int to)
{
    if (strip.channels == 3)
        copyOutAll<3, 3, 3>(mirror, strip, lines, from, to);
    else if (lines.channels == 4)
        copyOutAll<4, 4, 4>(mirror, strip, lines, from, to);
    else if (mirror.channels == 3)
        copyOutAll<3, 4, 3>(mirror, strip, lines, from, to);
    else
        copyOutAll<4, 4, 3>(mirror, strip, lines, from, to);
}

} // namespace HWY_NAMESPACE
} // namespace strip_blocks
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace strip_blocks {
HWY_EXPORT(copyInOn);
HWY_EXPORT(copyOutOn);

void copyIn(const StripView& mirror, const StripView& lines, int from, int to)
{
    HWY_DYNAMIC_DISPATCH(copyInOn)(mirror, lines, from, to);
}

void copyOut(const StripView& mirror, const StripView& strip, const StripView& lines, int from,
             int to)
{
    HWY_DYNAMIC_DISPATCH(copyOutOn)(mirror, strip, lines, from, to);
}
} // namespace strip_blocks
#endif
