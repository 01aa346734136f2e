#include "hostile_files.h"

#include "testpictures.h"

#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <cstring>
#include <functional>

namespace {

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write test file %s", qPrintable(path));
}

// BITMAPFILEHEADER and the 40 bytes every BMP info header starts with.
void bmpHeaders(QDataStream& out, quint32 infoSize, quint32 paletteBytes, quint32 width,
                quint32 height, quint16 bits, quint32 compression, quint32 imageBytes,
                quint32 colours)
{
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint8('B') << quint8('M') << quint32(0) /* file size, see withFileSize */ << quint32(0)
        << quint32(14 + infoSize + paletteBytes);
    out << infoSize << width << height << quint16(1) << bits << compression << imageBytes
        << quint32(2835) << quint32(2835) /* 72 dpi */ << colours << quint32(0);
}

QByteArray withFileSize(QByteArray bytes)
{
    qToLittleEndian(quint32(bytes.size()), bytes.data() + 2);
    return bytes;
}

// 24 bits BI_RGB, or 32 bits with an alpha mask.
QByteArray bmpWithV5Header(const fipImage& picture)
{
    const unsigned bits = picture.getBitsPerPixel();
    const quint32 masks = bits == 32 ? 0xFFFFFFFF : 0;
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    bmpHeaders(out, 124, 0, picture.getWidth(), picture.getHeight(), quint16(bits), masks ? 3 : 0,
               picture.getScanWidth() * picture.getHeight(), 0);
    // V4: masks, colour space sRGB, unused end points and gamma; V5: rendering
    // intent "pictures", no profile.
    out << (masks & 0x00FF0000) << (masks & 0x0000FF00) << (masks & 0x000000FF)
        << (masks & 0xFF000000) << quint32(0x73524742);
    out.writeRawData(QByteArray(48, '\0').constData(), 48);
    out << quint32(4) << quint32(0) << quint32(0) << quint32(0);
    for (unsigned y = 0; y < picture.getHeight(); ++y) // bottom-up, as FreeImage keeps them
        out.writeRawData(reinterpret_cast<const char*>(picture.getScanLine(y)),
                         int(picture.getScanWidth()));
    return withFileSize(bytes);
}

// An 8-bit palette picture as runs of one index each.
QByteArray bmpWithRle8(const fipImage& palettised)
{
    const unsigned width = palettised.getWidth();
    const unsigned height = palettised.getHeight();
    QByteArray pixels;
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* line = palettised.getScanLine(y);
        unsigned run = 1;
        for (unsigned x = 0; x < width; x += run) {
            for (run = 1; x + run < width && run < 255 && line[x + run] == line[x];)
                ++run;
            pixels.append(char(run)).append(char(line[x]));
        }
        pixels.append('\0').append(char(y + 1 == height)); // end of line, or of the bitmap
    }
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    bmpHeaders(out, 40, 256 * 4, width, height, 8, 1, quint32(pixels.size()), 256);
    out.writeRawData(reinterpret_cast<const char*>(palettised.getPalette()), 256 * 4);
    out.writeRawData(pixels.constData(), int(pixels.size()));
    return withFileSize(bytes);
}

// 118 bytes: a 4-bit header and palette declaring width × height, no pixels.
QByteArray bmpHeaderOnly(quint32 width, quint32 height)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    bmpHeaders(out, 40, 16 * 4, width, height, 4, 0, 0, 16);
    for (int i = 0; i < 16; ++i)
        out << quint32(i * 0x111111);
    return withFileSize(bytes);
}

// A palettised picture with 40 colours, in runs and in single pixels.
fipImage palettePicture(unsigned width, unsigned height)
{
    fipImage picture(FIT_BITMAP, width, height, 8);
    for (int i = 0; i < 256; ++i)
        picture.getPalette()[i] = RGBQUAD{BYTE(i * 37), BYTE(255 - i * 5), BYTE(i * 11 + 3), 0};
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x)
            picture.getScanLine(y)[x] = BYTE(x < width / 2 ? (y % 7) : (x * 3 + y) % 40);
    return picture;
}

