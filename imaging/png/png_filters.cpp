// SPDX-License-Identifier: GPL-3.0-or-later
// PNG's row filters, written once over vectors of any width and built by
// Highway for every instruction set it knows (this file is included once per
// set through foreach_target.h); the processor's best one is chosen when the
// program runs. The filters one byte at a time are the reference, and the
// form the single-lane build takes.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/png/png_filters.cpp"
#include <hwy/foreach_target.h>

#include <hwy/highway.h>

#include "imaging/png/png_filters.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#ifndef GLASSMERE_PNG_FILTERS_REFERENCE
#define GLASSMERE_PNG_FILTERS_REFERENCE
namespace png_filters_reference {

inline std::uint8_t paethByte(int a, int b, int c)
{
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc)
        return std::uint8_t(a);
    return std::uint8_t(pb <= pc ? b : c);
}

// What filter 0..4 (none, sub, up, average, Paeth) predicts from the left
// neighbour a, the byte above b and the one above-left c.
inline std::uint8_t predictByte(int filter, std::uint8_t a, std::uint8_t b, std::uint8_t c)
{
    switch (filter) {
    case 0:
        return 0;
    case 1:
        return a;
    case 2:
        return b;
    case 3:
        return std::uint8_t((a + b) >> 1);
    default:
        return paethByte(a, b, c);
    }
}

// |byte read as signed|: the measure libpng's heuristic also uses.
inline unsigned absoluteByte(std::uint8_t value)
{
    return value < 128 ? value : 256u - value;
}

// Bytes i .. length - 1, one at a time.
inline void sumBytes(const std::uint8_t* row, const std::uint8_t* above, std::size_t i,
                     std::size_t length, std::size_t bpp, std::uint64_t sums[5])
{
    for (; i < length; ++i)
        for (int filter = 0; filter < 5; ++filter)
            sums[filter] += absoluteByte(
                std::uint8_t(row[i] - predictByte(filter, row[i - bpp], above[i], above[i - bpp])));
}

inline void applyBytes(int filter, const std::uint8_t* row, const std::uint8_t* above,
                       std::size_t i, std::size_t length, std::size_t bpp, std::uint8_t* out)
{
    for (; i < length; ++i)
        out[i] = std::uint8_t(row[i] - predictByte(filter, row[i - bpp], above[i], above[i - bpp]));
}

} // namespace png_filters_reference
#endif

