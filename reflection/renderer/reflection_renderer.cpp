// SPDX-License-Identifier: GPL-3.0-or-later
#include "reflection/renderer/reflection_renderer.h"

#include "imaging/decoding/picture_metadata.h"
#include "imaging/pixels/messages.h"
#include "imaging/pixels/pixel_memory.h"
#include "imaging/pixels/standard_bitmap.h"
#include "reflection/kernels/reflection_kernels.h"
#include "reflection/renderer/contact_edge.h"

#include <FreeImage.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

// Geometry. The result is the picture plus a strip of R mirrored lines against
// one edge, `gap` background lines between them, faded towards the strip's
// outer end, plus `extraLines` zero lines (X) at the opposite edge. Strip line t (t = 0
// touches the picture, across the gap) repeats picture line t counted from
// the reflecting edge; the last F strip lines are faded, s = R - 1 - t running
// from F - 1 down to 0 at the outer edge. Seen from the top-left:
//
//   bottom           top              left                      right
//   +--------+       +--------+       +-----+---+-------+--+    +--+-------+---+-----+
//   |X zeros |       | strip  |       |strip|gap|picture|X |    |X |picture|gap|strip|
//   +--------+       | t=R-1  |       |t=R-1..0 |       |  |    |  |       |   |t=0..|
//   |picture |       |  ..t=0 |       +-----+---+-------+--+    +--+-------+---+-----+
//   +--------+       +--------+
//   |  gap   |       |  gap   |
//   +--------+       +--------+
//   | strip  |       |picture |
//   | t=0..  |       +--------+
//   +--------+       |X zeros |
//                    +--------+
//
// A skew S makes the result |S| longer along the edge (wider for top and
// bottom, taller for left and right); the picture and the gap keep their
// place beside the strip's first line, shifted by |S| when S is negative, and
// the added area is background.
//
// The pixel work itself is in reflection_kernels.cpp.

namespace {

// The strip's lines, its faded lines, the gap and the extra lines, with
// out-of-range settings held to their meaningful range: a strip of more than
// the picture, a fade longer than the strip or a negative count of lines has
// no sound meaning.
struct Strip {
    int lines;
    int faded;
    int gap;
    int extraLines;
    int skew; // 0 for a strip of fewer than two lines
};

Strip stripFor(int width, int height, const ReflectionParams& params)
{
    const bool vertical =
        params.direction == Direction::Top || params.direction == Direction::Bottom;
    const int sizePercent = std::clamp(params.sizePercent, 0, 100);
    const int unfadedPercent = std::clamp(params.unfadedPercent, 0, 100);
    Strip strip{};
    strip.lines = (vertical ? height : width) * sizePercent / 100;
    strip.faded = (100 - unfadedPercent) * strip.lines / 100;
    const long long across = (vertical ? height : width) + (long long)strip.lines;
    const long long maxLines = std::numeric_limits<int>::max() / 4;
    strip.gap = int(std::clamp<long long>(params.gap, 0, std::max(0LL, maxLines - across)));
    strip.extraLines = int(
        std::clamp<long long>(params.extraLines, 0, std::max(0LL, maxLines - across - strip.gap)));
    strip.skew = strip.lines > 1 ? std::clamp(params.skew, -maximumSkew, maximumSkew) : 0;
    return strip;
}

} // namespace

QSize reflectionResultSize(int width, int height, const ReflectionParams& params)
{
    const Strip strip = stripFor(width, height, params);
    const int along = std::abs(strip.skew);
    if (params.direction == Direction::Top || params.direction == Direction::Bottom)
        return {width + along, height + strip.lines + strip.gap + strip.extraLines};
    return {width + strip.lines + strip.gap + strip.extraLines, height + along};
}