// What a picture becomes once normalised, worked out pixel by pixel from
// `colour` rather than by FreeImage's own conversion.
fipImage normalised(const fipImage& from, const std::function<RGBQUAD(unsigned, unsigned)>& colour)
{
    fipImage out(FIT_BITMAP, from.getWidth(), from.getHeight(), 24);
    for (unsigned y = 0; y < out.getHeight(); ++y) {
        for (unsigned x = 0; x < out.getWidth(); ++x) {
            const RGBQUAD pixel = colour(x, y);
            memcpy(out.getScanLine(y) + 3 * x, &pixel, 3);
        }
    }
    return out;
}

} // namespace

QList<HostileFile> writeHostileFolder(const QString& folder)
{
    QList<HostileFile> files;
    auto broken = [&](const QString& name, const QByteArray& bytes, const QString& hint = {}) {
        writeBytes(folder + "/" + name, bytes);
        files.append({name, fipImage(), hint});
    };
    auto valid = [&](const QString& name, fipImage picture, const fipImage& expected) {
        writePicture(picture, folder + "/" + name);
        files.append({name, expected.isValid() ? expected : picture, {}});
    };

    fipImage whole = makeGradientPicture(48, 40, 24);
    writePicture(whole, folder + "/cut.psd");
    writePicture(whole, folder + "/cut.png");
    QFile::resize(folder + "/cut.psd", QFileInfo(folder + "/cut.psd").size() / 2);
    QFile::resize(folder + "/cut.png", 120);
    files.append({"cut.psd", fipImage(), QStringLiteral("The picture decoder crashed (signal 11")});
    files.append({"cut.png", fipImage(), {}});
    broken("empty.pct", QByteArray(), QStringLiteral("empty"));
    broken("notes.pct", "Shopping list\nmilk\nbread\n",
           QStringLiteral("Decoding took longer than 3 s"));
    broken("notes.jpg", "This is not a JPEG picture, only text.\n");
    broken("huge.bmp", bmpHeaderOnly(30000, 30000), QStringLiteral("30000 × 30000 pixels"));
    // WBMP has no header-only read: the size is refused once decoded.
    broken("huge.wbmp", QByteArray::fromHex("0000 81ea30 81ea30 ffff00ff"),
           QStringLiteral("30000 × 30000 pixels"));

    fipImage photo = makeGradientPicture(64, 48, 24);
    writePicture(photo, folder + "/photo.jpg");
    // What the JPEG holds after its lossy encoding.
    if (!photo.load(QFile::encodeName(folder + "/photo.jpg").constData()) ||
        !photo.convertTo24Bits())
        qFatal("FreeImage cannot read back photo.jpg");
    files.append({"photo.jpg", photo, {}});
    valid("alpha.png", makeGradientPicture(33, 21, 32), {});
    valid("padded.bmp", makeGradientPicture(37, 23, 24), {}); // 111-byte lines, padded to 112
    valid("large.bmp", makeGradientPicture(301, 257, 24), {});
    const fipImage v5 = makeGradientPicture(29, 17, 24);
    writeBytes(folder + "/v5.bmp", bmpWithV5Header(v5));
    files.append({"v5.bmp", v5, {}});

    fipImage grey(FIT_UINT16, 35, 22, 16);
    for (unsigned y = 0; y < 22; ++y)
        for (unsigned x = 0; x < 35; ++x)
            reinterpret_cast<quint16*>(grey.getScanLine(y))[x] =
                quint16(x * 2111 + y * 397 + (x * y) % 251);
    valid("grey16.png", grey, normalised(grey, [&](unsigned x, unsigned y) {
              const BYTE high = grey.getScanLine(y)[2 * x + 1]; // of the little-endian value
              return RGBQUAD{high, high, high, 0};
          }));
    const fipImage gif = palettePicture(30, 20);
    valid("opaque.gif", gif, normalised(gif, [&](unsigned x, unsigned y) {
              return gif.getPalette()[gif.getScanLine(y)[x]];
          }));
    return files;
}

