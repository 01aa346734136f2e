// SPDX-License-Identifier: GPL-3.0-or-later
// Colours weighted by their alpha in vectors, for the Highway sources that
// include this header once per instruction set (the blur's passes, the
// preview): the even bytes of each pixel (blue, red) and the odd ones (green,
// alpha) in 16-bit lanes apart, each multiplied by its pixel's alpha, which
// stands in both halves of the pixel's word; the alpha byte is kept.

// Included once per instruction set: the guard flips with Highway's toggle.
#if defined(GLASSMERE_PREMULTIPLY_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef GLASSMERE_PREMULTIPLY_INL_H_
#undef GLASSMERE_PREMULTIPLY_INL_H_
#else
#define GLASSMERE_PREMULTIPLY_INL_H_
#endif

#include <hwy/highway.h>

#include <cstdint>

HWY_BEFORE_NAMESPACE();
namespace premultiply {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Pixels as 32-bit words; `round` takes the 16-bit products c * alpha to
// the weighted colours.
template <class D, class Round> HWY_INLINE hn::Vec<D> pixels(D d, hn::Vec<D> v, const Round& round)
{
    const hn::Repartition<std::uint16_t, D> d16;
    const auto alpha = hn::ShiftRight<24>(v);
    const auto factor = hn::BitCast(d16, hn::Or(alpha, hn::ShiftLeft<16>(alpha)));
    const auto v16 = hn::BitCast(d16, v);
    const auto even = round(hn::Mul(hn::And(v16, hn::Set(d16, 0xFF)), factor));
    const auto odd = round(hn::Mul(hn::ShiftRight<8>(v16), factor));
    const auto p = hn::BitCast(d, hn::Or(even, hn::ShiftLeft<8>(odd)));
    const auto colours = hn::Set(d, 0x00FFFFFFu);
    return hn::Or(hn::And(p, colours), hn::AndNot(colours, v));
}

} // namespace HWY_NAMESPACE
} // namespace premultiply
HWY_AFTER_NAMESPACE();

#endif
