#include "hostile_files.h"

#include "testpictures.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QtEndian>

#include <cstring>

namespace {

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write test file %s", qPrintable(path));
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read test file %s", qPrintable(path));
    return file.readAll();
}

// Little-endian fields, as BMP headers lay them out.
struct Bytes {
    QByteArray data;
    void u8(quint8 v) { data.append(char(v)); }
    void u16(quint16 v)
    {
        char b[2];
        qToLittleEndian(v, b);
        data.append(b, 2);
    }
    void u32(quint32 v)
    {
        char b[4];
        qToLittleEndian(v, b);
        data.append(b, 4);
    }
    void zeros(int count) { data.append(QByteArray(count, '\0')); }
};

// BITMAPFILEHEADER; the file size is patched in at the end.
void fileHeader(Bytes& out, quint32 pixelOffset)
{
    out.u8('B');
    out.u8('M');
    out.u32(0); // file size, patched
    out.u16(0);
    out.u16(0);
    out.u32(pixelOffset);
}

void patchFileSize(Bytes& out)
{
    qToLittleEndian(quint32(out.data.size()), out.data.data() + 2);
}

// The 40 bytes every BMP info header starts with.
void infoHeader(Bytes& out, quint32 size, qint32 width, qint32 height, quint16 bits,
                quint32 compression, quint32 imageBytes, quint32 colours)
{
    out.u32(size);
    out.u32(quint32(width));
    out.u32(quint32(height));
    out.u16(1);
    out.u16(bits);
    out.u32(compression);
    out.u32(imageBytes);
    out.u32(2835); // 72 dpi
    out.u32(2835);
    out.u32(colours);
    out.u32(0);
}

// A palettised picture with 40 colours, in runs and in single pixels.
fipImage palettePicture(unsigned width, unsigned height)
{
    fipImage picture(FIT_BITMAP, width, height, 8);
    RGBQUAD* palette = picture.getPalette();
    for (int i = 0; i < 256; ++i)
        palette[i] = RGBQUAD{BYTE(i * 37), BYTE(255 - i * 5), BYTE(i * 11 + 3), 0};
    for (unsigned y = 0; y < height; ++y) {
        BYTE* line = picture.getScanLine(y);
        for (unsigned x = 0; x < width; ++x)
            line[x] = BYTE(x < width / 2 ? (y % 7) : (x * 3 + y) % 40);
    }
    return picture;
}

// What a palettised or 16-bit grey picture becomes once normalised, worked
// out pixel by pixel rather than by FreeImage's own conversion.
fipImage expectedFromPalette(const fipImage& palettised)
{
    const unsigned width = palettised.getWidth();
    const unsigned height = palettised.getHeight();
    fipImage out(FIT_BITMAP, width, height, 24);
    const RGBQUAD* palette = palettised.getPalette();
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* in = palettised.getScanLine(y);
        BYTE* line = out.getScanLine(y);
        for (unsigned x = 0; x < width; ++x, line += 3) {
            line[FI_RGBA_BLUE] = palette[in[x]].rgbBlue;
            line[FI_RGBA_GREEN] = palette[in[x]].rgbGreen;
            line[FI_RGBA_RED] = palette[in[x]].rgbRed;
        }
    }
    return out;
}

fipImage grey16Picture(unsigned width, unsigned height)
{
    fipImage picture(FIT_UINT16, width, height, 16);
    for (unsigned y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<quint16*>(picture.getScanLine(y));
        for (unsigned x = 0; x < width; ++x)
            line[x] = quint16(x * 2111 + y * 397 + (x * y) % 251);
    }
    return picture;
}

fipImage expectedFromGrey16(const fipImage& grey)
{
    fipImage out(FIT_BITMAP, grey.getWidth(), grey.getHeight(), 24);
    for (unsigned y = 0; y < grey.getHeight(); ++y) {
        const auto* in = reinterpret_cast<const quint16*>(grey.getScanLine(y));
        BYTE* line = out.getScanLine(y);
        for (unsigned x = 0; x < grey.getWidth(); ++x, line += 3)
            line[0] = line[1] = line[2] = BYTE(in[x] >> 8); // the high byte
    }
    return out;
}

fipImage decodedByFreeImage(const QString& path)
{
    fipImage picture;
    if (!picture.load(QFile::encodeName(path).constData()) || !picture.convertTo24Bits())
        qFatal("FreeImage cannot read back %s", qPrintable(path));
    return picture;
}

// 32-bit pictures whose alpha is 255 throughout normalise to 24 bits.
fipImage withAlphaSpread(fipImage picture)
{
    for (unsigned y = 0; y < picture.getHeight(); ++y) {
        BYTE* line = picture.getScanLine(y);
        for (unsigned x = 0; x < picture.getWidth(); ++x)
            line[x * 4 + FI_RGBA_ALPHA] = BYTE((x * 29 + y * 7) % 256);
    }
    return picture;
}

} // namespace

