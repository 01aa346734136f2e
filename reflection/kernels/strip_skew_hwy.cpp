// SPDX-License-Identifier: GPL-3.0-or-later
// The skew's mix of two neighbours with Highway: bytes widened to 16-bit
// lanes (a * (256 - f) + b * f + 128 stays below 65536), shifted and narrowed
// back. Compiled once for each target by foreach_target.h.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "reflection/kernels/strip_skew_hwy.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep

#include <hwy/highway.h>

#include <algorithm>
#include <cstring>

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

// One vector of bytes, each with its own weight.
HWY_INLINE void LanesAt(const std::uint8_t* HWY_RESTRICT a, const std::uint8_t* HWY_RESTRICT b,
                        const std::uint8_t* HWY_RESTRICT weights, std::uint8_t* HWY_RESTRICT out)
{
    const D16 d16;
    const D8 d8;
    const auto weight = hn::PromoteTo(d16, hn::LoadU(d8, weights));
    const auto va = hn::PromoteTo(d16, hn::LoadU(d8, a));
    const auto vb = hn::PromoteTo(d16, hn::LoadU(d8, b));
    Store(Mix(va, vb, hn::Sub(hn::Set(d16, std::uint16_t(256)), weight), weight), out);
}

void BlendLanes(const std::uint8_t* HWY_RESTRICT a, const std::uint8_t* HWY_RESTRICT b,
                const std::uint8_t* HWY_RESTRICT weights, std::uint8_t* HWY_RESTRICT out, int n)
{
    const int lanes = int(hn::Lanes(D16()));
    int j = 0;
    for (; j + lanes <= n; j += lanes)
        LanesAt(a + j, b + j, weights + j, out + j);
    for (; j < n; ++j)
        out[j] = std::uint8_t((a[j] * (256 - weights[j]) + b[j] * weights[j] + 128) >> 8);
}

using D32 = hn::ScalableTag<std::uint32_t>;

// Pixels read and written as 32-bit words (the lanes' loads copy bytes).
HWY_INLINE hn::Vec<D32> LoadPixels(const std::uint8_t* at)
{
    return hn::LoadU(D32(), reinterpret_cast<const std::uint32_t*>(at));
}

// Products and sums of the two 16-bit halves of each 32-bit lane, none of
// which carries into the other half.
template <class V> HWY_INLINE V MulHalves(V x, V y)
{
#if HWY_TARGET == HWY_SCALAR
    const D32 d32;
    const auto low = hn::Set(d32, 0xFFFFu);
    return hn::Or(hn::And(hn::Mul(hn::And(x, low), hn::And(y, low)), low),
                  hn::ShiftLeft<16>(hn::Mul(hn::ShiftRight<16>(x), hn::ShiftRight<16>(y))));
#else
    const hn::Repartition<std::uint16_t, D32> d16;
    return hn::BitCast(D32(), hn::Mul(hn::BitCast(d16, x), hn::BitCast(d16, y)));
#endif
}

template <class V> HWY_INLINE V AddHalves(V x, V y)
{
#if HWY_TARGET == HWY_SCALAR
    return hn::Add(x, y); // the sums of the halves stay below 2^16
#else
    const hn::Repartition<std::uint16_t, D32> d16;
    return hn::BitCast(D32(), hn::Add(hn::BitCast(d16, x), hn::BitCast(d16, y)));
#endif
}

