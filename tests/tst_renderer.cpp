#include "imaging/preview_image.h"
#include "reflection/reflection_renderer.h"
#include "support/imagecompare.h"
#include "support/reflection_oracle.h"

#include <QPixmap>
#include <QRandomGenerator>
#include <QTest>

#include <FreeImagePlus.h>

#include <cstring>
#include <utility>

Q_DECLARE_METATYPE(ReflectionParams)

using Rows = QMap<int, QRgb>;

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

// A picture `length` long across the reflecting edge whose every line along
// the edge holds every byte value.
fipImage everyByteValue(int direction, int length, int bpp)
{
    const bool vertical = direction >= 0 && direction <= 1;
    const int bytes = bpp / 8;
    const int along = 256 / bytes + 1;
    fipImage image(FIT_BITMAP, unsigned(vertical ? along : length),
                   unsigned(vertical ? length : along), unsigned(bpp));
    for (int y = 0; y < int(image.getHeight()); ++y) {
        BYTE* line = image.getScanLine(unsigned(y));
        for (int i = 0; i < int(image.getWidth()) * bytes; ++i)
            line[i] = BYTE(vertical ? i * 7 + y : (y * bytes + i % bytes) * 7 + i / bytes);
    }
    return image;
}

// The pixel at (x, y) counted from the top-left.
BYTE* pixelAt(const fipImage& image, int x, int y)
{
    const int bytes = int(image.getBitsPerPixel()) / 8;
    return image.getScanLine(image.getHeight() - 1 - unsigned(y)) + x * bytes;
}

QRgb colourAt(const fipImage& image, int x, int y)
{
    const BYTE* p = pixelAt(image, x, y);
    const int alpha = image.getBitsPerPixel() == 32 ? p[FI_RGBA_ALPHA] : 255;
    return qRgba(p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE], alpha);
}

void setColour(fipImage& image, int x, int y, QRgb colour)
{
    BYTE* p = pixelAt(image, x, y);
    p[FI_RGBA_BLUE] = BYTE(qBlue(colour));
    p[FI_RGBA_GREEN] = BYTE(qGreen(colour));
    p[FI_RGBA_RED] = BYTE(qRed(colour));
    if (image.getBitsPerPixel() == 32)
        p[FI_RGBA_ALPHA] = BYTE(qAlpha(colour));
}

fipImage filledPicture(int width, int height, int bpp, QRgb colour)
{
    fipImage image(FIT_BITMAP, unsigned(width), unsigned(height), unsigned(bpp));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            setColour(image, x, y, colour);
    return image;
}

QRgb grey(int level)
{
    return qRgb(level, level, level);
}

// A 24-bit picture drawn in letters, one string a row.
fipImage letterPicture(const QStringList& rows)
{
    const QHash<QChar, QRgb> colours{{'R', qRgb(255, 0, 0)}, {'G', qRgb(0, 255, 0)},
                                     {'B', qRgb(0, 0, 255)}, {'W', grey(255)},
                                     {'.', grey(128)},       {'0', grey(0)}};
    fipImage picture(FIT_BITMAP, unsigned(rows[0].size()), unsigned(rows.size()), 24);
    for (int y = 0; y < rows.size(); ++y)
        for (int x = 0; x < rows[y].size(); ++x)
            setColour(picture, x, y, colours.value(rows[y][x]));
    return picture;
}

// The picture as Qt shows it, straight alpha.
QImage straightImage(const fipImage& image)
{
    QImage straight(int(image.getWidth()), int(image.getHeight()), QImage::Format_ARGB32);
    for (int y = 0; y < straight.height(); ++y)
        for (int x = 0; x < straight.width(); ++x)
            straight.setPixel(x, y, colourAt(image, x, y));
    return straight;
}

ReflectionParams makeParams(int direction, int rate, int start, int ge, bool transparent,
                            _RGB colour = {255, 255, 255})
{
    return {direction, rate, start, ge, colour, transparent};
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
    FreeImage_Paste(expected, picture, direction == 3 ? params.ge : 0,
                    direction == 1 ? params.ge : 0, 256);
    return expected;
}

// The step-by-step result, or the picture itself where that has no strip.
fipImage expectedResult(const fipImage& source, const ReflectionParams& params)
{
    fipImage expected;
    if (!oracle::AddImageReflection(source, expected, params))
        expected = pictureWithoutStrip(source, params);
    return expected;
}

