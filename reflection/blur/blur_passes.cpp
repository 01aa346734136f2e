// SPDX-License-Identifier: GPL-3.0-or-later
// The strip blur's passes, written once over vectors and built by Highway for
// every instruction set it knows (this file is included once per set through
// foreach_target.h); the processor's best one is chosen when the program runs.
// The loops one value at a time are the reference, and the form the
// single-lane build takes. Every build gives the same bytes: the passes work
// in integers, and unpremultiplying's floats give exact quotients.
//
// Every box pass is a running sum, so a pass costs the same at any radius:
// along a line, prefix sums of the values (plus the edge repeated); across
// lines, each window's sum is the last one's plus the lines entering minus
// those leaving. The sums are 16-bit and wrap; a window's sum is exact while
// it is below 2^16: at most 2 * 99 + 1 values of 255 at the largest blur.
// 16 bits keep a line's sums in the first-level cache and many in a vector.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "reflection/blur/blur_passes.cpp"
#include <hwy/foreach_target.h>

#include <hwy/cache_control.h>
#include <hwy/highway.h>

#include "imaging/pixels/premultiply-inl.h"
#include "reflection/blur/blur_passes.h"

#include <algorithm>
#include <cstring>

#ifndef GLASSMERE_BLUR_PASSES_REFERENCE
#define GLASSMERE_BLUR_PASSES_REFERENCE
namespace blur_passes {
namespace reference {

// A pass's weights in 1/65536: `inner` for each of the 2n + 1 values around,
// `tails` for the two next ones, together exactly 65536, so that a plain area
// stays plain. inner is even, the closest below 65536 * 256 / d with
// d = 2 * h256 + 256; the tails take the rest.
struct Weights {
    std::uint16_t inner;
    std::uint16_t tails;
    explicit Weights(int h256)
    {
        const int half = (32768 * 256) / (2 * h256 + 256);
        inner = std::uint16_t(2 * half);
        tails = std::uint16_t(32768 - (2 * (h256 >> 8) + 1) * half);
    }
};

// (inner * W + tails * V + 32768) >> 16 in 16-bit arithmetic: the high
// halves of both products, plus the carries out of their low halves and the
// 32768. The sum is below 2^24, so the result is a byte.
inline Byte weighed(Sum inner, Sum tails, std::uint32_t w, std::uint32_t v)
{
    const Sum innerLow = Sum(inner * w);
    const Sum sum = Sum(innerLow + Sum(tails * v));
    const Sum carries = Sum((sum < innerLow) + (sum >> 15));
    return Byte(((inner * w) >> 16) + ((tails * v) >> 16) + carries);
}

// p = (c * alpha + 127) / 255: with x = c * alpha + 128 (at most 65153),
// (x + (x >> 8)) >> 8 is that quotient for every c and alpha (checked for all
// of them).
inline void premultiplyPixels(const Byte* in, Byte* out, int from, int width)
{
    for (int u = from; u < width; ++u) {
        const int alpha = in[4 * u + 3];
        for (int c = 0; c < 3; ++c)
            out[4 * u + c] = Byte((in[4 * u + c] * alpha + 127) / 255);
        out[4 * u + 3] = Byte(alpha);
    }
}

// c = min(255, (p * 255 + alpha / 2) / alpha), 0 where alpha is 0.
inline void unpremultiplyPixels(Byte* line, int from, int width)
{
    for (int u = from; u < width; ++u) {
        Byte* pixel = line + 4 * u;
        const int alpha = pixel[3];
        for (int c = 0; c < 3; ++c)
            pixel[c] = alpha == 0 ? 0 : Byte(std::min(255, (pixel[c] * 255 + alpha / 2) / alpha));
    }
}

} // namespace reference
} // namespace blur_passes
#endif