QByteArray bmpWithV5Header(const fipImage& picture)
{
    const unsigned width = picture.getWidth();
    const unsigned height = picture.getHeight();
    const unsigned bits = picture.getBitsPerPixel();
    const unsigned pitch = (width * bits / 8 + 3) & ~3u;
    const bool bitfields = bits == 32;
    Bytes out;
    fileHeader(out, 14 + 124);
    infoHeader(out, 124, qint32(width), qint32(height), quint16(bits), bitfields ? 3 : 0,
               pitch * height, 0);
    // V4: masks, colour space sRGB, unused end points and gamma.
    out.u32(bitfields ? 0x00FF0000 : 0);
    out.u32(bitfields ? 0x0000FF00 : 0);
    out.u32(bitfields ? 0x000000FF : 0);
    out.u32(bitfields ? 0xFF000000 : 0);
    out.u32(0x73524742); // 'sRGB'
    out.zeros(36 + 12);
    // V5: rendering intent "pictures", no profile.
    out.u32(4);
    out.u32(0);
    out.u32(0);
    out.u32(0);
    for (unsigned y = 0; y < height; ++y) { // bottom-up, as FreeImage keeps them
        out.data.append(reinterpret_cast<const char*>(picture.getScanLine(y)),
                        int(width * bits / 8));
        out.zeros(int(pitch - width * bits / 8));
    }
    patchFileSize(out);
    return out.data;
}

QByteArray bmpWithRle8(const fipImage& palettised)
{
    const unsigned width = palettised.getWidth();
    const unsigned height = palettised.getHeight();
    Bytes pixels;
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* line = palettised.getScanLine(y);
        unsigned x = 0;
        while (x < width) {
            unsigned run = 1;
            while (x + run < width && run < 255 && line[x + run] == line[x])
                ++run;
            if (run >= 2) { // encoded mode: count, index
                pixels.u8(quint8(run));
                pixels.u8(line[x]);
                x += run;
                continue;
            }
            // Absolute mode for what does not repeat: 0, count (3 or more), indices, even padding.
            unsigned count = 0;
            while (x + count < width && count < 255 &&
                   (x + count + 1 >= width || line[x + count + 1] != line[x + count]))
                ++count;
            if (count < 3) {
                for (unsigned i = 0; i < count; ++i) {
                    pixels.u8(1);
                    pixels.u8(line[x + i]);
                }
            } else {
                pixels.u8(0);
                pixels.u8(quint8(count));
                for (unsigned i = 0; i < count; ++i)
                    pixels.u8(line[x + i]);
                if (count % 2)
                    pixels.u8(0);
            }
            x += count;
        }
        pixels.u8(0); // end of line, or of the bitmap after the last line
        pixels.u8(y + 1 == height ? 1 : 0);
    }
    Bytes out;
    fileHeader(out, 14 + 40 + 256 * 4);
    infoHeader(out, 40, qint32(width), qint32(height), 8, 1, quint32(pixels.data.size()), 256);
    const RGBQUAD* palette = palettised.getPalette();
    for (int i = 0; i < 256; ++i) {
        out.u8(palette[i].rgbBlue);
        out.u8(palette[i].rgbGreen);
        out.u8(palette[i].rgbRed);
        out.u8(0);
    }
    out.data.append(pixels.data);
    patchFileSize(out);
    return out.data;
}

QByteArray bmpHeaderOnly(quint32 width, quint32 height)
{
    Bytes out;
    fileHeader(out, 14 + 40 + 16 * 4);
    infoHeader(out, 40, qint32(width), qint32(height), 4, 0, 0, 16);
    for (int i = 0; i < 16; ++i)
        out.u32(quint32(i * 0x111111));
    patchFileSize(out);
    return out.data; // 118 bytes
}

