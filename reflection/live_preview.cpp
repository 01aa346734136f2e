#include "live_preview.h"

#include "imaging/preview_image.h"
#include "imaging/standard_bitmap.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// `dib` (a standard bitmap) at width x height, each pixel taken from the
// source pixel under its centre: the way the view draws a picture it shrinks,
// so the frame shows the same pixels the full result will.
BitmapPtr pointSampled(FIBITMAP* dib, int width, int height)
{
    const int bpp = int(FreeImage_GetBPP(dib));
    BitmapPtr out(FreeImage_AllocateT(FIT_BITMAP, width, height, bpp));
    if (!out)
        return out;
    const int bytes = bpp / 8;
    const long long sourceWidth = FreeImage_GetWidth(dib);
    const long long sourceHeight = FreeImage_GetHeight(dib);
    std::vector<int> offsets(std::size_t(width), 0);
    for (int x = 0; x < width; ++x)
        offsets[std::size_t(x)] = int((2LL * x + 1) * sourceWidth / (2LL * width)) * bytes;
    for (int y = 0; y < height; ++y) { // counted from the top, as the view counts
        const long long row = (2LL * y + 1) * sourceHeight / (2LL * height);
        const BYTE* src = FreeImage_GetScanLine(dib, int(sourceHeight - 1 - row));
        BYTE* dst = FreeImage_GetScanLine(out.get(), height - 1 - y);
        if (bytes == 4) {
            for (int x = 0; x < width; ++x, dst += 4)
                std::memcpy(dst, src + offsets[std::size_t(x)], 4);
        } else {
            for (int x = 0; x < width; ++x, dst += 3) {
                const BYTE* p = src + offsets[std::size_t(x)];
                dst[0] = p[0];
                dst[1] = p[1];
                dst[2] = p[2];
            }
        }
    }
    return out;
}

} // namespace

void LivePreview::forget()
{
    copy.clear();
    copyScale = 0;
    copiedFrom = nullptr;
}

FIBITMAP* LivePreview::sourceAt(const fipImage& source, double scale)
{
    FIBITMAP* dib = static_cast<FIBITMAP*>(const_cast<fipImage&>(source));
    const double wanted = std::min(1.0, scale);
    if (wanted >= 1.0 && isStandardBitmap(dib))
        return dib;
    if (copiedFrom == dib && copyScale == wanted && copy.isValid())
        return static_cast<FIBITMAP*>(copy);

    // Other depths are brought to the renderer's own layouts once, as it would
    // bring them on every frame.
    BitmapPtr standard;
    FIBITMAP* picture = dib;
    if (!isStandardBitmap(dib)) {
        standard = convertToStandardBitmap(dib, FreeImage_IsTransparent(dib));
        if (!standard)
            return nullptr;
        picture = standard.get();
    }
    if (wanted < 1.0) {
        const int width = std::max(1, int(std::ceil(FreeImage_GetWidth(dib) * wanted)));
        const int height = std::max(1, int(std::ceil(FreeImage_GetHeight(dib) * wanted)));
        standard = pointSampled(picture, width, height);
        if (!standard)
            return nullptr;
    }
    copy = standard.release();
    copyScale = wanted;
    copiedFrom = dib;
    return static_cast<FIBITMAP*>(copy);
}

LivePreview::Frame LivePreview::render(const fipImage& source, const ReflectionParams& full,
                                       double scale, const QRectF& visible)
{
    Frame frame;
    FIBITMAP* dib = static_cast<FIBITMAP*>(const_cast<fipImage&>(source));
    if (!dib || !FreeImage_HasPixels(dib) || !(scale > 0))
        return frame;
    frame.resultSize =
        reflectionResultSize(int(FreeImage_GetWidth(dib)), int(FreeImage_GetHeight(dib)), full);
    FIBITMAP* picture = sourceAt(source, scale);
    if (!picture)
        return frame;
    const int width = int(FreeImage_GetWidth(picture));
    const int height = int(FreeImage_GetHeight(picture));
    // The gap and the blur are lengths in the picture's pixels: the smaller
    // copy gets them shrunk alike, so the frame looks as the full render will.
    ReflectionParams params = full;
    const double shrink = double(width) / FreeImage_GetWidth(dib);
    params.gap = int(std::lround(full.gap * shrink));
    params.blur = int(std::lround(full.blur * shrink));
    const QSize small = reflectionResultSize(width, height, params);

    // The part in view, in pixels of the small result, one pixel wider all
    // round so that no rounding leaves an edge unpainted.
    const double fx = double(frame.resultSize.width()) / small.width();
    const double fy = double(frame.resultSize.height()) / small.height();
    const QRectF inSmall(visible.x() / fx, visible.y() / fy, visible.width() / fx,
                         visible.height() / fy);
    const QRect part = inSmall.toAlignedRect().adjusted(-1, -1, 1, 1) & QRect(QPoint(0, 0), small);
    if (part.isEmpty())
        return frame;

    // Across the strip the result's columns (top, bottom) or rows (left,
    // right) are the picture's own: only those in view are rendered. Along
    // it the strip depends on the whole picture's extent, so that is kept.
    const bool vertical = params.direction == 0 || params.direction == 1;
    fipImage across;
    across = vertical ? FreeImage_CreateView(picture, unsigned(part.left()), 0,
                                             unsigned(part.right() + 1), unsigned(height))
                      : FreeImage_CreateView(picture, 0, unsigned(part.top()), unsigned(width),
                                             unsigned(part.bottom() + 1));
    if (!across.isValid() || !renderReflection(across, output, params, &memory))
        return frame;

    fipImage shown;
    const unsigned outWidth = output.getWidth();
    const unsigned outHeight = output.getHeight();
    FIBITMAP* rendered = static_cast<FIBITMAP*>(output);
    shown = vertical ? FreeImage_CreateView(rendered, 0, unsigned(part.top()), outWidth,
                                            unsigned(part.bottom() + 1))
                     : FreeImage_CreateView(rendered, unsigned(part.left()), 0,
                                            unsigned(part.right() + 1), outHeight);
    if (!shown.isValid())
        return frame;
    frame.image = previewImage(shown);
    frame.target = QRectF(part.x() * fx, part.y() * fy, part.width() * fx, part.height() * fy);
    return frame;
}
