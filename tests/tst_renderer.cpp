// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoder/image_io.h"
#include "imaging/pixels/pixel_memory.h"
#include "imaging/preview/preview_image.h"
#include "imaging/saving/picture_saving.h"
#include "reflection/renderer/live_preview.h"
#include "reflection/renderer/reflection_renderer.h"
#include "support/imagecompare.h"
#include "support/kernel_targets.h"
#include "support/reflection_oracle.h"
#include "support/testpictures.h"
#include <unistd.h>

#include <QPixmap>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <FreeImagePlus.h>

#include <cstring>
#include <optional>
#include <utility>

Q_DECLARE_METATYPE(ReflectionParams)
Q_DECLARE_METATYPE(Direction)

constexpr Direction top = Direction::Top, bottom = Direction::Bottom, left = Direction::Left,
                    right = Direction::Right;

using Rows = QMap<int, QRgb>;

namespace {

// A 24- or 32-bit picture of random bytes, the padding of every scan line too:
// nothing of it may reach a result.
fipImage randomPicture(int width, int height, int bpp, QRandomGenerator& random)
{
    fipImage image(FIT_BITMAP, unsigned(width), unsigned(height), unsigned(bpp));
    for (int y = 0; y < height; ++y) {
        BYTE* line = image.getScanLine(unsigned(y));
        for (unsigned i = 0; i < image.getScanWidth(); ++i)
            line[i] = BYTE(random.bounded(256));
    }
    return image;
}

// `colour` everywhere, or in the even columns only, `odd` in the others.
fipImage filledPicture(int width, int height, int bpp, QRgb colour, std::optional<QRgb> odd = {})
{
    fipImage image(FIT_BITMAP, unsigned(width), unsigned(height), unsigned(bpp));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const QRgb c = x % 2 ? odd.value_or(colour) : colour;
            const RGBQUAD quad{BYTE(qBlue(c)), BYTE(qGreen(c)), BYTE(qRed(c)), BYTE(qAlpha(c))};
            std::memcpy(image.getScanLine(unsigned(y)) + x * bpp / 8, &quad, std::size_t(bpp / 8));
        }
    return image;
}

// `lines` lines at `direction`'s edge made margin: alpha 0 at 32 bits, at 24
// bits one colour give or take 4 on every channel.
void paintMargin(fipImage& image, Direction direction, int lines, QRandomGenerator& random)
{
    const int width = int(image.getWidth()), height = int(image.getHeight());
    const int bytes = int(image.getBitsPerPixel()) / 8;
    const int base = random.bounded(4, 252);
    for (int y = 0; y < height; ++y) // scan lines, bottom-up
        for (int x = 0; x < width; ++x) {
            const int n = direction == bottom ? y
                          : direction == top  ? height - 1 - y
                          : direction == left ? x
                                              : width - 1 - x;
            BYTE* p = image.getScanLine(unsigned(y)) + x * bytes;
            for (int c = 0; n < lines && c < bytes; ++c)
                p[c] = bytes == 4 ? (c == 3 ? 0 : p[c]) : BYTE(base + random.bounded(-4, 5));
        }
}

QRgb grey(int level)
{
    return qRgb(level, level, level);
}

ReflectionParams makeParams(Direction direction, int rate, int start, int ge, bool transparent,
                            _RGB colour = {255, 255, 255}, int opacity = 100, int gap = 0,
                            int blur = 0)
{
    return {direction, rate, start, ge, colour, transparent, opacity, gap, blur};
}

// `image` turned so that `direction`'s edge lies at the bottom, as the
// oracle turns it; `back` turns a picture with its edge at the bottom there.
fipImage turned(fipImage image, Direction direction, bool back = false)
{
    if (direction == top)
        image.flipVertical();
    else if (direction != bottom)
        image.rotate((direction == left) != back ? 90 : -90);
    return image;
}

// A 400 x 400 cut-out: a product 200 x 281 (rows 40..320), a gradient, on a
// transparent canvas or, at 24 bits, a white one; 79 rows of margin below it.
fipImage cutOut(int bpp)
{
    fipImage image = filledPicture(400, 400, bpp, qRgba(255, 255, 255, 0));
    for (int y = 40; y <= 320; ++y)
        for (int x = 100; x < 300; ++x) {
            RGBQUAD p{BYTE(x), BYTE(y), BYTE(60), 255};
            image.setPixelColor(unsigned(x), unsigned(399 - y), &p);
        }
    return image;
}

// The step-by-step result.
fipImage expectedResult(const fipImage& source, const ReflectionParams& params)
{
    fipImage expected;
    oracle::AddImageReflection(source, expected, params);
    return expected;
}

