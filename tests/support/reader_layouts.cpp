// SPDX-License-Identifier: GPL-3.0-or-later
#include "reader_layouts.h"

#include "picture_bytes.h"
#include "testpictures.h"

#include <QColorSpace>
#include <QFile>

#include <cmath>
#include <cstring>

using Colour = std::function<RGBQUAD(unsigned, unsigned)>;
fipImage normalised(unsigned width, unsigned height, unsigned bits, const Colour& colour)
{
    fipImage out(FIT_BITMAP, width, height, bits);
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            const RGBQUAD pixel = colour(x, y);
            memcpy(out.getScanLine(y) + bits / 8 * x, &pixel, bits / 8);
        }
    }
    return out;
}

namespace {

// A 24-bit picture in a V5 header.
QByteArray bmpWithV5Header(const fipImage& picture)
{
    QByteArray rows;
    for (unsigned y = 0; y < picture.getHeight(); ++y) // bottom-up, as FreeImage keeps them
        rows.append(reinterpret_cast<const char*>(picture.getScanLine(y)),
                    int(picture.getScanWidth()));
    return bmpFile({int(picture.getWidth()), int(picture.getHeight()), 24, 0, 124}, rows);
}

RGBQUAD bgra(quint32 rgb, BYTE alpha = 255)
{
    return RGBQUAD{BYTE(rgb), BYTE(rgb >> 8), BYTE(rgb >> 16), alpha};
}

// A 9 × 5 BMP whose pixels hold every field of `layout.masks` (red, green,
// blue, alpha) at known values, the first pixel full, and what it must give:
// each field scaled to 8 bits, rounded; alpha only from an alpha mask that holds
// something (`zeroAlpha` stores 0 in every alpha field).
QPair<QByteArray, fipImage> bmpWithFields(BmpLayout layout, bool zeroAlpha = false)
{
    const unsigned width = 9, height = 5;
    layout.width = width;
    layout.height = height;
    auto value = [&](unsigned x, unsigned y, int field) -> quint32 {
        const quint32 mask = field < layout.masks.size() ? layout.masks[field] : 0;
        const quint32 max = mask ? mask >> qCountTrailingZeroBits(mask) : 0;
        if (!max || (field == 3 && zeroAlpha))
            return 0;
        return x + y == 0 ? max : (x * 37 + y * 101 + field * 53) * 7919u % (max + 1);
    };
    auto scaled = [&](unsigned x, unsigned y, int field) {
        const quint32 mask = layout.masks[field];
        return BYTE(
            mask ? qRound(value(x, y, field) * 255.0 / (mask >> qCountTrailingZeroBits(mask))) : 0);
    };
    QList<QList<quint32>> rows(height);
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x) {
            quint32 word = 0;
            for (int field = 0; field < layout.masks.size(); ++field)
                word |= value(x, y, field) << qCountTrailingZeroBits(layout.masks[field]);
            rows[y].append(word);
        }
    const bool alpha = layout.masks.size() == 4 && !zeroAlpha;
    const fipImage expected =
        normalised(width, height, alpha ? 32 : 24, [&](unsigned x, unsigned y) {
            return RGBQUAD{scaled(x, y, 2), scaled(x, y, 1), scaled(x, y, 0),
                           alpha ? scaled(x, y, 3) : BYTE(255)};
        });
    BmpLayout header = layout;
    if (layout.compression == 0) // the masks only lay out the test's pixels
        header.masks.clear();
    return {bmpFile(header, bmpRows(rows, layout.bits)), expected};
}

// The output of a gAMA 1.0 picture on a screen of gamma 2.2.
BYTE gammaCorrected(int value)
{
    return BYTE(qRound(255 * std::pow(value / 255.0, 1 / 2.2)));
}

} // namespace

