// SPDX-License-Identifier: GPL-3.0-or-later
#include "picture_bytes.h"

#include <QDataStream>
#include <QIODevice>
#include <QtEndian>

#include <zlib.h>

QByteArray bmpFile(const BmpLayout& layout, const QByteArray& pixels)
{
    QByteArray info, tail; // the info header, and the masks and palette after it
    QDataStream out(&info, QIODevice::WriteOnly), after(&tail, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    after.setByteOrder(QDataStream::LittleEndian);
    if (layout.infoSize == 12) {
        out << quint32(12) << quint16(layout.width) << quint16(layout.height) << quint16(1)
            << layout.bits;
    } else {
        out << layout.infoSize << layout.width << layout.height << quint16(1) << layout.bits
            << layout.compression << quint32(pixels.size()) << quint32(2835) << quint32(2835)
            << quint32(layout.palette.size()) << quint32(0);
        for (quint32 mask : layout.masks)
            (layout.infoSize >= 52 ? out : after) << mask;
    }
    info = info.left(layout.infoSize).leftJustified(layout.infoSize, '\0');
    for (quint32 colour : layout.palette) {
        after << quint8(colour) << quint8(colour >> 8) << quint8(colour >> 16);
        if (layout.infoSize != 12)
            after << quint8(0);
    }
    QByteArray file("BM");
    file.resize(14);
    qToLittleEndian(quint32(14 + info.size() + tail.size() + pixels.size()), file.data() + 2);
    qToLittleEndian(quint32(0), file.data() + 6);
    qToLittleEndian(quint32(14 + info.size() + tail.size()), file.data() + 10);
    return file + info + tail + pixels;
}

QByteArray bmpRows(const QList<QList<quint32>>& rows, unsigned bits)
{
    QByteArray bytes;
    for (const QList<quint32>& row : rows) {
        QByteArray line;
        quint32 pending = 0, pendingBits = 0;
        for (quint32 value : row) {
            if (bits >= 8) {
                for (unsigned i = 0; i < bits / 8; ++i)
                    line.append(char(value >> (8 * i)));
                continue;
            }
            pending = pending << bits | value;
            if ((pendingBits += bits) == 8)
                line.append(char(pending)), pending = pendingBits = 0;
        }
        if (pendingBits)
            line.append(char(pending << (8 - pendingBits)));
        bytes += line + QByteArray((4 - line.size() % 4) % 4, '\0');
    }
    return bytes;
}

namespace {

QByteArray chunk(const QByteArray& type, const QByteArray& data)
{
    const QByteArray typed = type + data;
    QByteArray bytes(4, '\0');
    qToBigEndian(quint32(data.size()), bytes.data());
    bytes += typed + QByteArray(4, '\0');
    const auto crc =
        crc32(0, reinterpret_cast<const Bytef*>(typed.constData()), uInt(typed.size()));
    qToBigEndian(quint32(crc), bytes.data() + bytes.size() - 4);
    return bytes;
}

} // namespace

QByteArray pngFile(quint32 width, quint32 height, int bitDepth, int colourType,
                   const QList<QByteArray>& rows,
                   const QList<QPair<QByteArray, QByteArray>>& chunks)
{
    QByteArray header(13, '\0');
    qToBigEndian(width, header.data());
    qToBigEndian(height, header.data() + 4);
    header[8] = char(bitDepth);
    header[9] = char(colourType);
    QByteArray scanLines;
    for (const QByteArray& row : rows)
        scanLines += '\0' + row; // filter type None
    QByteArray file = QByteArray("\x89PNG\r\n\x1a\n") + chunk("IHDR", header);
    for (const auto& [type, data] : chunks)
        file += chunk(type, data);
    // qCompress puts the length before a zlib stream.
    return file + chunk("IDAT", qCompress(scanLines).mid(4)) + chunk("IEND", {});
}
