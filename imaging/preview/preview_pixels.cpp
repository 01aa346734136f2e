// SPDX-License-Identifier: GPL-3.0-or-later
// The preview's premultiplying, written once over vectors and built by Highway
// for every instruction set it knows; qPremultiply, a pixel at a time, is the
// reference and the single-lane build.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/preview/preview_pixels.cpp"
#include <hwy/foreach_target.h>

#include <hwy/highway.h>

#include "imaging/pixels/premultiply-inl.h"
#include "imaging/preview/preview_pixels.h"

#include <QColor>

#include <cstring>

HWY_BEFORE_NAMESPACE();
namespace preview_pixels {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using Word = std::uint32_t;

Word premultiplyLineOn(const std::uint8_t* src, Word* dst, int width)
{
    Word all = ~Word(0);
    int x = 0;
#if HWY_TARGET != HWY_SCALAR
    // c * a / 255 as (t + (t >> 8) + 0x80) >> 8 with t = c * a, in 16-bit
    // lanes.
    const hn::ScalableTag<Word> d;
    const hn::Repartition<std::uint8_t, decltype(d)> d8;
    const int n = int(hn::Lanes(d));
    const auto half = hn::Set(hn::Repartition<std::uint16_t, decltype(d)>(), 0x80);
    const auto round = [&](auto t) {
        return hn::ShiftRight<8>(hn::Add(hn::Add(t, hn::ShiftRight<8>(t)), half));
    };
    auto allVector = hn::Set(d, ~Word(0));
    for (; x + n <= width; x += n) {
        const auto v = hn::BitCast(d, hn::LoadU(d8, src + 4 * std::size_t(x)));
        allVector = hn::And(allVector, v);
        hn::StoreU(premultiply::HWY_NAMESPACE::pixels(d, v, round), d, dst + x);
    }
    HWY_ALIGN Word lanes[HWY_MAX_BYTES / sizeof(Word)];
    hn::Store(allVector, d, lanes);
    for (int i = 0; i < n; ++i)
        all &= lanes[i];
#endif
    for (; x < width; ++x) {
        Word p;
        std::memcpy(&p, src + 4 * std::size_t(x), sizeof p);
        all &= p;
        dst[x] = qPremultiply(p);
    }
    return all;
}

} // namespace HWY_NAMESPACE
} // namespace preview_pixels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace preview_pixels {
HWY_EXPORT(premultiplyLineOn);

std::uint32_t premultiplyLine(const std::uint8_t* src, std::uint32_t* dst, int width)
{
    return HWY_DYNAMIC_DISPATCH(premultiplyLineOn)(src, dst, width);
}
} // namespace preview_pixels
#endif
