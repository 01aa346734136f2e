// SPDX-License-Identifier: GPL-3.0-or-later
#include "carriedpictures.h"

#include "testpictures.h"

#include "imaging/decoding/coding_facts.h"

#include <QColorSpace>
#include <QFile>
#include <QImage>
#include <QTest>
#include <QtEndian>

namespace {

QByteArray displayP3()
{
    return QColorSpace(QColorSpace::DisplayP3).iccProfile();
}

void write(const QString& path, bool profile, bool print, int orientation = 0,
           int jpegFlags = JPEG_QUALITYSUPERB)
{
    fipImage picture(FIT_BITMAP, 64, 32, 24);
    for (unsigned y = 0; y < 32; ++y) // scan line 0 is the bottom one
        for (unsigned x = 0; x < 64; ++x) {
            RGBQUAD colour{128, 128, 128, 0};
            if (y >= 16 && (x < 16 || x >= 48))
                colour = x < 16 ? RGBQUAD{0, 0, 255, 0} : RGBQUAD{255, 0, 0, 0};
            picture.setPixelColor(x, y, &colour);
        }
    QByteArray icc = displayP3();
    if (profile)
        FreeImage_CreateICCProfile(picture, icc.data(), icc.size());
    if (print) {
        FreeImage_SetDotsPerMeterX(picture, 11811); // 300 dpi
        FreeImage_SetDotsPerMeterY(picture, 11811);
    }
    writePicture(picture, path, path.endsWith(".jpg") ? jpegFlags : 0);
    QByteArray bytes = fileBytes(path);
    if (path.endsWith(".tif") && !print) {
        // FreeImage always writes a resolution: its tags are renamed to unknown ones.
        const quint32 directory = qFromLittleEndian<quint32>(bytes.constData() + 4);
        for (int i = 0; i < qFromLittleEndian<quint16>(bytes.constData() + directory); ++i) {
            char* tag = bytes.data() + directory + 2 + 12 * i;
            if (QList<quint16>{282, 283, 296}.contains(qFromLittleEndian<quint16>(tag)))
                qToLittleEndian<quint16>(quint16(65000 + i), tag);
        }
    }
    if (orientation != 0) {
        // Right after the start marker, APP1 with big-endian EXIF: IFD0 holds the
        // orientation (byte 29) and points at a GPS IFD placing the picture at 48°51' N.
        QByteArray exif = QByteArray::fromHex(
            "ffe10064457869660000 4d4d002a00000008 0002 011200030000000100010000"
            "882500040000000100000026 00000000 0002 0001000200000002 4e000000"
            "000200050000000300000044 00000000 000000300000000100000033000000010000000000000001");
        exif[29] = char(orientation);
        bytes.insert(2, exif);
    }
    writeBytes(path, bytes);
}

// 'r' red, 'b' blue, '.' grey, '?' anything else.
char colourAt(const fipImage& picture, unsigned x, unsigned y)
{
    const QRgb rgb = pixelAt(picture, x, y);
    const auto near = [rgb](int red, int green, int blue) {
        return qAbs(qRed(rgb) - red) < 40 && qAbs(qGreen(rgb) - green) < 40 &&
               qAbs(qBlue(rgb) - blue) < 40;
    };
    return near(128, 128, 128) ? '.' : near(255, 0, 0) ? 'r' : near(0, 0, 255) ? 'b' : '?';
}

} // namespace

void addCarriedPictureRows(const QString& folder)
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    const char* upright[] = {"rb|..|..", "br|..|..", "..|br|br", "..|rb|rb",
                             "r.|b.|b.", ".r|.b|.b", ".b|.r|.r", "b.|r.|r."};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const QString name = QString("orientation-%1.jpg").arg(orientation);
        write(folder + "/" + name, false, false, orientation);
        QTest::newRow(qPrintable(name)) << name
                                        << (orientation <= 4 ? "64x64 " : "32x128 ") +
                                               QString(upright[orientation - 1]) + " q100 2x2";
    }
    const QString plain = "64x64 rb|..|..";
    for (const QString type : {"jpg", "png"}) {
        write(folder + "/profile." + type, true, false);
        write(folder + "/print." + type, false, true);
        const QString coded = type == QLatin1String("jpg") ? " q100 2x2" : "";
        QTest::newRow(qPrintable("profile." + type)) << "profile." + type << plain + " icc" + coded;
        QTest::newRow(qPrintable("print." + type)) << "print." + type << plain + " 300dpi" + coded;
    }
    write(folder + "/plain.tif", false, false); // FreeImage reads it as 300 dpi
    QTest::newRow("plain.tif") << "plain.tif" << plain;
    write(folder + "/phone.jpg", true, true, 6);
    QTest::newRow("phone.jpg") << "phone.jpg"
                               << "32x128 .r|.b|.b icc 300dpi q100 2x2";
    // A JPEG result keeps its picture's quality and chroma sampling.
    write(folder + "/q95-444.jpg", false, false, 0, 95 | JPEG_SUBSAMPLING_444);
    QTest::newRow("q95-444.jpg") << "q95-444.jpg" << plain + " q95 1x1";
    write(folder + "/q85-420.jpg", false, false, 0, 85 | JPEG_SUBSAMPLING_420);
    QTest::newRow("q85-420.jpg") << "q85-420.jpg" << plain + " q85 2x2";
    write(folder + "/q70-422.jpg", false, false, 0, 70 | JPEG_SUBSAMPLING_422 | JPEG_PROGRESSIVE);
    QTest::newRow("q70-422.jpg, progressive") << "q70-422.jpg" << plain + " q70 2x1 progressive";
}

QString describeResult(const QString& path)
{
    fipImage result;
    if (!result.load(QFile::encodeName(path).constData()))
        return "unreadable";
    const unsigned width = result.getWidth(), height = result.getHeight();
    QString text = QString("%1x%2").arg(width).arg(height);
    for (unsigned y : {8u, height / 2 - 9, height / 2 + 8})
        text +=
            (y == 8 ? ' ' : '|') + QString(colourAt(result, 8, y)) + colourAt(result, width - 9, y);
    // FreeImage does not read a PNG's profile; Qt reads both formats' own bytes.
    const QByteArray profile = QImage(path).colorSpace().iccProfile();
    if (!profile.isEmpty())
        text += profile == displayP3() ? " icc" : " icc?";
    FIBITMAP* dib = result;
    const int dpiX = qRound(FreeImage_GetDotsPerMeterX(dib) * 0.0254);
    const int dpiY = qRound(FreeImage_GetDotsPerMeterY(dib) * 0.0254);
    if (dpiX != 72 || dpiY != 72)
        text += QString(" %1dpi").arg(dpiX) + (dpiY == dpiX ? "" : QString("x%1").arg(dpiY));
    if (FreeImage_GetMetadataCount(FIMD_EXIF_MAIN, dib) > 0)
        text += " exif";
    if (FreeImage_GetMetadataCount(FIMD_EXIF_GPS, dib) > 0)
        text += " gps";
    if (path.endsWith(".jpg")) {
        const QByteArray bytes = fileBytes(path);
        const SourceQuality coded = readSourceQuality(
            FIF_JPEG, reinterpret_cast<const unsigned char*>(bytes.constData()), bytes.size());
        static const char* const sampling[] = {"?", "1x1", "2x1", "2x2"};
        text += QString(" q%1 %2").arg(coded.quality).arg(sampling[int(coded.sampling)]) +
                (coded.progressive ? " progressive" : "");
    }
    return text;
}
