// Opening, previewing and saving through the window, with the real dialogs
// driven by the test and real files written by FreeImage.

#include "app/globals.h"
#include "imaging/image_io.h"
#include "mainwindow/glassmere.h"
#include "support/dialogdriver.h"
#include "support/testpictures.h"

#include <QFileDialog>
#include <QGraphicsPixmapItem>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

class GlassmereTestAccess {
public:
    static Ui::GlassmereClass& ui(Glassmere& w) { return w.ui; }
    static fipImage& source(Glassmere& w) { return w.sourceImage; }
    static fipImage& result(Glassmere& w) { return w.resultImage; }
    static QGraphicsPixmapItem* item(Glassmere& w) { return w.pixmapItem; }
};
using A = GlassmereTestAccess;

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Pixel bytes of the picture, without scan-line padding.
QByteArray pixelBytes(const fipImage& picture)
{
    QByteArray bytes;
    const unsigned rowBytes = picture.getLine();
    for (unsigned y = 0; y < picture.getHeight(); ++y)
        bytes.append(reinterpret_cast<const char*>(picture.getScanLine(y)), int(rowBytes));
    return bytes;
}

fipImage palettisedWithTransparency()
{
    fipImage picture(FIT_BITMAP, 13, 9, 8);
    RGBQUAD* palette = picture.getPalette();
    for (int i = 0; i < 256; ++i)
        palette[i] = RGBQUAD{BYTE(i), BYTE(255 - i), BYTE(i / 2), 0};
    for (unsigned y = 0; y < 9; ++y)
        for (unsigned x = 0; x < 13; ++x)
            picture.getScanLine(y)[x] = BYTE(x * 19 + y);
    BYTE table[256];
    std::fill(std::begin(table), std::end(table), BYTE(255));
    table[0] = 0; // index 0 fully transparent
    picture.setTransparencyTable(table, 256);
    return picture;
}

} // namespace

class TestImaging : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void openingNormalisesEveryKindOfPicture_data();
    void openingNormalisesEveryKindOfPicture();
    void openDialogOffersTheImageFilter();
    void labelsDescribeTheFile_data();
    void labelsDescribeTheFile();
    void resultSizeAndDepth_data();
    void resultSizeAndDepth();
    void cancelledDialogsChangeNothing();
    void failedLoadKeepsThePreviousPicture();

    void previewShowsTheResultUprightInTrueColours();
    void previewShowsTheCheckerboardUnderTransparency();
    void opaque32BitResultIsShown();
    void zoomAndFit();

    void saveFilterFollowsThePicture_data();
    void saveFilterFollowsThePicture();
    void savingInEveryOfferedFormat_data();
    void savingInEveryOfferedFormat();
    void refusedSaveLeavesTheExistingFileIntact();
    void savingWithNothingLoadedFails();

private:
    QTemporaryDir folder;
    QString path(const QString& name) const { return folder.filePath(name); }
    QString writeGradient(const QString& name, unsigned bpp = 24, unsigned w = 31, unsigned h = 20);
    bool open(Glassmere& window, const QString& file, QString* failure = nullptr);
    QString save(Glassmere& window, const QString& file, QString* selectedFilter = nullptr,
                 QString* detail = nullptr);
};

void TestImaging::initTestCase()
{
    QVERIFY(folder.isValid());
    applicationFolder = folder.path();
    skinFile = folder.filePath("no-skin-here");
}

QString TestImaging::writeGradient(const QString& name, unsigned bpp, unsigned w, unsigned h)
{
    fipImage picture = makeGradientPicture(w, h, bpp);
    writePicture(picture, path(name));
    return path(name);
}

// Opens `file` through the window's button and the real file dialog; answers a
// failure box if one comes and reports its text.
bool TestImaging::open(Glassmere& window, const QString& file, QString* failure)
{
    DialogDriver driver;
    driver.expect<QFileDialog>([&](QFileDialog* dialog) { acceptFileDialog(dialog, file); });
    QString boxText;
    QTimer watcher;
    watcher.setInterval(10);
    connect(&watcher, &QTimer::timeout, [&] {
        if (auto* box = modalInItsLoop<QMessageBox>()) {
            boxText = box->windowTitle() + "|" + box->text() + "|" + box->detailedText();
            box->button(QMessageBox::Ok)->click();
        }
    });
    watcher.start();
    A::ui(window).btAddPic->click();
    watcher.stop();
    if (failure)
        *failure = boxText;
    return driver.answered == 1 && boxText.isEmpty();
}

