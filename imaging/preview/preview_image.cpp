// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/preview/preview_image.h"

#include "imaging/pixels/pixel_memory.h"
#include "imaging/pixels/pixel_words.h"
#include "imaging/pixels/standard_bitmap.h"
#include "imaging/preview/preview_pixels.h"

#include <FreeImagePlus.h>

using pixel_words::Word;

QImage PreviewMemory::image(int width, int height, QImage::Format format)
{
    const qsizetype stride = qsizetype(width) * 4; // both formats: 32 bits, no padding
    const std::size_t bytes = std::size_t(stride) * std::size_t(height);
    // In use while an image over it lives: the block and every image hold it.
    if (!block || block.use_count() > 1 || block->size() < bytes) {
        auto fresh = std::make_shared<PixelBlock>();
        // A little room to grow: the next result is often a little larger.
        if (!fresh->reserve(bytes + bytes / 4 + 4096))
            return {};
        block = std::move(fresh);
    }
    auto* holder = new std::shared_ptr<PixelBlock>(block);
    QImage shown(
        block->data(), width, height, stride, format,
        [](void* info) { delete static_cast<std::shared_ptr<PixelBlock>*>(info); }, holder);
    if (shown.isNull())
        delete holder;
    return shown;
}

QImage previewImage(const fipImage& image, PreviewMemory* memory)
{
    FIBITMAP* dib = static_cast<FIBITMAP*>(const_cast<fipImage&>(image));
    if (!dib || !FreeImage_HasPixels(dib))
        return {};

    // Other depths and types are shown through a standard copy; the
    // transparent ones (a palette with a transparency table, for instance)
    // keep their alpha, and so their premultiplied format.
    BitmapPtr converted;
    bool alphaFormat = false;
    if (!isStandardBitmap(dib)) {
        alphaFormat = FreeImage_IsTransparent(dib);
        converted = convertToStandardBitmap(dib, alphaFormat);
        if (!converted)
            return {};
        dib = converted.get();
    }

    const int width = int(FreeImage_GetWidth(dib));
    const int height = int(FreeImage_GetHeight(dib));
    const bool wide = FreeImage_GetBPP(dib) == 32;
    const QImage::Format format = wide ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    PreviewMemory own; // the image keeps its block
    QImage shown = (memory ? memory : &own)->image(width, height, format);
    if (shown.isNull())
        return {};

    // Scan line 0 is the bottom row; Qt's first line is the top one.
    uchar* bits = shown.bits();
    const qsizetype stride = shown.bytesPerLine();
    Word all = ~Word(0);
    for (int y = 0; y < height; ++y) {
        const uchar* src = FreeImage_GetScanLine(dib, height - 1 - y);
        uchar* line = bits + y * stride;
        if (wide)
            all &= preview_pixels::premultiplyLine(src, reinterpret_cast<Word*>(line), width);
        else
            pixel_words::widen(src, line, width, 0xFF); // RGB32's top byte is 0xFF
    }

    // A 32-bit picture whose alpha is 255 throughout is not transparent: its
    // premultiplied pixels are already valid RGB32 pixels, which the pixmap
    // takes without a conversion.
    if (wide && !alphaFormat && (all >> 24) == 0xFF)
        shown.reinterpretAsFormat(QImage::Format_RGB32);
    return shown;
}
