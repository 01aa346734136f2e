// SPDX-License-Identifier: GPL-3.0-or-later
// The exact fade and opacity, written once over vectors and built by Highway
// for every instruction set it knows (this file is included once per set
// through foreach_target.h); the processor's best one is chosen when the
// program runs. fadeReference(), a byte at a time, is the formula itself: the
// single-lane build, long fades and the ends of a run take it.
//
// In vectors the fade is computed in 16-bit lanes, exactly: q0 = (d * M) >> 16
// with M = ceil(k * 65536 / F) is q or q + 1, because M overshoots
// k * 65536 / F by less than 1 and d < 256. Which one shows in the sign of
// q0 * F - k * d: it lies in (-F, F], so its low 16 bits read as a signed
// number are exact for F < 32768. With F <= 256 the first estimate is already
// exact: it overshoots k * d / F by less than 255 / 65536 < 1 / F, and the
// fraction of k * d / F is at most (F - 1) / F, so the overshoot never reaches
// the next whole number. The opacity (over 100) always takes this road.
//
// The opacity step before the fade, both exact, in the same lanes: colour
// mode, d is the distance to the colour; the opacity moves q1 of it, the fade
// its share of the rest. Alpha mode: d is the alpha, scaled twice.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "reflection/kernels/fade_kernel.cpp"
#include <hwy/foreach_target.h>

#include <hwy/cache_control.h>
#include <hwy/highway.h>

#include "imaging/pixels/pixel_words.h"
#include "reflection/kernels/fade_kernel.h"

#include <algorithm>
#include <cstring>

#ifndef GLASSMERE_FADE_KERNEL_REFERENCE
#define GLASSMERE_FADE_KERNEL_REFERENCE
namespace fade_kernel {

// Bytes from .. n - 1 of the run.
inline void fadeReference(const Shape& shape, const Strength& s, const Byte* src, Byte* dst,
                          std::size_t from, std::size_t n)
{
    const int pixel = shape.bytesPerPixel;
    for (std::size_t j = from; j < n; ++j) {
        const int channel = int(j % std::size_t(pixel));
        const int k = s.kFirst + int(j / std::size_t(pixel)) * s.kStep;
        int v = src[j];
        if (shape.alphaFades && channel == 3) {
            if (s.opacityK >= 0)
                v = v * s.opacityK / 100;
            v = v * k / s.f;
        } else if (!shape.alphaFades && channel < 3) {
            const int c = shape.colour[channel];
            if (s.opacityK >= 0)
                v += (s.opacityK * (c - v)) / 100;
            v += (k * (c - v)) / s.f;
        }
        dst[j] = Byte(v);
    }
}

} // namespace fade_kernel
#endif

