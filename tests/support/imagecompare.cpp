// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/imagecompare.h"
#include "support/testpictures.h"

#include <FreeImagePlus.h>

#include <cstring>
#include <functional>

namespace {

// The first differing pixel (or byte, below 8 bits) of two pictures of the
// same size and depth, rows counted from the top, and how many differ.
using Row = std::function<const uchar*(int y)>;
QString compareRows(int width, int height, int bpp, int lineBytes, const Row& actual,
                    const Row& expected, const QString& what)
{
    const int unit = bpp >= 8 ? bpp / 8 : 1;
    const int units = bpp >= 8 ? width : lineBytes;
    QString first;
    long long differing = 0;
    for (int y = 0; y < height; ++y) {
        const uchar* a = actual(y);
        const uchar* e = expected(y);
        for (int x = 0; x < units; ++x) {
            if (std::memcmp(a + x * unit, e + x * unit, std::size_t(unit)) == 0)
                continue;
            const auto bytes = [unit](const uchar* pixel) {
                return QByteArray(reinterpret_cast<const char*>(pixel), unit).toHex(' ');
            };
            if (first.isEmpty())
                first = QString::asprintf("%s (%d, %d) from the top-left: actual %s, expected %s",
                                          bpp >= 8 ? "pixel" : "byte", x, y,
                                          bytes(a + x * unit).constData(),
                                          bytes(e + x * unit).constData());
            ++differing;
        }
    }
    if (differing == 0)
        return {};
    return QString::asprintf("%d x %d, %s: first difference at %s; %lld %s differ", width, height,
                             qPrintable(what), qPrintable(first), differing,
                             bpp >= 8 ? "pixels" : "bytes");
}

} // namespace

QString compareImages(const fipImage& actual, const fipImage& expected)
{
    if (!actual.isValid() || !expected.isValid())
        return actual.isValid() == expected.isValid()
                   ? QString()
                   : QStringLiteral("actual %1 a bitmap").arg(actual.isValid() ? "holds" : "lacks");
    const auto describe = [](const fipImage& image) {
        return QString::asprintf("type %d, %u x %u, %u bits", int(image.getImageType()),
                                 image.getWidth(), image.getHeight(), image.getBitsPerPixel());
    };
    if (describe(actual) != describe(expected))
        return QStringLiteral("actual %1, expected %2").arg(describe(actual), describe(expected));
    const int height = int(actual.getHeight());
    return compareRows(
        int(actual.getWidth()), height, int(actual.getBitsPerPixel()), int(actual.getLine()),
        [&](int y) { return actual.getScanLine(unsigned(height - 1 - y)); },
        [&](int y) { return expected.getScanLine(unsigned(height - 1 - y)); },
        QStringLiteral("%1 bits").arg(actual.getBitsPerPixel()));
}

QString compareImages(const QImage& actual, const QImage& expected)
{
    if (actual.isNull() || expected.isNull())
        return actual.isNull() == expected.isNull()
                   ? QString()
                   : QStringLiteral("actual is %1").arg(actual.isNull() ? "null" : "not null");
    const auto describe = [](const QImage& image) {
        return QString::asprintf("format %d, %d x %d", int(image.format()), image.width(),
                                 image.height());
    };
    if (describe(actual) != describe(expected))
        return QStringLiteral("actual %1; expected %2").arg(describe(actual), describe(expected));
    if (actual.depth() < 8)
        return compareImages(actual.convertToFormat(QImage::Format_ARGB32),
                             expected.convertToFormat(QImage::Format_ARGB32));
    return compareRows(
        actual.width(), actual.height(), actual.depth(), int(actual.bytesPerLine()),
        [&](int y) { return actual.constScanLine(y); },
        [&](int y) { return expected.constScanLine(y); },
        QStringLiteral("format %1").arg(int(actual.format())));
}

QImage straightImage(const fipImage& image)
{
    QImage straight(int(image.getWidth()), int(image.getHeight()), QImage::Format_ARGB32);
    for (int y = 0; y < straight.height(); ++y)
        for (int x = 0; x < straight.width(); ++x)
            straight.setPixel(x, y, pixelAt(image, unsigned(x), unsigned(y)));
    return straight;
}

QString nonZeroPadding(const fipImage& image)
{
    if (!image.isValid())
        return {};
    QString first;
    long long count = 0;
    for (unsigned y = 0; y < image.getHeight(); ++y) {
        const uchar* line = image.getScanLine(y);
        for (unsigned i = image.getLine(); i < image.getScanWidth(); ++i) {
            if (line[i] != 0 && count++ == 0)
                first = QStringLiteral("scan line %1 byte %2 is %3").arg(y).arg(i).arg(line[i]);
        }
    }
    return count == 0 ? QString()
                      : QStringLiteral("%1; %2 padding bytes are not 0").arg(first).arg(count);
}
