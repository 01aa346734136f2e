#include "imaging/preview_image.h"
#include "reflection/reflection_renderer.h"
#include "support/imagecompare.h"
#include "support/reflection_oracle.h"

#include <QPixmap>
#include <QRandomGenerator>
#include <QTest>

#include <FreeImagePlus.h>

#include <cstring>

struct Bgra {
    int blue, green, red, alpha;
};

Q_DECLARE_METATYPE(ReflectionParams)
Q_DECLARE_METATYPE(Bgra)

namespace {

// A 24- or 32-bit picture of random bytes. The padding of every scan line is
// random too: nothing of it may reach a result.
fipImage randomPicture(int width, int height, int bpp, QRandomGenerator& random)
{
    fipImage image(FIT_BITMAP, unsigned(width), unsigned(height), unsigned(bpp));
    for (int y = 0; y < height; ++y) {
        BYTE* line = image.getScanLine(unsigned(y));
        for (unsigned i = 0; i < image.getScanWidth(); ++i)
            line[i] = BYTE(random.bounded(256));
    }
    // Some fully transparent and fully opaque pixels among the random alphas.
    if (bpp == 32 && width * height > 2) {
        image.getScanLine(0)[3] = 0;
        image.getScanLine(unsigned(height - 1))[4 * (width - 1) + 3] = 255;
    }
    return image;
}

fipImage filledPicture(int width, int height, int bpp, Bgra colour)
{
    fipImage image(FIT_BITMAP, unsigned(width), unsigned(height), unsigned(bpp));
    for (int y = 0; y < height; ++y) {
        BYTE* pixel = image.getScanLine(unsigned(y));
        for (int x = 0; x < width; ++x, pixel += bpp / 8) {
            pixel[FI_RGBA_BLUE] = BYTE(colour.blue);
            pixel[FI_RGBA_GREEN] = BYTE(colour.green);
            pixel[FI_RGBA_RED] = BYTE(colour.red);
            if (bpp == 32)
                pixel[FI_RGBA_ALPHA] = BYTE(colour.alpha);
        }
    }
    return image;
}

// The pixel at (x, y) counted from the top-left.
BYTE* pixelAt(const fipImage& image, int x, int y)
{
    const int bytes = int(image.getBitsPerPixel()) / 8;
    return image.getScanLine(image.getHeight() - 1 - unsigned(y)) + x * bytes;
}

Bgra colourAt(const fipImage& image, int x, int y)
{
    const BYTE* p = pixelAt(image, x, y);
    const int alpha = image.getBitsPerPixel() == 32 ? p[FI_RGBA_ALPHA] : 255;
    return {p[FI_RGBA_BLUE], p[FI_RGBA_GREEN], p[FI_RGBA_RED], alpha};
}

void setColour(fipImage& image, int x, int y, Bgra colour)
{
    BYTE* p = pixelAt(image, x, y);
    p[FI_RGBA_BLUE] = BYTE(colour.blue);
    p[FI_RGBA_GREEN] = BYTE(colour.green);
    p[FI_RGBA_RED] = BYTE(colour.red);
    if (image.getBitsPerPixel() == 32)
        p[FI_RGBA_ALPHA] = BYTE(colour.alpha);
}

QString paramsText(const ReflectionParams& p)
{
    return QStringLiteral("direction %1, rate %2, start %3, ge %4, colour (%5, %6, %7), %8")
        .arg(p.direction)
        .arg(p.rate)
        .arg(p.start)
        .arg(p.ge)
        .arg(p.color.red)
        .arg(p.color.green)
        .arg(p.color.blue)
        .arg(p.transparent ? "transparency" : "colour mode");
}

ReflectionParams makeParams(int direction, int rate, int start, int ge, bool transparent,
                            _RGB colour = {255, 255, 255})
{
    ReflectionParams params;
    params.direction = direction;
    params.rate = rate;
    params.start = start;
    params.ge = ge;
    params.transparent = transparent;
    params.color = colour;
    return params;
}

// Where the reflection has no strip, the result is the picture with the `ge`
// zero lines at the edge opposite the reflecting one, at 32 bits (alpha 255
// for a 24-bit picture) in transparency mode. Built with FreeImage's paste.
fipImage pictureWithoutStrip(const fipImage& source, const ReflectionParams& params)
{
    fipImage picture(source);
    if (params.transparent)
        picture.convertTo32Bits();
    const int width = int(picture.getWidth());
    const int height = int(picture.getHeight());
    const int direction = params.direction >= 0 && params.direction <= 3 ? params.direction : 3;
    const bool vertical = direction <= 1;
    fipImage expected(FIT_BITMAP, unsigned(vertical ? width : width + params.ge),
                      unsigned(vertical ? height + params.ge : height), picture.getBitsPerPixel());
    const int left = direction == 3 ? params.ge : 0;
    const int top = direction == 1 ? params.ge : 0;
    FreeImage_Paste(expected, picture, left, top, 256);
    return expected;
}

// Attributes a bitmap fresh from FreeImage does not have; empty when none.
QString carriedOver(fipImage& image)
{
    QStringList found;
    FIBITMAP* dib = image;
    for (int model = FIMD_COMMENTS; model <= FIMD_EXIF_RAW; ++model) {
        if (FreeImage_GetMetadataCount(FREE_IMAGE_MDMODEL(model), dib) != 0)
            found << QStringLiteral("metadata of model %1").arg(model);
    }
    const FIICCPROFILE* icc = FreeImage_GetICCProfile(dib);
    if (icc->size != 0 || icc->data)
        found << QStringLiteral("an ICC profile");
    if (FreeImage_GetDotsPerMeterX(dib) != 2835 || FreeImage_GetDotsPerMeterY(dib) != 2835)
        found << QStringLiteral("resolution %1 x %2 dots per metre")
                     .arg(FreeImage_GetDotsPerMeterX(dib))
                     .arg(FreeImage_GetDotsPerMeterY(dib));
    if (FreeImage_HasBackgroundColor(dib))
        found << QStringLiteral("a background colour");
    if (FreeImage_GetThumbnail(dib))
        found << QStringLiteral("a thumbnail");
    if (FreeImage_GetTransparencyCount(dib) != 0)
        found << QStringLiteral("a transparency table");
    if (image.getPalette())
        found << QStringLiteral("a palette");
    return found.join(QStringLiteral(", "));
}

// Gives `image` every attribute a new bitmap lacks.
void decorate(fipImage& image, const QString& what)
{
    FIBITMAP* dib = image;
    if (what == "metadata") {
        fipTag tag;
        tag.setKeyValue("Comment", "left over");
        image.setMetadata(FIMD_COMMENTS, "Comment", tag);
    } else if (what == "ICC profile") {
        static char profile[] = "not really a profile";
        FreeImage_CreateICCProfile(dib, profile, long(sizeof profile));
    } else if (what == "resolution") {
        image.setHorizontalResolution(118.11);
        image.setVerticalResolution(59.0);
    } else if (what == "background colour") {
        RGBQUAD colour{10, 20, 30, 0};
        FreeImage_SetBackgroundColor(dib, &colour);
    } else if (what == "thumbnail") {
        fipImage thumbnail(FIT_BITMAP, 2, 2, 24);
        image.setThumbnail(thumbnail);
    }
}

// A picture in each of the depths and types FreeImage can hold, all showing
// the same four grey levels or colours.
fipImage pictureOfKind(const QString& kind)
{
    const int width = 5;
    const int height = 3;
    if (kind.startsWith("8-bit") || kind == "1-bit" || kind == "4-bit") {
        const int bpp = kind == "1-bit" ? 1 : kind == "4-bit" ? 4 : 8;
        fipImage image(FIT_BITMAP, width, height, unsigned(bpp));
        RGBQUAD* palette = image.getPalette();
        const int colours = 1 << bpp;
        for (int i = 0; i < colours; ++i) {
            const bool grey = kind == "8-bit grey";
            palette[i].rgbRed = BYTE(grey ? i : (i * 37) % 256);
            palette[i].rgbGreen = BYTE(grey ? i : (i * 91) % 256);
            palette[i].rgbBlue = BYTE(grey ? i : 255 - i);
        }
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                BYTE index = BYTE((x + 2 * y) % colours);
                image.setPixelIndex(unsigned(x), unsigned(y), &index);
            }
        }
        if (kind == "8-bit palette with transparency") {
            BYTE table[256];
            for (int i = 0; i < 256; ++i)
                table[i] = BYTE(i % 3 == 0 ? 0 : i % 3 == 1 ? 128 : 255);
            image.setTransparencyTable(table, 256);
        }
        return image;
    }
    if (kind == "16-bit 565") {
        fipImage image(FIT_BITMAP, width, height, 24);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                setColour(image, x, y, {x * 60, y * 120, 255 - x * 50, 255});
        image.convertTo16Bits565();
        return image;
    }
    const FREE_IMAGE_TYPE type = kind == "16-bit grey" ? FIT_UINT16
                                 : kind == "RGB16"     ? FIT_RGB16
                                 : kind == "RGBA16"    ? FIT_RGBA16
                                 : kind == "RGBF"      ? FIT_RGBF
                                 : kind == "RGBAF"     ? FIT_RGBAF
                                                       : FIT_FLOAT;
    const unsigned bpp = type == FIT_UINT16   ? 16
                         : type == FIT_RGB16  ? 48
                         : type == FIT_RGBA16 ? 64
                         : type == FIT_RGBF   ? 96
                         : type == FIT_RGBAF  ? 128
                                              : 32;
    fipImage image(type, width, height, bpp);
    for (int y = 0; y < height; ++y) {
        BYTE* line = image.getScanLine(unsigned(y));
        for (int x = 0; x < width; ++x) {
            const double level = double(x) / (width - 1); // 0 .. 1 across
            switch (type) {
            case FIT_UINT16:
                reinterpret_cast<WORD*>(line)[x] = WORD(level * 65535);
                break;
            case FIT_RGB16:
                reinterpret_cast<FIRGB16*>(line)[x] = {WORD(level * 65535), 0, 65535};
                break;
            case FIT_RGBA16:
                reinterpret_cast<FIRGBA16*>(line)[x] = {WORD(level * 65535), 0, 65535,
                                                        WORD(65535 - level * 65535)};
                break;
            case FIT_RGBF:
                reinterpret_cast<FIRGBF*>(line)[x] = {float(level), 0.0f, 2.0f};
                break;
            case FIT_RGBAF:
                reinterpret_cast<FIRGBAF*>(line)[x] = {float(level), -1.0f, 1.0f,
                                                       float(1.0 - level)};
                break;
            default:
                reinterpret_cast<float*>(line)[x] = float(level);
                break;
            }
        }
    }
    return image;
}

