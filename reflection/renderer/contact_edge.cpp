// SPDX-License-Identifier: GPL-3.0-or-later
#include "reflection/renderer/contact_edge.h"

#include "imaging/pixels/standard_bitmap.h"

#include <cstdint>
#include <cstdlib>

namespace {

// Lines are walked from the edge inwards; a line is margin when every pixel
// is. Rows are scan lines (bottom-up), columns a pixel of every scan line.
struct Lines {
    const std::uint8_t* bits;
    std::ptrdiff_t pitch;
    int width;
    int height;
    int bytes; // per pixel

    // Pixel u of line n counted from the edge.
    const std::uint8_t* pixel(Direction direction, int n, int u) const
    {
        switch (direction) {
        case Direction::Bottom: // scan line 0 is the bottom row
            return bits + n * pitch + u * bytes;
        case Direction::Top:
            return bits + (height - 1 - n) * pitch + u * bytes;
        case Direction::Left: // u counted from the top
            return bits + (height - 1 - u) * pitch + n * bytes;
        case Direction::Right:
            break;
        }
        return bits + (height - 1 - u) * pitch + (width - 1 - n) * bytes;
    }
};

} // namespace

int contactMarginOf(FIBITMAP* standard, Direction direction)
{
    Lines lines{FreeImage_GetBits(standard), std::ptrdiff_t(FreeImage_GetPitch(standard)),
                int(FreeImage_GetWidth(standard)), int(FreeImage_GetHeight(standard)),
                int(FreeImage_GetBPP(standard)) / 8};
    const bool vertical = direction == Direction::Top || direction == Direction::Bottom;
    const int count = vertical ? lines.height : lines.width;
    const int length = vertical ? lines.width : lines.height;
    const bool alpha = lines.bytes == 4;
    const std::uint8_t* first = lines.pixel(direction, 0, 0);
    const auto isMargin = [&](const std::uint8_t* p) {
        if (alpha)
            return p[FI_RGBA_ALPHA] == 0;
        for (int c = 0; c < 3; ++c) {
            if (std::abs(int(p[c]) - int(first[c])) > contactTolerance)
                return false;
        }
        return true;
    };
    int margin = 0;
    for (; margin < count; ++margin) {
        bool empty = true;
        for (int u = 0; u < length && empty; ++u)
            empty = isMargin(lines.pixel(direction, margin, u));
        if (!empty)
            break;
    }
    return margin < count ? margin : 0;
}

int contactMargin(const fipImage& source, Direction direction, bool transparent)
{
    FIBITMAP* dib = static_cast<FIBITMAP*>(const_cast<fipImage&>(source));
    if (!dib || !FreeImage_HasPixels(dib))
        return 0;
    if (isStandardBitmap(dib))
        return contactMarginOf(dib, direction);
    const BitmapPtr converted =
        convertToStandardBitmap(dib, transparent || FreeImage_IsTransparent(dib));
    return converted ? contactMarginOf(converted.get(), direction) : 0;
}

QSize reflectionResultSize(const fipImage& source, const ReflectionParams& params)
{
    int width = int(source.getWidth());
    int height = int(source.getHeight());
    if (params.contactEdge) {
        const int margin = contactMargin(source, params.direction, params.transparent);
        const bool vertical =
            params.direction == Direction::Top || params.direction == Direction::Bottom;
        (vertical ? height : width) -= margin;
    }
    return reflectionResultSize(width, height, params);
}