// Saves through the window's button and the real save dialog; returns "title|text" of the box.
QString TestImaging::save(Glassmere& window, const QString& file, QString* selectedFilter,
                          QString* detail)
{
    DialogDriver driver;
    driver.expect<QFileDialog>([&](QFileDialog* dialog) {
        if (selectedFilter)
            *selectedFilter = dialog->selectedNameFilter();
        dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
        acceptFileDialog(dialog, file);
    });
    QString box;
    driver.expect<QMessageBox>([&](QMessageBox* message) {
        box = message->windowTitle() + "|" + message->text();
        if (detail)
            *detail = message->detailedText();
        message->button(QMessageBox::Ok)->click();
    });
    A::ui(window).btSavePic->click();
    return box;
}

void TestImaging::openingNormalisesEveryKindOfPicture_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<unsigned>("depth");
    QTest::addColumn<bool>("transparent");

    auto add = [this](const char* name, fipImage picture, unsigned depth, bool transparent,
                      int flags = 0) {
        writePicture(picture, path(name), flags);
        QTest::newRow(name) << path(name) << depth << transparent;
    };
    add("rgb.png", makeGradientPicture(13, 9, 24), 24, false);
    add("rgba.png", makeGradientPicture(13, 9, 32), 32, true);
    add("palette-trns.png", palettisedWithTransparency(), 32, true);
    fipImage grey16(FIT_UINT16, 13, 9, 16);
    for (unsigned y = 0; y < 9; ++y)
        for (unsigned x = 0; x < 13; ++x)
            reinterpret_cast<WORD*>(grey16.getScanLine(y))[x] = WORD(x * 5000 + y);
    add("grey16.png", grey16, 24, false);
    fipImage rgb16(FIT_RGB16, 13, 9, 48);
    add("rgb16.tif", rgb16, 24, false);
    fipImage rgba16(FIT_RGBA16, 13, 9, 64);
    for (unsigned y = 0; y < 9; ++y)
        for (unsigned x = 0; x < 13; ++x)
            reinterpret_cast<FIRGBA16*>(rgba16.getScanLine(y))[x] = {WORD(x * 4000), 100, 2000,
                                                                     WORD(y * 7000)};
    add("rgba16.png", rgba16, 32, true);
    fipImage grey8 = makeGradientPicture(13, 9, 24);
    grey8.convertToGrayscale();
    add("grey8.bmp", grey8, 24, false);
    fipImage mono = makeGradientPicture(13, 9, 24);
    mono.threshold(128);
    add("mono.bmp", mono, 24, false);
    add("photo.jpg", makeGradientPicture(13, 9, 24), 24, false);
    fipImage gif = makeGradientPicture(13, 9, 24);
    gif.colorQuantize(FIQ_WUQUANT);
    add("quantised.gif", gif, 24, false);
    add("picture.tiff", makeGradientPicture(13, 9, 24), 24, false);
    add("alpha.tga", makeGradientPicture(13, 9, 32), 32, true);
    fipImage hdr(FIT_RGBF, 13, 9, 96);
    for (unsigned y = 0; y < 9; ++y)
        for (unsigned x = 0; x < 13; ++x)
            reinterpret_cast<FIRGBF*>(hdr.getScanLine(y))[x] = {x * 0.5f, y * 0.1f, 3.0f};
    add("light.hdr", hdr, 24, false);
}

void TestImaging::openingNormalisesEveryKindOfPicture()
{
    QFETCH(QString, file);
    QFETCH(unsigned, depth);
    QFETCH(bool, transparent);
    Glassmere window;
    QString failure;
    QVERIFY2(open(window, file, &failure), qPrintable(failure));
    const fipImage& source = A::source(window);
    QCOMPARE(source.getImageType(), FIT_BITMAP);
    QCOMPARE(source.getBitsPerPixel(), depth);
    QCOMPARE(bool(source.isTransparent()), transparent);
    QCOMPARE(source.getWidth(), 13u);
    QCOMPARE(A::ui(window).lbDim->text(), QString("13*9"));
    // Rendered with the start-up settings (bottom, 40 %) and shown.
    QCOMPARE(A::result(window).getHeight(), 9u + 3u);
    QVERIFY(A::item(window));
    QCOMPARE(A::item(window)->pixmap().size(), QSize(13, 12));
}