QRgb expectedPreviewPixel(const fipImage& image, int x, int y)
{
    const Bgra c = colourAt(image, x, y);
    return qRgba(c.red, c.green, c.blue, c.alpha);
}

} // namespace

class TestRenderer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void oracleAgreement_data();
    void oracleAgreement();
    void workedExampleBlackToWhite_data();
    void workedExampleBlackToWhite();
    void workedExampleWhiteToBlack_data();
    void workedExampleWhiteToBlack();
    void workedExampleTransparency_data();
    void workedExampleTransparency();
    void fadeProfile_data();
    void fadeProfile();
    void longFades_data();
    void longFades();
    void cornersLand_data();
    void cornersLand();
    void colourModeKeeps32BitAlpha();
    void redBackgroundMovesChannelsApart();
    void transparencyLeavesSourceAlone();
    void transparencyWithoutFadeIsOpaque();
    void stripOfNoRows_data();
    void stripOfNoRows();
    void otherDepths_data();
    void otherDepths();
    void wideTypesKeepTheirLook_data();
    void wideTypesKeepTheirLook();
    void settingsOutOfRange_data();
    void settingsOutOfRange();
    void emptySourceLeavesResult();
    void allocationFailureLeavesResult();
    void sourceAsResult_data();
    void sourceAsResult();
    void resultReuse_data();
    void resultReuse();
    void reusedResultLooksNew_data();
    void reusedResultLooksNew();
    void sourceAttributesNotCarried();
    void viewIsNotWrittenThrough();
    void viewAsSource_data();
    void viewAsSource();

    void preview24_data();
    void preview24();
    void previewTransparent_data();
    void previewTransparent();
    void previewOpaque32IsShown();
    void previewMatchesQtWay_data();
    void previewMatchesQtWay();
    void previewOtherDepths_data();
    void previewOtherDepths();
    void previewEmpty();
    void previewPixmapTakesBuffer_data();
    void previewPixmapTakesBuffer();
    void previewOfRenderedResult();
};

// ---------------------------------------------------------------- oracle

void TestRenderer::oracleAgreement_data()
{
    QTest::addColumn<int>("bpp");
    QTest::addColumn<bool>("transparent");
    QTest::addColumn<int>("direction");
    for (int bpp : {24, 32}) {
        for (bool transparent : {false, true}) {
            for (int direction : {0, 1, 2, 3, 4, 7, -1}) {
                QTest::addRow("%d-bit, %s, direction %d", bpp,
                              transparent ? "transparency" : "colour", direction)
                    << bpp << transparent << direction;
            }
        }
    }
}

