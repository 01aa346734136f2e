// The window on a screen with a device pixel ratio of 2 (QT_SCALE_FACTOR=2, set
// before the application object exists), with the real skin and its images as
// they lie beside the built program.
//
// Crisp means: the device pixels the window shows are the double-size artwork
// itself, not the normal artwork enlarged; and the preview at "Actual" shows
// one picture pixel on one device pixel.

#include "app/globals.h"
#include "mainwindow/glassmere.h"
#include "support/imagecompare.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGraphicsPixmapItem>
#include <QImageReader>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
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

// The image names the skin refers to, "open" for url(%currentPath%/images/open.png).
QStringList skinImageNames()
{
    QFile skin(programFolder + "/skin");
    if (!skin.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(skin.readAll());
    static const QRegularExpression url(R"(url\(%currentPath%/images/([^)@]+)\.png\))");
    QStringList names;
    for (auto match = url.globalMatch(text); match.hasNext();)
        names << match.next().captured(1);
    names.removeDuplicates();
    return names;
}

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

// The top-left corner at which `part` lies in `whole` pixel for pixel, or (-1, -1).
QPoint find(const QImage& whole, const QImage& part)
{
    for (int y = 0; y + part.height() <= whole.height(); ++y)
        for (int x = 0; x + part.width() <= whole.width(); ++x)
            if (whole.copy(x, y, part.width(), part.height()) == part)
                return {x, y};
    return {-1, -1};
}

// A picture whose every pixel differs from its four neighbours, so any
// enlargement, shrinking or smoothing shows.
QString writeChequeredPicture(const QString& path, unsigned width, unsigned height)
{
    fipImage picture(FIT_BITMAP, width, height, 24);
    for (unsigned y = 0; y < height; ++y) {
        BYTE* line = picture.getScanLine(y);
        for (unsigned x = 0; x < width; ++x) {
            const bool odd = (x + y) % 2;
            line[3 * x + FI_RGBA_RED] = odd ? 230 : 20;
            line[3 * x + FI_RGBA_GREEN] = BYTE(x * 3);
            line[3 * x + FI_RGBA_BLUE] = odd ? 10 : 240;
        }
    }
    picture.save(QFile::encodeName(path).constData());
    return path;
}

} // namespace

class TestHiDpi : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void everySkinImageHasADoubleSizeVariant_data();
    void everySkinImageHasADoubleSizeVariant();
    void buttonsShowTheirDoubleSizeArtwork_data();
    void buttonsShowTheirDoubleSizeArtwork();
    void indicatorsShowTheirDoubleSizeArtwork_data();
    void indicatorsShowTheirDoubleSizeArtwork();
    void checkerboardStaysSharp();

    void actualShowsOnePicturePixelPerDevicePixel_data();
    void actualShowsOnePicturePixelPerDevicePixel();
    void fitCountsInLogicalPixels();

private:
    QTemporaryDir folder;
    Glassmere* window = nullptr;
    void showWindow();
};

void TestHiDpi::initTestCase()
{
    QCOMPARE(qApp->devicePixelRatio(), 2.0);
    QVERIFY(folder.isValid());
    QVERIFY2(QFile::exists(programFolder + "/skin"), qPrintable(programFolder));
    applicationFolder = programFolder;
    skinFile = programFolder + "/skin";
}

void TestHiDpi::cleanup()
{
    delete window;
    window = nullptr;
    qApp->setStyleSheet(QString());
}

void TestHiDpi::showWindow()
{
    window = new Glassmere;
    window->resize(827, 627);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->devicePixelRatioF(), 2.0);
}

void TestHiDpi::everySkinImageHasADoubleSizeVariant_data()
{
    QTest::addColumn<QString>("name");
    const QStringList names = skinImageNames();
    QVERIFY(names.size() > 40);
    for (const QString& name : names)
        QTest::newRow(qPrintable(name)) << name;
}

void TestHiDpi::everySkinImageHasADoubleSizeVariant()
{
    QFETCH(QString, name);
    const QSize normal = QImageReader(programFolder + "/images/" + name + ".png").size();
    const QSize doubled = QImageReader(programFolder + "/images/" + name + "@2x.png").size();
    QVERIFY(normal.isValid());
    QCOMPARE(doubled, normal * 2);
}

void TestHiDpi::buttonsShowTheirDoubleSizeArtwork_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("image");
    QTest::newRow("open") << "btAddPic"
                          << "open";
    QTest::newRow("save") << "btSavePic"
                          << "save";
    QTest::newRow("logo") << "btReflection"
                          << "logo";
    QTest::newRow("help") << "btnHelp"
                          << "help";
    QTest::newRow("close") << "btnClose"
                           << "close";
}

