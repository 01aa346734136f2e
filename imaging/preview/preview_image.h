// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>

#include <cstddef>
#include <memory>

class PixelBlock;
class fipImage;

// Memory for the preview of one result after another. A preview of 100 MB in
// fresh memory costs tens of milliseconds of page faults before it is
// written; this keeps the block of the previous preview and fills it again
// once no image uses it any more (images over it share it, so a preview still
// shown or kept somewhere is never overwritten: the next one gets a new block).
class PreviewMemory {
public:
    // An image over the block, or null when memory runs out.
    QImage image(int width, int height, QImage::Format format);

private:
    std::shared_ptr<PixelBlock> block;
};

// Turns a rendered result into the top-down image the preview shows, in one
// pass: Format_ARGB32_Premultiplied when the picture has transparency,
// Format_RGB32 otherwise (both convert to a pixmap without another pass).
// Any depth is accepted; returns a null image for an empty picture or when
// memory runs out.
// With `memory`, the image's pixels are taken from it.
QImage previewImage(const fipImage& image, PreviewMemory* memory = nullptr);