// Random pictures and settings: the fast renderer's result must be the
// step-by-step one, byte for byte; where that has no strip, the picture itself.
void TestRenderer::oracleAgreement()
{
    QFETCH(int, bpp);
    QFETCH(bool, transparent);
    QFETCH(int, direction);
    QRandomGenerator random(quint32(bpp * 1000 + (transparent ? 100 : 0) + direction + 7));

    const int cases = 160;
    int compared = 0;
    fipImage reused; // every other case renders into the previous result
    for (int n = 0; n < cases; ++n) {
        int width;
        int height;
        const int shape = random.bounded(10);
        if (shape == 0) {
            width = 1;
            height = 1;
        } else if (shape == 1) {
            width = 1;
            height = random.bounded(1, 60);
        } else if (shape == 2) {
            width = random.bounded(1, 60);
            height = 1;
        } else if (shape <= 4) { // wider than a tile of faded columns, odd and even
            width = random.bounded(60, 300);
            height = random.bounded(30, 140);
        } else {
            width = random.bounded(1, 24);
            height = random.bounded(1, 24);
        }
        const int rateChoice = random.bounded(8);
        const int rate = rateChoice == 0 ? 100 : rateChoice == 1 ? 0 : random.bounded(101);
        const int startChoice = random.bounded(8);
        const int start = startChoice == 0 ? 100 : startChoice == 1 ? 0 : random.bounded(101);
        const int ge = random.bounded(2) ? 0 : random.bounded(1, 6);
        _RGB colour{random.bounded(256), random.bounded(256), random.bounded(256)};
        if (random.bounded(4) == 0)
            colour = {random.bounded(2) * 255, random.bounded(2) * 255, random.bounded(2) * 255};
        const ReflectionParams params = makeParams(direction, rate, start, ge, transparent, colour);

        const fipImage source = randomPicture(width, height, bpp, random);
        const fipImage untouched(source);
        fipImage fresh;
        fipImage& result = n % 2 ? reused : fresh;
        const QString context = QStringLiteral("case %1: %2 x %3, %4")
                                    .arg(n)
                                    .arg(width)
                                    .arg(height)
                                    .arg(paramsText(params));
        QVERIFY2(renderReflection(source, result, params), qPrintable(context));

        fipImage expected;
        if (!oracle::AddImageReflection(source, expected, params))
            expected = pictureWithoutStrip(source, params);
        else
            ++compared;
        const QString difference = compareImages(result, expected);
        QVERIFY2(difference.isEmpty(), qPrintable(context + ": " + difference));
        const QString padding = nonZeroPadding(result);
        QVERIFY2(padding.isEmpty(), qPrintable(context + ": " + padding));
        QVERIFY2(carriedOver(result).isEmpty(), qPrintable(context + ": " + carriedOver(result)));
        QVERIFY2(compareImages(source, untouched).isEmpty(),
                 qPrintable(context + ": source changed"));
    }
    QVERIFY2(compared > cases / 2, "too few cases had a strip to compare");
}

// ---------------------------------------------------------------- worked examples

// A 24-bit picture 100 rows high, rate 40 and start 30: R = 40, F = 28, the
// strip's rows t = 0 .. 39 are the result's rows 100 .. 139.
void TestRenderer::workedExampleBlackToWhite_data()
{
    QTest::addColumn<int>("t");
    QTest::addColumn<int>("value");
    QTest::newRow("t = 0, unfaded") << 0 << 0;
    QTest::newRow("t = 11, last unfaded") << 11 << 0;
    QTest::newRow("t = 12, first faded row stays") << 12 << 0;
    QTest::newRow("t = 25") << 25 << 118;
    QTest::newRow("t = 39, outer edge") << 39 << 245;
}

void TestRenderer::workedExampleBlackToWhite()
{
    QFETCH(int, t);
    QFETCH(int, value);
    const fipImage source = filledPicture(7, 100, 24, {0, 0, 0, 255});
    fipImage result;
    QVERIFY(renderReflection(source, result, makeParams(1, 40, 30, 0, false, {255, 255, 255})));
    QCOMPARE(result.getHeight(), 140u);
    QCOMPARE(result.getBitsPerPixel(), 24u);
    for (int x = 0; x < 7; ++x) {
        const Bgra c = colourAt(result, x, 100 + t);
        QCOMPARE(c.blue, value);
        QCOMPARE(c.green, value);
        QCOMPARE(c.red, value);
    }
}

void TestRenderer::workedExampleWhiteToBlack_data()
{
    QTest::addColumn<int>("t");
    QTest::addColumn<int>("value");
    QTest::newRow("t = 12, first faded row stays") << 12 << 255;
    QTest::newRow("t = 25") << 25 << 137;
    QTest::newRow("t = 39, truncated towards zero") << 39 << 10;
}

void TestRenderer::workedExampleWhiteToBlack()
{
    QFETCH(int, t);
    QFETCH(int, value);
    const fipImage source = filledPicture(7, 100, 24, {255, 255, 255, 255});
    fipImage result;
    QVERIFY(renderReflection(source, result, makeParams(1, 40, 30, 0, false, {0, 0, 0})));
    QCOMPARE(result.getHeight(), 140u);
    const Bgra c = colourAt(result, 3, 100 + t);
    QCOMPARE(c.blue, value);
    QCOMPARE(c.green, value);
    QCOMPARE(c.red, value);
}

void TestRenderer::workedExampleTransparency_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("alpha");
    QTest::newRow("picture's top row") << 0 << 255;
    QTest::newRow("picture's bottom row") << 99 << 255;
    QTest::newRow("t = 11, unfaded") << 111 << 255;
    QTest::newRow("t = 12") << 112 << 245;
    QTest::newRow("t = 25") << 125 << 127;
    QTest::newRow("t = 39, outer edge") << 139 << 0;
}

void TestRenderer::workedExampleTransparency()
{
    QFETCH(int, row);
    QFETCH(int, alpha);
    const fipImage source = filledPicture(7, 100, 24, {40, 80, 120, 255});
    fipImage result;
    QVERIFY(renderReflection(source, result, makeParams(1, 40, 30, 0, true)));
    QCOMPARE(result.getHeight(), 140u);
    QCOMPARE(result.getBitsPerPixel(), 32u);
    for (int x = 0; x < 7; ++x) {
        const Bgra c = colourAt(result, x, row);
        QCOMPARE(c.alpha, alpha);
        // The colour bytes are not touched in transparency mode.
        QCOMPARE(c.blue, 40);
        QCOMPARE(c.green, 80);
        QCOMPARE(c.red, 120);
    }
}

// ---------------------------------------------------------------- fade profiles

