// Opening, previewing and saving through the window, with the real dialogs
// driven by the test and real files written by FreeImage.

#include "app/globals.h"
#include "imaging/image_io.h"
#include "mainwindow/glassmere.h"
#include "support/dialogdriver.h"
#include "support/imagecompare.h"
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

// The window as shown, and where the scene's origin lies in it. The whole
// window, so the checkerboard that the view's container lays is in the picture.
QImage shownWindow(Glassmere& window, QPoint& origin)
{
    QGraphicsView* view = A::ui(window).graphicsView;
    origin = view->viewport()->mapTo(&window, view->mapFromScene(QPointF(0, 0)));
    return window.grab().toImage();
}

} // namespace

class TestImaging : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    QString path(const QString& name) const { return folder.filePath(name); }

    QString writeGradient(const QString& name, unsigned bpp = 24, unsigned w = 31, unsigned h = 20)
    {
        fipImage picture = makeGradientPicture(w, h, bpp);
        writePicture(picture, path(name));
        return path(name);
    }

    // Presses `button` (open or save), answers its file dialog with `file` and
    // the box that may follow; returns "title|text|details" of the box, "" when none came.
    QString through(QAbstractButton* button, const QString& file)
    {
        DialogDriver driver;
        driver.expect<QFileDialog>([&](QFileDialog* dialog) {
            dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
            acceptFileDialog(dialog, file);
        });
        QString box;
        driver.expect<QMessageBox>([&](QMessageBox* message) {
            box = message->windowTitle() + "|" + message->text() + "|" + message->detailedText();
            message->button(QMessageBox::Ok)->click();
        });
        button->click();
        return driver.answered ? box : "no file dialog";
    }
    bool open(Glassmere& window, const QString& file)
    {
        return through(A::ui(window).btAddPic, file).isEmpty();
    }

    // Presses a button whose file dialog the test only looks at, then rejects.
    template <class Look> void lookAtDialog(QAbstractButton* button, Look look)
    {
        DialogDriver driver;
        driver.expect<QFileDialog>([&](QFileDialog* dialog) {
            look(dialog);
            dialog->reject();
        });
        button->click();
        QCOMPARE(driver.answered, 1);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(folder.isValid());
        applicationFolder = folder.path();
        skinFile = folder.filePath("no-skin-here");
    }

    void openingNormalisesEveryKindOfPicture_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<unsigned>("depth");
        QTest::addColumn<bool>("transparent");

        auto add = [this](const char* name, fipImage picture, unsigned depth, bool transparent) {
            writePicture(picture, path(name));
            QTest::newRow(name) << path(name) << depth << transparent;
        };
        // Pixel values do not matter here, only the kind of picture.
        fipImage palette(FIT_BITMAP, 13, 9, 8);
        BYTE table[256];
        std::fill(std::begin(table), std::end(table), BYTE(255));
        table[0] = 0; // index 0 fully transparent
        palette.setTransparencyTable(table, 256);
        fipImage mono = makeGradientPicture(13, 9, 24);
        mono.threshold(128);
        fipImage gif = makeGradientPicture(13, 9, 24);
        gif.colorQuantize(FIQ_WUQUANT);

        add("rgb.png", makeGradientPicture(13, 9, 24), 24, false);
        add("rgba.png", makeGradientPicture(13, 9, 32), 32, true);
        add("palette-trns.png", palette, 32, true);
        add("mono.bmp", mono, 24, false);
        add("quantised.gif", gif, 24, false);
        add("grey16.png", fipImage(FIT_UINT16, 13, 9, 16), 24, false);
        add("rgb16.tif", fipImage(FIT_RGB16, 13, 9, 48), 24, false);
        add("rgba16.png", fipImage(FIT_RGBA16, 13, 9, 64), 32, true);
        add("light.hdr", fipImage(FIT_RGBF, 13, 9, 96), 24, false);
    }

    void openingNormalisesEveryKindOfPicture()
    {
        QFETCH(QString, file);
        QFETCH(unsigned, depth);
        QFETCH(bool, transparent);
        Glassmere window;
        const QString box = through(A::ui(window).btAddPic, file);
        QVERIFY2(box.isEmpty(), qPrintable(box));
        const fipImage& source = A::source(window);
        QCOMPARE(source.getImageType(), FIT_BITMAP);
        QCOMPARE(source.getBitsPerPixel(), depth);
        QCOMPARE(bool(source.isTransparent()), transparent);
        QCOMPARE(A::ui(window).lbDim->text(), QString("13*9"));
        // Rendered with the start-up settings (bottom, 40 %) and shown.
        QVERIFY(A::item(window));
        QCOMPARE(A::item(window)->pixmap().size(), QSize(13, 9 + 3));
    }

    void labelsDescribeTheFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("fileSize");
        QTest::addColumn<QString>("shown"); // name|type|size
        QTest::newRow("plain") << "photo.png" << 2048 << "photo|PNG|2KB";
        QTest::newRow("half a kilobyte") << "half.png" << 512 << "half|PNG|0.5KB";
        QTest::newRow("five digits") << "big.png" << 123456 << "big|PNG|120.56KB";
        QTest::newRow("dots in the name") << "a.b.png" << 2048 << "a.b|PNG|2KB";
        QTest::newRow("suffix twice") << "x.png.png" << 2048 << "x|PNG|2KB";
        QTest::newRow("no dot") << "noext" << 2048 << "noext||2KB";
        QTest::newRow("trailing dot") << "a.b." << 2048 << "ab||2KB";
    }

    void labelsDescribeTheFile()
    {
        QFETCH(QString, name);
        QFETCH(int, fileSize);
        QFETCH(QString, shown);
        // A PNG padded after its end chunk has an exact size and still decodes.
        QFile file(path(name));
        file.remove();
        QVERIFY(QFile::rename(writeGradient("label-source.png", 24, 6, 4), file.fileName()));
        QVERIFY(file.open(QIODevice::Append) && file.size() < fileSize);
        file.write(QByteArray(int(fileSize - file.size()), '\0'));
        file.close();

        Glassmere window;
        QVERIFY(open(window, file.fileName()));
        const auto& ui = A::ui(window);
        QCOMPARE(ui.lbName->text() + "|" + ui.lbType->text() + "|" + ui.lbSize->text(), shown);
    }

    void cancelledOrFailedOpenKeepsThePreviousPicture()
    {
        Glassmere window;
        auto& ui = A::ui(window);
        QVERIFY(open(window, writeGradient("good.png", 24, 31, 20)));
        const QString labels = ui.lbName->text() + ui.lbDim->text();
        const fipImage before = A::result(window);

        QString caption;
        QStringList filters;
        lookAtDialog(ui.btAddPic, [&](QFileDialog* dialog) {
            caption = dialog->windowTitle();
            filters = dialog->nameFilters();
        });
        QCOMPARE(caption, QString("Load a picture"));
        // The filter text ends in a line feed, which the dialog shows as no further entry.
        filters.removeAll(QString());
        QCOMPARE(filters, QStringList{"All Images(*.bmp *.jpg *.jpeg *jpe *.png *.ico *.gif *.tiff "
                                      "*.tif *.tga *.pcx *.wbmp *.psd *.mng *.jng *.raw *.ras)"});
        lookAtDialog(ui.btSavePic, [](QFileDialog*) {});

        // Recognised as PNG by its signature, but cut short: decoding fails.
        QFile broken(path("broken.png"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write(fileBytes(path("good.png")).left(60));
        broken.close();
        const QString failure = through(ui.btAddPic, path("broken.png"));
        QVERIFY2(failure.startsWith("Failure|Image loads error.|"), qPrintable(failure));
        QVERIFY(failure.size() > QString("Failure|Image loads error.|").size()); // the reason
        QCOMPARE(ui.lbName->text() + ui.lbDim->text(), labels);
        COMPARE_IMAGES(A::result(window), before);

        // A later settings change still renders the previous picture.
        ui.checkBoxLeft->setChecked(true);
        QCOMPARE(A::result(window).getWidth(), 31u + 12u);
        QCOMPARE(A::result(window).getHeight(), 20u);
    }

    void previewAndZoom()
    {
        // Top half red, bottom half blue (scan line 0 is the bottom row).
        fipImage picture(FIT_BITMAP, 40, 40, 24);
        for (unsigned y = 0; y < 40; ++y)
            for (unsigned x = 0; x < 40; ++x) {
                picture.getScanLine(y)[3 * x + FI_RGBA_RED] = y >= 20 ? 255 : 0;
                picture.getScanLine(y)[3 * x + FI_RGBA_BLUE] = y >= 20 ? 0 : 255;
            }
        writePicture(picture, path("redblue.bmp"));
        Glassmere window;
        window.resize(827, 627);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto& ui = A::ui(window);
        QGraphicsView* view = ui.graphicsView;
        ui.pbFit->click(); // nothing shown yet: harmless
        QVERIFY(open(window, path("redblue.bmp")));

        // Upright, in true colours; the reflection below starts with the blue, unfaded.
        QPoint origin;
        QImage shown = shownWindow(window, origin);
        QCOMPARE(QColor(shown.pixel(origin + QPoint(20, 5))), QColor(255, 0, 0));
        QCOMPARE(QColor(shown.pixel(origin + QPoint(20, 35))), QColor(0, 0, 255));
        QCOMPARE(QColor(shown.pixel(origin + QPoint(20, 42))), QColor(0, 0, 255));

        // Faded fully into transparency: the outer row shows the checkerboard's white and grey.
        ui.cbTransparent->setChecked(true);
        ui.refDepth->setValue(0);
        ui.txtSize->setText("100");
        Q_EMIT ui.refSize->sliderReleased();
        shown = shownWindow(window, origin);
        QSet<QRgb> outer;
        for (int x = 0; x < 40; ++x)
            outer.insert(shown.pixel(origin + QPoint(x, 79)));
        QVERIFY(outer.contains(qRgb(255, 255, 255)) && outer.contains(qRgb(204, 204, 204)));
        // Nothing faded: an opaque 32-bit result, shown anew when the settings change.
        ui.txtDepth->setText("100"); // takes effect at the next render
        ui.checkBoxLeft->setChecked(true);
        QCOMPARE(A::result(window).getBitsPerPixel(), 32u);
        QVERIFY(!A::result(window).isTransparent());
        QCOMPARE(A::item(window)->pixmap().size(), QSize(80, 40));

        ui.pbZoomIn->click();
        ui.pbFit->click(); // a result that fits keeps the user's zoom
        QCOMPARE(view->transform().m11(), 1.2);
        ui.pbZoomOut->click();
        QCOMPARE(view->transform().m11(), 1.2 * 0.8);
        QVERIFY(open(window, path("redblue.bmp"))); // opening resets the zoom
        QCOMPARE(view->transform().m11(), 1.0);
    }

    void saveDialogOffersEveryFormat_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<unsigned>("bpp");
        QTest::addColumn<bool>("transparency");
        QTest::addColumn<int>("depth");
        QTest::addColumn<QString>("filter"); // the one selected
        QTest::newRow("photo.JPG") << "photo.JPG" << 24u << false << 30 << "jpg(*.jpg)";
        QTest::newRow("alpha png") << "alpha.bmp" << 32u << false << 30 << "png(*.png)";
        QTest::newRow("transparency mode") << "photo2.JPG" << 24u << true << 30 << "png(*.png)";
        QTest::newRow("transparency at depth 100 follows the type")
            << "photo3.JPG" << 24u << true << 100 << "jpg(*.jpg)";
        QTest::newRow("type not offered selects the first")
            << "picture.psd" << 24u << false << 30 << "png(*.png)";
        // "(*.)" matches no entry: the first is shown.
        QTest::newRow("nothing loaded") << "" << 24u << false << 30 << "png(*.png)";
    }

    void saveDialogOffersEveryFormat()
    {
        QFETCH(QString, file);
        QFETCH(unsigned, bpp);
        QFETCH(bool, transparency);
        QFETCH(int, depth);
        QFETCH(QString, filter);
        Glassmere window;
        if (!file.isEmpty()) {
            // FreeImage cannot write a psd: a PNG under that name still opens.
            const QString written =
                writeGradient(file.endsWith(".psd") ? "psd-source.png" : file, bpp);
            QVERIFY(QFile::copy(written, path(file)) || QFile::exists(path(file)));
            QVERIFY(open(window, path(file)));
            A::ui(window).txtDepth->setText(QString::number(depth));
            A::ui(window).cbTransparent->setChecked(transparency);
        }

        QString shown;
        QStringList filters;
        lookAtDialog(A::ui(window).btSavePic, [&](QFileDialog* dialog) {
            shown = dialog->windowTitle() + "|" + dialog->selectedNameFilter();
            filters = dialog->nameFilters();
        });
        QCOMPARE(shown, "Save Image|" + filter);
        QCOMPARE(filters.size(), 26);
        QCOMPARE(filters.first(), QString("png(*.png)"));
        QCOMPARE(filters.last(), QString("raw(*.raw)"));
    }

    void savingInEveryOfferedFormat_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<bool>("transparency");
        for (bool transparency : {false, true})
            for (const char* extension :
                 {"png", "jpg", "jpeg", "jpe", "bmp", "ico", "gif", "tiff", "tif",
                  "tga", "pcx", "wbmp", "wmf", "emf", "jp2", "j2c", "jpc",  "pgx",
                  "pnm", "pgm", "ppm",  "ras", "mng", "jng", "ska", "raw"})
                QTest::addRow("%s, %s", extension, transparency ? "32-bit" : "24-bit")
                    << QString(extension) << transparency;
    }

    void savingInEveryOfferedFormat()
    {
        QFETCH(QString, extension);
        QFETCH(bool, transparency);
        Glassmere window;
        QVERIFY(open(window, writeGradient("source.png", 24, 96, 64)));
        A::ui(window).cbTransparent->setChecked(transparency);

        // The reference is the library writing the same result straight to a fresh file.
        const QString reference = path("reference." + extension);
        const QString target = path("saved." + extension);
        QFile::remove(reference);
        QFile::remove(target);
        const bool libraryWrites = A::result(window).save(QFile::encodeName(reference).constData());
        const QString box = through(A::ui(window).btSavePic, target);
        QCOMPARE(QDir(folder.path()).entryList({".saved*"}, QDir::Hidden | QDir::Files),
                 QStringList()); // no temporary left behind
        if (!libraryWrites) {
            QVERIFY2(box.startsWith("Failure|Failed to save image.|"), qPrintable(box));
            QVERIFY(!QFile::exists(target));
            return;
        }
        QCOMPARE(box, QString("Success|Image has been saved.|"));
        QCOMPARE(fileBytes(target), fileBytes(reference));
        QVERIFY(QFileInfo(target).permissions() & QFile::ReadOther);
        if (QStringList{"png", "bmp", "tiff", "tif", "tga", "ppm"}.contains(extension)) {
            fipImage reloaded; // lossless: every pixel back
            QVERIFY(reloaded.load(QFile::encodeName(target).constData()));
            COMPARE_IMAGES(reloaded, A::result(window));
        }
    }

    void refusedSaveLeavesTheExistingFileIntact()
    {
        const QString photo = writeGradient("holiday.jpg", 24, 40, 30);
        const QByteArray original = fileBytes(photo);
        Glassmere window;
        QVERIFY(
            through(A::ui(window).btSavePic, photo).startsWith("Failure|Failed to save image.|"));
        QCOMPARE(fileBytes(photo), original); // nothing loaded yet
        QVERIFY(open(window, photo));
        A::ui(window).cbTransparent->setChecked(true); // a 32-bit result JPEG cannot take
        const QString failure = through(A::ui(window).btSavePic, photo);
        QVERIFY2(failure.startsWith("Failure|Failed to save image.|") &&
                     failure.size() > QString("Failure|Failed to save image.|").size(),
                 qPrintable(failure)); // the reason as detail
        QCOMPARE(fileBytes(photo), original);
        QCOMPARE(QDir(folder.path()).entryList({".holiday*"}, QDir::Hidden | QDir::Files),
                 QStringList());

        // Once the result suits the format, the same name is replaced.
        A::ui(window).cbTransparent->setChecked(false);
        QCOMPARE(through(A::ui(window).btSavePic, photo),
                 QString("Success|Image has been saved.|"));
        fipImage reloaded;
        QVERIFY(reloaded.load(QFile::encodeName(photo).constData()));
        QCOMPARE(reloaded.getHeight(), 42u);
    }
};

QTEST_MAIN(TestImaging)
#include "tst_imaging.moc"