HWY_BEFORE_NAMESPACE();
namespace png_filters {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using namespace png_filters_reference;

#if HWY_TARGET != HWY_SCALAR
using D = hn::ScalableTag<std::uint8_t>;
using V = hn::Vec<D>;

// The PNG average, rounded down: the bits both have, and half of those only
// one has, which never leaves the byte (Highway's rounded average on SVE
// without SVE2 adds in bytes and loses the carry).
HWY_INLINE V floorAverage(V a, V b)
{
    return hn::Add(hn::And(a, b), hn::ShiftRight<1>(hn::Xor(a, b)));
}

// The Paeth predictor in bytes: pa = |b - c| and pb = |a - c| fit, and
// pc = |(b - c) + (a - c)| is pa + pb where both differences have one sign
// (held at 255, which still compares the same against pa and pb), else
// |pa - pb|.
HWY_INLINE V paeth(V a, V b, V c)
{
    const V pa = hn::Sub(hn::Max(b, c), hn::Min(b, c));
    const V pb = hn::Sub(hn::Max(a, c), hn::Min(a, c));
    const auto sameSign =
        hn::Not(hn::Xor(hn::VecFromMask(D(), hn::Lt(b, c)), hn::VecFromMask(D(), hn::Lt(a, c))));
    const V pc = hn::IfThenElse(hn::MaskFromVec(sameSign), hn::SaturatedAdd(pa, pb),
                                hn::Sub(hn::Max(pa, pb), hn::Min(pa, pb)));
    const auto notA = hn::Or(hn::Lt(pb, pa), hn::Lt(pc, pa));
    return hn::IfThenElse(notA, hn::IfThenElse(hn::Lt(pc, pb), c, b), a);
}

// |v as signed| added up in 64-bit lanes.
HWY_INLINE hn::Vec<hn::Repartition<std::uint64_t, D>>
addAbsSum(hn::Vec<hn::Repartition<std::uint64_t, D>> sum, V v)
{
    const hn::Repartition<std::int8_t, D> di;
    return hn::Add(sum, hn::SumsOf8(hn::BitCast(D(), hn::Abs(hn::BitCast(di, v)))));
}
#endif

// The single-lane build sums and filters every byte in the reference's way;
// the others take whole vectors first and leave it the last bytes.
void sumFilters(const std::uint8_t* row, const std::uint8_t* above, std::size_t length,
                std::size_t bpp, std::uint64_t sums[5])
{
    std::size_t i = 0;
#if HWY_TARGET == HWY_SCALAR
    sums[0] = sums[1] = sums[2] = sums[3] = sums[4] = 0;
#else
    const D d;
    const hn::Repartition<std::uint64_t, D> d64;
    const std::size_t n = hn::Lanes(d);
    auto none = hn::Zero(d64), left = none, up = none, average = none, predicted = none;
    for (; i + n <= length; i += n) {
        const V x = hn::LoadU(d, row + i);
        const V a = hn::LoadU(d, row + i - bpp);
        const V b = hn::LoadU(d, above + i);
        const V c = hn::LoadU(d, above + i - bpp);
        none = addAbsSum(none, x);
        left = addAbsSum(left, hn::Sub(x, a));
        up = addAbsSum(up, hn::Sub(x, b));
        average = addAbsSum(average, hn::Sub(x, floorAverage(a, b)));
        predicted = addAbsSum(predicted, hn::Sub(x, paeth(a, b, c)));
    }
    sums[0] = hn::GetLane(hn::SumOfLanes(d64, none));
    sums[1] = hn::GetLane(hn::SumOfLanes(d64, left));
    sums[2] = hn::GetLane(hn::SumOfLanes(d64, up));
    sums[3] = hn::GetLane(hn::SumOfLanes(d64, average));
    sums[4] = hn::GetLane(hn::SumOfLanes(d64, predicted));
#endif
    sumBytes(row, above, i, length, bpp, sums);
}

void applyFilter(int filter, const std::uint8_t* row, const std::uint8_t* above, std::size_t length,
                 std::size_t bpp, std::uint8_t* out)
{
    std::size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
    const D d;
    const std::size_t n = hn::Lanes(d);
    const std::size_t whole = length - length % n;
    const auto each = [&](auto predict) {
        for (; i < whole; i += n)
            hn::StoreU(hn::Sub(hn::LoadU(d, row + i), predict(i)), d, out + i);
    };
    switch (filter) {
    case 0:
        std::memcpy(out, row, length);
        return;
    case 1:
        each([&](std::size_t at) { return hn::LoadU(d, row + at - bpp); });
        break;
    case 2:
        each([&](std::size_t at) { return hn::LoadU(d, above + at); });
        break;
    case 3:
        each([&](std::size_t at) {
            return floorAverage(hn::LoadU(d, row + at - bpp), hn::LoadU(d, above + at));
        });
        break;
    default:
        each([&](std::size_t at) {
            return paeth(hn::LoadU(d, row + at - bpp), hn::LoadU(d, above + at),
                         hn::LoadU(d, above + at - bpp));
        });
        break;
    }
#endif
    applyBytes(filter, row, above, i, length, bpp, out);
}

} // namespace HWY_NAMESPACE
} // namespace png_filters
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace png_filters {
HWY_EXPORT(sumFilters);
HWY_EXPORT(applyFilter);

void filterRow(const std::uint8_t* row, const std::uint8_t* above, std::size_t length,
               std::size_t bpp, std::uint8_t* out)
{
    std::uint64_t sums[5];
    HWY_DYNAMIC_DISPATCH(sumFilters)(row, above, length, bpp, sums);
    const int best = int(std::min_element(sums, sums + 5) - sums);
    out[0] = std::uint8_t(best);
    HWY_DYNAMIC_DISPATCH(applyFilter)(best, row, above, length, bpp, out + 1);
}
} // namespace png_filters
#endif
