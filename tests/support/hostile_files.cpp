// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostile_files.h"

#include "imaging/decoder/image_io.h"

#include "imagecompare.h"
#include "modern_pictures.h"
#include "picture_bytes.h"
#include "reader_layouts.h"
#include "testpictures.h"

#include <QFile>
#include <QFileInfo>

namespace {

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

} // namespace

QList<HostileFile> writeHostileFolder(const QString& folder)
{
    QList<HostileFile> files;
    auto broken = [&](const QString& name, const QByteArray& bytes, const QString& hint = {}) {
        writeBytes(folder + "/" + name, bytes);
        files.append({name, fipImage(), hint, {}});
    };
    auto valid = [&](const QString& name, fipImage picture, const fipImage& expected) {
        writePicture(picture, folder + "/" + name);
        files.append({name, expected.isValid() ? expected : picture, {}, {}});
    };
    // Files written byte by byte, with the picture readers give.
    auto made = [&](const QString& name, const QByteArray& bytes, const fipImage& expected,
                    const QString& damage = {}) {
        writeBytes(folder + "/" + name, bytes);
        files.append({name, expected, {}, damage});
    };

    writePicture(makeGradientPicture(48, 40, 24), folder + "/cut.psd");
    writePicture(makeGradientPicture(48, 40, 24), folder + "/cut.png");
    const QByteArray psd = fileBytes(folder + "/cut.psd");
    broken("cut.psd", psd.left(psd.size() / 2), "The picture decoder crashed (signal 11");
    broken("cut.png", fileBytes(folder + "/cut.png").left(40), "; Qt's PNG reader: ");
    broken("empty.pct", QByteArray(), QStringLiteral("empty"));
    broken("notes.pct", "Shopping list\nmilk\nbread\n",
           QStringLiteral("Decoding took longer than 3 s"));
    broken("notes.jpg", "This is not a JPEG picture, only text.\n");
    // Too large for any machine, refused from the header.
    broken("huge.bmp", bmpFile({1000000, 1000000, 4, 0, 40, {}, QList<quint32>(16)}, {}),
           QStringLiteral("1000000 × 1000000 pixels need"));
    // WBMP has no header-only read: the size is refused once decoded.
    broken("huge.wbmp", QByteArray::fromHex("0000 81ea30 81ea30 ffff00ff"),
           QStringLiteral("30000 × 30000 pixels need"));

    writePicture(makeGradientPicture(64, 48, 24), folder + "/photo.jpg");
    // What the JPEG holds after its lossy encoding, decoded with libjpeg's
    // accurate transform (through Qt's reader), as viewers show it.
    files.append({"photo.jpg", readJpegAccurately(folder + "/photo.jpg"), {}, {}});
    // Cut short: decoded as far as they go, told as damage.
    const fipImage tall = makeGradientPicture(64, 200, 24);
    writePicture(tall, folder + "/cut-photo.jpg", 95 | JPEG_SUBSAMPLING_444);
    made("cut-photo.jpg", fileBytes(folder + "/cut-photo.jpg").chopped(3000),
         readJpegAccurately(folder + "/cut-photo.jpg"), "Premature end of JPEG file");
    files.last().onlyTopRowKnown = true;
    writePicture(tall, folder + "/cut-pixels.png");
    made("cut-pixels.png", fileBytes(folder + "/cut-pixels.png").chopped(200), tall,
         "The PNG file ends early");
    files.last().onlyTopRowKnown = true;
    valid("alpha.png", makeGradientPicture(33, 21, 32), {});
    valid("padded.bmp", makeGradientPicture(37, 23, 24), {}); // 111-byte lines, padded to 112
    valid("large.bmp", makeGradientPicture(301, 257, 24), {});

    fipImage grey(FIT_UINT16, 35, 22, 16);
    for (unsigned y = 0; y < 22; ++y)
        for (unsigned x = 0; x < 35; ++x)
            reinterpret_cast<quint16*>(grey.getScanLine(y))[x] =
                quint16(x * 2111 + y * 397 + (x * y) % 251);
    valid("grey16.png", grey, normalised(35, 22, 24, [&](unsigned x, unsigned y) {
              const BYTE high = grey.getScanLine(y)[2 * x + 1]; // of the little-endian value
              return RGBQUAD{high, high, high, 0};
          }));
    const fipImage gif = palettePicture(30, 20);
    valid("opaque.gif", gif, normalised(30, 20, 24, [&](unsigned x, unsigned y) {
              return gif.getPalette()[gif.getScanLine(y)[x]];
          }));

    // Alpha 0 everywhere is alpha where the format has a real alpha channel...
    fipImage clear = makeGradientPicture(6, 5, 32);
    for (unsigned y = 0; y < 5; ++y)
        for (unsigned x = 0; x < 6; ++x)
            clear.getScanLine(y)[4 * x + FI_RGBA_ALPHA] = 0;
    valid("clear.png", clear, {});
    valid("clear-tiff.tif", clear, {});
    valid("clear-psd.psd", clear, {});
    // ... and padding in a TGA whose header declares no alpha bits.
    fipImage padded = makeGradientPicture(6, 5, 32);
    writePicture(padded, folder + "/padding.tga");
    QByteArray tga = fileBytes(folder + "/padding.tga");
    tga[17] = char(tga[17] & 0xF0);
    padded.convertTo24Bits();
    made("padding.tga", tga, padded);

    // A palette with a transparent entry and 16 bits per channel become 32
    // bits, floats 24.
    fipImage indexed8(FIT_BITMAP, 13, 9, 8);
    BYTE table[256] = {0}; // index 0 fully transparent, the one every pixel holds
    indexed8.setTransparencyTable(table, 1);
    valid("palette-trns.png", indexed8, fipImage(FIT_BITMAP, 13, 9, 32));
    valid("rgba16.png", fipImage(FIT_RGBA16, 13, 9, 64), fipImage(FIT_BITMAP, 13, 9, 32));
    valid("light.hdr", fipImage(FIT_RGBF, 13, 9, 96), fipImage(FIT_BITMAP, 13, 9, 24));

    // Phone and web formats: lossless files give their pictures; cut
    // and damaged ones fail with the library's words.
    const fipImage modern = makeGradientPicture(24, 16, 32);
    fipImage opaque = modern;
    opaque.convertTo24Bits();
    const struct {
        const char* name;
        const char* tool;
        QStringList arguments;
        const fipImage& picture;
        const char* hint;
    } encoded[] = {{"lossless-heic.heic",
                    "heif-enc",
                    {"-L", "-p", "chroma=444", "--matrix_coefficients=0"},
                    opaque,
                    "libheif"},
                   {"lossless-avif.avif", "avifenc", {"-l", "-s", "9"}, modern, "libheif"},
                   {"lossless-jxl.jxl", "cjxl", {"-d", "0"}, modern, "JPEG XL"}};
    for (const auto& file : encoded) {
        const QString path = folder + "/" + file.name;
        if (!encodeWithTool(file.picture, path, file.tool, file.arguments).isEmpty())
            qFatal("%s could not write %s", file.tool, file.name);
        QFile::remove(path + ".source.png");
        // x265 is not quite lossless: its file gives heif-convert's picture.
        made(file.name, fileBytes(path),
             QString(file.tool) == "heif-enc" ? referenceDecode(path) : file.picture);
        const QByteArray bytes = fileBytes(path);
        broken(QString("cut-") + file.name, bytes.left(bytes.size() * 2 / 3), file.hint);
        QByteArray damaged = bytes;
        for (int i = 0; i < 24 && 12 + i < damaged.size(); ++i)
            damaged[12 + i] = char(0xff - i);
        broken(QString("damaged-") + file.name, damaged, file.hint);
    }
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

    // The hand-made files that decode: layouts no library writes.
    for (const HostileFile& file : writeHostileFolder(folder) + writeReaderLayouts(folder)) {
        if (file.valid())
            written.append(folder + "/" + file.name);
        else
            QFile::remove(folder + "/" + file.name);
    }
    return written;
}