void TestImaging::openDialogOffersTheImageFilter()
{
    Glassmere window;
    DialogDriver driver;
    QStringList filters;
    QString caption;
    driver.expect<QFileDialog>([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        caption = dialog->windowTitle();
        dialog->reject();
    });
    A::ui(window).btAddPic->click();
    QCOMPARE(caption, QString("Load a picture"));
    // The filter text ends in a line feed, which the dialog shows as no further entry.
    filters.removeAll(QString());
    QCOMPARE(filters, QStringList{"All Images(*.bmp *.jpg *.jpeg *jpe *.png *.ico *.gif *.tiff "
                                  "*.tif *.tga *.pcx *.wbmp *.psd *.mng *.jng *.raw *.ras)"});
}

void TestImaging::labelsDescribeTheFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<QString>("shownName");
    QTest::addColumn<QString>("shownType");
    QTest::addColumn<QString>("shownSize");
    QTest::newRow("plain") << "photo.png" << qint64(2048) << "photo"
                           << "PNG"
                           << "2KB";
    QTest::newRow("half a kilobyte") << "half.png" << qint64(512) << "half"
                                     << "PNG"
                                     << "0.5KB";
    QTest::newRow("five digits") << "big.png" << qint64(123456) << "big"
                                 << "PNG"
                                 << "120.56KB";
    QTest::newRow("dots in the name") << "a.b.png" << qint64(2048) << "a.b"
                                      << "PNG"
                                      << "2KB";
    QTest::newRow("suffix twice") << "x.png.png" << qint64(2048) << "x"
                                  << "PNG"
                                  << "2KB";
    QTest::newRow("upper case") << "PHOTO.PNG" << qint64(2048) << "PHOTO"
                                << "PNG"
                                << "2KB";
    QTest::newRow("no dot") << "noext" << qint64(2048) << "noext"
                            << ""
                            << "2KB";
    QTest::newRow("trailing dot") << "a.b." << qint64(2048) << "ab"
                                  << ""
                                  << "2KB";
}

void TestImaging::labelsDescribeTheFile()
{
    QFETCH(QString, name);
    QFETCH(qint64, fileSize);
    QFETCH(QString, shownName);
    QFETCH(QString, shownType);
    QFETCH(QString, shownSize);
    // A PNG padded after its end chunk has an exact size and still decodes.
    const QString file = path(name);
    QFile::remove(file);
    QVERIFY(QFile::rename(writeGradient("label-source.png", 24, 6, 4), file));
    QFile padded(file);
    QVERIFY(padded.open(QIODevice::Append));
    QVERIFY(padded.size() < fileSize);
    padded.write(QByteArray(int(fileSize - padded.size()), '\0'));
    padded.close();

    Glassmere window;
    QVERIFY(open(window, file));
    QCOMPARE(A::ui(window).lbName->text(), shownName);
    QCOMPARE(A::ui(window).lbType->text(), shownType);
    QCOMPARE(A::ui(window).lbSize->text(), shownSize);
    QCOMPARE(A::ui(window).lbDim->text(), QString("6*4"));
}

void TestImaging::resultSizeAndDepth_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("transparency");
    QTest::addColumn<unsigned>("sourceDepth");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<unsigned>("depth");
    for (bool transparency : {false, true}) {
        for (unsigned sourceDepth : {24u, 32u}) {
            const unsigned depth = transparency ? 32 : sourceDepth;
            const QString mode = QString(transparency ? "transparency" : "colour") +
                                 QString(", %1-bit").arg(sourceDepth);
            QTest::newRow(qPrintable("bottom, " + mode))
                << "checkBoxBottom" << transparency << sourceDepth << QSize(31, 28) << depth;
            QTest::newRow(qPrintable("top, " + mode))
                << "checkBoxTop" << transparency << sourceDepth << QSize(31, 28) << depth;
            QTest::newRow(qPrintable("left, " + mode))
                << "checkBoxLeft" << transparency << sourceDepth << QSize(43, 20) << depth;
            QTest::newRow(qPrintable("right, " + mode))
                << "checkBoxRight" << transparency << sourceDepth << QSize(43, 20) << depth;
        }
    }
}