// Attributes a bitmap fresh from FreeImage does not have; empty when none.
QString carriedOver(fipImage& image)
{
    FIBITMAP* dib = image;
    unsigned metadata = 0;
    for (int model = FIMD_COMMENTS; model <= FIMD_EXIF_RAW; ++model)
        metadata += FreeImage_GetMetadataCount(FREE_IMAGE_MDMODEL(model), dib);
    const FIICCPROFILE* icc = FreeImage_GetICCProfile(dib);
    const std::pair<bool, const char*> attributes[] = {
        {metadata != 0, "metadata"},
        {icc->size != 0 || icc->data, "an ICC profile"},
        {FreeImage_GetDotsPerMeterX(dib) != 2835 || FreeImage_GetDotsPerMeterY(dib) != 2835,
         "a resolution"},
        {FreeImage_HasBackgroundColor(dib) != FALSE, "a background colour"},
        {FreeImage_GetThumbnail(dib) != nullptr, "a thumbnail"},
        {FreeImage_GetTransparencyCount(dib) != 0, "a transparency table"}};
    QStringList found;
    for (const auto& [present, what] : attributes)
        if (present)
            found << what;
    return found.join(", ");
}

// Gives `image` one attribute a new bitmap lacks.
void decorate(fipImage& image, const QString& what)
{
    FIBITMAP* dib = image;
    static char profile[] = "not really a profile";
    RGBQUAD background{10, 20, 30, 0};
    if (what == "metadata")
        FreeImage_SetMetadataKeyValue(FIMD_COMMENTS, dib, "Comment", "left over");
    else if (what == "ICC profile")
        FreeImage_CreateICCProfile(dib, profile, long(sizeof profile));
    else if (what == "resolution") // one direction only: both must be looked at
        FreeImage_SetDotsPerMeterY(dib, 2323);
    else if (what == "background colour")
        FreeImage_SetBackgroundColor(dib, &background);
    else if (what == "thumbnail")
        FreeImage_SetThumbnail(dib, fipImage(FIT_BITMAP, 2, 2, 24));
}

// A 5 x 3 picture of another depth or type: FreeImage's own conversions of a
// colourful picture, or for the wide kinds a chequer of two levels (see
// otherKinds_data).
fipImage pictureOfKind(const QString& kind)
{
    static const QHash<QString, std::pair<FREE_IMAGE_TYPE, unsigned>> wide{
        {"16-bit grey", {FIT_UINT16, 16}},
        {"RGBA16", {FIT_RGBA16, 64}},
        {"RGBF", {FIT_RGBF, 96}},
        {"RGBAF", {FIT_RGBAF, 128}},
        {"float grey", {FIT_FLOAT, 32}}};
    if (!wide.contains(kind)) {
        fipImage image = letterPicture({"RGB.W", "0RGB.", "W0RGB"});
        if (kind == "1-bit")
            image.threshold(128);
        else if (kind == "4-bit")
            image.convertTo4Bits();
        else if (kind == "16-bit 565")
            image.convertTo16Bits565();
        else
            image.colorQuantize(FIQ_WUQUANT);
        if (kind.endsWith("transparency")) {
            BYTE table[256];
            for (int i = 0; i < 256; ++i)
                table[i] = BYTE(i % 3 == 0 ? 0 : i % 3 == 1 ? 128 : 255);
            image.setTransparencyTable(table, 256);
        }
        return image;
    }
    const unsigned width = 5, height = 3;
    const auto [type, bpp] = wide.value(kind);
    fipImage image(type, width, height, bpp);
    for (unsigned y = 0; y < height; ++y) {
        BYTE* line = image.getScanLine(y);
        for (unsigned x = 0; x < width; ++x) {
            const bool high = (x + y) % 2 != 0;
            const WORD word = high ? 0x8000 : 0;
            const float level = high ? 1.0f : 0.0f;
            if (type == FIT_UINT16)
                reinterpret_cast<WORD*>(line)[x] = word;
            else if (type == FIT_RGBA16)
                reinterpret_cast<FIRGBA16*>(line)[x] = {word, 0, 65535, WORD(65535 - word)};
            else if (type == FIT_RGBF)
                reinterpret_cast<FIRGBF*>(line)[x] = {level, 0.0f, 2.0f};
            else if (type == FIT_RGBAF)
                reinterpret_cast<FIRGBAF*>(line)[x] = {level, -1.0f, 1.0f, 1.0f - level};
            else
                reinterpret_cast<float*>(line)[x] = level / 4;
        }
    }
    return image;
}

