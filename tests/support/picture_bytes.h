// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// BMP and PNG files written byte by byte, so a test chooses every header
// field, mask and chunk, including ones no library writes.

#include <QByteArray>
#include <QList>
#include <QPair>

struct BmpLayout {
    BmpLayout(qint32 pixelsWide, qint32 pixelsHigh, quint16 bitsPerPixel,
              quint32 compressionCode = 0, quint32 headerBytes = 40,
              const QList<quint32>& bitMasks = {}, const QList<quint32>& colours = {})
        : width(pixelsWide), height(pixelsHigh), bits(bitsPerPixel), compression(compressionCode),
          infoSize(headerBytes), masks(bitMasks), palette(colours)
    {
    }
    qint32 width;
    qint32 height; // negative: rows top-down
    quint16 bits;
    quint32 compression;
    quint32 infoSize;     // 12 (OS/2 1.x), 40, 56, 64 (OS/2 2.x), 108, 124
    QList<quint32> masks; // red, green, blue(, alpha): in headers of 52 bytes and more, else after
    QList<quint32> palette; // 0xRRGGBB
};

// The file: headers, masks, palette, then `pixels` (rows or an RLE stream).
QByteArray bmpFile(const BmpLayout& layout, const QByteArray& pixels);

// Rows of `bits`-bit pixel values, bottom row first, each padded to 4 bytes;
// narrow values packed from the high bits, wide ones little-endian.
QByteArray bmpRows(const QList<QList<quint32>>& rows, unsigned bits);

// A PNG of `rows` (unfiltered scan lines, already packed) with `chunks`
// (type, data) between its header and its pixel data.
QByteArray pngFile(quint32 width, quint32 height, int bitDepth, int colourType,
                   const QList<QByteArray>& rows,
                   const QList<QPair<QByteArray, QByteArray>>& chunks = {});