HWY_BEFORE_NAMESPACE();
namespace fade_kernel {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET != HWY_SCALAR
using D8 = hn::ScalableTag<Byte>;
using DH = hn::Half<D8>;
using D16 = hn::Repartition<std::uint16_t, D8>;
using DI = hn::RebindToSigned<D16>;
using V8 = hn::Vec<D8>;
using V16 = hn::Vec<D16>;

// What a fade of one run needs in vectors; the patterns repeat a pixel's
// bytes: pattern[p + i] belongs to the byte i of a vector whose first byte
// is byte p of its pixel.
struct Context {
    const Shape* shape;
    const Strength* strength;
    std::uint16_t f, k, m, opacity; // the opacity's multiplier
    bool shortFade;
    HWY_ALIGN std::uint16_t target[HWY_MAX_BYTES + 4];
    HWY_ALIGN std::uint16_t active[HWY_MAX_BYTES + 4];
};

// floor(k * x / F), and the opacity's step before it.
HWY_INLINE V16 fadeWords(const Context& c, V16 x, V16 k, V16 m)
{
    const D16 d;
    const DI di;
    const V16 q0 = hn::MulHigh(x, m);
    if (c.shortFade)
        return q0;
    const V16 excess = hn::Sub(hn::Mul(q0, hn::Set(d, c.f)), hn::Mul(x, k));
    const auto over = hn::Gt(hn::BitCast(di, excess), hn::Zero(di));
    return hn::Add(q0, hn::BitCast(d, hn::VecFromMask(di, over)));
}

HWY_INLINE V16 changeWords(const Context& c, V16 d, V16 k, V16 m)
{
    if (c.strength->opacityK < 0)
        return fadeWords(c, d, k, m);
    const V16 q1 = hn::MulHigh(d, hn::Set(D16(), c.opacity));
    if (c.shape->alphaFades)
        return fadeWords(c, q1, k, m);
    return hn::Add(q1, fadeWords(c, hn::Sub(d, q1), k, m));
}

// Half a vector of bytes, widened, from pattern position p.
HWY_INLINE V16 fadeHalf(const Context& c, V16 v, int p, V16 k, V16 m)
{
    const D16 d;
    const V16 active = hn::LoadU(d, c.active + p);
    if (c.shape->alphaFades)
        return hn::IfThenElse(hn::MaskFromVec(active), changeWords(c, v, k, m), v);
    const V16 target = hn::LoadU(d, c.target + p);
    const V16 distance = hn::And(hn::Sub(hn::Max(v, target), hn::Min(v, target)), active);
    const V16 q = changeWords(c, distance, k, m);
    return hn::IfThenElse(hn::Lt(v, target), hn::Add(v, q), hn::Sub(v, q));
}

// A vector of bytes from `src`, whose first byte is byte `phase` of its
// pixel; `k` and `m` are the strengths of its bytes where they differ.
HWY_INLINE V8 fadeVector(const Context& c, const Byte* src, const std::uint16_t* k,
                         const std::uint16_t* m, int phase)
{
    const D8 d8;
    const DH dh;
    const D16 d16;
    const DI di;
    const int half = int(hn::Lanes(d16));
    const V8 v = hn::LoadU(d8, src);
    V16 kLow = hn::Set(d16, c.k), kHigh = kLow, mLow = hn::Set(d16, c.m), mHigh = mLow;
    if (k) {
        kLow = hn::LoadU(d16, k);
        kHigh = hn::LoadU(d16, k + half);
        mLow = hn::LoadU(d16, m);
        mHigh = hn::LoadU(d16, m + half);
    }
    const V16 low = fadeHalf(c, hn::PromoteTo(d16, hn::LowerHalf(dh, v)), phase, kLow, mLow);
    const V16 high =
        fadeHalf(c, hn::PromoteTo(d16, hn::UpperHalf(dh, v)), phase + half, kHigh, mHigh);
    return hn::Combine(d8, hn::DemoteTo(dh, hn::BitCast(di, high)),
                       hn::DemoteTo(dh, hn::BitCast(di, low)));
}

// The run in whole vectors, its ends through a vector of its own (so that
// nothing beyond the run is read or written), `block` giving each vector.
template <class Block>
HWY_INLINE void eachVector(const Context& c, const Byte* src, Byte* dst, std::size_t n, bool stream,
                           const Block& block)
{
    const D8 d8;
    const std::size_t lanes = hn::Lanes(d8);
    const int pixel = c.shape->bytesPerPixel;
    const std::uint16_t* kLanes = c.strength->kLanes;
    const std::uint16_t* mLanes = c.strength->mLanes;
    const auto partial = [&](std::size_t j, std::size_t count) {
        HWY_ALIGN Byte in[HWY_MAX_BYTES] = {};
        HWY_ALIGN Byte out[HWY_MAX_BYTES];
        HWY_ALIGN std::uint16_t k[HWY_MAX_BYTES] = {};
        HWY_ALIGN std::uint16_t m[HWY_MAX_BYTES] = {};
        std::memcpy(in, src + j, count);
        if (kLanes) {
            std::memcpy(k, kLanes + j, count * sizeof *k);
            std::memcpy(m, mLanes + j, count * sizeof *m);
        }
        hn::Store(block(in, kLanes ? k : nullptr, m, int(j % std::size_t(pixel))), d8, out);
        std::memcpy(dst + j, out, count);
    };
    std::size_t j = 0;
    if (stream) { // up to the first whole vector of dst, so that the rest can stream
        j = std::min(n, (lanes - reinterpret_cast<std::uintptr_t>(dst) % lanes) % lanes);
        if (j > 0)
            partial(0, j);
    }
    const int advance = int(lanes % std::size_t(pixel));
    int phase = int(j % std::size_t(pixel));
    for (; j + lanes <= n; j += lanes) {
        const V8 r =
            block(src + j, kLanes ? kLanes + j : nullptr, kLanes ? mLanes + j : nullptr, phase);
        if (stream)
            hn::Stream(r, d8, dst + j);
        else
            hn::StoreU(r, d8, dst + j);
        phase += advance;
        phase -= phase >= pixel ? pixel : 0;
    }
    if (j < n)
        partial(j, n - j);
}

#if HWY_TARGET == HWY_AVX3_DL
// With AVX-512's byte permutes a fade of one strength looks every byte's
// change up in a table of 256, made by the arithmetic above: two lookups in
// 128 entries each, chosen by the distance's top bit. This is faster than the
// arithmetic, and Highway has no operation for a table of this size.
void fadeByTable(const Context& c, const Byte* src, Byte* dst, std::size_t n, bool stream)
{
    const D8 d8;
    const DH dh;
    const D16 d16;
    const DI di;
    const std::size_t lanes = hn::Lanes(d8);
    HWY_ALIGN Byte changes[256];
    for (std::size_t at = 0; at < 256; at += lanes) {
        const V16 k = hn::Set(d16, c.k);
        const V16 m = hn::Set(d16, c.m);
        const V16 low = changeWords(c, hn::Iota(d16, at), k, m);
        const V16 high = changeWords(c, hn::Iota(d16, at + lanes / 2), k, m);
        hn::Store(hn::Combine(d8, hn::DemoteTo(dh, hn::BitCast(di, high)),
                              hn::DemoteTo(dh, hn::BitCast(di, low))),
                  d8, changes + at);
    }
    const V8 t0 = hn::Load(d8, changes), t1 = hn::Load(d8, changes + 64);
    const V8 t2 = hn::Load(d8, changes + 128), t3 = hn::Load(d8, changes + 192);
    const hn::RebindToSigned<D8> di8;
    const auto lookUp = [&](V8 d) {
        const V8 low{_mm512_permutex2var_epi8(t0.raw, d.raw, t1.raw)};
        const V8 high{_mm512_permutex2var_epi8(t2.raw, d.raw, t3.raw)};
        return hn::IfThenElse(hn::RebindMask(d8, hn::Lt(hn::BitCast(di8, d), hn::Zero(di8))), high,
                              low);
    };
    HWY_ALIGN Byte target[HWY_MAX_BYTES + 4];
    HWY_ALIGN Byte active[HWY_MAX_BYTES + 4];
    for (std::size_t i = 0; i < lanes + 4; ++i) {
        target[i] = Byte(c.target[i]);
        active[i] = Byte(c.active[i]);
    }
    const bool alphaFades = c.shape->alphaFades;
    eachVector(c, src, dst, n, stream,
               [&](const Byte* at, const std::uint16_t*, const std::uint16_t*, int phase) {
                   const V8 v = hn::LoadU(d8, at);
                   const V8 fading = hn::LoadU(d8, active + phase);
                   if (alphaFades)
                       return hn::IfThenElse(hn::MaskFromVec(fading), lookUp(v), v);
                   const V8 t = hn::LoadU(d8, target + phase);
                   const V8 distance =
                       hn::And(hn::Or(hn::SaturatedSub(t, v), hn::SaturatedSub(v, t)), fading);
                   const V8 q = lookUp(distance);
                   return hn::IfThenElse(hn::Lt(v, t), hn::Add(v, q), hn::Sub(v, q));
               });
}
#endif
#endif // HWY_TARGET != HWY_SCALAR

void fadeOn(const Shape& shape, const Strength& s, const Byte* src, Byte* dst, std::size_t n,
            bool stream)
{
    // Strengths of F and more, and long fades, have no multiplier that fits.
    const bool fits = s.f <= longestVectorFade && (s.kLanes || s.kFirst < s.f);
#if HWY_TARGET != HWY_SCALAR
    if (fits) {
        Context c;
        c.shape = &shape;
        c.strength = &s;
        c.f = std::uint16_t(s.f);
        c.k = std::uint16_t(s.kFirst);
        c.m = s.kLanes ? std::uint16_t(0) : multiplier(s.kFirst, s.f);
        c.opacity = s.opacityK >= 0 ? multiplier(s.opacityK, 100) : std::uint16_t(0);
        c.shortFade = s.f <= 256;
        const int pixel = shape.bytesPerPixel;
        for (int i = 0; i < int(hn::Lanes(D8())) + 4; ++i) {
            const int channel = i % pixel;
            const bool fades = shape.alphaFades ? channel == 3 : channel < 3;
            c.target[i] = std::uint16_t(channel < 3 ? shape.colour[channel] : 0);
            c.active[i] = fades ? 0xFFFF : 0;
        }
#if HWY_TARGET == HWY_AVX3_DL
        if (!s.kLanes)
            return fadeByTable(c, src, dst, n, stream);
#endif
        eachVector(c, src, dst, n, stream,
                   [&](const Byte* at, const std::uint16_t* k, const std::uint16_t* m, int phase) {
                       return fadeVector(c, at, k, m, phase);
                   });
        return;
    }
#endif
    (void)fits;
    (void)stream;
    fadeReference(shape, s, src, dst, 0, n);
}

void streamCopyOn(Byte* dst, const Byte* src, std::size_t n)
{
#if HWY_TARGET != HWY_SCALAR
    const D8 d;
    const std::size_t lanes = hn::Lanes(d);
    const std::size_t head =
        std::min(n, (lanes - reinterpret_cast<std::uintptr_t>(dst) % lanes) % lanes);
    std::memcpy(dst, src, head);
    dst += head;
    src += head;
    n -= head;
    for (; n >= lanes; n -= lanes, dst += lanes, src += lanes)
        hn::Stream(hn::LoadU(d, src), d, dst);
#endif
    std::memcpy(dst, src, n);
}

#if HWY_TARGET != HWY_SCALAR
// Which word of the loaded vector each 32-bit lane takes (block k the words
// 3k .. 3k + 2 of its four pixels; its fourth lane is not used), then which
// of its block's bytes each byte takes (each pixel's fourth byte is replaced
// by the alpha): alike at every vector width, so made once.
struct WidenOrder {
    std::uint32_t words[HWY_MAX_BYTES / 4] = {};
    Byte spread[HWY_MAX_BYTES] = {};
    constexpr WidenOrder()
    {
        for (int w = 0; w < HWY_MAX_BYTES / 4; ++w)
            words[w] = std::uint32_t(3 * (w / 4) + w % 4 % 3);
        for (int b = 0; b < HWY_MAX_BYTES; ++b)
            spread[b] = Byte(b % 16 / 4 * 3 + b % 4);
    }
};
constexpr WidenOrder widenOrder;
#endif

// A vector of pixels at a time: each 128-bit block takes the three words that
// hold its four pixels, spreads their 12 bytes to 16 and puts the alpha in.
void streamWidenOn(const Byte* src, Byte* dst, int n, Byte alpha)
{
    int i = 0;
#if HWY_TARGET != HWY_SCALAR
    const D8 d;
    const hn::Repartition<std::uint32_t, D8> d32;
    const int lanes = int(hn::Lanes(d));
    const int pixels = lanes / 4;
    const auto gather = hn::SetTableIndices(d32, widenOrder.words);
    const auto order = hn::LoadU(d, widenOrder.spread);
    const auto alphas = hn::Set(d32, std::uint32_t(alpha) << 24);
    const auto colours = hn::Set(d32, 0x00FFFFFFu);
    if ((reinterpret_cast<std::uintptr_t>(dst) & 3) == 0) {
        for (; i < n && reinterpret_cast<std::uintptr_t>(dst) % unsigned(lanes) != 0;
             ++i, src += 3, dst += 4)
            std::memcpy(dst, src, 3), dst[3] = alpha;
        // A load reads a quarter of a vector beyond the pixels it widens.
        for (; i + pixels + (pixels + 2) / 3 <= n; i += pixels, src += 3 * pixels, dst += lanes) {
            const auto blocks = hn::TableLookupLanes(hn::BitCast(d32, hn::LoadU(d, src)), gather);
            const auto wide = hn::BitCast(d32, hn::TableLookupBytes(hn::BitCast(d, blocks), order));
            hn::Stream(hn::BitCast(d, hn::Or(hn::And(wide, colours), alphas)), d, dst);
        }
    }
#endif
    pixel_words::widen(src, dst, n - i, alpha);
}

} // namespace HWY_NAMESPACE
} // namespace fade_kernel
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace fade_kernel {
HWY_EXPORT(fadeOn);
HWY_EXPORT(streamCopyOn);
HWY_EXPORT(streamWidenOn);

void fade(const Shape& shape, const Strength& strength, const Byte* src, Byte* dst, std::size_t n,
          bool stream)
{
    HWY_DYNAMIC_DISPATCH(fadeOn)(shape, strength, src, dst, n, stream);
}

void streamCopy(Byte* dst, const Byte* src, std::size_t n)
{
    HWY_DYNAMIC_DISPATCH(streamCopyOn)(dst, src, n);
}

void streamWiden(const Byte* src, Byte* dst, int n, Byte alpha)
{
    HWY_DYNAMIC_DISPATCH(streamWidenOn)(src, dst, n, alpha);
}

void streamsDone()
{
    hwy::FlushStream();
}
} // namespace fade_kernel
#endif
