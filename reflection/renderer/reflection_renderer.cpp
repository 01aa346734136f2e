#include "reflection/renderer/reflection_renderer.h"

#include "imaging/decoding/picture_metadata.h"
#include "imaging/pixels/result_memory.h"
#include "imaging/pixels/standard_bitmap.h"
#include "reflection/kernels/reflection_kernels.h"

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
// The pixel work itself is in reflection_kernels.cpp.

namespace {

// True when `dib` owns its pixels; a dynamic view or a bitmap over outside
// memory does not, and writing into it would change another picture. FreeImage
// keeps its own pixels right after the info header (and, for some bitmaps,
// three colour masks), aligned to 16 bytes: no other block can start there.
bool ownsPixels(FIBITMAP* dib)
{
    constexpr std::uintptr_t alignment = 16;
    const auto aligned = [](std::uintptr_t p) {
        return (p + alignment - 1) / alignment * alignment;
    };
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(FreeImage_GetInfoHeader(dib)) +
                               sizeof(BITMAPINFOHEADER) +
                               sizeof(RGBQUAD) * FreeImage_GetColorsUsed(dib);
    const std::uintptr_t bits = reinterpret_cast<std::uintptr_t>(FreeImage_GetBits(dib));
    return bits == aligned(end) || bits == aligned(end + 3 * sizeof(DWORD));
}

// A previous result may take the new one only when, once every pixel byte is
// rewritten and the source's profile and resolution are set, nothing tells it
// from a new bitmap: same size and depth, own pixels, standard masks, no
// palette, transparency table, background colour, thumbnail or metadata.
bool isReusable(FIBITMAP* dib, int width, int height, int bpp)
{
    if (!dib || !FreeImage_HasPixels(dib) || FreeImage_GetImageType(dib) != FIT_BITMAP)
        return false;
    if (FreeImage_GetWidth(dib) != unsigned(width) ||
        FreeImage_GetHeight(dib) != unsigned(height) || FreeImage_GetBPP(dib) != unsigned(bpp))
        return false;
    if (FreeImage_GetRedMask(dib) != FI_RGBA_RED_MASK ||
        FreeImage_GetGreenMask(dib) != FI_RGBA_GREEN_MASK ||
        FreeImage_GetBlueMask(dib) != FI_RGBA_BLUE_MASK)
        return false;
    if (FreeImage_GetColorsUsed(dib) != 0 || FreeImage_GetTransparencyCount(dib) != 0 ||
        FreeImage_HasBackgroundColor(dib) || FreeImage_GetThumbnail(dib))
        return false;
    const FIICCPROFILE* icc = FreeImage_GetICCProfile(dib);
    if (icc && icc->flags)
        return false;
    for (int model = FIMD_COMMENTS; model <= FIMD_EXIF_RAW; ++model) {
        if (FreeImage_GetMetadataCount(FREE_IMAGE_MDMODEL(model), dib) != 0)
            return false;
    }
    return ownsPixels(dib);
}

// The strip's lines, its faded lines, the gap and the extra lines, with
// out-of-range settings held to their meaningful range: a strip of more than
// the picture, a fade longer than the strip or a negative count of lines has
// no sound meaning.
struct Strip {
    int lines;
    int faded;
    int gap;
    int extraLines;
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
    return strip;
}

} // namespace

QSize reflectionResultSize(int width, int height, const ReflectionParams& params)
{
    const Strip strip = stripFor(width, height, params);
    if (params.direction == Direction::Top || params.direction == Direction::Bottom)
        return {width, height + strip.lines + strip.gap + strip.extraLines};
    return {width + strip.lines + strip.gap + strip.extraLines, height};
}

bool renderReflection(const fipImage& source, fipImage& result, const ReflectionParams& params,
                      ResultMemory* memory)
{
    // fipImage hands out its bitmap only through a non-const conversion; the
    // source is only read.
    FIBITMAP* srcDib = static_cast<FIBITMAP*>(const_cast<fipImage&>(source));
    if (!srcDib || !FreeImage_HasPixels(srcDib))
        return false;
    FIBITMAP* const picture = srcDib; // its profile and resolution go with the result
    FIBITMAP* oldDib = static_cast<FIBITMAP*>(result);
    const bool aliased = &source == &result || srcDib == oldDib;

    BitmapPtr converted;
    if (!isStandardBitmap(srcDib)) {
        converted =
            convertToStandardBitmap(srcDib, params.transparent || FreeImage_IsTransparent(srcDib));
        if (!converted)
            return false;
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
    const Strip strip = stripFor(f.width, f.height, params);
    f.strip = strip.lines;
    f.faded = strip.faded;
    f.gap = strip.gap;
    f.extraLines = strip.extraLines;
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

    FIBITMAP* outDib = nullptr;
    BitmapPtr fresh;
    if (!aliased && isReusable(oldDib, f.outWidth, f.outHeight, outBytes * 8)) {
        outDib = oldDib;
    } else {
        // The memory's block may hold the previous result, which is replaced,
        // but never the picture being read.
        if (memory && !memory->holds(f.srcBits))
            fresh.reset(memory->bitmap(f.outWidth, f.outHeight, outBytes * 8));
        else
            fresh.reset(FreeImage_AllocateT(FIT_BITMAP, f.outWidth, f.outHeight, outBytes * 8));
        if (!fresh)
            return false;
        outDib = fresh.get();
    }
    f.outBits = FreeImage_GetBits(outDib);
    f.outPitch = std::ptrdiff_t(FreeImage_GetPitch(outDib));

    try {
        renderReflectionFrame(f, srcBytes, params.transparent);
    } catch (const std::bad_alloc&) {
        // Everything a render allocates (the per-column strengths, the gap's
        // pixels, the blur's buffers) is allocated before the first byte is
        // written: a reused result still holds the previous picture.
        return false;
    }

    carryProfileAndResolution(picture, outDib);
    if (fresh)
        result = fresh.release(); // releases the previous bitmap, and a source it aliased
    else
        FreeImage_SetTransparent(outDib, FALSE);
    if (memory)
        memory->release(static_cast<FIBITMAP*>(result));
    return true;
}
