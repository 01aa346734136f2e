// SPDX-License-Identifier: GPL-3.0-or-later
// The skew's mix of two neighbours with Highway: bytes widened to 16-bit
// lanes (a * (256 - f) + b * f + 128 stays below 65536), shifted and narrowed
// back. Compiled once for each target by foreach_target.h.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "reflection/kernels/strip_skew_hwy.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep

#include <hwy/highway.h>

#include "reflection/kernels/strip_skew_hwy.h"

HWY_BEFORE_NAMESPACE();
namespace strip_skew {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

using D16 = hn::ScalableTag<std::uint16_t>;
using D8 = hn::Rebind<std::uint8_t, D16>;
using DI16 = hn::Rebind<std::int16_t, D16>;

template <class V> HWY_INLINE V Mix(V a, V b, V keep, V weight)
{
    const D16 d16;
    return hn::ShiftRight<8>(hn::Add(hn::Add(hn::Mul(a, keep), hn::Mul(b, weight)),
                                     hn::Set(d16, std::uint16_t(128))));
}

// The mix's 16-bit lanes narrowed to bytes: each is at most 255 already.
template <class V> HWY_INLINE void Store(V mixed, std::uint8_t* out)
{
    const D8 d8;
    const DI16 di16;
    hn::StoreU(hn::DemoteTo(d8, hn::BitCast(di16, mixed)), d8, out);
}

void BlendBytes(const std::uint8_t* HWY_RESTRICT a, const std::uint8_t* HWY_RESTRICT b,
                std::uint8_t* HWY_RESTRICT out, int n, int f)
{
    const D16 d16;
    const D8 d8;
    const int lanes = int(hn::Lanes(d16));
    const auto keep = hn::Set(d16, std::uint16_t(256 - f));
    const auto weight = hn::Set(d16, std::uint16_t(f));
    int j = 0;
    for (; j + lanes <= n; j += lanes) {
        const auto va = hn::PromoteTo(d16, hn::LoadU(d8, a + j));
        const auto vb = hn::PromoteTo(d16, hn::LoadU(d8, b + j));
        Store(Mix(va, vb, keep, weight), out + j);
    }
    for (; j < n; ++j)
        out[j] = std::uint8_t((a[j] * (256 - f) + b[j] * f + 128) >> 8);
}

void BlendLanes(const std::uint8_t* HWY_RESTRICT a, const std::uint8_t* HWY_RESTRICT b,
                const std::uint8_t* HWY_RESTRICT weights, std::uint8_t* HWY_RESTRICT out, int n)
{
    const D16 d16;
    const D8 d8;
    const int lanes = int(hn::Lanes(d16));
    const auto whole = hn::Set(d16, std::uint16_t(256));
    int j = 0;
    for (; j + lanes <= n; j += lanes) {
        const auto weight = hn::PromoteTo(d16, hn::LoadU(d8, weights + j));
        const auto va = hn::PromoteTo(d16, hn::LoadU(d8, a + j));
        const auto vb = hn::PromoteTo(d16, hn::LoadU(d8, b + j));
        Store(Mix(va, vb, hn::Sub(whole, weight), weight), out + j);
    }
    for (; j < n; ++j)
        out[j] = std::uint8_t((a[j] * (256 - weights[j]) + b[j] * weights[j] + 128) >> 8);
}

} // namespace HWY_NAMESPACE
} // namespace strip_skew
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace strip_skew {

HWY_EXPORT(BlendBytes);
HWY_EXPORT(BlendLanes);

void blendBytesVector(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, int n,
                      int f)
{
    HWY_DYNAMIC_DISPATCH(BlendBytes)(a, b, out, n, f);
}

void blendLanesVector(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* weights,
                      std::uint8_t* out, int n)
{
    HWY_DYNAMIC_DISPATCH(BlendLanes)(a, b, weights, out, n);
}

} // namespace strip_skew
#endif