QList<HostileFile> writeHostileFolder(const QString& folder)
{
    QList<HostileFile> files;
    auto broken = [&](const QString& name, const QByteArray& bytes, const QString& hint = {}) {
        writeBytes(folder + "/" + name, bytes);
        HostileFile file;
        file.name = name;
        file.reasonHint = hint;
        files.append(file);
    };
    auto valid = [&](const QString& name, const fipImage& expected, bool renamed = false) {
        HostileFile file;
        file.name = name;
        file.valid = true;
        file.expected = expected;
        file.renamedInBatch = renamed;
        files.append(file);
    };
    const QString scratch = folder + "/.scratch";
    QDir().mkpath(scratch);

    // Broken: cut short, empty, text under picture names, impossible sizes.
    fipImage psd = makeGradientPicture(48, 40, 24);
    writePicture(psd, scratch + "/whole.psd");
    const QByteArray wholePsd = readBytes(scratch + "/whole.psd");
    broken("cut.psd", wholePsd.left(wholePsd.size() / 2));
    fipImage png = makeGradientPicture(48, 40, 24);
    writePicture(png, scratch + "/whole.png");
    broken("cut.png", readBytes(scratch + "/whole.png").left(120));
    broken("empty.pct", QByteArray(), QStringLiteral("empty"));
    broken("notes.pct", "Shopping list\nmilk\nbread\n");
    broken("notes.jpg", "This is not a JPEG picture, only text.\n");
    broken("huge.bmp", bmpHeaderOnly(30000, 30000), QStringLiteral("30000 × 30000 pixels"));
    // WBMP has no header-only read: the size is refused once decoded.
    broken("huge.wbmp", QByteArray::fromHex("0000 81ea30 81ea30 ffff00ff"),
           QStringLiteral("30000 × 30000 pixels"));

    // Valid pictures, some of kinds FreeImage refuses or cannot write back.
    fipImage jpeg = makeGradientPicture(64, 48, 24);
    writePicture(jpeg, folder + "/photo.jpg");
    valid("photo.jpg", decodedByFreeImage(folder + "/photo.jpg"));
    fipImage alpha = makeGradientPicture(33, 21, 32);
    writePicture(alpha, folder + "/alpha.png");
    valid("alpha.png", alpha);
    fipImage padded = makeGradientPicture(37, 23, 24); // 111-byte lines, padded to 112
    writePicture(padded, folder + "/padded.bmp");
    valid("padded.bmp", padded);
    fipImage tiff = makeGradientPicture(40, 30, 24);
    writePicture(tiff, folder + "/scan.tif");
    valid("scan.tif", tiff);

    const fipImage v5 = makeGradientPicture(29, 17, 24);
    writeBytes(folder + "/v5.bmp", bmpWithV5Header(v5));
    valid("v5.bmp", v5);
    const fipImage v5Alpha = withAlphaSpread(makeGradientPicture(19, 13, 32));
    writeBytes(folder + "/v5-alpha.bmp", bmpWithV5Header(v5Alpha));
    valid("v5-alpha.bmp", v5Alpha);
    const fipImage rle = palettePicture(45, 19);
    writeBytes(folder + "/rle8.bmp", bmpWithRle8(rle));
    valid("rle8.bmp", expectedFromPalette(rle));

    fipImage grey = grey16Picture(35, 22);
    writePicture(grey, folder + "/grey16.png");
    valid("grey16.png", expectedFromGrey16(grey));
    fipImage gif = palettePicture(30, 20);
    writePicture(gif, folder + "/opaque.gif");
    valid("opaque.gif", expectedFromPalette(gif), true);

    QDir(scratch).removeRecursively();
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
        if (FreeImage_FIFSupportsExportType(format, FIT_BITMAP)) {
            for (unsigned bits : {1u, 4u, 8u, 16u, 24u, 32u}) {
                if (!FreeImage_FIFSupportsExportBPP(format, int(bits)))
                    continue;
                // FreeImage's PSD writer overruns its buffer at 1 bit (valgrind:
                // invalid writes in FreeImage_Save) and writes palette files its
                // own reader refuses; Glassmere writes only 24 and 32 bits.
                if (format == FIF_PSD && bits < 24)
                    continue;
                fipImage picture = bits >= 24 ? makeGradientPicture(side, side - 4, bits)
                                              : palettePicture(side, side - 4);
                if (bits < 8 && !picture.convertToGrayscale())
                    continue;
                if (bits == 1)
                    picture.threshold(128);
                else if (bits == 4)
                    picture.convertTo4Bits();
                else if (bits == 16)
                    picture.convertTo16Bits565();
                keep(QStringLiteral("%1-%2.%3").arg(stem).arg(bits).arg(extension), picture,
                     format);
            }
        }
        // 16-bit and float pictures, where the format stores them.
        const struct {
            FREE_IMAGE_TYPE type;
            unsigned bits;
            const char* name;
        } types[] = {{FIT_UINT16, 16, "grey16"}, {FIT_RGB16, 48, "rgb16"},
                     {FIT_RGBA16, 64, "rgba16"}, {FIT_FLOAT, 32, "float"},
                     {FIT_RGBF, 96, "rgbf"},     {FIT_RGBAF, 128, "rgbaf"}};
        for (const auto& kind : types) {
            if (!FreeImage_FIFSupportsExportType(format, kind.type))
                continue;
            if (format == FIF_PSD && kind.type == FIT_FLOAT)
                continue; // written with a channel count its reader refuses
            fipImage picture(kind.type, side, side - 4, kind.bits);
            for (unsigned y = 0; y < picture.getHeight(); ++y) {
                BYTE* line = picture.getScanLine(y);
                if (kind.type == FIT_FLOAT || kind.type == FIT_RGBF || kind.type == FIT_RGBAF) {
                    auto* values = reinterpret_cast<float*>(line);
                    for (unsigned v = 0; v < picture.getWidth() * kind.bits / 32; ++v)
                        values[v] = float((v * 7 + y * 3) % 23) / 20.0f;
                } else {
                    auto* values = reinterpret_cast<quint16*>(line);
                    for (unsigned v = 0; v < picture.getWidth() * kind.bits / 16; ++v)
                        values[v] = quint16(v * 4099 + y * 613);
                }
            }
            keep(QStringLiteral("%1-%2.%3").arg(stem, kind.name, extension), picture, format);
        }
    }

    // What FreeImage cannot write but meets in files: the BMPs it refuses.
    const QList<QPair<QString, QByteArray>> handMade = {
        {"v5-24.bmp", bmpWithV5Header(makeGradientPicture(side, 9, 24))},
        {"v5-32.bmp", bmpWithV5Header(withAlphaSpread(makeGradientPicture(side, 9, 32)))},
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