void TestImaging::resultSizeAndDepth()
{
    QFETCH(QString, box);
    QFETCH(bool, transparency);
    QFETCH(unsigned, sourceDepth);
    QFETCH(QSize, size);
    QFETCH(unsigned, depth);
    Glassmere window;
    QVERIFY(open(window, writeGradient(QString("g%1.png").arg(sourceDepth), sourceDepth)));
    window.findChild<QCheckBox*>(box)->setChecked(true);
    A::ui(window).cbTransparent->setChecked(transparency);
    const fipImage& result = A::result(window);
    QCOMPARE(QSize(int(result.getWidth()), int(result.getHeight())), size);
    QCOMPARE(result.getBitsPerPixel(), depth);
    QCOMPARE(A::source(window).getBitsPerPixel(), sourceDepth); // the source is never changed
}

void TestImaging::cancelledDialogsChangeNothing()
{
    Glassmere window;
    QVERIFY(open(window, writeGradient("keep.png")));
    const QByteArray before = pixelBytes(A::result(window));
    const QString name = A::ui(window).lbName->text();

    DialogDriver driver;
    driver.expect<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    A::ui(window).btAddPic->click();
    driver.expect<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    A::ui(window).btSavePic->click();
    QCOMPARE(driver.answered, 2);
    QCOMPARE(driver.timedOut, 0);
    QCOMPARE(A::ui(window).lbName->text(), name);
    QCOMPARE(pixelBytes(A::result(window)), before);
}

