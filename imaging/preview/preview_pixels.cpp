// SPDX-License-Identifier: GPL-3.0-or-later
// The preview's premultiplying, written once over vectors and built by Highway
// for every instruction set it knows; qPremultiply, a pixel at a time, is the
// reference and the single-lane build.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/preview/preview_pixels.cpp"
#include <hwy/foreach_target.h>

#include <hwy/highway.h>

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
    // lanes: the even bytes (blue, red) and the odd ones (green, alpha) apart,
    // each multiplied by its pixel's alpha, which stands in both halves of
    // the pixel's word. The alpha byte is kept as it was.
    const hn::ScalableTag<Word> d;
    const hn::Repartition<std::uint16_t, decltype(d)> d16;
    const int n = int(hn::Lanes(d));
    const auto low = hn::Set(d16, 0xFF);
    const auto half = hn::Set(d16, 0x80);
    const auto colours = hn::Set(d, 0x00FFFFFFu);
    const auto scaled = [&](auto bytes, auto factor) {
        const auto t = hn::Mul(bytes, factor);
        return hn::ShiftRight<8>(hn::Add(hn::Add(t, hn::ShiftRight<8>(t)), half));
    };
    auto allVector = hn::Set(d, ~Word(0));
    for (; x + n <= width; x += n) {
        const auto v = hn::BitCast(
            d, hn::LoadU(hn::Repartition<std::uint8_t, decltype(d)>(), src + 4 * std::size_t(x)));
        allVector = hn::And(allVector, v);
        const auto alpha = hn::ShiftRight<24>(v);
        const auto factor = hn::BitCast(d16, hn::Or(alpha, hn::ShiftLeft<16>(alpha)));
        const auto v16 = hn::BitCast(d16, v);
        const auto even = scaled(hn::And(v16, low), factor);
        const auto odd = scaled(hn::ShiftRight<8>(v16), factor);
        const auto p = hn::BitCast(d, hn::Or(even, hn::ShiftLeft<8>(odd)));
        hn::StoreU(hn::Or(hn::And(p, colours), hn::AndNot(colours, v)), d, dst + x);
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