// What `image` carries besides `source`'s profile and resolution; empty when nothing.
QString carriedOver(fipImage& image, fipImage& source)
{
    FIBITMAP* dib = image;
    QStringList found;
    for (int model = FIMD_COMMENTS; model <= FIMD_EXIF_RAW; ++model)
        if (FreeImage_GetMetadataCount(FREE_IMAGE_MDMODEL(model), dib) != 0)
            found << "metadata";
    if (image.getHorizontalResolution() != source.getHorizontalResolution() ||
        image.getVerticalResolution() != source.getVerticalResolution())
        found << "another resolution";
    const auto profile = [](FIBITMAP* of) {
        const FIICCPROFILE* icc = FreeImage_GetICCProfile(of);
        return QByteArray(static_cast<const char*>(icc->data), int(icc->size));
    };
    if (profile(dib) != profile(source))
        found << "another profile";
    return found.join(", ");
}

} // namespace

class TestRenderer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void oracleAgreement_data()
    {
        QTest::addColumn<int>("bpp");
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<Direction>("direction");
        QTest::addColumn<qint64>("target");
        for (const std::int64_t target : kernelTargets())
            for (int bpp : {24, 32})
                for (bool transparent : {false, true})
                    for (Direction direction : {top, bottom, left, right})
                        QTest::addRow("%s, %d-bit, %s, direction %d", hwy::TargetName(target), bpp,
                                      transparent ? "transparency" : "colour", int(direction))
                            << bpp << transparent << direction << qint64(target);
    }

    // Random pictures and settings: the fast renderer's result, also rendered
    // into the previous result or into the source itself, is the step-by-step
    // one byte for byte, and its preview is the result upright, premultiplied
    // where anything is see-through, else RGB32.
    void oracleAgreement()
    {
        QFETCH(int, bpp);
        QFETCH(bool, transparent);
        QFETCH(Direction, direction);
        QFETCH(qint64, target);
        // The processor's best instruction set gets the most cases, and the
        // fade beyond 16-bit arithmetic, which no vectors take.
        const bool best = target == kernelTargets().front();
#if defined(__SANITIZE_ADDRESS__)
        const int cases = best ? 24 : 8; // scripts/sanitize.sh: each case costs many times as much
#else
        const int cases = best ? 160 : 40;
#endif
        const KernelTarget held(target);
        QRandomGenerator random(quint32(bpp * 1000 + (transparent ? 100 : 0) + int(direction) + 7));
        // Drawn apart, so that the default cases stay the ones they always were.
        QRandomGenerator controls(quint32(bpp * 7 + int(direction) + 3));
        QRandomGenerator floor(quint32(bpp * 13 + int(direction) + 5));
        const bool vertical = direction == top || direction == bottom;
        int compared = 0;
        fipImage reused;
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
            const int rate = random.bounded(8) == 0 ? 100 : random.bounded(101);
            const int start = random.bounded(8) == 0 ? 100 : random.bounded(101);
            const int ge = random.bounded(2) ? 0 : random.bounded(1, 6);
            const _RGB colour{random.bounded(256), random.bounded(256), random.bounded(256)};
            const ReflectionParams defaults =
                makeParams(direction, rate, start, ge, transparent, colour);
            const int opacity = controls.bounded(3) == 0 ? 100 : controls.bounded(101);
            const int gap = controls.bounded(2) ? 0 : controls.bounded(1, 5);
            const int blur = controls.bounded(3) == 0 ? 0 : controls.bounded(1, 30);
            const ReflectionParams withControls =
                makeParams(direction, rate, start, ge, transparent, colour, opacity, gap, blur);
            // On a floor: the contact edge (with a margin painted in) and a skew.
            ReflectionParams onFloor = withControls;
            onFloor.contactEdge = floor.bounded(3) != 0;
            onFloor.skew = floor.bounded(4) == 0 ? 0 : floor.bounded(-40, 41);
            const int margin = floor.bounded(vertical ? height + 1 : width + 1);

            // Every third source is a view into a larger picture, with that one's pitch.
            fipImage source = randomPicture(width, height, bpp, random), larger, untouched;
            if (n % 3 == 0) {
                larger = randomPicture(width + 9, height + 2, bpp, random);
                QVERIFY(larger.createView(source, 9, 1, 9 + width, 1 + height));
            }
            QVERIFY(source.copySubImage(untouched, 0, 0, width, height));
            for (const ReflectionParams& params : {defaults, withControls, onFloor}) {
                if (&params == &onFloor) {
                    paintMargin(source, direction, margin, floor);
                    QVERIFY(source.copySubImage(untouched, 0, 0, width, height));
                }
                const QString context = QString::asprintf(
                    "case %d: %d x %d, rate %d, start %d, ge %d, opacity %d, gap %d, blur %d, "
                    "contact edge %d (margin %d), skew %d",
                    n, width, height, rate, start, ge, params.opacity, params.gap, params.blur,
                    int(params.contactEdge), margin, params.skew);
                fipImage fresh, self(untouched);
                fipImage& result = n % 2 ? reused : fresh;
                QVERIFY2(renderReflection(source, result, params), qPrintable(context));
                QVERIFY2(renderReflection(self, self, params), qPrintable(context));
                const fipImage expected = expectedResult(source, params);
                // The strip has rows: R = picture height (width to the side) * rate / 100.
                compared += rate * (vertical ? height : width) >= 100;
                const QImage::Format format = result.isTransparent()
                                                  ? QImage::Format_ARGB32_Premultiplied
                                                  : QImage::Format_RGB32;
                QStringList problems{compareImages(result, expected), compareImages(self, expected),
                                     nonZeroPadding(result), compareImages(source, untouched),
                                     compareImages(previewImage(result),
                                                   straightImage(result).convertToFormat(format))};
                problems.removeAll(QString());
                QVERIFY2(problems.isEmpty(), qPrintable(context + ": " + problems.join("; ")));
            }
        }
        QVERIFY2(compared > cases, "too few cases had a strip to compare");

        // Long fades, where a division by F is easiest to get wrong by one: F
        // from about 3000 (the vector path) to 33000 (beyond 16-bit arithmetic).
        for (int length : {2999, best ? 33001 : 0}) {
            if (length == 0)
                continue;
            const fipImage source =
                randomPicture(vertical ? 90 : length, vertical ? length : 90, bpp, random);
            const ReflectionParams params =
                makeParams(direction, 100, 0, 0, transparent, {255, 0, 128});
            fipImage result;
            QVERIFY(renderReflection(source, result, params));
            COMPARE_IMAGES(result, expectedResult(source, params));
        }
    }

    // Rows below a 7-wide picture reflected at the bottom, counted from the
    // picture's edge: the gap's G rows, then strip rows t = G .. (0 touching the
    // picture). 100 rows, rate 40, start 30: R = 40 rows, of which the outer
    // F = 28 fade.
    void fadeExamples_data()
    {
        QTest::addColumn<int>("height");
        QTest::addColumn<QRgb>("picture");
        QTest::addColumn<ReflectionParams>("params");
        QTest::addColumn<Rows>("rows");
        const QRgb black = grey(0), brown = qRgb(120, 80, 40);
        const auto brownAt = [](int alpha) { return qRgba(120, 80, 40, alpha); };
        const auto blackAt = [](int alpha) { return qRgba(0, 0, 0, alpha); };
        QTest::newRow("black to white: t 12 is the first faded row and stays")
            << 100 << black << makeParams(bottom, 40, 30, 0, false)
            << Rows{{0, black}, {12, black}, {25, grey(118)}, {39, grey(245)}};
        QTest::newRow("white to black: truncated towards zero")
            << 100 << grey(255) << makeParams(bottom, 40, 30, 0, false, {0, 0, 0})
            << Rows{{25, grey(137)}, {39, grey(10)}};
        QTest::newRow("transparency: alpha fades, colour bytes untouched")
            << 100 << brown << makeParams(bottom, 40, 30, 0, true)
            << Rows{{11, brown}, {12, brownAt(245)}, {25, brownAt(127)}, {39, brownAt(0)}};
        QTest::newRow("start 0, alpha: touching row keeps (R-1)/R")
            << 5 << black << makeParams(bottom, 100, 0, 0, true)
            << Rows{{0, blackAt(204)}, {2, blackAt(102)}, {4, blackAt(0)}};
        // Opacity 50: 255 * 50 / 100 = 127 first; the fade then goes on from there,
        // 127 + 13 * 128 / 28 = 186 and 127 + 27 * 128 / 28 = 250.
        QTest::newRow("opacity 50, black to white")
            << 100 << black << makeParams(bottom, 40, 30, 0, false, {255, 255, 255}, 50)
            << Rows{{0, grey(127)}, {12, grey(127)}, {25, grey(186)}, {39, grey(250)}};
        // 255 + (50 * -255) / 100 = 255 - 127 (not 128: truncated), then
        // 128 - 27 * 128 / 28 = 5.
        QTest::newRow("opacity 50, white to black")
            << 100 << grey(255) << makeParams(bottom, 40, 30, 0, false, {0, 0, 0}, 50)
            << Rows{{0, grey(128)}, {39, grey(5)}};
        QTest::newRow("opacity 0: pure background")
            << 100 << black << makeParams(bottom, 40, 30, 0, false, {10, 20, 30}, 0)
            << Rows{{0, qRgb(10, 20, 30)}, {39, qRgb(10, 20, 30)}};
        // 255 * 50 / 100 = 127, then 127 * 27 / 28 = 122.
        QTest::newRow("opacity 50, alpha")
            << 100 << brown << makeParams(bottom, 40, 30, 0, true, {255, 255, 255}, 50)
            << Rows{{0, brownAt(127)}, {11, brownAt(127)}, {12, brownAt(122)}, {39, brownAt(0)}};
        QTest::newRow("opacity 0, alpha: invisible")
            << 100 << brown << makeParams(bottom, 40, 30, 0, true, {255, 255, 255}, 0)
            << Rows{{0, brownAt(0)}, {12, brownAt(0)}};
        QTest::newRow("gap 3: background rows, then the strip as without it")
            << 100 << black << makeParams(bottom, 40, 30, 0, false, {10, 20, 30}, 100, 3)
            << Rows{{0, qRgb(10, 20, 30)},
                    {2, qRgb(10, 20, 30)},
                    {3, black},
                    {15, black},
                    {28, qRgb(13 * 10 / 28, 13 * 20 / 28, 13 * 30 / 28)},
                    {42, qRgb(27 * 10 / 28, 27 * 20 / 28, 27 * 30 / 28)}};
        QTest::newRow("gap 2, alpha: transparent rows")
            << 100 << brown << makeParams(bottom, 40, 30, 0, true, {255, 255, 255}, 100, 2)
            << Rows{{0, qRgba(0, 0, 0, 0)}, {1, qRgba(0, 0, 0, 0)}, {2, brown}, {41, brownAt(0)}};
        QTest::newRow("blur 30 leaves a plain picture plain")
            << 100 << brown << makeParams(bottom, 40, 100, 0, false, {255, 255, 255}, 100, 0, 30)
            << Rows{{0, brown}, {20, brown}, {39, brown}};
    }

    void fadeExamples()
    {
        QFETCH(int, height);
        QFETCH(QRgb, picture);
        QFETCH(ReflectionParams, params);
        QFETCH(Rows, rows);
        fipImage result;
        QVERIFY(renderReflection(filledPicture(7, height, 24, picture), result, params));
        QCOMPARE(int(result.getHeight()), height + params.gap + height * params.sizePercent / 100);
        for (auto row = rows.cbegin(); row != rows.cend(); ++row)
            for (unsigned x = 0; x < 7; ++x)
                QCOMPARE(pixelAt(result, x, unsigned(height + row.key())), row.value());
    }

    void blurSmoothsOuterEnd_data()
    {
        QTest::addColumn<bool>("transparent");
        QTest::newRow("colour") << false;
        QTest::newRow("transparency") << true;
    }

    // Columns alternate between opaque blue and, in transparency mode, fully
    // transparent red (black in colour mode): the picture and the touching
    // strip row stay as they are, the outer row is one even blend, and the
    // see-through red never tints the blue.
    void blurSmoothsOuterEnd()
    {
        QFETCH(bool, transparent);
        const QRgb blue = qRgb(0, 0, 255),
                   other = transparent ? qRgba(255, 0, 0, 0) : qRgb(0, 0, 0);
        const fipImage source = filledPicture(200, 100, 32, blue, other);
        fipImage result;
        const ReflectionParams params =
            makeParams(bottom, 40, 100, 0, transparent, {255, 255, 255}, 100, 0, 30);
        QVERIFY(renderReflection(source, result, params));
        for (unsigned x = 0; x < 200; ++x) {
            QCOMPARE(pixelAt(result, x, 99), pixelAt(source, x, 99));
            QCOMPARE(pixelAt(result, x, 100), pixelAt(source, x, 99));
            if (x < 80 || x >= 120) // near the edges the blend leans to the edge column
                continue;
            const QRgb outer = pixelAt(result, x, 139);
            QVERIFY2(qAbs(qAlpha(outer) - (transparent ? 128 : 255)) <= 1,
                     qPrintable(QString::number(x)));
            QVERIFY2(qAbs(qBlue(outer) - (transparent ? 255 : 128)) <= 1,
                     qPrintable(QString::number(x) + " " + QString::number(outer, 16)));
            QCOMPARE(qRed(outer), 0);
        }
    }

    // Settings outside their range act as the nearest meaningful value.
    void settingsOutOfRange()
    {
        QRandomGenerator random(21);
        const fipImage source = randomPicture(11, 13, 24, random);
        fipImage result, expected;
        QVERIFY(renderReflection(
            source, result, makeParams(bottom, 150, -30, -4, false, {300, -5, 9}, 130, -3, 900)));
        QVERIFY(renderReflection(
            source, expected,
            makeParams(bottom, 100, 0, 0, false, {255, 0, 9}, 100, 0, maximumBlur)));
        COMPARE_IMAGES(result, expected);
        QVERIFY(renderReflection(source, result, makeParams(left, -20, 130, 0, true, {}, -40)));
        QVERIFY(renderReflection(source, expected, makeParams(left, 0, 100, 0, true, {}, 0)));
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
        QVERIFY(!renderReflection(large, result, makeParams(bottom, 40, 30, 400'000'000, false)));
        QCOMPARE(result.accessPixels(), bits);
        COMPARE_IMAGES(result, before);
    }

    void resultReuse_data()
    {
        QTest::addColumn<int>("bpp");
        QTest::addColumn<QString>("previous"); // what the first result carries, or is
        QTest::addColumn<ReflectionParams>("second");
        QTest::addColumn<bool>("sameBitmap");
        const ReflectionParams atBottom = makeParams(bottom, 40, 30, 0, false);
        // Without kept memory every render has pixels of its own.
        QTest::newRow("then top in another colour")
            << 24 << "" << makeParams(top, 40, 70, 0, false, {10, 200, 30}) << false;
        QTest::newRow("then transparency, new depth")
            << 24 << "" << makeParams(bottom, 40, 30, 0, true) << false;
        QTest::newRow("then left, new size")
            << 24 << "" << makeParams(left, 40, 30, 0, false) << false;
        // A view has the right size but not its own pixels: not written through.
        QTest::newRow("a view into another picture") << 24 << "view" << atBottom << false;
        // The source's profile and resolution reach the result, its metadata
        // does not; a previous result's never do, and one with metadata is not written into.
        QTest::newRow("both carry metadata") << 32 << "metadata" << atBottom << false;
        QTest::newRow("both carry a resolution, no strip")
            << 32 << "resolution" << makeParams(left, 0, 30, 1, false) << false;
        // Kept memory takes results of any size and depth that fit it.
        QTest::newRow("kept memory, then left, new size")
            << 24 << "memory" << makeParams(left, 40, 30, 0, false) << true;
        QTest::newRow("kept memory, then transparency")
            << 24 << "memory" << makeParams(bottom, 40, 30, 0, true) << true;
        QTest::newRow("both carry a profile") << 24 << "profile" << atBottom << false;
    }

    // A picture in a memory file of the memory's, as the decoder leaves it: a
    // result laid around it where its lines are whole lines of the result,
    // apart elsewhere; the same pixels either way, the picture untouched.
    void resultAroundPicture_data()
    {
        QTest::addColumn<int>("bpp");
        QTest::addColumn<ReflectionParams>("params");
        QTest::addColumn<bool>("around");
        QTest::newRow("bottom, gap, extra lines, blur")
            << 24 << makeParams(bottom, 60, 30, 5, false, {255, 255, 255}, 100, 3) << true;
        QTest::newRow("top, 32 bits") << 32 << makeParams(top, 100, 50, 2, false) << true;
        QTest::newRow("top, transparency from 24 bits")
            << 24 << makeParams(top, 40, 30, 0, true) << false;
        QTest::newRow("left") << 24 << makeParams(left, 40, 30, 0, false) << false;
    }
    void resultAroundPicture()
    {
        QFETCH(int, bpp);
        QFETCH(ReflectionParams, params);
        QFETCH(bool, around);
        params.blur = 7;
        QRandomGenerator random(5);
        PixelMemory memory;
        fipImage source;
        // The files take turns, the previous one kept; a file's next picture
        // is smaller or larger than its last.
        const QSize sizes[] = {{333, 101}, {333, 101}, {201, 60}, {333, 180}, {333, 101}};
        for (const QSize size : sizes) {
            const fipImage picture = randomPicture(size.width(), size.height(), bpp, random);
            const std::size_t bytes = std::size_t(picture.getScanWidth()) * picture.getHeight();
            const int file = memory.pictureFile(source);
            QVERIFY(file >= 0);
            QCOMPARE(pwrite(file, picture.accessPixels(), bytes, 0), ssize_t(bytes));
            source = memory.pictureBitmap(file, size.width(), size.height(), bpp);
            QVERIFY(source.isValid() && memory.holds(source.accessPixels()));
            fipImage result;
            QVERIFY(renderReflection(source, result, params, &memory));
            COMPARE_IMAGES(result, expectedResult(picture, params));
            COMPARE_IMAGES(source, picture);
            const int strip = size.height() * params.sizePercent / 100;
            const int line =
                params.direction == Direction::Bottom ? strip + params.gap : params.extraLines;
            QCOMPARE(result.getScanLine(line) == source.accessPixels(), around);
        }
    }

    // A reused result equals a fresh render, every byte of it rewritten.
    void resultReuse()
    {
        QFETCH(int, bpp);
        QFETCH(QString, previous);
        QFETCH(ReflectionParams, second);
        QFETCH(bool, sameBitmap);
        QRandomGenerator random(9);
        fipImage source = randomPicture(31, 17, bpp, random);
        fipImage other = randomPicture(80, 40, bpp, random);
        const fipImage otherBefore(other);
        int decorated = 0; // the source's and the previous result's differ
        const auto decorate = [&](FIBITMAP* dib) {
            ++decorated;
            QByteArray profile(132 + 4 * decorated, char(decorated));
            if (previous == "metadata")
                FreeImage_SetMetadataKeyValue(FIMD_COMMENTS, dib, "Comment", "left over");
            else if (previous == "resolution") // one direction only: both must be looked at
                FreeImage_SetDotsPerMeterY(dib, 2323 + decorated);
            else if (previous == "profile")
                FreeImage_CreateICCProfile(dib, profile.data(), profile.size());
        };
        decorate(source);
        PixelMemory memory; // outlives the result over it
        PixelMemory* kept = previous == "memory" ? &memory : nullptr;
        fipImage result;
        QVERIFY(renderReflection(source, result, makeParams(bottom, 40, 30, 0, false), kept));
        if (previous == "view") {
            QVERIFY(other.createView(result, 0, 0, result.getWidth(), result.getHeight()));
        } else {
            decorate(result);
            std::memset(result.accessPixels(), 0xA5,
                        std::size_t(result.getScanWidth()) * result.getHeight());
        }
        const BYTE* bits = result.accessPixels();
        QVERIFY(renderReflection(source, result, second, kept));
        QCOMPARE(result.accessPixels() == bits, sameBitmap);
        COMPARE_IMAGES(result, expectedResult(source, second));
        QCOMPARE(nonZeroPadding(result), QString());
        QCOMPARE(carriedOver(result, source), QString());
        QCOMPARE(result.isTransparent(), fipImage(expectedResult(source, second)).isTransparent());
        COMPARE_IMAGES(other, otherBefore);
        if (kept) {
            // Outgrown while the result shows it; a copy owns its pixels.
            const fipImage large = randomPicture(900, 700, bpp, random);
            QVERIFY(renderReflection(large, result, second, kept));
            const fipImage copy(result);
            QVERIFY(copy.accessPixels() != result.accessPixels());
            COMPARE_IMAGES(copy, expectedResult(large, second));
        }
    }

    // Worked by hand: 200 * 100 / 255 = 78.4, 100 * 100 / 255 = 39.2,
    // 50 * 100 / 255 = 19.6. The pixmap takes the preview's pixels as they are.
    // Another depth is previewed as FreeImage converts it.
    void livePreviewPart_data()
    {
        QTest::addColumn<ReflectionParams>("params");
        QTest::addColumn<QRectF>("visible");
        QTest::newRow("bottom, strip in view")
            << makeParams(bottom, 60, 30, 0, false) << QRectF(40.5, 140, 90, 60);
        QTest::newRow("left, blurred, gap, across the picture's edge")
            << makeParams(left, 50, 20, 0, false, {9, 90, 200}, 70, 6, 17)
            << QRectF(20, 30, 150, 40);
        QTest::newRow("top, transparency, blurred to the edge")
            << makeParams(top, 80, 0, 0, true, {255, 255, 255}, 100, 3, 40)
            << QRectF(0, 0, 60, 230);
    }

    // At full scale the drag preview's part in view is the full render's, pixel
    // for pixel, however far the blur reaches across the cut.
    void livePreviewPart()
    {
        QFETCH(ReflectionParams, params);
        QFETCH(QRectF, visible);
        QRandomGenerator random(5);
        const fipImage source = randomPicture(200, 130, 32, random);
        fipImage full;
        QVERIFY(renderReflection(source, full, params));
        LivePreview live;
        const LivePreview::Frame frame = live.render(source, params, 1.0, visible);
        QCOMPARE(frame.resultSize, QSize(int(full.getWidth()), int(full.getHeight())));
        QVERIFY(frame.target.contains(visible));
        COMPARE_IMAGES(frame.image, previewImage(full).copy(frame.target.toRect()));
    }

    void preview()
    {
        QVERIFY(previewImage(fipImage()).isNull());
        for (const QRgb colour : {qRgba(200, 100, 50, 100), qRgb(200, 100, 50)}) {
            QImage shown = previewImage(filledPicture(33, 21, 32, colour));
            QCOMPARE(shown.pixel(32, 20), qAlpha(colour) == 255 ? colour : qRgba(78, 39, 20, 100));
            const uchar* bits = shown.constBits();
            QCOMPARE(QPixmap::fromImage(std::move(shown)).toImage().constBits(), bits);
        }
        fipImage palette = makeGradientPicture(9, 5, 24), standard;
        QVERIFY(palette.colorQuantize(FIQ_WUQUANT));
        standard = palette;
        QVERIFY(standard.convertTo24Bits());
        COMPARE_IMAGES(previewImage(palette),
                       straightImage(standard).convertToFormat(QImage::Format_RGB32));

        // Kept memory is filled again only when no image uses it any more.
        PreviewMemory memory;
        const fipImage first = makeGradientPicture(40, 30, 32);
        const QImage held = previewImage(first, &memory);
        QImage shown = previewImage(standard, &memory);
        const uchar* bits = shown.constBits();
        QVERIFY(held.constBits() != bits);
        COMPARE_IMAGES(held, previewImage(first));
        shown = QImage();
        QCOMPARE(previewImage(standard, &memory).constBits(), bits);
    }

    // A cut-out with 79 empty rows below the product, turned so that they lie
    // at the edge: with the contact edge the result is the 321 rows left of the
    // picture and then the strip, whose first row is the product's lowest row;
    // a picture that is all margin is reflected as it is.
    void contactEdge_data()
    {
        QTest::addColumn<Direction>("direction");
        QTest::addColumn<QString>("kind");
        for (Direction direction : {top, bottom, left, right})
            for (const char* kind : {"alpha", "white JPEG", "all margin"})
                QTest::addRow("direction %d, %s", int(direction), kind) << direction << kind;
    }
    void contactEdge()
    {
        QFETCH(Direction, direction);
        QFETCH(QString, kind);
        ReflectionParams params = makeParams(direction, 40, 20, 0, kind == "alpha");
        params.contactEdge = true;
        fipImage source = turned(cutOut(kind == "alpha" ? 32 : 24), direction, true);
        int kept = 321, extent = 400;
        if (kind == "all margin") {
            source = filledPicture(90, 70, 32, qRgba(10, 20, 30, 0));
            kept = extent = direction == top || direction == bottom ? 70 : 90;
        } else if (kind == "white JPEG") {
            // JPEG's ringing leaves the rows next to the product off white, up
            // to the end of the block of 16 rows (colour is kept at half
            // resolution) that holds the product's edge: rows 320..335.
            const QTemporaryDir dir;
            const QString file = dir.path() + "/cut-out.jpg";
            fipImage loaded;
            QVERIFY(savePicture(source, file) && loadPicture(file, loaded));
            source = loaded;
            kept = 400 - oracle::ContactMargin(source, int(direction));
            QVERIFY2(kept >= 321 && kept <= 336, qPrintable(QString::number(kept)));
        }
        QCOMPARE(contactMargin(source, direction, params.transparent), extent - kept);
        fipImage result;
        QVERIFY(renderReflection(source, result, params));
        COMPARE_IMAGES(result, expectedResult(source, params));
        QCOMPARE(reflectionResultSize(source, params),
                 QSize(int(result.getWidth()), int(result.getHeight())));
        const fipImage upright = turned(result, direction), picture = turned(source, direction);
        QCOMPARE(int(upright.getHeight()), kept + kept * 40 / 100);
        // Rows counted from the top: the strip's first rows repeat the last kept ones.
        const auto row = [](const fipImage& image, int y) {
            const unsigned line = image.getHeight() - 1 - unsigned(y);
            return QByteArray(reinterpret_cast<const char*>(image.getScanLine(line)),
                              int(image.getLine()));
        };
        for (int y : {0, kept - 1})
            QCOMPARE(row(upright, y), row(picture, y));
        for (int t : {0, 1, 5}) // unfaded
            QCOMPARE(row(upright, kept + t), row(picture, kept - 1 - t));
    }

    // A skew moves the strip's outer end along the edge: the result grows by
    // |skew|, the picture and the strip's first line stay as without it, the
    // outer line is it shifted by the skew, and the other sign is the mirror
    // image of it.
    void skewedStrip_data()
    {
        QTest::addColumn<Direction>("direction");
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<int>("skew");
        for (Direction direction : {top, bottom, left, right})
            for (bool transparent : {false, true})
                for (int skew : {17, -17})
                    QTest::addRow("direction %d, %s, skew %d", int(direction),
                                  transparent ? "transparency" : "colour", skew)
                        << direction << transparent << skew;
    }
    void skewedStrip()
    {
        QFETCH(Direction, direction);
        QFETCH(bool, transparent);
        QFETCH(int, skew);
        QRandomGenerator random(quint32(int(direction) * 10 + transparent));
        const fipImage source = randomPicture(53, 41, transparent ? 32 : 24, random);
        ReflectionParams params = makeParams(direction, 60, 50, 0, transparent, {40, 200, 90});
        fipImage plain, skewed, mirrored;
        QVERIFY(renderReflection(source, plain, params));
        params.skew = skew;
        QVERIFY(renderReflection(source, skewed, params));
        COMPARE_IMAGES(skewed, expectedResult(source, params));
        // Everything seen with the edge at the bottom, where the skew runs
        // rightwards, except after the right edge's turn.
        const int along = direction == right ? -skew : skew;
        const fipImage before = turned(plain, direction), after = turned(skewed, direction);
        const int W = int(before.getWidth()), H = int(before.getHeight());
        QCOMPARE(int(after.getWidth()), W + 17);
        QCOMPARE(int(after.getHeight()), H);
        const int bytes = int(after.getBitsPerPixel()) / 8;
        const auto part = [&](const fipImage& image, int y, int x) {
            return QByteArray(
                reinterpret_cast<const char*>(image.getScanLine(unsigned(H - 1 - y))) + x * bytes,
                W * bytes);
        };
        const int base = std::max(0, -along);
        const int pictureHeight = direction == top || direction == bottom ? 41 : 53;
        for (int y : {0, pictureHeight - 1, pictureHeight}) // picture, then the strip's first line
            QCOMPARE(part(after, y, base), part(before, y, 0));
        QCOMPARE(part(after, H - 1, base + along), part(before, H - 1, 0));
        // The other sign: the mirror image of the mirrored picture's result.
        fipImage flipped(source);
        direction == top || direction == bottom ? flipped.flipHorizontal() : flipped.flipVertical();
        params.skew = -skew;
        QVERIFY(renderReflection(flipped, mirrored, params));
        direction == top || direction == bottom ? mirrored.flipHorizontal()
                                                : mirrored.flipVertical();
        COMPARE_IMAGES(mirrored, skewed);
    }

    void markedCorner_data()
    {
        QTest::addColumn<Direction>("direction");
        QTest::addColumn<QPoint>("mark");   // where the picture's top-left pixel lands
        QTest::addColumn<QPoint>("mirror"); // and its reflection
        // 5 x 3, strip as large as the picture: 3 rows or 5 columns.
        QTest::newRow("top") << top << QPoint(0, 3) << QPoint(0, 2);
        QTest::newRow("bottom") << bottom << QPoint(0, 0) << QPoint(0, 5);
        QTest::newRow("left") << left << QPoint(5, 0) << QPoint(4, 0);
        QTest::newRow("right") << right << QPoint(0, 0) << QPoint(9, 0);
    }

    // One marked corner, no fade: only the mark and its mirror image differ
    // from the rest, each where the direction puts it.
    void markedCorner()
    {
        QFETCH(Direction, direction);
        QFETCH(QPoint, mark);
        QFETCH(QPoint, mirror);
        const QRgb red = qRgb(255, 0, 0), grey = qRgb(90, 90, 90);
        fipImage picture = filledPicture(5, 3, 24, grey);
        RGBQUAD corner{0, 0, 255, 255};
        picture.setPixelColor(0, 2, &corner); // scan line 2 is the top row
        fipImage result;
        QVERIFY(renderReflection(picture, result, makeParams(direction, 100, 100, 0, false)));
        QSet<QPoint> marked;
        for (int y = 0; y < int(result.getHeight()); ++y)
            for (int x = 0; x < int(result.getWidth()); ++x)
                if (pixelAt(result, unsigned(x), unsigned(y)) != grey)
                    marked << QPoint(x, y);
        QCOMPARE(marked, (QSet<QPoint>{mark, mirror}));
        QCOMPARE(pixelAt(result, unsigned(mirror.x()), unsigned(mirror.y())), red);
    }
};

QTEST_MAIN(TestRenderer)
#include "tst_renderer.moc"