void TestImaging::failedLoadKeepsThePreviousPicture()
{
    Glassmere window;
    QVERIFY(open(window, writeGradient("good.png", 24, 31, 20)));
    const QString labels = A::ui(window).lbName->text() + A::ui(window).lbDim->text();

    // Recognised as PNG by its signature, but cut short: decoding fails.
    QFile broken(path("broken.png"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write(fileBytes(path("good.png")).left(60));
    broken.close();

    QString failure;
    QVERIFY(!open(window, path("broken.png"), &failure));
    QVERIFY2(failure.startsWith("Failure|Image loads error.|"), qPrintable(failure));
    QVERIFY(failure.size() > QString("Failure|Image loads error.|").size()); // the reason as detail
    QCOMPARE(A::ui(window).lbName->text() + A::ui(window).lbDim->text(), labels);

    // A later settings change still renders the previous picture.
    A::ui(window).checkBoxLeft->setChecked(true);
    QCOMPARE(A::result(window).getWidth(), 31u + 12u);
    QCOMPARE(A::result(window).getHeight(), 20u);
}

void TestImaging::previewShowsTheResultUprightInTrueColours()
{
    // Top half red, bottom half blue: the reflection below repeats the blue.
    fipImage picture(FIT_BITMAP, 40, 40, 24);
    for (unsigned y = 0; y < 40; ++y) {
        BYTE* line = picture.getScanLine(y);
        for (unsigned x = 0; x < 40; ++x) {
            const bool top = y >= 20; // scan line 0 is the bottom row
            line[3 * x + FI_RGBA_RED] = top ? 255 : 0;
            line[3 * x + FI_RGBA_GREEN] = 0;
            line[3 * x + FI_RGBA_BLUE] = top ? 0 : 255;
        }
    }
    writePicture(picture, path("redblue.bmp"));
    Glassmere window;
    window.resize(827, 627);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(open(window, path("redblue.bmp")));
    // The whole window, so the checkerboard that the view's container lays is in the picture.
    QGraphicsView* view = A::ui(window).graphicsView;
    const QImage shown = window.grab().toImage();
    const QPoint origin = view->viewport()->mapTo(&window, view->mapFromScene(QPointF(0, 0)));
    QCOMPARE(QColor(shown.pixel(origin + QPoint(20, 5))), QColor(255, 0, 0));
    QCOMPARE(QColor(shown.pixel(origin + QPoint(20, 35))), QColor(0, 0, 255));
    QCOMPARE(QColor(shown.pixel(origin + QPoint(20, 42))), QColor(0, 0, 255)); // unfaded mirror
}

void TestImaging::previewShowsTheCheckerboardUnderTransparency()
{
    Glassmere window;
    window.resize(827, 627);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    fipImage black(FIT_BITMAP, 64, 64, 24); // all zero: black
    writePicture(black, path("black.bmp"));
    QVERIFY(open(window, path("black.bmp")));
    A::ui(window).cbTransparent->setChecked(true);
    A::ui(window).refDepth->setValue(0); // the whole strip fades
    A::ui(window).txtSize->setText("100");
    Q_EMIT A::ui(window).refSize->sliderReleased();

    // The whole window, so the checkerboard that the view's container lays is in the picture.
    QGraphicsView* view = A::ui(window).graphicsView;
    const QImage shown = window.grab().toImage();
    const QPoint origin = view->viewport()->mapTo(&window, view->mapFromScene(QPointF(0, 0)));
    QCOMPARE(QColor(shown.pixel(origin + QPoint(10, 10))), QColor(0, 0, 0));
    // The outer rows are fully transparent: the checkerboard's white and grey show.
    QSet<QRgb> outer;
    for (int x = 0; x < 64; ++x)
        outer.insert(shown.pixel(origin + QPoint(x, 127)));

    QVERIFY(outer.contains(qRgb(255, 255, 255)));
    QVERIFY(outer.contains(qRgb(204, 204, 204)));
}

void TestImaging::opaque32BitResultIsShown()
{
    Glassmere window;
    QVERIFY(open(window, writeGradient("opaque.png", 24, 30, 10)));
    A::ui(window).txtDepth->setText("100"); // nothing fades: all alpha stays 255
    A::ui(window).cbTransparent->setChecked(true);
    QCOMPARE(A::result(window).getBitsPerPixel(), 32u);
    QVERIFY(!A::result(window).isTransparent());
    A::ui(window).checkBoxLeft->setChecked(true);
    QCOMPARE(A::item(window)->pixmap().size(), QSize(42, 10)); // the new result, not the old one
}

void TestImaging::zoomAndFit()
{
    Glassmere window;
    window.resize(827, 627);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QGraphicsView* view = A::ui(window).graphicsView;
    auto& ui = A::ui(window);
    ui.pbFit->click(); // nothing shown yet: harmless
    ui.pbZoomIn->click();
    ui.pbZoomIn->click();
    ui.pbZoomIn->click();
    QCOMPARE(view->transform().m11(), 1.2 * 1.2 * 1.2);
    ui.pbRawSize->click();
    ui.pbZoomIn->click();
    ui.pbZoomOut->click();
    QVERIFY(qAbs(view->transform().m11() - 0.96) < 1e-12);

    // A small result keeps the user's zoom on Fit; opening resets it.
    QVERIFY(open(window, writeGradient("small.png", 24, 20, 10)));
    QCOMPARE(view->transform().m11(), 1.0);
    ui.pbZoomIn->click();
    ui.pbFit->click();
    QCOMPARE(view->transform().m11(), 1.2);

    // A result larger than the view is fitted when opened, keeping its aspect ratio.
    QVERIFY(open(window, writeGradient("large.png", 24, 2000, 500)));
    QVERIFY(view->transform().m11() < 1.0);
    QCOMPARE(view->transform().m11(), view->transform().m22());
}

void TestImaging::saveFilterFollowsThePicture_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<unsigned>("bpp");
    QTest::addColumn<bool>("transparency");
    QTest::addColumn<int>("depth");
    QTest::addColumn<QString>("filter");
    QTest::newRow("photo.JPG") << "photo.JPG" << 24u << false << 30 << "jpg(*.jpg)";
    QTest::newRow("scan.tif") << "scan.tif" << 24u << false << 30 << "tif(*.tif)";
    QTest::newRow("alpha png") << "alpha.bmp" << 32u << false << 30 << "png(*.png)";
    QTest::newRow("transparency mode") << "photo2.JPG" << 24u << true << 30 << "png(*.png)";
    QTest::newRow("transparency at depth 100 follows the type")
        << "photo3.JPG" << 24u << true << 100 << "jpg(*.jpg)";
    QTest::newRow("type not offered selects the first")
        << "picture.psd" << 24u << false << 30 << "png(*.png)";
}

void TestImaging::saveFilterFollowsThePicture()
{
    QFETCH(QString, file);
    QFETCH(unsigned, bpp);
    QFETCH(bool, transparency);
    QFETCH(int, depth);
    QFETCH(QString, filter);
    // A psd cannot be written by FreeImage: a PNG under that name still opens.
    const QString written = writeGradient(file.endsWith(".psd") ? "psd-source.png" : file, bpp);
    if (file.endsWith(".psd"))
        QVERIFY(QFile::copy(written, path(file)) || QFile::exists(path(file)));
    Glassmere window;
    QVERIFY(open(window, path(file)));
    A::ui(window).txtDepth->setText(QString::number(depth));
    A::ui(window).cbTransparent->setChecked(transparency);

    QString selected;
    DialogDriver driver;
    QStringList filters;
    driver.expect<QFileDialog>([&](QFileDialog* dialog) {
        selected = dialog->selectedNameFilter();
        filters = dialog->nameFilters();
        QCOMPARE(dialog->windowTitle(), QString("Save Image"));
        dialog->reject();
    });
    A::ui(window).btSavePic->click();
    QCOMPARE(selected, filter);
    QCOMPARE(filters.size(), 26);
    QCOMPARE(filters.first(), QString("png(*.png)"));
    QCOMPARE(filters.last(), QString("raw(*.raw)"));
}

void TestImaging::savingInEveryOfferedFormat_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("transparency");
    const QStringList extensions = {"png", "jpg", "jpeg", "jpe", "bmp", "ico", "gif", "tiff", "tif",
                                    "tga", "pcx", "wbmp", "wmf", "emf", "jp2", "j2c", "jpc",  "pgx",
                                    "pnm", "pgm", "ppm",  "ras", "mng", "jng", "ska", "raw"};
    for (bool transparency : {false, true})
        for (const QString& extension : extensions)
            QTest::newRow(qPrintable(extension + (transparency ? ", 32-bit" : ", 24-bit")))
                << extension << transparency;
}