void verifyDecoded(const HostileFile& file, bool loaded, const fipImage& decoded,
                   const QString& reason)
{
    if (file.valid()) {
        QVERIFY2(loaded, qPrintable(reason));
        // Damage is told, and only damage: pixels an RLE stream skips are no damage.
        const QString damage = pictureDamage(decoded);
        QVERIFY2(damage.isEmpty() == file.damageHint.isEmpty() && damage.contains(file.damageHint),
                 qPrintable(damage));
        if (!file.onlyTopRowKnown) {
            COMPARE_IMAGES(decoded, file.expected);
            return;
        }
        QCOMPARE(decoded.getWidth(), file.expected.getWidth());
        QCOMPARE(decoded.getHeight(), file.expected.getHeight());
        for (unsigned x = 0; x < decoded.getWidth(); ++x)
            QCOMPARE(pixelAt(decoded, x, 0), pixelAt(file.expected, x, 0));
    } else {
        QVERIFY2(!loaded && !decoded.isValid(), "a broken file decoded");
#if defined(__SANITIZE_ADDRESS__)
        // A sanitized decoder tells a reader's memory fault itself and exits before the signal.
        const QString hint = file.reasonHint.startsWith("The picture decoder crashed")
                                 ? QStringLiteral("The picture decoder")
                                 : file.reasonHint;
#else
        const QString hint = file.reasonHint;
#endif
        QVERIFY2(!reason.isEmpty() && reason.contains(hint), qPrintable(reason));
    }
}