void TestRenderer::fadeProfile_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("transparent");
    QTest::addColumn<QList<int>>("strip"); // black to white, or alpha, for t = 0 .. R - 1

    QTest::newRow("10 rows high, colour: R 4, F 2")
        << 10 << 40 << 30 << false << QList<int>{0, 0, 0, 127};
    QTest::newRow("10 rows high, alpha: R 4, F 2")
        << 10 << 40 << 30 << true << QList<int>{255, 255, 127, 0};
    QTest::newRow("3 rows high: R 1, F 0, unfaded") << 3 << 40 << 30 << false << QList<int>{0};
    QTest::newRow("3 rows high, alpha: unfaded") << 3 << 40 << 30 << true << QList<int>{255};
    QTest::newRow("start 100: no fade") << 5 << 100 << 100 << false << QList<int>{0, 0, 0, 0, 0};
    QTest::newRow("start 0, colour: touching row unchanged")
        << 5 << 100 << 0 << false << QList<int>{0, 51, 102, 153, 204};
    QTest::newRow("start 0, alpha: touching row keeps (R-1)/R")
        << 5 << 100 << 0 << true << QList<int>{204, 153, 102, 51, 0};
    QTest::newRow("rate 100: strip as high as the picture")
        << 4 << 100 << 50 << false << QList<int>{0, 0, 0, 127};
}

void TestRenderer::fadeProfile()
{
    QFETCH(int, height);
    QFETCH(int, rate);
    QFETCH(int, start);
    QFETCH(bool, transparent);
    QFETCH(QList<int>, strip);
    const fipImage source = filledPicture(3, height, 24, {0, 0, 0, 255});
    fipImage result;
    QVERIFY(renderReflection(source, result, makeParams(1, rate, start, 0, transparent)));
    QCOMPARE(int(result.getHeight()), height + int(strip.size()));
    for (int t = 0; t < strip.size(); ++t) {
        const Bgra c = colourAt(result, 1, height + t);
        const int actual = transparent ? c.alpha : c.red;
        QVERIFY2(
            actual == strip[t],
            qPrintable(QStringLiteral("t = %1: %2, expected %3").arg(t).arg(actual).arg(strip[t])));
        if (!transparent)
            QVERIFY(c.blue == c.red && c.green == c.red);
    }
}

// Long fades, where a division by F is easiest to get wrong by one: every
// byte value in every faded line, F from about 3000 (the vector path) to
// 33000 (longer than its 16-bit arithmetic takes).
void TestRenderer::longFades_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("length"); // across the reflecting edge
    QTest::addColumn<int>("bpp");
    QTest::addColumn<bool>("transparent");
    for (int length : {2999, 33001}) {
        for (int direction : {0, 1, 2, 3}) {
            QTest::addRow("direction %d, %d long, 24-bit colour", direction, length)
                << direction << length << 24 << false;
            QTest::addRow("direction %d, %d long, 32-bit colour", direction, length)
                << direction << length << 32 << false;
            QTest::addRow("direction %d, %d long, 32-bit alpha", direction, length)
                << direction << length << 32 << true;
        }
    }
}

void TestRenderer::longFades()
{
    QFETCH(int, direction);
    QFETCH(int, length);
    QFETCH(int, bpp);
    QFETCH(bool, transparent);
    const bool vertical = direction <= 1;
    const int along = 256 / (bpp / 8) + 1; // enough pixels for every byte value
    const int width = vertical ? along : length;
    const int height = vertical ? length : along;
    fipImage source(FIT_BITMAP, unsigned(width), unsigned(height), unsigned(bpp));
    for (int y = 0; y < height; ++y) {
        BYTE* line = source.getScanLine(unsigned(y));
        for (int i = 0; i < width * bpp / 8; ++i) {
            const int alongIndex = vertical ? i : y * (bpp / 8) + i % (bpp / 8);
            line[i] = BYTE((alongIndex * 7 + (vertical ? y : i / (bpp / 8))) % 256);
        }
    }
    for (const _RGB colour : {_RGB{0, 0, 0}, _RGB{255, 255, 255}, _RGB{200, 13, 77}}) {
        const ReflectionParams params = makeParams(direction, 100, 0, 0, transparent, colour);
        fipImage result;
        QVERIFY(renderReflection(source, result, params));
        fipImage expected;
        QVERIFY(oracle::AddImageReflection(source, expected, params));
        COMPARE_IMAGES(result, expected);
        if (transparent)
            break; // the colour plays no part
    }
}

// ---------------------------------------------------------------- geometry

struct Mark {
    int x, y;
    Bgra colour;
};
Q_DECLARE_METATYPE(QList<Mark>)

namespace {
const Bgra red{0, 0, 255, 255};
const Bgra green{0, 255, 0, 255};
const Bgra blue{255, 0, 0, 255};
const Bgra white{255, 255, 255, 255};
const Bgra grey{128, 128, 128, 255};
const Bgra zero{0, 0, 0, 255};
} // namespace

// A 5 x 3 picture with a distinct colour in each corner, reflected unfaded
// (rate 100, start 100) with 2 extra lines: where does each corner land?
void TestRenderer::cornersLand_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QList<Mark>>("marks");

    // Picture: top-left red, top-right green, bottom-left blue, bottom-right white.
    QTest::newRow("bottom") << 1 << QSize(5, 8)
                            << QList<Mark>{{0, 0, zero}, {4, 1, zero},  {0, 2, red},  {4, 2, green},
                                           {0, 4, blue}, {4, 4, white}, {0, 5, blue}, {4, 5, white},
                                           {0, 7, red},  {4, 7, green}, {2, 6, grey}};
    QTest::newRow("top") << 0 << QSize(5, 8)
                         << QList<Mark>{{0, 0, blue}, {4, 0, white}, {0, 2, red},  {4, 2, green},
                                        {0, 3, red},  {4, 3, green}, {0, 5, blue}, {4, 5, white},
                                        {0, 6, zero}, {4, 7, zero},  {2, 1, grey}};
    QTest::newRow("left") << 2 << QSize(12, 3)
                          << QList<Mark>{{0, 0, green}, {0, 2, white}, {4, 0, red},  {4, 2, blue},
                                         {5, 0, red},   {9, 0, green}, {5, 2, blue}, {9, 2, white},
                                         {10, 0, zero}, {11, 2, zero}, {2, 1, grey}};
    const QList<Mark> right{{0, 0, zero}, {1, 2, zero},  {2, 0, red},   {6, 0, green},
                            {2, 2, blue}, {6, 2, white}, {7, 0, green}, {7, 2, white},
                            {11, 0, red}, {11, 2, blue}, {9, 1, grey}};
    QTest::newRow("right") << 3 << QSize(12, 3) << right;
    QTest::newRow("7 acts as right") << 7 << QSize(12, 3) << right;
    QTest::newRow("-1 acts as right") << -1 << QSize(12, 3) << right;
}

