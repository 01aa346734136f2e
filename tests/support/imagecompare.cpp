#include "support/imagecompare.h"

#include <FreeImagePlus.h>

#include <cstring>

namespace {

QString bytesText(const uchar* pixel, int count)
{
    QStringList bytes;
    for (int i = 0; i < count; ++i)
        bytes << QString::number(pixel[i]);
    return bytes.join(QLatin1Char(','));
}

// Bytes of one pixel by their order in memory.
QString pixelText(const uchar* pixel, int bytesPerPixel, int bitsPerPixel)
{
    if (bitsPerPixel < 8) // the byte that holds the pixel
        return QStringLiteral("byte %1").arg(pixel[0]);
    return QStringLiteral("(%1)").arg(bytesText(pixel, bytesPerPixel));
}

} // namespace

QString compareImages(const fipImage& actual, const fipImage& expected)
{
    if (!actual.isValid() || !expected.isValid()) {
        if (actual.isValid() == expected.isValid())
            return {};
        return QStringLiteral("actual %1 a bitmap, expected %2")
            .arg(actual.isValid() ? "holds" : "does not hold")
            .arg(expected.isValid() ? "one" : "none");
    }
    const auto describe = [](const fipImage& image) {
        return QStringLiteral("type %1, %2 x %3, %4 bits")
            .arg(int(image.getImageType()))
            .arg(image.getWidth())
            .arg(image.getHeight())
            .arg(image.getBitsPerPixel());
    };
    if (actual.getImageType() != expected.getImageType() ||
        actual.getWidth() != expected.getWidth() || actual.getHeight() != expected.getHeight() ||
        actual.getBitsPerPixel() != expected.getBitsPerPixel())
        return QStringLiteral("actual %1, expected %2").arg(describe(actual), describe(expected));

    const int width = int(actual.getWidth());
    const int height = int(actual.getHeight());
    const int bpp = int(actual.getBitsPerPixel());
    const int bytesPerPixel = bpp >= 8 ? bpp / 8 : 1;
    const int lineBytes = int(actual.getLine());
    QString first;
    long long differing = 0;
    for (int y = 0; y < height; ++y) { // from the top
        const uchar* a = actual.getScanLine(unsigned(height - 1 - y));
        const uchar* e = expected.getScanLine(unsigned(height - 1 - y));
        if (std::memcmp(a, e, std::size_t(lineBytes)) == 0)
            continue;
        if (bpp < 8) { // count differing bytes of packed pixels
            for (int i = 0; i < lineBytes; ++i) {
                if (a[i] == e[i])
                    continue;
                if (first.isEmpty())
                    first = QStringLiteral("byte %1 of row %2: actual %3, expected %4")
                                .arg(i)
                                .arg(y)
                                .arg(a[i])
                                .arg(e[i]);
                ++differing;
            }
            continue;
        }
        for (int x = 0; x < width; ++x) {
            const uchar* pa = a + x * bytesPerPixel;
            const uchar* pe = e + x * bytesPerPixel;
            if (std::memcmp(pa, pe, std::size_t(bytesPerPixel)) == 0)
                continue;
            if (first.isEmpty())
                first =
                    QStringLiteral("pixel (%1, %2) from the top-left: actual %3, expected %4")
                        .arg(x)
                        .arg(y)
                        .arg(pixelText(pa, bytesPerPixel, bpp), pixelText(pe, bytesPerPixel, bpp));
            ++differing;
        }
    }
    if (differing == 0)
        return {};
    return QStringLiteral("%1 x %2 at %3 bits: first difference at %4; %5 %6 differ")
        .arg(width)
        .arg(height)
        .arg(bpp)
        .arg(first)
        .arg(differing)
        .arg(bpp < 8 ? "bytes" : "pixels");
}

QString compareImages(const QImage& actual, const QImage& expected)
{
    if (actual.isNull() || expected.isNull()) {
        if (actual.isNull() == expected.isNull())
            return {};
        return QStringLiteral("actual is %1, expected %2")
            .arg(actual.isNull() ? "null" : "not null")
            .arg(expected.isNull() ? "null" : "an image");
    }
    if (actual.format() != expected.format() || actual.size() != expected.size())
        return QStringLiteral("actual format %1, %2 x %3; expected format %4, %5 x %6")
            .arg(int(actual.format()))
            .arg(actual.width())
            .arg(actual.height())
            .arg(int(expected.format()))
            .arg(expected.width())
            .arg(expected.height());
    const int depth = actual.depth();
    if (depth < 8)
        return compareImages(actual.convertToFormat(QImage::Format_ARGB32),
                             expected.convertToFormat(QImage::Format_ARGB32));
    const int bytesPerPixel = depth / 8;
    QString first;
    long long differing = 0;
    for (int y = 0; y < actual.height(); ++y) {
        const uchar* a = actual.constScanLine(y);
        const uchar* e = expected.constScanLine(y);
        for (int x = 0; x < actual.width(); ++x) {
            const uchar* pa = a + x * bytesPerPixel;
            const uchar* pe = e + x * bytesPerPixel;
            if (std::memcmp(pa, pe, std::size_t(bytesPerPixel)) == 0)
                continue;
            if (first.isEmpty()) {
                // Whole pixels of 32 bits read best as Qt's #AARRGGBB.
                const auto text = [&](const QImage& image, const uchar* bytes) {
                    return depth == 32
                               ? QStringLiteral("#%1").arg(image.pixel(x, y), 8, 16,
                                                           QLatin1Char('0'))
                               : QStringLiteral("(%1)").arg(bytesText(bytes, bytesPerPixel));
                };
                first = QStringLiteral("pixel (%1, %2): actual %3, expected %4")
                            .arg(x)
                            .arg(y)
                            .arg(text(actual, pa), text(expected, pe));
            }
            ++differing;
        }
    }
    if (differing == 0)
        return {};
    return QStringLiteral("%1 x %2, format %3: first difference at %4; %5 pixels differ")
        .arg(actual.width())
        .arg(actual.height())
        .arg(int(actual.format()))
        .arg(first)
        .arg(differing);
}

QString nonZeroPadding(const fipImage& image)
{
    if (!image.isValid())
        return {};
    const unsigned used = image.getLine();
    const unsigned pitch = image.getScanWidth();
    QString first;
    long long count = 0;
    for (unsigned y = 0; y < image.getHeight(); ++y) {
        const uchar* line = image.getScanLine(y);
        for (unsigned i = used; i < pitch; ++i) {
            if (line[i] == 0)
                continue;
            if (first.isEmpty())
                first = QStringLiteral("scan line %1 byte %2 is %3").arg(y).arg(i).arg(line[i]);
            ++count;
        }
    }
    if (count == 0)
        return {};
    return QStringLiteral("%1; %2 padding bytes are not 0").arg(first).arg(count);
}