// Pixels of 4 bytes, one a 32-bit lane, where the two neighbours' alphas may
// differ: there the colours are mixed with b's weight g = 256 * wb / total,
// rounded, halves to even, instead of f, wa = alpha(a) * (256 - f), wb =
// alpha(b) * f, total = wa + wb. Where the alphas agree g is f itself, and so
// it is where the total is 0 (both neighbours see-through). 256 * wb is below
// 2^24, exact in float, and a quotient that is not a half lies at least
// 1 / (2 * total) from the nearest half, more than half a float step there:
// the correctly rounded division, rounded to a whole number, is g. Colours 0
// and 2 are mixed in the lane's two 16-bit halves at once, colour 1 likewise
// beside the alpha, whose own mix with f is (total + 128) / 256; every
// product and sum fits 16 bits.
HWY_INLINE hn::Vec<D32> AlphaMix(hn::Vec<D32> va, hn::Vec<D32> vb, hn::Vec<D32> weight)
{
    const D32 d32;
    const hn::Rebind<std::int32_t, D32> di32;
    const hn::Rebind<float, D32> df;
    const auto toFloat = [&](auto v) { return hn::ConvertTo(df, hn::BitCast(di32, v)); };
    const auto alphaA = hn::ShiftRight<24>(va);
    const auto alphaB = hn::ShiftRight<24>(vb);
    const auto pairs = hn::Set(d32, 0x00FF00FFu);
    const auto alphaByte = hn::Set(d32, 0xFF000000u);
    auto g = weight;
    auto alpha = hn::And(va, alphaByte);
    if (!hn::AllFalse(d32, hn::Ne(alphaA, alphaB))) {
        const auto wa = MulHalves(alphaA, hn::Sub(hn::Set(d32, 256u), weight));
        const auto wb = MulHalves(alphaB, weight);
        const auto total = hn::Add(wa, wb);
        const auto q =
            hn::Div(toFloat(hn::ShiftLeft<8>(wb)), hn::Max(toFloat(total), hn::Set(df, 1.0f)));
        // 2^23 added rounds a float 0..256 to a whole number, halves to even,
        // in the lowest bits of the mantissa.
        const auto whole =
            hn::And(hn::BitCast(d32, hn::Add(q, hn::Set(df, 8388608.0f))), hn::Set(d32, 511u));
        g = hn::IfThenElse(hn::Eq(total, hn::Zero(d32)), weight, whole);
        alpha = hn::And(hn::ShiftLeft<16>(hn::Add(total, hn::Set(d32, 128u))), alphaByte);
    }
    const auto weights = hn::Or(g, hn::ShiftLeft<16>(g)); // g in both halves
    const auto keep = hn::Sub(hn::Set(d32, 0x01000100u), weights);
    const auto half = hn::Set(d32, 0x00800080u);
    const auto mix = [&](auto x, auto y) {
        return AddHalves(AddHalves(MulHalves(hn::And(x, pairs), keep),
                                   MulHalves(hn::And(y, pairs), weights)),
                         half);
    };
    const auto even = hn::And(hn::ShiftRight<8>(mix(va, vb)), pairs);
    const auto odd =
        hn::And(mix(hn::ShiftRight<8>(va), hn::ShiftRight<8>(vb)), hn::Set(d32, 0x0000FF00u));
    return hn::Or(hn::Or(even, odd), alpha);
}

// One vector of such pixels, f = weights[4 * p] for pixel p.
HWY_INLINE void AlphaAt(const std::uint8_t* HWY_RESTRICT a, const std::uint8_t* HWY_RESTRICT b,
                        const std::uint8_t* HWY_RESTRICT weights, std::uint8_t* HWY_RESTRICT out)
{
    const auto weight = hn::And(LoadPixels(weights), hn::Set(D32(), 255u));
    hn::StoreU(AlphaMix(LoadPixels(a), LoadPixels(b), weight), D32(),
               reinterpret_cast<std::uint32_t*>(out));
}

void BlendByAlpha(const std::uint8_t* HWY_RESTRICT a, const std::uint8_t* HWY_RESTRICT b,
                  const std::uint8_t* HWY_RESTRICT weights, int f, std::uint8_t* HWY_RESTRICT out,
                  int n)
{
    const D32 d32;
    const int lanes = int(hn::Lanes(d32));
    const auto fixed = hn::Set(d32, std::uint32_t(f));
    int p = 0;
    for (; p + lanes <= n; p += lanes) {
        if (weights)
            AlphaAt(a + p * 4, b + p * 4, weights + p * 4, out + p * 4);
        else
            hn::StoreU(AlphaMix(LoadPixels(a + p * 4), LoadPixels(b + p * 4), fixed), d32,
                       reinterpret_cast<std::uint32_t*>(out + p * 4));
    }
    for (; p < n; ++p)
        blendPixelByAlpha(a + p * 4, b + p * 4, out + p * 4, weights ? weights[p * 4] : f);
}