void TestRenderer::cornersLand()
{
    QFETCH(int, direction);
    QFETCH(QSize, size);
    QFETCH(QList<Mark>, marks);
    fipImage source = filledPicture(5, 3, 24, grey);
    setColour(source, 0, 0, red);
    setColour(source, 4, 0, green);
    setColour(source, 0, 2, blue);
    setColour(source, 4, 2, white);
    fipImage result;
    QVERIFY(renderReflection(source, result, makeParams(direction, 100, 100, 2, false)));
    QCOMPARE(QSize(int(result.getWidth()), int(result.getHeight())), size);
    for (const Mark& mark : marks) {
        const Bgra c = colourAt(result, mark.x, mark.y);
        QVERIFY2(c.blue == mark.colour.blue && c.green == mark.colour.green &&
                     c.red == mark.colour.red,
                 qPrintable(QStringLiteral("(%1, %2) is (%3, %4, %5), expected (%6, %7, %8)")
                                .arg(mark.x)
                                .arg(mark.y)
                                .arg(c.red)
                                .arg(c.green)
                                .arg(c.blue)
                                .arg(mark.colour.red)
                                .arg(mark.colour.green)
                                .arg(mark.colour.blue)));
    }
}

void TestRenderer::colourModeKeeps32BitAlpha()
{
    QRandomGenerator random(5);
    const fipImage source = randomPicture(9, 20, 32, random);
    for (int direction : {0, 1, 2, 3}) {
        fipImage result;
        QVERIFY(renderReflection(source, result, makeParams(direction, 100, 0, 0, false)));
        QCOMPARE(result.getBitsPerPixel(), 32u);
        // With rate 100 the strip mirrors the whole picture: every source alpha
        // appears twice, once in place and once mirrored.
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 9; ++x) {
                const int alpha = colourAt(source, x, y).alpha;
                int px = x, py = y, mx = x, my = y;
                switch (direction) {
                case 0:
                    py = y + 20;
                    my = 19 - y;
                    break;
                case 1:
                    my = 39 - y;
                    break;
                case 2:
                    px = x + 9;
                    mx = 8 - x;
                    break;
                default:
                    mx = 17 - x;
                    break;
                }
                QCOMPARE(colourAt(result, px, py).alpha, alpha);
                QCOMPARE(colourAt(result, mx, my).alpha, alpha);
            }
        }
    }
}

void TestRenderer::redBackgroundMovesChannelsApart()
{
    const fipImage source = filledPicture(4, 10, 24, {100, 100, 100, 255});
    fipImage result;
    QVERIFY(renderReflection(source, result, makeParams(1, 100, 0, 0, false, {255, 0, 0})));
    // Outer edge row: F = 10, factor 9/10.
    const Bgra edge = colourAt(result, 0, 19);
    QCOMPARE(edge.red, 100 + (9 * 155) / 10);
    QCOMPARE(edge.green, 100 - (9 * 100) / 10);
    QCOMPARE(edge.blue, 100 - (9 * 100) / 10);
    // The row touching the picture is unchanged.
    const Bgra touching = colourAt(result, 0, 10);
    QCOMPARE(touching.red, 100);
    QCOMPARE(touching.blue, 100);
}

void TestRenderer::transparencyLeavesSourceAlone()
{
    QRandomGenerator random(11);
    const fipImage source = randomPicture(13, 7, 24, random);
    const fipImage copy(source);
    fipImage result;
    QVERIFY(renderReflection(source, result, makeParams(2, 50, 20, 0, true)));
    QCOMPARE(result.getBitsPerPixel(), 32u);
    QCOMPARE(source.getBitsPerPixel(), 24u);
    COMPARE_IMAGES(source, copy);
    for (int y = 0; y < 7; ++y)
        for (int x = 6; x < 19; ++x)
            QCOMPARE(colourAt(result, x, y).alpha, 255);
}

void TestRenderer::transparencyWithoutFadeIsOpaque()
{
    QRandomGenerator random(12);
    const fipImage source = randomPicture(6, 9, 24, random);
    fipImage result;
    QVERIFY(renderReflection(source, result, makeParams(1, 100, 100, 0, true)));
    for (int y = 0; y < 18; ++y)
        for (int x = 0; x < 6; ++x)
            QCOMPARE(colourAt(result, x, y).alpha, 255);
    QVERIFY(!result.isTransparent());
}

// ---------------------------------------------------------------- sound where the steps are not

void TestRenderer::stripOfNoRows_data()
{
    QTest::addColumn<int>("bpp");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<ReflectionParams>("params");
    for (int direction : {0, 1, 2, 3}) {
        for (bool transparent : {false, true}) {
            const char* mode = transparent ? "transparency" : "colour";
            QTest::addRow("rate 0, direction %d, %s", direction, mode)
                << 24 << 7 << 5 << makeParams(direction, 0, 30, 0, transparent);
            QTest::addRow("too small for rate 9, direction %d, %s, ge 3", direction, mode)
                << 32 << 10 << 10 << makeParams(direction, 9, 30, 3, transparent);
        }
    }
}

// No strip: the picture itself (with the extra lines), at 32 bits in
// transparency mode.
void TestRenderer::stripOfNoRows()
{
    QFETCH(int, bpp);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(ReflectionParams, params);
    QRandomGenerator random(3);
    const fipImage source = randomPicture(width, height, bpp, random);
    fipImage result;
    QVERIFY(renderReflection(source, result, params));
    COMPARE_IMAGES(result, pictureWithoutStrip(source, params));
    QCOMPARE(result.getBitsPerPixel(), params.transparent ? 32u : unsigned(bpp));
}

void TestRenderer::otherDepths_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("transparent");
    QTest::addColumn<int>("bpp"); // of the result
    for (const char* kind : {"1-bit", "4-bit", "8-bit grey", "8-bit palette", "16-bit 565"}) {
        QTest::addRow("%s, colour", kind) << QString(kind) << false << 24;
        QTest::addRow("%s, transparency", kind) << QString(kind) << true << 32;
    }
    QTest::newRow("8-bit palette with transparency, colour")
        << QString("8-bit palette with transparency") << false << 32;
    QTest::newRow("8-bit palette with transparency, transparency")
        << QString("8-bit palette with transparency") << true << 32;
}

