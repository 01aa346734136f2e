// SPDX-License-Identifier: GPL-3.0-or-later
#include "reflection/renderer/live_preview.h"

#include "imaging/pixels/standard_bitmap.h"
#include "imaging/preview/preview_image.h"
#include "reflection/renderer/contact_edge.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
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

// The settings for a copy of the picture at `scale`: the gap and the blur
// count in pixels and shrink with the picture, so the frame looks like the
// full result at that scale; the other settings are shares of the picture.
ReflectionParams atScale(const ReflectionParams& params, double scale)
{
    ReflectionParams scaled = params;
    scaled.gap = int(std::lround(std::max(0, params.gap) * scale));
    scaled.blur = int(std::lround(std::clamp(params.blur, 0, maximumBlur) * scale));
    scaled.skew = int(std::lround(std::clamp(params.skew, -maximumSkew, maximumSkew) * scale));
    return scaled;
}

// How far across the strip a pixel's value reaches: three box passes along
// the strip's lines, each at most half the blur's radius wide plus the
// neighbour weighed in, and the skew's shift with the neighbour it is mixed
// with. Rendered with that many more columns (rows) on each side, the part
// in view comes out as in the full result.
int reachAcross(const ReflectionParams& params)
{
    const int blur = std::clamp(params.blur, 0, maximumBlur);
    const int skew = std::abs(std::clamp(params.skew, -maximumSkew, maximumSkew));
    return (blur > 0 ? 3 * (blur / 2 + 2) : 0) + (skew > 0 ? skew + 1 : 0);
}

} // namespace

void LivePreview::forget()
{
    copy.clear();
    copyScale = 0;
    copiedFrom = nullptr;
    contactView.clear();
    contactStandard.clear();
    contactFrom = nullptr;
}

const fipImage& LivePreview::contacted(const fipImage& source, const ReflectionParams& params)
{
    FIBITMAP* dib = static_cast<FIBITMAP*>(const_cast<fipImage&>(source));
    if (!params.contactEdge || !dib || !FreeImage_HasPixels(dib))
        return source;
    if (contactFrom != dib || contactDirection != params.direction ||
        contactTransparent != params.transparent) {
        contactView.clear();
        contactStandard.clear();
        contactFrom = nullptr;
        FIBITMAP* standard = dib;
        if (!isStandardBitmap(dib)) {
            contactStandard =
                convertToStandardBitmap(dib, params.transparent || FreeImage_IsTransparent(dib))
                    .release();
            if (!contactStandard.isValid())
                return source;
            standard = static_cast<FIBITMAP*>(contactStandard);
        }
        const int margin = contactMarginOf(standard, params.direction);
        const unsigned width = FreeImage_GetWidth(standard), height = FreeImage_GetHeight(standard);
        const unsigned m = unsigned(margin);
        // Counted from the top-left: the margin is cut off the reflecting edge.
        switch (params.direction) {
        case Direction::Top:
            contactView = FreeImage_CreateView(standard, 0, m, width, height);
            break;
        case Direction::Bottom:
            contactView = FreeImage_CreateView(standard, 0, 0, width, height - m);
            break;
        case Direction::Left:
            contactView = FreeImage_CreateView(standard, m, 0, width, height);
            break;
        case Direction::Right:
            contactView = FreeImage_CreateView(standard, 0, 0, width - m, height);
            break;
        }
        if (!contactView.isValid())
            return source;
        contactFrom = dib;
        contactDirection = params.direction;
        contactTransparent = params.transparent;
        copiedFrom = nullptr; // a copy of the earlier view would be taken for this one
    }
    return contactView;
}

QSize LivePreview::resultSize(const fipImage& source, const ReflectionParams& params)
{
    const fipImage& picture = contacted(source, params);
    return reflectionResultSize(int(picture.getWidth()), int(picture.getHeight()), params);
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

LivePreview::Frame LivePreview::render(const fipImage& whole, const ReflectionParams& settings,
                                       double scale, const QRectF& visible)
{
    Frame frame;
    if (!(scale > 0))
        return frame;
    // With the contact edge, frames are made of the picture without its margin.
    const fipImage& source = contacted(whole, settings);
    ReflectionParams params = settings;
    params.contactEdge = false;
    FIBITMAP* dib = static_cast<FIBITMAP*>(const_cast<fipImage&>(source));
    if (!dib || !FreeImage_HasPixels(dib))
        return frame;
    frame.resultSize =
        reflectionResultSize(int(FreeImage_GetWidth(dib)), int(FreeImage_GetHeight(dib)), params);
    FIBITMAP* picture = sourceAt(source, scale);
    if (!picture)
        return frame;
    const int width = int(FreeImage_GetWidth(picture));
    const int height = int(FreeImage_GetHeight(picture));
    const bool vertical =
        params.direction == Direction::Top || params.direction == Direction::Bottom;
    const ReflectionParams smallParams =
        atScale(params, vertical ? double(height) / FreeImage_GetHeight(dib)
                                 : double(width) / FreeImage_GetWidth(dib));
    const QSize small = reflectionResultSize(width, height, smallParams);

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
    // right) are the picture's own: only those in view are rendered, with as
    // many more on each side as the strip's pixels reach across. Along the
    // strip it depends on the whole picture's extent, so that is kept.
    const int reach = reachAcross(smallParams);
    const int first = std::max(0, (vertical ? part.left() : part.top()) - reach);
    const int last =
        std::min(vertical ? width : height, (vertical ? part.right() : part.bottom()) + 1 + reach);
    fipImage across;
    across =
        vertical
            ? FreeImage_CreateView(picture, unsigned(first), 0, unsigned(last), unsigned(height))
            : FreeImage_CreateView(picture, 0, unsigned(first), unsigned(width), unsigned(last));
    if (!across.isValid() || !renderReflection(across, output, smallParams, &memory))
        return frame;

    // The rendered strip cut to the part in view.
    const QRect inOutput = part.translated(vertical ? -first : 0, vertical ? 0 : -first);
    fipImage shown;
    shown = FreeImage_CreateView(static_cast<FIBITMAP*>(output), unsigned(inOutput.left()),
                                 unsigned(inOutput.top()), unsigned(inOutput.right() + 1),
                                 unsigned(inOutput.bottom() + 1));
    if (!shown.isValid())
        return frame;
    frame.image = previewImage(shown);
    frame.target = QRectF(part.x() * fx, part.y() * fy, part.width() * fx, part.height() * fy);
    return frame;
}