QList<HostileFile> writeReaderLayouts(const QString& folder)
{
    QList<HostileFile> files;
    auto made = [&](const QString& name, const QByteArray& bytes, const fipImage& expected,
                    const QString& damage = {}) {
        writeBytes(folder + "/" + name, bytes);
        files.append({name, expected, {}, damage});
    };

    const fipImage v5 = makeGradientPicture(29, 17, 24);
    made("v5.bmp", bmpWithV5Header(v5), v5);

    // BMPs as other programs write them.
    for (const auto& [name, layout, zeroAlpha] : QList<std::tuple<QString, BmpLayout, bool>>{
             {"fields-565.bmp", {0, 0, 16, 3, 40, {0xF800, 0x07E0, 0x001F}}, false},
             {"fields-4444.bmp", {0, 0, 16, 3, 56, {0x0F00, 0x00F0, 0x000F, 0xF000}}, false},
             {"fields-1555.bmp", {0, 0, 16, 6, 40, {0x7C00, 0x03E0, 0x001F, 0x8000}}, false},
             {"fields-2-10-10-10.bmp",
              {0, 0, 32, 3, 108, {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}},
              false},
             {"fields-20-8-4.bmp", {0, 0, 32, 3, 124, {0xFFFFF000, 0x00000FF0, 0x0000000F}}, false},
             {"fields-alpha-all-0.bmp",
              {0, 0, 32, 3, 124, {0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000}},
              true},
             // The fourth byte without an alpha mask is padding, 0 or not.
             {"padded-32.bmp",
              {0, 0, 32, 0, 40, {0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000}},
              false},
         }) {
        auto [bytes, expected] = bmpWithFields(layout, zeroAlpha);
        if (layout.compression == 0)
            expected = bmpWithFields({0, 0, 32, 0, 40, {0xFF0000, 0x00FF00, 0x0000FF}}).second;
        made(name, bytes, expected);
    }
    const QList<quint32> colours = {0xFF0000, 0x00FF00, 0x0000FF, 0x808080, 0x123456, 0xFEDCBA,
                                    0x00FFFF, 0xFF00FF, 0x102030, 0x405060, 0x708090, 0xA0B0C0,
                                    0xD0E0F0, 0x0A0B0C, 0x0D0E0F, 0xFFFFFF};
    auto indexed = [&](unsigned bits, unsigned palette, quint32 infoSize, const QString& name,
                       int height = 3) { // negative: rows top-down
        QList<QList<quint32>> rows(3);
        for (unsigned y = 0; y < 3; ++y)
            for (unsigned x = 0; x < 7; ++x)
                rows[y].append((x * 3 + y) % palette);
        made(name,
             bmpFile({7, height, quint16(bits), 0, infoSize, {}, colours.mid(0, palette)},
                     bmpRows(rows, bits)),
             normalised(7, 3, 24, [&](unsigned x, unsigned y) {
                 return bgra(colours[rows[height < 0 ? 2 - y : y][x]]);
             }));
    };
    indexed(2, 4, 40, "two-bits.bmp");
    indexed(8, 5, 12, "os2-v1.bmp");
    indexed(4, 16, 64, "os2-v2.bmp");
    indexed(8, 16, 124, "top-down.bmp", -3);
    // OS/2's 24-bit RLE: a run of three, one of one, then four pixels one by one.
    made("os2-rle24.bmp",
         bmpFile(
             {4, 2, 24, 4, 64},
             QByteArray::fromHex("03 563412 01 ffeedd 0000 0004 010203 040506 070809 0a0b0c 0001")),
         normalised(4, 2, 24, [](unsigned x, unsigned y) {
             const quint32 row0[] = {0x123456, 0x123456, 0x123456, 0xddeeff};
             const quint32 row1[] = {0x030201, 0x060504, 0x090807, 0x0c0b0a};
             return bgra(y == 0 ? row0[x] : row1[x]);
         }));
    // Pixels an RLE stream skips (a move) or never reaches, and the rows a cut
    // file lacks, are transparent black.
    const RGBQUAD none{0, 0, 0, 0};
    made("rle4-move.bmp",
         bmpFile({6, 3, 4, 2, 40, {}, colours},
                 QByteArray::fromHex("0412 0003 3450 0000 0002 0201 0277 0001")),
         normalised(6, 3, 32, [&](unsigned x, unsigned y) {
             const int row0[] = {1, 2, 1, 2, 3, 4};
             return y == 0                         ? bgra(colours[row0[x]])
                    : y == 2 && (x == 2 || x == 3) ? bgra(colours[7])
                                                   : none;
         }));
    made(
        "rle8-cut.bmp",
        bmpFile({5, 3, 8, 1, 40, {}, colours}, QByteArray::fromHex("0501 0000 0203")),
        normalised(5, 3, 32,
                   [&](unsigned x, unsigned y) {
                       return y == 0 ? bgra(colours[1]) : y == 1 && x < 2 ? bgra(colours[3]) : none;
                   }),
        "The BMP file ends before its pixel data do");
    const fipImage whole24 = makeGradientPicture(5, 4, 24);
    made("cut-24.bmp", bmpWithV5Header(whole24).chopped(16 + 8),
         normalised(5, 4, 32,
                    [&](unsigned x, unsigned y) {
                        RGBQUAD pixel = none;
                        if (y < 2 || (y == 2 && x < 2))
                            memcpy(&pixel, whole24.getScanLine(y) + 3 * x, 3),
                                pixel.rgbReserved = 255;
                        return pixel;
                    }),
         "The BMP file ends before its pixel data do");
    // A kind not read: refused with its name.
    writeBytes(folder + "/jpeg-stream.bmp", bmpFile({4, 4, 0, 4, 40}, QByteArray(64, 'j')));
    files.append({"jpeg-stream.bmp", fipImage(), "JPEG stream", {}});

    // PNGs: a transparent level of 4-bit grey.
    QList<QByteArray> greyRows = {{}, {}};
    for (unsigned y = 0; y < 2; ++y)
        for (unsigned x = 0; x < 8; x += 2)
            greyRows[y] += char(((x * 5 + y * 3) % 16) << 4 | ((x * 5 + 5 + y * 3) % 16));
    made("grey4-transparent-level.png",
         pngFile(8, 2, 4, 0, greyRows, {{"tRNS", QByteArray::fromHex("0005")}}),
         normalised(8, 2, 32, [](unsigned x, unsigned y) {
             const int level = (x * 5 + (1 - y) * 3) % 16; // scan line 0 is the bottom row
             return RGBQUAD{BYTE(level * 17), BYTE(level * 17), BYTE(level * 17),
                            BYTE(level == 5 ? 0 : 255)};
         }));
    // gAMA 1.0 in every colour type, pixel x of 9 holding grey or red level(x, 0),
    // green level(x, 4), blue level(x, 7), alpha level(x, 2); a profile overrules
    // gAMA, as in browsers: the stored values stay.
    const QByteArray levels = QByteArray::fromHex("00112240777f80c8ff");
    auto level = [&](unsigned x, int shift) { return uchar(levels[int(x + shift) % 9]); };
    const QPair<QByteArray, QByteArray> linear{"gAMA", QByteArray::fromHex("000186a0")};
    const QByteArray iccp = QByteArray("P3\0\0", 4) +
                            qCompress(QColorSpace(QColorSpace::DisplayP3).iccProfile()).mid(4);
    auto gammaRow = [&](const QString& name, int colourType, bool profile = false) {
        const bool colour = colourType & 2, alpha = colourType & 4;
        QByteArray row, palette;
        for (unsigned x = 0; x < 9; ++x) {
            palette.append(char(level(x, 0))).append(char(level(x, 4))).append(char(level(x, 7)));
            row += colourType == 3 ? QByteArray(1, char(x))
                   : colour        ? palette.right(3)
                                   : palette.right(3).left(1);
            if (alpha)
                row += char(level(x, 2));
        }
        QList<QPair<QByteArray, QByteArray>> chunks{linear};
        if (colourType == 3 || profile)
            chunks.append(profile ? qMakePair(QByteArray("iCCP"), iccp)
                                  : qMakePair(QByteArray("PLTE"), palette));
        made(name, pngFile(9, 1, 8, colourType, {row}, chunks),
             normalised(9, 1, alpha ? 32 : 24, [&](unsigned x, unsigned) {
                 auto shown = [&](int shift) {
                     return profile ? level(x, shift) : gammaCorrected(level(x, shift));
                 };
                 return RGBQUAD{shown(colour ? 7 : 0), shown(colour ? 4 : 0), shown(0),
                                BYTE(alpha ? level(x, 2) : 255)};
             }));
    };
    gammaRow("gamma-grey.png", 0);
    gammaRow("gamma-rgb.png", 2);
    gammaRow("gamma-palette.png", 3);
    gammaRow("gamma-grey-alpha.png", 4);
    gammaRow("gamma-rgba.png", 6);
    gammaRow("gamma-with-profile.png", 2, true);
    made("gamma-grey4.png", pngFile(6, 1, 4, 0, {QByteArray::fromHex("0125f8")}, {linear}),
         normalised(6, 1, 24, [](unsigned x, unsigned) {
             const int nibbles[] = {0, 1, 2, 5, 15, 8};
             return bgra(gammaCorrected(nibbles[x] * 17) * 0x010101u);
         }));

    // A GIF's transparent index that no pixel uses: an opaque picture.
    fipImage paletted(FIT_BITMAP, 3, 2, 8);
    RGBQUAD* palette = paletted.getPalette();
    palette[0] = bgra(0xff0000);
    palette[1] = bgra(0x0000ff);
    palette[2] = bgra(0x00ff00);
    BYTE onlyIndexOneClear[] = {255, 0, 255};
    paletted.setTransparencyTable(onlyIndexOneClear, 3);
    for (unsigned y = 0; y < 2; ++y)
        memset(paletted.getScanLine(y), y ? 0 : 2, 3);
    paletted.save(QFile::encodeName(folder + "/unused-transparent-index.gif"));
    files.append({"unused-transparent-index.gif",
                  normalised(3, 2, 24, [&](unsigned, unsigned y) { return palette[y ? 0 : 2]; }),
                  {},
                  {}});
    return files;
}