bool renderReflection(const fipImage& source, fipImage& result, const ReflectionParams& params,
                      PixelMemory* memory, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    // fipImage hands out its bitmap only through a non-const conversion; the
    // source is only read.
    FIBITMAP* srcDib = static_cast<FIBITMAP*>(const_cast<fipImage&>(source));
    if (!srcDib || !FreeImage_HasPixels(srcDib))
        return fail(QStringLiteral("There is no picture to render"));
    FIBITMAP* const picture = srcDib; // its profile and resolution go with the result

    BitmapPtr converted;
    if (!isStandardBitmap(srcDib)) {
        converted =
            convertToStandardBitmap(srcDib, params.transparent || FreeImage_IsTransparent(srcDib));
        if (!converted)
            return fail(QStringLiteral("The picture's pixel format could not be converted"));
        srcDib = converted.get();
    }

    ReflectionFrame f{};
    f.srcBits = FreeImage_GetBits(srcDib);
    f.srcPitch = std::ptrdiff_t(FreeImage_GetPitch(srcDib));
    f.width = int(FreeImage_GetWidth(srcDib));
    f.height = int(FreeImage_GetHeight(srcDib));
    const int srcBytes = int(FreeImage_GetBPP(srcDib)) / 8;
    const int outBytes = params.transparent ? 4 : srcBytes;
    f.direction = params.direction;
    if (params.contactEdge) {
        // The margin's lines are left out of the picture read: bottom rows are
        // the first scan lines, left columns the first pixels of each.
        const int margin = contactMarginOf(srcDib, params.direction);
        if (params.direction == Direction::Bottom)
            f.srcBits += margin * f.srcPitch;
        else if (params.direction == Direction::Left)
            f.srcBits += margin * srcBytes;
        const bool vertical =
            params.direction == Direction::Top || params.direction == Direction::Bottom;
        (vertical ? f.height : f.width) -= margin;
    }
    const Strip strip = stripFor(f.width, f.height, params);
    f.strip = strip.lines;
    f.faded = strip.faded;
    f.gap = strip.gap;
    f.extraLines = strip.extraLines;
    f.skew = strip.skew;
    f.opacity = std::clamp(params.opacity, 0, 100);
    f.blur = f.strip > 1 ? std::clamp(params.blur, 0, maximumBlur) : 0;
    for (int c = 0; c < 3; ++c)
        f.colour[c] = 0;
    f.colour[FI_RGBA_BLUE] = std::clamp(params.color.blue, 0, 255);
    f.colour[FI_RGBA_GREEN] = std::clamp(params.color.green, 0, 255);
    f.colour[FI_RGBA_RED] = std::clamp(params.color.red, 0, 255);
    // One size for the render and for those who lay the result out before it exists.
    const QSize outSize = reflectionResultSize(f.width, f.height, params);
    f.outWidth = outSize.width();
    f.outHeight = outSize.height();

    // In memory of its own, or over the memory's block, which may hold the
    // previous result (replaced) and may lie around the picture's own lines.
    const bool vertical = f.direction == Direction::Top || f.direction == Direction::Bottom;
    const int pictureLine = !vertical || outBytes != srcBytes  ? -1
                            : f.direction == Direction::Bottom ? f.strip + f.gap
                                                               : f.extraLines;
    BitmapPtr fresh(
        memory ? memory->bitmap(f.outWidth, f.outHeight, outBytes * 8, f.srcBits, pictureLine)
               : FreeImage_AllocateT(FIT_BITMAP, f.outWidth, f.outHeight, outBytes * 8));
    const auto outOfMemory = [&] {
        return fail(QStringLiteral("Out of memory: the %1 × %2 result needs %3")
                        .arg(f.outWidth)
                        .arg(f.outHeight)
                        .arg(describeBytes(standardPitch(f.outWidth, outBytes * 8) *
                                           std::uint64_t(f.outHeight))));
    };
    if (!fresh)
        return outOfMemory();
    FIBITMAP* const outDib = fresh.get();
    f.outBits = FreeImage_GetBits(outDib);
    f.outPitch = std::ptrdiff_t(FreeImage_GetPitch(outDib));

    try {
        renderReflectionFrame(f, srcBytes, params.transparent);
    } catch (const std::bad_alloc&) {
        // Everything a render allocates (the per-column strengths, the gap's
        // pixels, the blur's buffers) is allocated before the first byte is
        // written: a reused result still holds the previous picture.
        return outOfMemory();
    }

    carryProfileAndResolution(picture, outDib);
    result = fresh.release(); // releases the previous bitmap, and a source it aliased
    if (memory)
        memory->release(outDib);
    return true;
}