// Pictures of other depths are rendered as FreeImage's own conversion of them
// to 24 bits, or to 32 when they carry transparency or in transparency mode.
void TestRenderer::otherDepths()
{
    QFETCH(QString, kind);
    QFETCH(bool, transparent);
    QFETCH(int, bpp);
    const fipImage source = pictureOfKind(kind);
    fipImage standard(source);
    QVERIFY(bpp == 32 ? standard.convertTo32Bits() : standard.convertTo24Bits());
    for (int direction : {0, 1, 2, 3}) {
        const ReflectionParams params =
            makeParams(direction, 100, 20, 1, transparent, {9, 99, 199});
        fipImage result;
        QVERIFY(renderReflection(source, result, params));
        fipImage expected;
        QVERIFY(oracle::AddImageReflection(standard, expected, params));
        COMPARE_IMAGES(result, expected);
        QCOMPARE(int(result.getBitsPerPixel()), bpp);
    }
}

void TestRenderer::wideTypesKeepTheirLook_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("bpp");
    QTest::addColumn<Bgra>("left");  // top-left pixel
    QTest::addColumn<Bgra>("right"); // top-right pixel
    QTest::newRow("16-bit grey: high byte")
        << QString("16-bit grey") << 24 << Bgra{0, 0, 0, 255} << Bgra{255, 255, 255, 255};
    QTest::newRow("RGB16") << QString("RGB16") << 24 << Bgra{255, 0, 0, 255}
                           << Bgra{255, 0, 255, 255};
    QTest::newRow("RGBA16 keeps alpha")
        << QString("RGBA16") << 32 << Bgra{255, 0, 0, 255} << Bgra{255, 0, 255, 0};
    QTest::newRow("RGBF clamped to 0..1")
        << QString("RGBF") << 24 << Bgra{255, 0, 0, 255} << Bgra{255, 0, 255, 255};
    QTest::newRow("RGBAF keeps alpha")
        << QString("RGBAF") << 32 << Bgra{255, 0, 0, 255} << Bgra{255, 0, 255, 0};
    QTest::newRow("float grey stretched")
        << QString("float grey") << 24 << Bgra{0, 0, 0, 255} << Bgra{255, 255, 255, 255};
}

void TestRenderer::wideTypesKeepTheirLook()
{
    QFETCH(QString, kind);
    QFETCH(int, bpp);
    QFETCH(Bgra, left);
    QFETCH(Bgra, right);
    const fipImage source = pictureOfKind(kind);
    fipImage result;
    QVERIFY(renderReflection(source, result, makeParams(1, 100, 100, 0, false)));
    QCOMPARE(int(result.getBitsPerPixel()), bpp);
    QCOMPARE(result.getHeight(), 6u);
    for (int y : {0, 5}) { // the picture's top row and its unfaded mirror
        const Bgra l = colourAt(result, 0, y);
        const Bgra r = colourAt(result, 4, y);
        QCOMPARE(QList<int>({l.blue, l.green, l.red, l.alpha}),
                 QList<int>({left.blue, left.green, left.red, left.alpha}));
        QCOMPARE(QList<int>({r.blue, r.green, r.red, r.alpha}),
                 QList<int>({right.blue, right.green, right.red, right.alpha}));
    }
}

void TestRenderer::settingsOutOfRange_data()
{
    QTest::addColumn<ReflectionParams>("given");
    QTest::addColumn<ReflectionParams>("meant");
    QTest::newRow("rate above 100")
        << makeParams(1, 150, 30, 0, false) << makeParams(1, 100, 30, 0, false);
    QTest::newRow("negative rate")
        << makeParams(2, -20, 30, 0, true) << makeParams(2, 0, 30, 0, true);
    QTest::newRow("start above 100")
        << makeParams(0, 50, 130, 0, false) << makeParams(0, 50, 100, 0, false);
    QTest::newRow("negative start")
        << makeParams(3, 50, -30, 0, true) << makeParams(3, 50, 0, 0, true);
    QTest::newRow("negative ge") << makeParams(1, 50, 30, -4, false)
                                 << makeParams(1, 50, 30, 0, false);
    QTest::newRow("colour beyond a byte") << makeParams(1, 50, 0, 0, false, {300, -5, 128})
                                          << makeParams(1, 50, 0, 0, false, {255, 0, 128});
}

void TestRenderer::settingsOutOfRange()
{
    QFETCH(ReflectionParams, given);
    QFETCH(ReflectionParams, meant);
    QRandomGenerator random(21);
    const fipImage source = randomPicture(11, 13, 24, random);
    fipImage result;
    QVERIFY(renderReflection(source, result, given));
    fipImage expected;
    QVERIFY(renderReflection(source, expected, meant));
    COMPARE_IMAGES(result, expected);
}

void TestRenderer::emptySourceLeavesResult()
{
    QRandomGenerator random(4);
    fipImage result = randomPicture(5, 5, 24, random);
    const fipImage before(result);
    const BYTE* bits = result.accessPixels();
    const fipImage empty;
    QVERIFY(!renderReflection(empty, result, ReflectionParams()));
    QCOMPARE(result.accessPixels(), bits);
    COMPARE_IMAGES(result, before);
}

// A result far larger than memory cannot be allocated: the render fails and
// the previous result stays as it was.
void TestRenderer::allocationFailureLeavesResult()
{
    QRandomGenerator random(6);
    const fipImage source = randomPicture(4000, 2, 24, random);
    fipImage result = randomPicture(3, 3, 32, random);
    const fipImage before(result);
    QVERIFY(!renderReflection(source, result, makeParams(1, 40, 30, 400'000'000, false)));
    COMPARE_IMAGES(result, before);
}

void TestRenderer::sourceAsResult_data()
{
    QTest::addColumn<ReflectionParams>("params");
    QTest::newRow("bottom") << makeParams(1, 40, 30, 0, false);
    QTest::newRow("left, transparency") << makeParams(2, 60, 10, 2, true);
    QTest::newRow("no strip, same size") << makeParams(1, 0, 30, 0, false);
}

void TestRenderer::sourceAsResult()
{
    QFETCH(ReflectionParams, params);
    QRandomGenerator random(8);
    fipImage image = randomPicture(9, 12, 24, random);
    const fipImage original(image);
    fipImage expected;
    if (!oracle::AddImageReflection(original, expected, params))
        expected = pictureWithoutStrip(original, params);
    QVERIFY(renderReflection(image, image, params));
    COMPARE_IMAGES(image, expected);
}

// ---------------------------------------------------------------- result reuse