// `source` as a standard bitmap: FreeImage's own conversion, or the chequer of
// `levels` where FreeImage has none.
fipImage standardOf(const fipImage& source, const QList<QRgb>& levels, unsigned bpp)
{
    fipImage standard(source);
    if (levels.isEmpty()) {
        const bool converted = bpp == 32 ? standard.convertTo32Bits() : standard.convertTo24Bits();
        return converted ? standard : fipImage();
    }
    standard = fipImage(FIT_BITMAP, source.getWidth(), source.getHeight(), bpp);
    for (int y = 0; y < int(source.getHeight()); ++y)
        for (int x = 0; x < int(source.getWidth()); ++x)
            setColour(standard, x, y, levels[(x + y) % 2]);
    return standard;
}

} // namespace

class TestRenderer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void oracleAgreement_data()
    {
        QTest::addColumn<int>("bpp");
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<int>("direction");
        for (int bpp : {24, 32})
            for (bool transparent : {false, true})
                for (int direction : {0, 1, 2, 3, 4, 7, -1})
                    QTest::addRow("%d-bit, %s, direction %d", bpp,
                                  transparent ? "transparency" : "colour", direction)
                        << bpp << transparent << direction;
    }

    // Random pictures and settings: the fast renderer's result must be the
    // step-by-step one, byte for byte; where that has no strip, the picture itself.
    void oracleAgreement()
    {
        QFETCH(int, bpp);
        QFETCH(bool, transparent);
        QFETCH(int, direction);
        QRandomGenerator random(quint32(bpp * 1000 + (transparent ? 100 : 0) + direction + 7));
        const int cases = 160;
        int compared = 0;
        fipImage reused; // every other case renders into the previous result
        for (int n = 0; n < cases; ++n) {
            // 1 x 1, one column, one row, wider than a tile of faded columns, small.
            const int shape = random.bounded(10);
            const int width = shape <= 1   ? 1
                              : shape == 2 ? random.bounded(1, 60)
                              : shape <= 4 ? random.bounded(60, 300)
                                           : random.bounded(1, 24);
            const int height = shape == 0 || shape == 2 ? 1
                               : shape == 1             ? random.bounded(1, 60)
                               : shape <= 4             ? random.bounded(30, 140)
                                                        : random.bounded(1, 24);
            const int rateChoice = random.bounded(8);
            const int rate = rateChoice == 0 ? 100 : rateChoice == 1 ? 0 : random.bounded(101);
            const int startChoice = random.bounded(8);
            const int start = startChoice == 0 ? 100 : startChoice == 1 ? 0 : random.bounded(101);
            const int ge = random.bounded(2) ? 0 : random.bounded(1, 6);
            _RGB colour{random.bounded(256), random.bounded(256), random.bounded(256)};
            if (random.bounded(4) == 0)
                colour = {random.bounded(2) * 255, random.bounded(2) * 255,
                          random.bounded(2) * 255};
            const ReflectionParams params =
                makeParams(direction, rate, start, ge, transparent, colour);

            // Every third source is a view into a larger picture, with that one's pitch.
            fipImage source = randomPicture(width, height, bpp, random), larger, untouched;
            if (n % 3 == 0) {
                larger = randomPicture(width + 9, height + 2, bpp, random);
                QVERIFY(larger.createView(source, 9, 1, 9 + width, 1 + height));
            }
            QVERIFY(source.copySubImage(untouched, 0, 0, width, height));
            const QString context = QString::asprintf(
                "case %d: %d x %d, rate %d, start %d, ge %d, colour (%d, %d, %d)", n, width, height,
                rate, start, ge, colour.red, colour.green, colour.blue);
            fipImage fresh;
            fipImage& result = n % 2 ? reused : fresh;
            QVERIFY2(renderReflection(source, result, params), qPrintable(context));
            fipImage expected;
            if (oracle::AddImageReflection(source, expected, params))
                ++compared;
            else
                expected = pictureWithoutStrip(source, params);
            // The source may be the result too.
            fipImage self(untouched);
            QVERIFY2(renderReflection(self, self, params), qPrintable(context));
            // The preview shows the result upright, premultiplied as Qt itself
            // premultiplies where anything is see-through, else as RGB32.
            const QImage::Format format =
                result.isTransparent() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
            QStringList problems{
                compareImages(result, expected), compareImages(self, expected),
                nonZeroPadding(result), carriedOver(result),
                compareImages(previewImage(result), straightImage(result).convertToFormat(format))};
            if (!compareImages(source, untouched).isEmpty())
                problems << QStringLiteral("source changed");
            problems.removeAll(QString());
            QVERIFY2(problems.isEmpty(), qPrintable(context + ": " + problems.join("; ")));
        }
        QVERIFY2(compared > cases / 2, "too few cases had a strip to compare");

        // Long fades, where a division by F is easiest to get wrong by one: F
        // from about 3000 (the vector path) to 33000 (beyond 16-bit arithmetic),
        // towards 255, 0 and a middle value.
        for (int length : {2999, 33001}) {
            const fipImage source = everyByteValue(direction, length, bpp);
            const ReflectionParams params =
                makeParams(direction, 100, 0, 0, transparent, {255, 0, 128});
            fipImage result, expected;
            QVERIFY(renderReflection(source, result, params));
            QVERIFY(oracle::AddImageReflection(source, expected, params));
            const QString difference = compareImages(result, expected);
            QVERIFY2(difference.isEmpty(), qPrintable(QString::number(length) + ": " + difference));
        }
    }

    // Colours of the strip's rows t (0 touching the picture) of a 7-wide picture
    // reflected at the bottom. 100 rows, rate 40, start 30: R = 40 rows, of
    // which the outer F = 28 fade.
    void fadeExamples_data()
    {
        QTest::addColumn<int>("height");
        QTest::addColumn<QRgb>("picture");
        QTest::addColumn<ReflectionParams>("params");
        QTest::addColumn<int>("strip");
        QTest::addColumn<Rows>("rows");
        const QRgb black = grey(0), white = grey(255), brown = qRgb(120, 80, 40);
        const auto brownAt = [](int alpha) { return qRgba(120, 80, 40, alpha); };
        const auto blackAt = [](int alpha) { return qRgba(0, 0, 0, alpha); };
        QTest::newRow("black to white: t 12 is the first faded row and stays")
            << 100 << black << makeParams(1, 40, 30, 0, false, {255, 255, 255}) << 40
            << Rows{{0, black}, {11, black}, {12, black}, {25, grey(118)}, {39, grey(245)}};
        QTest::newRow("white to black: truncated towards zero")
            << 100 << white << makeParams(1, 40, 30, 0, false, {0, 0, 0}) << 40
            << Rows{{12, white}, {25, grey(137)}, {39, grey(10)}};
        QTest::newRow("transparency: alpha fades, colour bytes untouched")
            << 100 << brown << makeParams(1, 40, 30, 0, true) << 40
            << Rows{{11, brown}, {12, brownAt(245)}, {25, brownAt(127)}, {39, brownAt(0)}};
        QTest::newRow("red background moves the channels apart: F 10")
            << 10 << grey(100) << makeParams(1, 100, 0, 0, false, {255, 0, 0}) << 10
            << Rows{{0, grey(100)}, {9, qRgb(239, 10, 10)}};
        QTest::newRow("start 0, colour: touching row unchanged")
            << 5 << black << makeParams(1, 100, 0, 0, false) << 5
            << Rows{{0, black}, {1, grey(51)}, {2, grey(102)}, {3, grey(153)}, {4, grey(204)}};
        QTest::newRow("start 0, alpha: touching row keeps (R-1)/R")
            << 5 << black << makeParams(1, 100, 0, 0, true) << 5
            << Rows{{0, blackAt(204)},
                    {1, blackAt(153)},
                    {2, blackAt(102)},
                    {3, blackAt(51)},
                    {4, blackAt(0)}};
    }

    void fadeExamples()
    {
        QFETCH(int, height);
        QFETCH(QRgb, picture);
        QFETCH(ReflectionParams, params);
        QFETCH(int, strip);
        QFETCH(Rows, rows);
        fipImage result;
        QVERIFY(renderReflection(filledPicture(7, height, 24, picture), result, params));
        QCOMPARE(int(result.getHeight()), height + strip);
        QCOMPARE(result.getBitsPerPixel(), params.transparent ? 32u : 24u);
        for (auto row = rows.cbegin(); row != rows.cend(); ++row) {
            for (int x = 0; x < 7; ++x) {
                const QRgb actual = colourAt(result, x, height + row.key());
                QVERIFY2(actual == row.value(),
                         qPrintable(QString::asprintf("t = %d: %08x, expected %08x", row.key(),
                                                      actual, row.value())));
            }
        }
    }

    // The grey picture with coloured corners, reflected unfaded with 2 extra
    // lines, in letters: Red, Green, Blue, White, '.' grey, '0' zero.
    void cornersLand_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("bottom") << 1 << QStringList{"00000", "00000", "R...G", ".....",
                                                    "B...W", "B...W", ".....", "R...G"};
        QTest::newRow("top") << 0 << QStringList{"B...W", ".....", "R...G", "R...G",
                                                 ".....", "B...W", "00000", "00000"};
        QTest::newRow("left") << 2 << QStringList{"G...RR...G00", "..........00", "W...BB...W00"};
        const QStringList right{"00R...GG...R", "00..........", "00B...WW...B"};
        QTest::newRow("right") << 3 << right;
        QTest::newRow("7 acts as right") << 7 << right;
        QTest::newRow("-1 acts as right") << -1 << right;
    }

    void cornersLand()
    {
        QFETCH(int, direction);
        QFETCH(QStringList, expected);
        const fipImage source = letterPicture({"R...G", ".....", "B...W"});
        fipImage result;
        QVERIFY(renderReflection(source, result, makeParams(direction, 100, 100, 2, false)));
        COMPARE_IMAGES(result, letterPicture(expected));
    }

    void otherKinds_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<bool>("seeThrough");    // the picture itself carries transparency
        QTest::addColumn<QList<QRgb>>("levels"); // of a chequer; none: FreeImage converts
        const auto row = [](const char* kind, bool transparent, bool seeThrough,
                            QList<QRgb> levels = {}) {
            QTest::addRow("%s, %s", kind, transparent ? "transparency" : "colour")
                << QString(kind) << transparent << seeThrough << levels;
        };
        row("1-bit", false, false);
        row("4-bit", true, false);
        row("8-bit palette", false, false);
        row("8-bit palette with transparency", false, true);
        row("16-bit 565", false, false);
        row("RGBA16", false, true);
        // 16-bit grey by its high byte, not stretched.
        row("16-bit grey", false, false, {grey(0), grey(128)});
        // Float colour clamped to 0..1.
        row("RGBF", false, false, {qRgb(0, 0, 255), qRgb(255, 0, 255)});
        row("RGBAF", false, true, {qRgba(0, 0, 255, 255), qRgba(255, 0, 255, 0)});
        // Float grey stretched between its extremes, 0 and 0.25.
        row("float grey", false, false, {grey(0), grey(255)});
    }

    // Other depths and types are rendered and previewed as their standard
    // form: 32 bits in transparency mode or when the picture is see-through,
    // else 24.
    void otherKinds()
    {
        QFETCH(QString, kind);
        QFETCH(bool, transparent);
        QFETCH(bool, seeThrough);
        QFETCH(QList<QRgb>, levels);
        const fipImage source = pictureOfKind(kind);
        const fipImage standard = standardOf(source, levels, transparent || seeThrough ? 32 : 24);
        QVERIFY(standard.isValid());
        for (int direction : {0, 1, 2, 3}) {
            const ReflectionParams params =
                makeParams(direction, 100, 20, 1, transparent, {9, 99, 199});
            fipImage result, expected;
            QVERIFY(renderReflection(source, result, params));
            QVERIFY(oracle::AddImageReflection(standard, expected, params));
            COMPARE_IMAGES(result, expected);
        }
        const QImage::Format format =
            seeThrough ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
        COMPARE_IMAGES(previewImage(source),
                       straightImage(standardOf(source, levels, 32)).convertToFormat(format));
    }

    void settingsOutOfRange_data()
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
        QTest::newRow("negative ge")
            << makeParams(1, 50, 30, -4, false) << makeParams(1, 50, 30, 0, false);
        QTest::newRow("colour beyond a byte") << makeParams(1, 50, 0, 0, false, {300, -5, 128})
                                              << makeParams(1, 50, 0, 0, false, {255, 0, 128});
    }

    void settingsOutOfRange()
    {
        QFETCH(ReflectionParams, given);
        QFETCH(ReflectionParams, meant);
        QRandomGenerator random(21);
        const fipImage source = randomPicture(11, 13, 24, random);
        fipImage result, expected;
        QVERIFY(renderReflection(source, result, given));
        QVERIFY(renderReflection(source, expected, meant));
        COMPARE_IMAGES(result, expected);
    }

    // An empty source, or a result far larger than memory: the render fails
    // and the previous result stays as it was, bitmap and pixels.
    void failureLeavesResult()
    {
        QRandomGenerator random(6);
        const fipImage large = randomPicture(4000, 2, 24, random);
        fipImage result = randomPicture(3, 3, 32, random);
        const fipImage before(result);
        const BYTE* bits = result.accessPixels();
        QVERIFY(!renderReflection(fipImage(), result, ReflectionParams()));
        QCOMPARE(result.accessPixels(), bits);
        COMPARE_IMAGES(result, before);
        QVERIFY(!renderReflection(large, result, makeParams(1, 40, 30, 400'000'000, false)));
        QCOMPARE(result.accessPixels(), bits);
        COMPARE_IMAGES(result, before);
    }

    void resultReuse_data()
    {
        QTest::addColumn<int>("bpp");
        QTest::addColumn<ReflectionParams>("first");
        QTest::addColumn<QString>("previous"); // what the first result carries, or is
        QTest::addColumn<ReflectionParams>("second");
        QTest::addColumn<bool>("sameBitmap");
        const ReflectionParams bottom = makeParams(1, 40, 30, 0, false);
        QTest::newRow("bottom, then top in another colour")
            << 24 << bottom << "" << makeParams(0, 40, 70, 0, false, {10, 200, 30}) << true;
        QTest::newRow("32 bits: colour, then transparency")
            << 32 << bottom << "" << makeParams(1, 40, 30, 0, true) << true;
        QTest::newRow("24 bits: colour, then transparency (new depth)")
            << 24 << bottom << "" << makeParams(1, 40, 30, 0, true) << false;
        QTest::newRow("bottom, then left (new size)")
            << 24 << bottom << "" << makeParams(2, 40, 30, 0, false) << false;
        // A view has the right size but not its own pixels: not written through.
        QTest::newRow("a view into another picture") << 24 << bottom << "view" << bottom << false;
        // Nothing of the source's attributes reaches the result, nor of a
        // previous result, which is therefore not written into.
        bool strip = true;
        for (const char* attribute :
             {"metadata", "ICC profile", "resolution", "background colour", "thumbnail"}) {
            const ReflectionParams params = strip ? bottom : makeParams(2, 0, 30, 1, false);
            QTest::addRow("both carry %s, %s", attribute, strip ? "strip" : "no strip")
                << 32 << params << attribute << params << false;
            strip = !strip;
        }
    }

    void resultReuse()
    {
        QFETCH(int, bpp);
        QFETCH(ReflectionParams, first);
        QFETCH(QString, previous);
        QFETCH(ReflectionParams, second);
        QFETCH(bool, sameBitmap);
        QRandomGenerator random(9);
        fipImage source = randomPicture(31, 17, bpp, random);
        fipImage other = randomPicture(80, 40, bpp, random);
        const fipImage otherBefore(other);
        decorate(source, previous);
        fipImage result;
        QVERIFY(renderReflection(source, result, first));
        if (previous == "view") {
            QVERIFY(other.createView(result, 0, 0, result.getWidth(), result.getHeight()));
        } else {
            decorate(result, previous);
            // Every byte of a reused bitmap is written again, the padding too.
            std::memset(result.accessPixels(), 0xA5,
                        std::size_t(result.getScanWidth()) * result.getHeight());
        }
        const BYTE* bits = result.accessPixels();
        QVERIFY(renderReflection(source, result, second));
        QCOMPARE(result.accessPixels() == bits, sameBitmap);
        COMPARE_IMAGES(result, expectedResult(source, second));
        QCOMPARE(nonZeroPadding(result), QString());
        QCOMPARE(carriedOver(result), QString());
        COMPARE_IMAGES(other, otherBefore);
    }

    // One pixel worked by hand: 200 * 100 / 255 = 78.4, 100 * 100 / 255 = 39.2,
    // 50 * 100 / 255 = 19.6. The pixmap takes the preview's pixels as they are,
    // without a conversion pass.
    void preview()
    {
        QVERIFY(previewImage(fipImage()).isNull());
        for (const QRgb colour : {qRgba(200, 100, 50, 100), qRgb(200, 100, 50)}) {
            QImage shown = previewImage(filledPicture(33, 21, 32, colour));
            QCOMPARE(shown.pixel(32, 20), qAlpha(colour) == 255 ? colour : qRgba(78, 39, 20, 100));
            const uchar* bits = shown.constBits();
            QCOMPARE(QPixmap::fromImage(std::move(shown)).toImage().constBits(), bits);
        }
    }
};

QTEST_MAIN(TestRenderer)
#include "tst_renderer.moc"
