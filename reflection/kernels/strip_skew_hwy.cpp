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
    return hn::ShiftRight<8>(
        hn::Add(hn::Add(hn::Mul(a, keep), hn::Mul(b, weight)), hn::Set(d16, std::uint16_t(128))));
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

// Pixels of 4 bytes, one a 32-bit lane, where the two neighbours' alphas may
// differ: there the colours are weighed by alpha, (a * wa + b * wb + total / 2)
// / total with wa = alpha(a) * (256 - f), wb = alpha(b) * f. Where the alphas
// agree (or f is 0) that quotient is the straight mix itself, so only a total
// of 0 (both neighbours see-through) takes the straight mix. Every number is
// a whole one below 2^24, exact in float. The quotient is the numerator times
// the total's reciprocal, rounded down: an estimate and one Newton step, which
// is below 1 / total and within 2^-15 of it, made smaller by 2^-21 so that
// rounding cannot lift it above. The product is then the quotient or up to one
// below it, which its remainder (exact) puts right.
void BlendByAlpha(const std::uint8_t* HWY_RESTRICT a, const std::uint8_t* HWY_RESTRICT b,
                  const std::uint8_t* HWY_RESTRICT weights, int f, std::uint8_t* HWY_RESTRICT out,
                  int n)
{
    const hn::ScalableTag<std::uint32_t> d32;
    const hn::Rebind<std::int32_t, decltype(d32)> di32;
    const hn::Rebind<float, decltype(d32)> df;
    // Pixels read and written as 32-bit words (the lanes' loads copy bytes).
    const auto load = [&](const std::uint8_t* at) {
        return hn::LoadU(d32, reinterpret_cast<const std::uint32_t*>(at));
    };
    const auto toFloat = [&](auto v) { return hn::ConvertTo(df, hn::BitCast(di32, v)); };
    // A whole float 0..255 as the low byte of a word: 2^23 added puts it in
    // the lowest bits of the mantissa.
    const auto magic = hn::Set(df, 8388608.0f);
    const auto toByte = [&](auto v) { return hn::BitCast(d32, hn::Add(v, magic)); };
    const int lanes = int(hn::Lanes(d32));
    const auto byte = hn::Set(d32, 255u);
    const auto whole = hn::Set(d32, 256u);
    const auto half = hn::Set(d32, 128u);
    const auto zero = hn::Zero(d32);
    const auto zeroF = hn::Zero(df);
    const auto oneF = hn::Set(df, 1.0f);
    const auto twoF = hn::Set(df, 2.0f);
    const auto halfF = hn::Set(df, 0.5f);
    const auto byteScale = hn::Set(df, 1.0f / 256.0f);
    const auto below = hn::Set(df, 1.0f - 1.0f / 2097152.0f);
    const auto fixedWeight = hn::Set(d32, std::uint32_t(f));
    int p = 0;
    for (; p + lanes <= n; p += lanes) {
        const auto va = load(a + p * 4);
        const auto vb = load(b + p * 4);
        const auto weight = weights ? hn::And(load(weights + p * 4), byte) : fixedWeight;
        const auto keep = hn::Sub(whole, weight);
        const auto alphaA = hn::ShiftRight<24>(va);
        const auto alphaB = hn::ShiftRight<24>(vb);
        const auto straight = [&](auto x, auto y) {
            return hn::ShiftRight<8>(hn::Add(hn::Add(hn::Mul(x, keep), hn::Mul(y, weight)), half));
        };
        auto result = hn::Zero(d32);
        if (hn::AllFalse(d32, hn::AndNot(hn::Eq(weight, zero), hn::Ne(alphaA, alphaB)))) {
            // No alphas to weigh by (a 24-bit picture's are all 255).
            result = hn::ShiftLeft<24>(straight(alphaA, alphaB));
            result = hn::Or(result, straight(hn::And(va, byte), hn::And(vb, byte)));
            result =
                hn::Or(result, hn::ShiftLeft<8>(straight(hn::And(hn::ShiftRight<8>(va), byte),
                                                         hn::And(hn::ShiftRight<8>(vb), byte))));
            result =
                hn::Or(result, hn::ShiftLeft<16>(straight(hn::And(hn::ShiftRight<16>(va), byte),
                                                          hn::And(hn::ShiftRight<16>(vb), byte))));
            hn::StoreU(result, d32, reinterpret_cast<std::uint32_t*>(out + p * 4));
            continue;
        }
        const auto wa = hn::Mul(toFloat(alphaA), toFloat(keep));
        const auto wb = hn::Mul(toFloat(alphaB), toFloat(weight));
        const auto total = hn::Add(wa, wb);
        // The alpha, (total + 128) / 256.
        result = hn::ShiftLeft<24>(
            toByte(hn::Floor(hn::Mul(hn::Add(total, hn::Set(df, 128.0f)), byteScale))));
        const auto halfTotal = hn::Floor(hn::Mul(total, halfF));
        const auto estimate = hn::ApproximateReciprocal(hn::Max(total, oneF));
        const auto reciprocal =
            hn::Mul(hn::Mul(estimate, hn::NegMulAdd(total, estimate, twoF)), below);
        const auto seeThrough = hn::Eq(total, zeroF);
        const bool anySeeThrough = !hn::AllFalse(df, seeThrough);
        const auto channel = [&](auto x, auto y) {
            const auto num = hn::MulAdd(toFloat(x), wa, hn::MulAdd(toFloat(y), wb, halfTotal));
            auto q = hn::Floor(hn::Mul(num, reciprocal));
            const auto rem = hn::NegMulAdd(q, total, num);
            q = hn::IfThenElse(hn::Ge(rem, total), hn::Add(q, oneF), q);
            const auto mixed = hn::And(toByte(q), byte);
            return anySeeThrough
                       ? hn::IfThenElse(hn::RebindMask(d32, seeThrough), straight(x, y), mixed)
                       : mixed;
        };
        result = hn::Or(result, channel(hn::And(va, byte), hn::And(vb, byte)));
        result = hn::Or(result, hn::ShiftLeft<8>(channel(hn::And(hn::ShiftRight<8>(va), byte),
                                                         hn::And(hn::ShiftRight<8>(vb), byte))));
        result = hn::Or(result, hn::ShiftLeft<16>(channel(hn::And(hn::ShiftRight<16>(va), byte),
                                                          hn::And(hn::ShiftRight<16>(vb), byte))));
        hn::StoreU(result, d32, reinterpret_cast<std::uint32_t*>(out + p * 4));
    }
    for (; p < n; ++p)
        blendPixelByAlpha(a + p * 4, b + p * 4, out + p * 4, weights ? weights[p * 4] : f);
}

} // namespace HWY_NAMESPACE
} // namespace strip_skew
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace strip_skew {

HWY_EXPORT(BlendBytes);
HWY_EXPORT(BlendLanes);
HWY_EXPORT(BlendByAlpha);

void blendBytesVector(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, int n, int f)
{
    HWY_DYNAMIC_DISPATCH(BlendBytes)(a, b, out, n, f);
}

void blendLanesVector(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* weights,
                      std::uint8_t* out, int n)
{
    HWY_DYNAMIC_DISPATCH(BlendLanes)(a, b, weights, out, n);
}

void blendByAlphaVector(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* weights,
                        int f, std::uint8_t* out, int n)
{
    HWY_DYNAMIC_DISPATCH(BlendByAlpha)(a, b, weights, f, out, n);
}

} // namespace strip_skew
#endif
