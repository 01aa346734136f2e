// SPDX-License-Identifier: GPL-3.0-or-later
// The window at a device pixel ratio of 2, with the real skin and images beside
// the built program (tst_install holds every skin image to its double-size variant).

#include "app/globals.h"
#include "support/imagecompare.h"
#include "support/testaccess.h"
#include "support/testpictures.h"

#include <QGraphicsPixmapItem>
#include <QTest>

#include <memory>

class TestHiDpi : public QObject {
    Q_OBJECT

    const QString programFolder = QStringLiteral(GLASSMERE_BIN_DIR);
    std::unique_ptr<Glassmere> window;

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(qApp->devicePixelRatio(), 2.0);
        applicationFolder = programFolder;
        skinFile = programFolder + "/skin";
    }

    void init()
    {
        window = std::make_unique<Glassmere>();
        window->resize(827, 627);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    // Zoomed in, then "Actual": every picture pixel is one device pixel, in place.
    void actualShowsOnePicturePixelPerDevicePixel()
    {
        auto& ui = A::ui(*window);
        A::open(*window, makeGradientPicture(60, 40, 24));
        for (int i = 0; i < 3; ++i)
            ui.pbZoomIn->click();
        ui.pbRawSize->click();
        // 40 rows and the 16-row reflection: half as large in logical pixels.
        const QImage pixels =
            A::item(*window)->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(pixels.size(), QSize(60, 56));
        QCOMPARE(ui.graphicsView->sceneRect(), QRectF(0, 0, 30, 28));
        const QPointF origin = ui.graphicsView->viewportTransform().map(QPointF(0, 0)) * 2;
        QCOMPARE(origin, QPointF(origin.toPoint()));
        const QImage shown =
            ui.graphicsView->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        COMPARE_IMAGES(shown.copy(QRect(origin.toPoint(), pixels.size())), pixels);
    }

    void fitCountsInLogicalPixels()
    {
        QGraphicsView* view = A::ui(*window).graphicsView;
        const unsigned viewWidth = unsigned(view->width());
        // Wider than the view in device pixels, narrower in logical ones: not shrunk.
        A::open(*window, makeGradientPicture(viewWidth * 2 - 20, 40, 24));
        QCOMPARE(view->transform(), QTransform());
        // Wider in logical pixels: fitted, the whole of it in view.
        A::open(*window, makeGradientPicture(viewWidth * 2 + 200, 40, 24));
        QVERIFY(view->transform().m11() < 1.0);
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