void TestRenderer::resultReuse_data()
{
    QTest::addColumn<int>("bpp");
    QTest::addColumn<ReflectionParams>("first");
    QTest::addColumn<ReflectionParams>("second");
    QTest::addColumn<bool>("sameBitmap");
    QTest::newRow("bottom, then top in another colour")
        << 24 << makeParams(1, 40, 30, 0, false, {255, 255, 255})
        << makeParams(0, 40, 70, 0, false, {10, 200, 30}) << true;
    QTest::newRow("left, then right")
        << 24 << makeParams(2, 40, 30, 0, false) << makeParams(3, 40, 0, 0, false) << true;
    QTest::newRow("32 bits: colour, then transparency")
        << 32 << makeParams(1, 40, 30, 0, false) << makeParams(1, 40, 30, 0, true) << true;
    QTest::newRow("24 bits: colour, then transparency (new depth)")
        << 24 << makeParams(1, 40, 30, 0, false) << makeParams(1, 40, 30, 0, true) << false;
    QTest::newRow("bottom, then left (new size)")
        << 24 << makeParams(1, 40, 30, 0, false) << makeParams(2, 40, 30, 0, false) << false;
    QTest::newRow("same settings twice")
        << 32 << makeParams(3, 55, 45, 1, true) << makeParams(3, 55, 45, 1, true) << true;
}

void TestRenderer::resultReuse()
{
    QFETCH(int, bpp);
    QFETCH(ReflectionParams, first);
    QFETCH(ReflectionParams, second);
    QFETCH(bool, sameBitmap);
    QRandomGenerator random(9);
    const fipImage source = randomPicture(31, 17, bpp, random);
    fipImage result;
    QVERIFY(renderReflection(source, result, first));
    // Every byte of a reused bitmap is written again, the padding too.
    std::memset(result.accessPixels(), 0xA5,
                std::size_t(result.getScanWidth()) * result.getHeight());
    const BYTE* bits = result.accessPixels();
    QVERIFY(renderReflection(source, result, second));
    QCOMPARE(result.accessPixels() == bits, sameBitmap);
    fipImage expected;
    QVERIFY(oracle::AddImageReflection(source, expected, second));
    COMPARE_IMAGES(result, expected);
    QCOMPARE(nonZeroPadding(result), QString());
}

void TestRenderer::reusedResultLooksNew_data()
{
    QTest::addColumn<QString>("attribute");
    for (const char* attribute :
         {"metadata", "ICC profile", "resolution", "background colour", "thumbnail"})
        QTest::newRow(attribute) << QString(attribute);
}

// A previous result of the right size that carries anything a new bitmap does
// not is not written into; the new result carries none of it.
void TestRenderer::reusedResultLooksNew()
{
    QFETCH(QString, attribute);
    QRandomGenerator random(10);
    const fipImage source = randomPicture(12, 10, 24, random);
    const ReflectionParams params = makeParams(1, 50, 30, 0, false);
    fipImage result;
    QVERIFY(renderReflection(source, result, params));
    decorate(result, attribute);
    QVERIFY(!carriedOver(result).isEmpty());
    QVERIFY(renderReflection(source, result, params));
    QCOMPARE(carriedOver(result), QString());
    fipImage expected;
    QVERIFY(oracle::AddImageReflection(source, expected, params));
    COMPARE_IMAGES(result, expected);
}

void TestRenderer::sourceAttributesNotCarried()
{
    QRandomGenerator random(13);
    fipImage source = randomPicture(8, 8, 32, random);
    for (const char* attribute :
         {"metadata", "ICC profile", "resolution", "background colour", "thumbnail"})
        decorate(source, attribute);
    for (int direction : {0, 1, 2, 3}) {
        for (int rate : {0, 50}) {
            fipImage result;
            QVERIFY(renderReflection(source, result, makeParams(direction, rate, 30, 0, false)));
            QCOMPARE(carriedOver(result), QString());
        }
    }
}

// A result that is a view into another picture has the right size but not
// its own pixels: the render must not write into the other picture.
void TestRenderer::viewIsNotWrittenThrough()
{
    QRandomGenerator random(15);
    const fipImage source = randomPicture(31, 17, 24, random);
    const ReflectionParams params = makeParams(1, 40, 30, 0, false);
    fipImage expected;
    QVERIFY(oracle::AddImageReflection(source, expected, params));
    fipImage other = randomPicture(40, 40, 24, random);
    const fipImage otherBefore(other);
    fipImage result;
    QVERIFY(other.createView(result, 0, 0, expected.getWidth(), expected.getHeight()));
    QCOMPARE(result.getHeight(), expected.getHeight());
    QVERIFY(renderReflection(source, result, params));
    COMPARE_IMAGES(result, expected);
    COMPARE_IMAGES(other, otherBefore);
}

void TestRenderer::viewAsSource_data()
{
    QTest::addColumn<int>("bpp");
    QTest::addColumn<ReflectionParams>("params");
    for (int bpp : {24, 32}) {
        for (int direction : {0, 1, 2, 3}) {
            QTest::addRow("%d-bit, direction %d, colour", bpp, direction)
                << bpp << makeParams(direction, 60, 20, 1, false, {1, 2, 3});
            QTest::addRow("%d-bit, direction %d, transparency", bpp, direction)
                << bpp << makeParams(direction, 60, 20, 1, true);
        }
    }
}

// A view into a larger picture has that picture's pitch, not its own.
void TestRenderer::viewAsSource()
{
    QFETCH(int, bpp);
    QFETCH(ReflectionParams, params);
    QRandomGenerator random(16);
    fipImage larger = randomPicture(90, 40, bpp, random);
    fipImage view;
    QVERIFY(larger.createView(view, 7, 3, 7 + 61, 3 + 29));
    QVERIFY(view.getScanWidth() != unsigned(61 * bpp / 8 + 3) / 4 * 4);
    fipImage copy;
    QVERIFY(view.copySubImage(copy, 0, 0, 61, 29));
    fipImage result;
    QVERIFY(renderReflection(view, result, params));
    fipImage expected;
    QVERIFY(oracle::AddImageReflection(copy, expected, params));
    COMPARE_IMAGES(result, expected);
}

// ---------------------------------------------------------------- preview

void TestRenderer::preview24_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("1 x 1") << 1 << 1;
    QTest::newRow("odd width") << 7 << 5;
    QTest::newRow("width with padding") << 13 << 4;
    QTest::newRow("wide") << 301 << 3;
}

void TestRenderer::preview24()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QRandomGenerator random(quint32(width * 31 + height));
    const fipImage image = randomPicture(width, height, 24, random);
    const QImage shown = previewImage(image);
    QCOMPARE(shown.format(), QImage::Format_RGB32);
    QCOMPARE(shown.size(), QSize(width, height));
    QImage expected(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            expected.setPixel(x, y, expectedPreviewPixel(image, x, y));
    COMPARE_IMAGES(shown, expected);
}