HWY_BEFORE_NAMESPACE();
namespace blur_passes {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using namespace reference;

#undef BLUR_VECTORS
#if HWY_TARGET != HWY_SCALAR
#define BLUR_VECTORS 1
using D16 = hn::ScalableTag<Sum>;
using D8 = hn::Rebind<Byte, D16>; // as many bytes as D16 has sums
#else
#define BLUR_VECTORS 0
#endif

// weighed() for `count` window sums `high` - `low` (`high` alone without
// `Difference`) and the tails `before` + `after`. With `Moving`, the window
// moves on by a line first: `entering` joins it and `before`, the line below
// it, leaves it, and the new sums are kept in `high`.
template <bool Difference, bool Moving>
HWY_INLINE void weigh(Sum* HWY_RESTRICT high, const Sum* HWY_RESTRICT low,
                      const Byte* HWY_RESTRICT entering, const Byte* HWY_RESTRICT before,
                      const Byte* HWY_RESTRICT after, Byte* HWY_RESTRICT out, int count,
                      Weights weights)
{
    int j = 0;
#if BLUR_VECTORS
    const D16 d;
    const D8 d8;
    const hn::Rebind<std::int16_t, D16> di;
    const int n = int(hn::Lanes(d));
    const auto w = hn::Set(d, weights.inner);
    const auto v = hn::Set(d, weights.tails);
    for (; j + n <= count; j += n) {
        auto inner = hn::LoadU(d, high + j);
        const auto first = hn::PromoteTo(d, hn::LoadU(d8, before + j));
        if constexpr (Difference)
            inner = hn::Sub(inner, hn::LoadU(d, low + j));
        if constexpr (Moving) {
            inner = hn::Sub(hn::Add(inner, hn::PromoteTo(d, hn::LoadU(d8, entering + j))), first);
            hn::StoreU(inner, d, high + j);
        }
        const auto tails = hn::Add(first, hn::PromoteTo(d, hn::LoadU(d8, after + j)));
        const auto innerLow = hn::Mul(inner, w);
        const auto sum = hn::Add(innerLow, hn::Mul(tails, v));
        auto r = hn::Add(hn::MulHigh(inner, w), hn::MulHigh(tails, v));
        r = hn::Add(r, hn::ShiftRight<15>(sum));
        // The carry out of the low halves: a true comparison is all ones, -1.
        r = hn::Sub(r, hn::VecFromMask(d, hn::Lt(sum, innerLow)));
        hn::StoreU(hn::DemoteTo(d8, hn::BitCast(di, r)), d8, out + j);
    }
#endif
    const std::uint32_t w32 = weights.inner;
    const std::uint32_t v32 = weights.tails;
    for (; j < count; ++j) {
        Sum inner = Difference ? Sum(high[j] - low[j]) : high[j];
        if (Moving) {
            inner = Sum(inner + entering[j] - before[j]);
            high[j] = inner;
        }
        out[j] = weighed(inner, Sum(before[j] + after[j]), w32, v32);
    }
}

// window += values (or -= with `subtract`), `count` lanes.
template <bool subtract> HWY_INLINE void addLine(Sum* window, const Byte* values, int count)
{
    int j = 0;
#if BLUR_VECTORS
    const D16 d;
    const D8 d8;
    const int n = int(hn::Lanes(d));
    for (; j + n <= count; j += n) {
        const auto a = hn::LoadU(d, window + j);
        const auto b = hn::PromoteTo(d, hn::LoadU(d8, values + j));
        hn::StoreU(subtract ? hn::Sub(a, b) : hn::Add(a, b), d, window + j);
    }
#endif
    for (; j < count; ++j)
        window[j] = Sum(subtract ? window[j] - values[j] : window[j] + values[j]);
}

// prefix[k * C + c] = the sum of channel c over the first k positions, the
// running sums kept in registers: through memory each would wait for the store
// of the one before. In vectors, one position's channels are added at once,
// four 16-bit lanes read and written whole: with three channels the fourth
// lane reads the next position's first byte (or the byte after `values`) and
// is written where the next position's first sum goes (or one past `prefix`'s
// sums), so both buffers have one spare element.
template <int C> HWY_INLINE void prefixSums(const Byte* values, Sum* prefix, int positions)
{
    for (int c = 0; c < C; ++c)
        prefix[c] = 0;
#if BLUR_VECTORS
    const hn::FixedTag<Sum, 4> d;
    const hn::Rebind<Byte, decltype(d)> d8;
    auto sum = hn::Zero(d);
    int k = 0;
    // Two positions a round, the running sum waiting for one addition only.
    for (; k + 2 <= positions; k += 2, values += 2 * C, prefix += 2 * C) {
        const auto first = hn::PromoteTo(d, hn::LoadU(d8, values));
        const auto second = hn::PromoteTo(d, hn::LoadU(d8, values + C));
        hn::StoreU(hn::Add(sum, first), d, prefix + C);
        sum = hn::Add(sum, hn::Add(first, second));
        hn::StoreU(sum, d, prefix + 2 * C);
    }
    if (k < positions)
        hn::StoreU(hn::Add(sum, hn::PromoteTo(d, hn::LoadU(d8, values))), d, prefix + C);
#else
    Sum sum[C] = {};
    for (int k = 0; k < positions; ++k, values += C, prefix += C) {
        for (int c = 0; c < C; ++c) {
            sum[c] = Sum(sum[c] + values[c]);
            prefix[C + c] = sum[c];
        }
    }
#endif
}

// Colours weighted by their alpha (premultiply-inl.h), rounded as
// premultiplyPixels() rounds.
void premultiplyOn(const Byte* in, Byte* out, int width)
{
    int u = 0;
#if BLUR_VECTORS
    const hn::ScalableTag<std::uint32_t> d;
    const hn::Repartition<Byte, decltype(d)> d8;
    const int n = int(hn::Lanes(d));
    const auto half = hn::Set(hn::Repartition<Sum, decltype(d)>(), 128);
    const auto round = [&](auto t) {
        const auto x = hn::Add(t, half);
        return hn::ShiftRight<8>(hn::Add(x, hn::ShiftRight<8>(x)));
    };
    for (; u + n <= width; u += n) {
        const auto v = hn::BitCast(d, hn::LoadU(d8, in + 4 * u));
        hn::StoreU(hn::BitCast(d8, premultiply::HWY_NAMESPACE::pixels(d, v, round)), d8,
                   out + 4 * u);
    }
#endif
    premultiplyPixels(in, out, u, width);
}

// Through one float reciprocal r of alpha per pixel: x * r is within 3e-5 of
// x / alpha (x below 2^16, the quotient at most 255 since the blur keeps
// p <= alpha), so adding 1/512 and truncating gives the integer quotient: an
// exact one is not pushed below it, and one short of the next whole number
// (by 1 / alpha or more) is not pushed over it. Checked for all p <= alpha,
// with and without a fused multiply-add.
void unpremultiplyOn(Byte* line, int width)
{
    int u = 0;
#if BLUR_VECTORS
    const hn::ScalableTag<std::uint32_t> d;
    const hn::Rebind<std::int32_t, decltype(d)> di;
    const hn::Rebind<float, decltype(d)> df;
    const hn::Repartition<Byte, decltype(d)> d8;
    const int n = int(hn::Lanes(d));
    const auto byte = hn::Set(d, 0xFFu);
    const auto scale = hn::Set(df, 255.0f);
    const auto nudge = hn::Set(df, 1.0f / 512.0f);
    for (; u + n <= width; u += n) {
        const auto v = hn::BitCast(d, hn::LoadU(d8, line + 4 * u));
        const auto alpha = hn::ShiftRight<24>(v);
        const auto reciprocal =
            hn::Div(hn::Set(df, 1.0f), hn::ConvertTo(df, hn::BitCast(di, alpha)));
        const auto half = hn::ConvertTo(df, hn::BitCast(di, hn::ShiftRight<1>(alpha)));
        const auto colour = [&](auto p) {
            const auto x = hn::Add(hn::Mul(hn::ConvertTo(df, hn::BitCast(di, p)), scale), half);
            const auto q = hn::ConvertTo(di, hn::Add(hn::Mul(x, reciprocal), nudge));
            return hn::BitCast(d, hn::Min(hn::Max(q, hn::Zero(di)), hn::BitCast(di, byte)));
        };
        auto result = hn::Or(colour(hn::And(v, byte)),
                             hn::ShiftLeft<8>(colour(hn::And(hn::ShiftRight<8>(v), byte))));
        result = hn::Or(result, hn::ShiftLeft<16>(colour(hn::And(hn::ShiftRight<16>(v), byte))));
        // Alpha 0: its colours are 0, whatever the reciprocal made of them.
        result = hn::IfThenZeroElse(hn::Eq(alpha, hn::Zero(d)), result);
        hn::StoreU(hn::BitCast(d8, hn::Or(result, hn::ShiftLeft<24>(alpha))), d8, line + 4 * u);
    }
#endif
    unpremultiplyPixels(line, u, width);
}

void dropAlphaOn(const Byte* in, Byte* out, int width)
{
    int u = 0;
#if BLUR_VECTORS
    const hn::ScalableTag<Byte> d;
    const int n = int(hn::Lanes(d));
    for (; u + n <= width; u += n) {
        hn::Vec<decltype(d)> b, g, r, a;
        hn::LoadInterleaved4(d, in + 4 * u, b, g, r, a);
        hn::StoreInterleaved3(b, g, r, d, out + 3 * u);
    }
#endif
    for (; u < width; ++u)
        std::memcpy(out + 3 * u, in + 4 * u, 3);
}

void addAlphaOn(const Byte* in, const Byte* alpha, Byte* out, int width)
{
    int u = 0;
#if BLUR_VECTORS
    const hn::ScalableTag<Byte> d;
    const int n = int(hn::Lanes(d));
    for (; u + n <= width; u += n) {
        hn::Vec<decltype(d)> b, g, r, a = hn::Set(d, 255), unused;
        hn::LoadInterleaved3(d, in + 3 * u, b, g, r);
        if (alpha)
            hn::LoadInterleaved4(d, alpha + 4 * u, unused, unused, unused, a);
        hn::StoreInterleaved4(b, g, r, a, d, out + 4 * u);
    }
#endif
    for (; u < width; ++u) {
        std::memcpy(out + 4 * u, in + 3 * u, 3);
        out[4 * u + 3] = alpha ? alpha[4 * u + 3] : 255;
    }
}

// Each pass along reads its line from one of two lines with n + 1 of their
// edge's positions repeated on both sides (n = h256 >> 8) and writes it into
// the other, or the last into `line`. The scratch holds the running sums
// (with the spare position and sum of prefixSums), then the two lines (each
// with the spare byte that the sums read).
void blurAlongOn(const Byte* in, int inBytes, Byte* line, int width, int lanes, int h256,
                 Byte* scratch)
{
    const int pad = (h256 >> 8) + 1;
    const int extendedLanes = (width + 2 * pad) * lanes;
    Sum* const prefix = reinterpret_cast<Sum*>(scratch);
    Byte* const sumsEnd = scratch + (extendedLanes + lanes + 1) * sizeof(Sum);
    Byte* const extended[2] = {sumsEnd, sumsEnd + extendedLanes + 1};
    Byte* const into = h256 == 0 ? line : extended[0] + pad * lanes;
    if (lanes == 4)
        premultiplyOn(in, into, width);
    else if (inBytes == 4)
        dropAlphaOn(in, into, width);
    else if (into != in)
        std::memcpy(into, in, std::size_t(width) * std::size_t(lanes));
    if (h256 == 0)
        return;
    for (int pass = 0; pass < 3; ++pass) {
        Byte* const values = extended[pass % 2];
        const Byte* first = values + pad * lanes;
        const Byte* last = first + (width - 1) * lanes;
        for (int k = 0; k < pad; ++k) {
            std::memcpy(values + k * lanes, first, std::size_t(lanes));
            std::memcpy(values + (pad + width + k) * lanes, last, std::size_t(lanes));
        }
        if (lanes == 3)
            prefixSums<3>(values, prefix, width + 2 * pad);
        else
            prefixSums<4>(values, prefix, width + 2 * pad);
        // Position u's window is u + 1 .. u + 2n + 1 of the extended line,
        // its tails u and u + 2n + 2.
        Byte* const out = pass == 2 ? line : extended[1 - pass % 2] + pad * lanes;
        weigh<true, false>(prefix + 2 * pad * lanes, prefix + lanes, nullptr, values,
                           values + 2 * pad * lanes, out, width * lanes, Weights(h256));
    }
}

// Line r of pass k (1..3) from the lines `in` gives of the pass before, into
// `target`: the window's sums move to lines r - n .. r + n, then are weighed.
// The window holds lines low..high-1; its high end only moves on (n does not
// shrink as r grows), its low end moves back where n grows by more than a
// line a line, and an empty one starts where it is needed.
template <typename Lines>
HWY_INLINE void acrossLine(const Lines& in, Sum* window, int& low, int& high, int r, int h256,
                           int lanes, Byte* target)
{
    if (h256 == 0) {
        std::memcpy(target, in(r), std::size_t(lanes));
        return;
    }
    const int n = h256 >> 8;
    if (low < high && high == r + n && low == r - n - 1) {
        weigh<false, true>(window, nullptr, in(r + n), in(r - n - 1), in(r + n + 1), target, lanes,
                           Weights(h256));
        ++high;
        ++low;
        return;
    }
    if (low == high)
        low = high = r - n;
    for (; high < r + n + 1; ++high)
        addLine<false>(window, in(high), lanes);
    for (; low < r - n; ++low)
        addLine<true>(window, in(low), lanes);
    while (low > r - n)
        addLine<false>(window, in(--low), lanes);
    weigh<false, false>(window, nullptr, nullptr, in(r - n - 1), in(r + n + 1), target, lanes,
                        Weights(h256));
}

void blurAcrossOn(Byte* band, std::ptrdiff_t step, int lines, int lanes, const int* h256,
                  int ringLines, Byte* scratch, bool unpremultiplied)
{
    Sum* windows = reinterpret_cast<Sum*>(scratch);
    Byte* const rings = scratch + acrossWindowsBytes(lanes);
    std::memset(windows, 0, 3 * std::size_t(lanes) * sizeof(Sum));
    int low[3] = {0, 0, 0};
    int high[3] = {0, 0, 0};
    // Line t (held to the band, as lines beyond it repeat its edge) of the
    // band as read (k = 0) and of passes 1 and 2, in their rings.
    const auto ring = [&](int k) {
        return [=](int t) -> Byte* {
            t = std::clamp(t, 0, lines - 1);
            return rings + (std::ptrdiff_t(k) * ringLines + (t & (ringLines - 1))) * lanes;
        };
    };
    const auto in0 = ring(0);
    const auto in1 = ring(1);
    const auto in2 = ring(2);
    // The last line of the pass before that line r of a pass needs.
    const auto reach = [&](int r) { return std::min(lines - 1, r + (h256[r] >> 8) + 1); };
    int read = 0; // lines read, and done by passes 1 and 2
    int done1 = 0;
    int done2 = 0;
    for (int t = 0; t < lines; ++t) {
        for (const int need2 = reach(t); done2 <= need2; ++done2) {
            for (const int need1 = reach(done2); done1 <= need1; ++done1) {
                for (const int need0 = reach(done1); read <= need0; ++read) {
                    // Lines lie far apart: the processor does not fetch
                    // ahead by itself.
                    const Byte* ahead = band + std::min(lines - 1, read + 16) * step;
                    for (int j = 0; j < lanes; j += 64)
                        hwy::Prefetch(ahead + j);
                    std::memcpy(in0(read), band + read * step, std::size_t(lanes));
                }
                acrossLine(in0, windows, low[0], high[0], done1, h256[done1], lanes, in1(done1));
            }
            acrossLine(in1, windows + lanes, low[1], high[1], done2, h256[done2], lanes,
                       in2(done2));
        }
        Byte* target = band + t * step;
        acrossLine(in2, windows + 2 * lanes, low[2], high[2], t, h256[t], lanes, target);
        // While the line is in the first-level cache.
        if (unpremultiplied)
            unpremultiplyOn(target, lanes / 4);
    }
}

} // namespace HWY_NAMESPACE
} // namespace blur_passes
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace blur_passes {

HWY_EXPORT(blurAlongOn);
HWY_EXPORT(blurAcrossOn);
HWY_EXPORT(addAlphaOn);

std::size_t alongScratchBytes(int width, int lanes, int h256)
{
    // As blurAlongOn lays it out.
    const std::size_t extendedLanes = std::size_t(width + 2 * ((h256 >> 8) + 1)) * lanes;
    return (extendedLanes + lanes + 1) * sizeof(Sum) + 2 * (extendedLanes + 1);
}

void blurAlong(const Byte* in, int inBytes, Byte* line, int width, int lanes, int h256,
               Byte* scratch)
{
    HWY_DYNAMIC_DISPATCH(blurAlongOn)(in, inBytes, line, width, lanes, h256, scratch);
}

int acrossRingLines(const int* h256, int lines)
{
    int most = 1;
    for (int t = 0; t < lines; ++t) {
        const int n = h256[t] >> 8;
        most = std::max(most, std::min(lines - 1, t + n + 1) - std::max(0, t - n - 1) + 1);
    }
    // A power of two: a line's place in its ring is a mask away.
    int ring = 1;
    while (ring < most)
        ring *= 2;
    return ring;
}

std::size_t acrossScratchBytes(int ringLines, int lanes)
{
    return acrossWindowsBytes(lanes) + 3 * std::size_t(ringLines) * std::size_t(lanes);
}

void blurAcross(Byte* band, std::ptrdiff_t step, int lines, int lanes, const int* h256,
                int ringLines, Byte* scratch, bool unpremultiplied)
{
    HWY_DYNAMIC_DISPATCH(blurAcrossOn)
    (band, step, lines, lanes, h256, ringLines, scratch, unpremultiplied);
}

void addAlpha(const Byte* in, const Byte* alpha, Byte* out, int width)
{
    HWY_DYNAMIC_DISPATCH(addAlphaOn)(in, alpha, out, width);
}

} // namespace blur_passes
#endif