// Runs of bytes, each copied from a line of its own, into one row: run r ends
// at byte ends[r] * bytes and comes from lines[r] (the line's byte 0). A
// run's last vector may reach past its end, where the next run writes over
// it; only the row's last bytes are copied without vectors.
void GatherRuns(const std::uint8_t* const* lines, const int* ends, int runs, int bytes,
                std::uint8_t* HWY_RESTRICT out)
{
    const hn::ScalableTag<std::uint8_t> d8;
    const int lanes = int(hn::Lanes(d8));
    const int last = ends[runs - 1] * bytes;
    for (int r = 0, j = 0; r < runs; ++r) {
        const std::uint8_t* from = lines[r];
        const int end = ends[r] * bytes;
        for (; j < end && j + lanes <= last; j += lanes)
            hn::StoreU(hn::LoadU(d8, from + j), d8, out + j);
        if (j < end)
            std::memcpy(out + j, from + j, std::size_t(end - j));
        j = end;
    }
}

// The `n` pixels that end with the one at `src`, in reverse order (pixel q
// of `out` is the source's pixel -q), `sb` bytes each, 24-bit ones widened to
// 32 bits (db = 4) with alpha 255. Vectors of 16 bytes read only bytes of
// the run; the few pixels beyond them go one at a time.
void MirrorRun(const std::uint8_t* HWY_RESTRICT src, std::uint8_t* HWY_RESTRICT out, int n, int sb,
               int db)
{
    int q = 0;
#if HWY_TARGET != HWY_SCALAR
    const hn::FixedTag<std::uint8_t, 16> d;
    if (sb == 4) {
        const D32 d32;
        const int lanes = int(hn::Lanes(d32));
        for (; q + lanes <= n; q += lanes)
            hn::StoreU(hn::Reverse(d32, LoadPixels(src - (q + lanes - 1) * 4)), d32,
                       reinterpret_cast<std::uint32_t*>(out + q * 4));
    } else if (db == 3) {
        // Five pixels from the 16 bytes that end with them; the store's last
        // byte is the first of pixel q + 5, which is written after it.
        alignas(16) static constexpr std::uint8_t order[16] = {13, 14, 15, 10, 11, 12, 7, 8,
                                                               9,  4,  5,  6,  1,  2,  3, 0};
        const auto from = hn::Load(d, order);
        for (; q + 6 <= n; q += 5)
            hn::StoreU(hn::TableLookupBytes(hn::LoadU(d, src - (q + 4) * 3 - 1), from), d,
                       out + q * 3);
    } else {
        // Four pixels widened, from the 16 bytes that end with them.
        alignas(16) static constexpr std::uint8_t order[16] = {13, 14, 15, 0x80, 10, 11, 12, 0x80,
                                                               7,  8,  9,  0x80, 4,  5,  6,  0x80};
        alignas(16) static constexpr std::uint8_t alphas[16] = {0, 0, 0, 255, 0, 0, 0, 255,
                                                                0, 0, 0, 255, 0, 0, 0, 255};
        const auto from = hn::Load(d, order);
        const auto opaque = hn::Load(d, alphas);
        for (; q + 6 <= n; q += 4)
            hn::StoreU(
                hn::Or(hn::TableLookupBytesOr0(hn::LoadU(d, src - (q + 3) * 3 - 4), from), opaque),
                d, out + q * 4);
    }
#endif
    for (; q < n; ++q) {
        std::memcpy(out + q * db, src - q * sb, std::size_t(std::min(sb, db)));
        if (db > sb)
            out[q * db + 3] = 255;
    }
}

} // namespace HWY_NAMESPACE
} // namespace strip_skew
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace strip_skew {

HWY_EXPORT(BlendBytes);
HWY_EXPORT(BlendLanes);
HWY_EXPORT(BlendByAlpha);
HWY_EXPORT(GatherRuns);
HWY_EXPORT(MirrorRun);

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

void mirrorRunVector(const std::uint8_t* src, std::uint8_t* out, int n, int sourceBytes,
                     int outBytes)
{
    HWY_DYNAMIC_DISPATCH(MirrorRun)(src, out, n, sourceBytes, outBytes);
}

void gatherRunsVector(const std::uint8_t* const* lines, const int* ends, int runs, int bytes,
                      std::uint8_t* out)
{
    HWY_DYNAMIC_DISPATCH(GatherRuns)(lines, ends, runs, bytes, out);
}

} // namespace strip_skew
#endif
