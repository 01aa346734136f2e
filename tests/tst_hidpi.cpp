// The window at a device pixel ratio of 2, with the real skin and images beside
// the built program. Crisp means: the device pixels shown are the double-size
// artwork itself, and the preview at "Actual" shows one picture pixel on one
// device pixel.

#include "app/globals.h"
#include "mainwindow/glassmere.h"
#include "support/imagecompare.h"
#include "support/testpictures.h"

#include <QFile>
#include <QGraphicsPixmapItem>
#include <QImageReader>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class GlassmereTestAccess {
public:
    static Ui::GlassmereClass& ui(Glassmere& w) { return w.ui; }
    static QGraphicsPixmapItem* item(Glassmere& w) { return w.pixmapItem; }
    static void open(Glassmere& w, const QString& path) { w.OpenPicture(path); }
};
using A = GlassmereTestAccess;

namespace {

const QString programFolder = QStringLiteral(GLASSMERE_BIN_DIR);

// Premultiplied, as the window's pixels are: half-transparent edges compare exactly.
QImage artwork(const QString& file)
{
    return QImage(programFolder + "/images/" + file)
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage pixelsOf(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

class TestHiDpi : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    Glassmere* window = nullptr;

    void showWindow()
    {
        window = new Glassmere;
        window->resize(827, 627);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->devicePixelRatioF(), 2.0);
    }

    // A picture whose every pixel differs from its neighbours, so any
    // enlargement, shrinking or smoothing shows.
    QString writePictureFile(const QString& name, unsigned width, unsigned height)
    {
        fipImage picture = makeGradientPicture(width, height, 24);
        writePicture(picture, folder.filePath(name));
        return folder.filePath(name);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(qApp->devicePixelRatio(), 2.0);
        QVERIFY(folder.isValid());
        QVERIFY2(QFile::exists(programFolder + "/skin"), qPrintable(programFolder));
        applicationFolder = programFolder;
        skinFile = programFolder + "/skin";
    }

    void cleanup()
    {
        delete window;
        window = nullptr;
        qApp->setStyleSheet(QString());
    }

    // Every image the skin refers to, url(%currentPath%/images/NAME.png).
    void everySkinImageHasADoubleSizeVariant_data()
    {
        QTest::addColumn<QString>("name");
        QFile skin(programFolder + "/skin");
        QVERIFY(skin.open(QIODevice::ReadOnly));
        static const QRegularExpression url(R"(url\(%currentPath%/images/([^)@]+)\.png\))");
        QStringList names;
        for (auto match = url.globalMatch(QString::fromUtf8(skin.readAll())); match.hasNext();)
            names << match.next().captured(1);
        names.removeDuplicates();
        QVERIFY(names.size() > 40);
        for (const QString& name : names)
            QTest::newRow(qPrintable(name)) << name;
    }

    void everySkinImageHasADoubleSizeVariant()
    {
        QFETCH(QString, name);
        const QSize normal = QImageReader(programFolder + "/images/" + name + ".png").size();
        QVERIFY(normal.isValid());
        QCOMPARE(QImageReader(programFolder + "/images/" + name + "@2x.png").size(), normal * 2);
    }

    void widgetsShowTheirDoubleSizeArtwork_data()
    {
        QTest::addColumn<QString>("widget");
        QTest::addColumn<QString>("image");
        const auto row = [](const char* widget, const char* image) {
            QTest::newRow(image) << QString(widget) << QString(image);
        };
        row("btAddPic", "open");
        row("btSavePic", "save");
        row("btReflection", "logo");
        row("btnHelp", "help");
        row("btnClose", "close");
        row("checkBoxTop", "dir_up_off");
        row("checkBoxBottom", "dir_down_on");
        row("cbTransparent", "check_off");
        row("refSize", "slider_handle");
    }

    void widgetsShowTheirDoubleSizeArtwork()
    {
        QFETCH(QString, widget);
        QFETCH(QString, image);
        showWindow();
        QWidget* shown = window->findChild<QWidget*>(widget);
        QVERIFY(shown);
        const QImage doubled = artwork(image + "@2x.png");
        if (qobject_cast<QPushButton*>(shown)) {
            // A button is its artwork, at the normal image's logical size.
            QCOMPARE(shown->size(), artwork(image + ".png").size());
            COMPARE_IMAGES(pixelsOf(shown), doubled);
            return;
        }
        // Found in the window's own pixels, over whatever lies behind the
        // widget: the image's opaque middle, where the background cannot show.
        const QImage area =
            pixelsOf(window).copy(QRect(shown->mapTo(window, QPoint(0, 0)) * 2, shown->size() * 2));
        const QImage middle =
            doubled.copy(doubled.rect().adjusted(doubled.width() / 4, doubled.height() / 4,
                                                 -doubled.width() / 4, -doubled.height() / 4));
        bool found = false;
        for (int y = 0; !found && y + middle.height() <= area.height(); ++y)
            for (int x = 0; !found && x + middle.width() <= area.width(); ++x)
                found = area.copy(x, y, middle.width(), middle.height()) == middle;
        QVERIFY2(found, "the double-size artwork is not among the widget's device pixels");
    }

    // The tile behind the preview has no double-size file: enlarged, it keeps
    // its two colours and does not blur into in-between greys.
    void checkerboardStaysSharp()
    {
        showWindow();
        const QImage whole = pixelsOf(window);
        const QPoint corner = A::ui(*window).graphicsView->viewport()->mapTo(window, QPoint()) * 2;
        QSet<QRgb> colours;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                colours.insert(whole.pixel(corner + QPoint(x, y)));
        QCOMPARE(colours, (QSet<QRgb>{qRgb(255, 255, 255), qRgb(204, 204, 204)}));
    }

    void actualShowsOnePicturePixelPerDevicePixel_data()
    {
        QTest::addColumn<int>("zoomSteps");
        QTest::newRow("after opening") << 0;
        QTest::newRow("zoomed in, then Actual") << 3;
        QTest::newRow("zoomed out, then Actual") << -2;
    }

    void actualShowsOnePicturePixelPerDevicePixel()
    {
        QFETCH(int, zoomSteps);
        showWindow();
        auto& ui = A::ui(*window);
        A::open(*window, writePictureFile("picture.bmp", 60, 40));
        for (int i = 0; i < qAbs(zoomSteps); ++i)
            (zoomSteps > 0 ? ui.pbZoomIn : ui.pbZoomOut)->click();
        ui.pbRawSize->click();

        // The result (40 rows and the 16-row reflection) is half as large in logical pixels.
        QGraphicsPixmapItem* item = A::item(*window);
        QVERIFY(item);
        const QImage pixels = item->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(pixels.size(), QSize(60, 56));
        QCOMPARE(item->boundingRect(), QRectF(0, 0, 30, 28));
        QCOMPARE(ui.graphicsView->sceneRect(), QRectF(0, 0, 30, 28));

        // Every picture pixel is one device pixel of the view, in place.
        const QPointF origin = ui.graphicsView->viewportTransform().map(QPointF(0, 0)) * 2;
        QCOMPARE(origin, QPointF(origin.toPoint()));
        const QImage shown =
            ui.graphicsView->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        COMPARE_IMAGES(shown.copy(QRect(origin.toPoint(), pixels.size())), pixels);
    }

    void fitCountsInLogicalPixels()
    {
        showWindow();
        QGraphicsView* view = A::ui(*window).graphicsView;
        const unsigned viewWidth = unsigned(view->width());
        QVERIFY(viewWidth > 100);

        // Wider than the view in device pixels, narrower in logical ones: it fits
        // at "Actual", so it is not shrunk.
        A::open(*window, writePictureFile("fitting.bmp", viewWidth * 2 - 20, 40));
        QCOMPARE(view->transform(), QTransform());

        // Wider than the view in logical pixels: fitted, the whole of it in view.
        A::open(*window, writePictureFile("wide.bmp", viewWidth * 2 + 200, 40));
        QVERIFY(view->transform().m11() < 1.0);
        QCOMPARE(view->transform().m11(), view->transform().m22());
        const QRectF shown = view->mapFromScene(view->sceneRect()).boundingRect();
        QVERIFY(view->viewport()->rect().contains(shown.toRect()));
    }
};

int main(int argc, char* argv[])
{
    // The ratio must be known before the application object reads the screens.
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TestHiDpi test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hidpi.moc"