void TestHiDpi::buttonsShowTheirDoubleSizeArtwork()
{
    QFETCH(QString, button);
    QFETCH(QString, image);
    showWindow();
    auto* widget = window->findChild<QPushButton*>(button);
    QVERIFY(widget);
    // The button keeps its logical size, the normal image's size.
    QCOMPARE(widget->size(), artwork(image + ".png").size());
    const QImage shown = pixelsOf(widget);
    QCOMPARE(shown.size(), widget->size() * 2);
    COMPARE_IMAGES(shown, artwork(image + "@2x.png"));
}

void TestHiDpi::indicatorsShowTheirDoubleSizeArtwork_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("image");
    QTest::newRow("direction box") << "checkBoxTop"
                                   << "dir_up_off";
    QTest::newRow("checked direction box") << "checkBoxBottom"
                                           << "dir_down_on";
    QTest::newRow("transparency box") << "cbTransparent"
                                      << "check_off";
    QTest::newRow("size slider") << "refSize"
                                 << "slider_handle";
}

void TestHiDpi::indicatorsShowTheirDoubleSizeArtwork()
{
    QFETCH(QString, widget);
    QFETCH(QString, image);
    showWindow();
    QWidget* shownWidget = window->findChild<QWidget*>(widget);
    QVERIFY(shownWidget);
    // Found in the window's own pixels, over whatever lies behind the widget:
    // the image's opaque middle, where the background cannot show through.
    const QImage whole = pixelsOf(window);
    const QRect area(shownWidget->mapTo(window, QPoint(0, 0)) * 2, shownWidget->size() * 2);
    const QImage doubled = artwork(image + "@2x.png");
    const QRect middle = doubled.rect().adjusted(doubled.width() / 4, doubled.height() / 4,
                                                 -doubled.width() / 4, -doubled.height() / 4);
    QImage part = doubled.copy(middle);
    bool opaque = true;
    for (int y = 0; y < part.height(); ++y)
        for (int x = 0; x < part.width(); ++x)
            opaque = opaque && qAlpha(part.pixel(x, y)) == 255;
    QVERIFY2(opaque, "choose artwork with an opaque middle");
    QVERIFY2(find(whole.copy(area), part) != QPoint(-1, -1),
             "the double-size artwork is not among the widget's device pixels");
}

void TestHiDpi::checkerboardStaysSharp()
{
    // The tile behind the preview has no double-size file: enlarged, it must
    // keep its two colours and not blur into in-between greys.
    showWindow();
    QWidget* viewport = A::ui(*window).graphicsView->viewport();
    const QImage whole = pixelsOf(window);
    QCOMPARE(whole.size(), window->size() * 2);
    const QPoint corner = viewport->mapTo(window, QPoint(0, 0)) * 2;
    QSet<QRgb> colours;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            colours.insert(whole.pixel(corner + QPoint(x, y)));
    QCOMPARE(colours, (QSet<QRgb>{qRgb(255, 255, 255), qRgb(204, 204, 204)}));
}

void TestHiDpi::actualShowsOnePicturePixelPerDevicePixel_data()
{
    QTest::addColumn<int>("zoomSteps");
    QTest::newRow("after opening") << 0;
    QTest::newRow("zoomed in, then Actual") << 3;
    QTest::newRow("zoomed out, then Actual") << -2;
}

void TestHiDpi::actualShowsOnePicturePixelPerDevicePixel()
{
    QFETCH(int, zoomSteps);
    showWindow();
    auto& ui = A::ui(*window);
    A::open(*window, writeChequeredPicture(folder.filePath("cheque.bmp"), 60, 40));
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

void TestHiDpi::fitCountsInLogicalPixels()
{
    showWindow();
    auto& ui = A::ui(*window);
    QGraphicsView* view = ui.graphicsView;
    const int viewWidth = view->width();
    QVERIFY(viewWidth > 100);

    // Wider than the view in device pixels, narrower in logical ones: it fits
    // at "Actual", so it is not shrunk.
    const unsigned fitting = unsigned(viewWidth * 2 - 20);
    A::open(*window, writeChequeredPicture(folder.filePath("fitting.bmp"), fitting, 40));
    QCOMPARE(view->transform(), QTransform());

    // Wider than the view in logical pixels: fitted, the whole of it in view.
    const unsigned wide = unsigned(viewWidth * 2 + 200);
    A::open(*window, writeChequeredPicture(folder.filePath("wide.bmp"), wide, 40));
    QVERIFY(view->transform().m11() < 1.0);
    QCOMPARE(view->transform().m11(), view->transform().m22());
    const QRectF shown = view->mapFromScene(view->sceneRect()).boundingRect();
    QVERIFY(view->viewport()->rect().contains(shown.toRect()));
}

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