QStringList writeSeedPictures(const QString& folder)
{
    QStringList written;
    auto keep = [&](const QString& name, FIBITMAP* dib, FREE_IMAGE_FORMAT format) {
        const QString path = folder + "/" + name;
        if (FreeImage_Save(format, dib, QFile::encodeName(path).constData(), 0) &&
            QFileInfo(path).size() > 0)
            written.append(path);
        else
            QFile::remove(path);
    };
    constexpr unsigned side = 16; // the icon writer takes nothing smaller

    for (int i = 0; i < FreeImage_GetFIFCount(); ++i) {
        const auto format = FREE_IMAGE_FORMAT(i);
        if (!FreeImage_FIFSupportsWriting(format) || !FreeImage_FIFSupportsReading(format))
            continue;
        const QString extension =
            QString::fromLatin1(FreeImage_GetFIFExtensionList(format)).section(',', 0, 0);
        const QString stem = QString::fromLatin1(FreeImage_GetFormatFromFIF(format)).toLower();
        for (unsigned bits : {1u, 4u, 8u, 16u, 24u, 32u}) {
            // FreeImage's PSD writer overruns its buffer at 1 bit (valgrind:
            // invalid writes in FreeImage_Save) and writes palette files its
            // own reader refuses; Glassmere writes only 24 and 32 bits.
            if (!FreeImage_FIFSupportsExportType(format, FIT_BITMAP) ||
                !FreeImage_FIFSupportsExportBPP(format, int(bits)) ||
                (format == FIF_PSD && bits < 24))
                continue;
            fipImage picture = bits == 8
                                   ? palettePicture(side, side - 4)
                                   : makeGradientPicture(side, side - 4, bits == 32 ? 32 : 24);
            if ((bits == 1 && !picture.threshold(128)) ||
                (bits == 4 && !picture.convertTo4Bits()) ||
                (bits == 16 && !picture.convertTo16Bits565()))
                continue;
            keep(QStringLiteral("%1-%2.%3").arg(stem).arg(bits).arg(extension), picture, format);
        }
        // 16-bit and float pictures, where the format stores them.
        const QList<QPair<FREE_IMAGE_TYPE, const char*>> types = {
            {FIT_UINT16, "grey16"}, {FIT_RGB16, "rgb16"}, {FIT_RGBA16, "rgba16"},
            {FIT_FLOAT, "float"},   {FIT_RGBF, "rgbf"},   {FIT_RGBAF, "rgbaf"}};
        for (const auto& [type, name] : types) {
            // PSD writes floats with a channel count its reader refuses.
            if (!FreeImage_FIFSupportsExportType(format, type) ||
                (format == FIF_PSD && type == FIT_FLOAT))
                continue;
            fipImage picture = makeGradientPicture(side, side - 4, 32);
            if (picture.convertToType(type))
                keep(QStringLiteral("%1-%2.%3").arg(stem, name, extension), picture, format);
        }
    }

    const QList<QPair<QString, QByteArray>> handMade = {
        {"v5-24.bmp", bmpWithV5Header(makeGradientPicture(side, 9, 24))},
        {"v5-32.bmp", bmpWithV5Header(makeGradientPicture(side, 9, 32))},
        {"rle8.bmp", bmpWithRle8(palettePicture(side + 5, 9))},
        {"header-only.bmp", bmpHeaderOnly(300, 200)},
    };
    for (const auto& [name, bytes] : handMade) {
        writeBytes(folder + "/" + name, bytes);
        written.append(folder + "/" + name);
    }
    return written;
}

QMap<QString, QByteArray> folderSnapshot(const QString& folder)
{
    QMap<QString, QByteArray> snapshot;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo& entry : entries) {
        QFile file(entry.filePath());
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : "<unreadable>";
        snapshot.insert(entry.fileName(),
                        bytes + "|" + QByteArray::number(entry.lastModified().toMSecsSinceEpoch()));
    }
    return snapshot;
}