void TestImaging::savingInEveryOfferedFormat()
{
    QFETCH(QString, extension);
    QFETCH(bool, transparency);
    Glassmere window;
    QVERIFY(open(window, writeGradient("source.png", 24, 96, 64)));
    A::ui(window).cbTransparent->setChecked(transparency);
    fipImage& result = A::result(window);

    // The reference is the library writing the same result straight to a fresh file.
    const QString reference = path("reference." + extension);
    QFile::remove(reference);
    const bool libraryWrites = result.save(QFile::encodeName(reference).constData());

    const QString target = path("saved." + extension);
    QFile::remove(target);
    const QString box = save(window, target);
    QCOMPARE(QDir(folder.path()).entryList({".saved*"}, QDir::Hidden | QDir::Files),
             QStringList()); // no temporary left behind
    if (!libraryWrites) {
        QCOMPARE(box, QString("Failure|Failed to save image."));
        QVERIFY(!QFile::exists(target));
        return;
    }
    QCOMPARE(box, QString("Success|Image has been saved."));
    QCOMPARE(fileBytes(target), fileBytes(reference));
    QVERIFY(QFileInfo(target).permissions() & QFile::ReadOther);

    static const QStringList lossless = {"png", "bmp", "tiff", "tif", "tga", "ppm"};
    if (lossless.contains(extension)) {
        fipImage reloaded;
        QVERIFY(reloaded.load(QFile::encodeName(target).constData()));
        QCOMPARE(reloaded.getBitsPerPixel(), result.getBitsPerPixel());
        QCOMPARE(reloaded.getWidth(), result.getWidth());
        QVERIFY(pixelBytes(reloaded) == pixelBytes(result));
    }
}

void TestImaging::refusedSaveLeavesTheExistingFileIntact()
{
    const QString photo = writeGradient("holiday.jpg", 24, 40, 30);
    const QByteArray original = fileBytes(photo);
    Glassmere window;
    QVERIFY(open(window, photo));
    A::ui(window).cbTransparent->setChecked(true); // a 32-bit result JPEG cannot take
    QString detail;
    QCOMPARE(save(window, photo, nullptr, &detail), QString("Failure|Failed to save image."));
    QVERIFY(!detail.isEmpty());
    QCOMPARE(fileBytes(photo), original);
    QCOMPARE(QDir(folder.path()).entryList({".holiday*"}, QDir::Hidden | QDir::Files),
             QStringList());

    // Once the result suits the format, the same name is replaced.
    A::ui(window).cbTransparent->setChecked(false);
    QCOMPARE(save(window, photo), QString("Success|Image has been saved."));
    QVERIFY(fileBytes(photo) != original);
    fipImage reloaded;
    QVERIFY(reloaded.load(QFile::encodeName(photo).constData()));
    QCOMPARE(reloaded.getHeight(), 42u);
}

void TestImaging::savingWithNothingLoadedFails()
{
    Glassmere window;
    QString selected;
    const QString target = path("nothing.png");
    QCOMPARE(save(window, target, &selected), QString("Failure|Failed to save image."));
    QCOMPARE(selected, QString("png(*.png)")); // "(*.)" matches no entry: the first is shown
    QVERIFY(!QFile::exists(target));
}

QTEST_MAIN(TestImaging)
#include "tst_imaging.moc"