void TestRenderer::previewTransparent_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("1 x 1") << 1 << 1;
    QTest::newRow("odd") << 9 << 11;
    QTest::newRow("wide") << 257 << 3;
}

// Premultiplied as Qt itself premultiplies.
void TestRenderer::previewTransparent()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QRandomGenerator random(quint32(width * 17 + height));
    fipImage image = randomPicture(width, height, 32, random);
    pixelAt(image, 0, 0)[FI_RGBA_ALPHA] = 100; // at least one translucent pixel
    const QImage shown = previewImage(image);
    QCOMPARE(shown.format(), QImage::Format_ARGB32_Premultiplied);
    QImage straight(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            straight.setPixel(x, y, expectedPreviewPixel(image, x, y));
    COMPARE_IMAGES(shown, straight.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    // One pixel worked by hand: (200, 100, 50) at alpha 100.
    setColour(image, 1 % width, 0, {50, 100, 200, 100});
    const QRgb pixel = previewImage(image).pixel(1 % width, 0);
    QCOMPARE(qAlpha(pixel), 100);
    QCOMPARE(qRed(pixel), 78); // 200 * 100 / 255 = 78.4
    QCOMPARE(qGreen(pixel), 39);
    QCOMPARE(qBlue(pixel), 20); // 19.6 rounds up
}

// Alpha 255 throughout: not transparent, and shown all the same.
void TestRenderer::previewOpaque32IsShown()
{
    QRandomGenerator random(14);
    fipImage image = randomPicture(6, 4, 32, random);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            pixelAt(image, x, y)[FI_RGBA_ALPHA] = 255;
    QVERIFY(!image.isTransparent());
    const QImage shown = previewImage(image);
    QCOMPARE(shown.format(), QImage::Format_RGB32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            QCOMPARE(shown.pixel(x, y), expectedPreviewPixel(image, x, y));
}

void TestRenderer::previewMatchesQtWay_data()
{
    QTest::addColumn<int>("bpp");
    QTest::newRow("24-bit") << 24;
    QTest::newRow("32-bit") << 32;
}

// The same picture as the plain way shows: wrap, swap to RGB, mirror.
void TestRenderer::previewMatchesQtWay()
{
    QFETCH(int, bpp);
    QRandomGenerator random{quint32(bpp)};
    // Width a multiple of 4, so that FreeImage's pitch is Qt's row length.
    fipImage image = randomPicture(20, 9, bpp, random);
    QImage plain;
    if (bpp == 24) {
        plain = QImage(image.accessPixels(), 20, 9, QImage::Format_RGB888)
                    .rgbSwapped()
                    .mirrored(false, true)
                    .convertToFormat(QImage::Format_RGB32);
    } else {
        plain = QImage(image.accessPixels(), 20, 9, QImage::Format_ARGB32)
                    .mirrored(false, true)
                    .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    COMPARE_IMAGES(previewImage(image), plain);
}

void TestRenderer::previewOtherDepths_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QImage::Format>("format");
    QTest::newRow("1-bit") << QString("1-bit") << QImage::Format_RGB32;
    QTest::newRow("4-bit") << QString("4-bit") << QImage::Format_RGB32;
    QTest::newRow("8-bit grey") << QString("8-bit grey") << QImage::Format_RGB32;
    QTest::newRow("8-bit palette") << QString("8-bit palette") << QImage::Format_RGB32;
    QTest::newRow("8-bit palette with transparency")
        << QString("8-bit palette with transparency") << QImage::Format_ARGB32_Premultiplied;
    QTest::newRow("16-bit 565") << QString("16-bit 565") << QImage::Format_RGB32;
    QTest::newRow("RGBA16") << QString("RGBA16") << QImage::Format_ARGB32_Premultiplied;
}

// Shown as FreeImage's own 32-bit conversion of them shows.
void TestRenderer::previewOtherDepths()
{
    QFETCH(QString, kind);
    QFETCH(QImage::Format, format);
    const fipImage image = pictureOfKind(kind);
    fipImage wide(image);
    QVERIFY(wide.convertTo32Bits());
    const QImage shown = previewImage(image);
    QCOMPARE(shown.format(), format);
    QImage straight(int(wide.getWidth()), int(wide.getHeight()), QImage::Format_ARGB32);
    for (int y = 0; y < straight.height(); ++y)
        for (int x = 0; x < straight.width(); ++x)
            straight.setPixel(x, y, expectedPreviewPixel(wide, x, y));
    COMPARE_IMAGES(shown, straight.convertToFormat(format));
}

void TestRenderer::previewEmpty()
{
    QVERIFY(previewImage(fipImage()).isNull());
}

void TestRenderer::previewPixmapTakesBuffer_data()
{
    QTest::addColumn<int>("bpp");
    QTest::addColumn<int>("alpha");
    QTest::newRow("24-bit") << 24 << 255;
    QTest::newRow("32-bit, translucent") << 32 << 128;
    QTest::newRow("32-bit, opaque") << 32 << 255;
}

// The pixmap takes the preview's pixels as they are: no conversion pass.
void TestRenderer::previewPixmapTakesBuffer()
{
    QFETCH(int, bpp);
    QFETCH(int, alpha);
    const fipImage image = filledPicture(33, 21, bpp, {10, 20, 30, alpha});
    QImage shown = previewImage(image);
    const uchar* bits = shown.constBits();
    const QPixmap pixmap = QPixmap::fromImage(std::move(shown));
    const QImage back = pixmap.toImage();
    QCOMPARE(back.constBits(), bits);
}

// A rendered result in the preview: upright, true colours, the faded edge
// transparent.
void TestRenderer::previewOfRenderedResult()
{
    fipImage source = filledPicture(4, 10, 24, {0, 0, 255, 255}); // red
    for (int x = 0; x < 4; ++x)
        setColour(source, x, 0, {255, 0, 0, 255}); // blue top row
    fipImage result;
    QVERIFY(renderReflection(source, result, makeParams(1, 50, 0, 0, true)));
    const QImage shown = previewImage(result);
    QCOMPARE(shown.format(), QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(shown.size(), QSize(4, 15));
    QCOMPARE(shown.pixel(0, 0), qRgb(0, 0, 255));
    QCOMPARE(shown.pixel(3, 1), qRgb(255, 0, 0));
    QCOMPARE(shown.pixel(2, 9), qRgb(255, 0, 0));
    QCOMPARE(qAlpha(shown.pixel(1, 14)), 0);
    const QRgb faded = shown.pixel(1, 12); // t = 2, s = 2: alpha 255 * 2 / 5 = 102
    QCOMPARE(qAlpha(faded), 102);
    QCOMPARE(qRed(faded), 102);
}

QTEST_MAIN(TestRenderer)
#include "tst_renderer.moc"
