// The main window's start-up state, its skin and the reflection settings:
// sliders and number fields, direction boxes, transparency and colour.

#include "app/globals.h"
#include "support/dialogdriver.h"
#include "support/imagecompare.h"
#include "support/testaccess.h"
#include "support/testpictures.h"

#include <QColorDialog>
#include <QGraphicsPixmapItem>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QTest>

namespace {

void loadPicture(Glassmere& window)
{
    A::source(window) = makeGradientPicture(20, 10, 24);
    A::render(window);
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(programFolder.isValid());
        applicationFolder = "/home/me/My Tools";
        skinFile = programFolder.filePath("skin");
    }

    void init()
    {
        // Every named slot and every string-based connection finds its signal.
        QTest::failOnWarning(QRegularExpression("No matching signal|QObject::connect"));
    }

    void startUpState()
    {
        Glassmere window;
        auto& ui = A::ui(window);
        QCOMPARE(QStringList({ui.txtSize->text(), ui.txtDepth->text(), ui.txtOpacity->text(),
                              ui.txtGap->text(), ui.txtBlur->text(), ui.txtColor->text()}),
                 QStringList({"40", "30", "100", "0", "0", "#ffffff"}));
        QVERIFY(ui.checkBoxBottom->isChecked());
        QVERIFY(!ui.cbTransparent->isChecked());

        // Without a picture the settings render nothing, and nothing breaks.
        ui.checkBoxLeft->setChecked(true);
        ui.cbTransparent->setChecked(true);
        Q_EMIT ui.refSize->sliderReleased();
        QVERIFY(!A::result(window).isValid());
    }

    void skinSubstitution()
    {
        // Every placeholder becomes the program's folder, spaces and all; the file is UTF-8.
        QFile file(skinFile);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("a{url(%currentPath%/a.png)} /* Glänzend 图 */ b{url(%currentPath%/b.png)}");
        file.close();
        Glassmere window;
        file.remove();
        QCOMPARE(qApp->styleSheet(), QString("a{url(/home/me/My Tools/a.png)} /* Glänzend 图 */ "
                                             "b{url(/home/me/My Tools/b.png)}"));
        qApp->setStyleSheet(QString());
    }

    void fieldsAndSliders()
    {
        Glassmere window;
        auto& ui = A::ui(window);
        // 0 to 100 only: the last digit of 101 is refused.
        ui.txtSize->clear();
        QTest::keyClicks(ui.txtSize, "101");
        QCOMPARE(ui.txtSize->text(), QString("10"));
        QCOMPARE(ui.refSize->value(), 10);
        // Emptying the field sets the slider to 0, which writes "0" back at once.
        ui.txtDepth->clear();
        QCOMPARE(ui.txtDepth->text(), QString("0"));
        QCOMPARE(ui.refDepth->value(), 0);
        ui.refDepth->setValue(77);
        QCOMPARE(ui.txtDepth->text(), QString("77"));
        // Gap and blur take their sliders' ranges: 0 to 200 and 0 to 100.
        ui.txtGap->clear();
        QTest::keyClicks(ui.txtGap, "2009");
        QCOMPARE(ui.refGap->value(), 200);
        ui.txtBlur->clear();
        QTest::keyClicks(ui.txtBlur, "101");
        QCOMPARE(ui.refBlur->value(), 10);
    }

    void settingsRenderAgain()
    {
        Glassmere window;
        auto& ui = A::ui(window);
        loadPicture(window);
        QCOMPARE(A::result(window).getHeight(), 14u); // 40 % of 10 rows

        // Only releasing the handle renders.
        ui.txtSize->setText("100");
        QCOMPARE(A::result(window).getHeight(), 14u);
        Q_EMIT ui.refSize->sliderReleased();
        QCOMPARE(A::result(window).getHeight(), 20u);
        ui.txtGap->setText("5");
        QCOMPARE(A::result(window).getHeight(), 20u);
        Q_EMIT ui.refGap->sliderReleased();
        QCOMPARE(A::result(window).getHeight(), 25u);
        ui.txtGap->setText("0");

        // The direction boxes act as one group; unchecking the only one falls back to the bottom.
        ui.checkBoxLeft->setChecked(true);
        QVERIFY(!ui.checkBoxBottom->isChecked());
        QCOMPARE(A::direction(window), 2);
        QCOMPARE(A::result(window).getWidth(), 40u);
        ui.checkBoxLeft->setChecked(false);
        QCOMPARE(A::direction(window), 1);
        QCOMPARE(A::result(window).getHeight(), 20u);

        // Transparency switches the colour controls off.
        ui.cbTransparent->setChecked(true);
        QVERIFY(!ui.frameColor->isEnabled() && !ui.btColorPicker->isEnabled());
        QCOMPARE(A::result(window).getBitsPerPixel(), 32u);
        ui.cbTransparent->setChecked(false);
        QVERIFY(ui.frameColor->isEnabled() && ui.btColorPicker->isEnabled());
        QCOMPARE(A::result(window).getBitsPerPixel(), 24u);
    }

    // The window's members take the integer codes: 0 top, 1 bottom, 2 left,
    // 3 right, and any other code acts as right.
    void directionCodes()
    {
        Glassmere window;
        fipImage source = makeGradientPicture(13, 7, 24), right, other;
        A::addReflection(window, source, right, 3);
        for (int code : {4, 7, -1}) {
            A::addReflection(window, source, other, code);
            COMPARE_IMAGES(other, right);
        }
        A::addReflection(window, source, other, 2);
        QVERIFY(!compareImages(other, right).isEmpty());
    }

    void pickingAndCancellingAColour()
    {
        Glassmere window;
        auto& ui = A::ui(window);
        loadPicture(window);
        const auto outerStripPixel = [&] {
            return pixelAt(A::result(window), 0, A::result(window).getHeight() - 1);
        };
        const unsigned fadingToWhite = outerStripPixel();
        DialogDriver driver;
        driver.expect<QColorDialog>([](QColorDialog* dialog) {
            dialog->setCurrentColor(QColor(255, 128, 0));
            dialog->accept();
        });
        QTest::mousePress(ui.txtColor, Qt::LeftButton); // the read-only field opens the dialog
        QCOMPARE(driver.answered, 1);
        QCOMPARE(ui.txtColor->text(), QString("#ff8000"));
        const unsigned fadingToOrange = outerStripPixel();
        QVERIFY(fadingToOrange != fadingToWhite);

        // Cancelling changes nothing.
        driver.expect<QColorDialog>([](QColorDialog* dialog) {
            dialog->setCurrentColor(Qt::red);
            dialog->reject();
        });
        ui.btColorPicker->click();
        QCOMPARE(driver.answered, 2);
        QCOMPARE(ui.txtColor->text(), QString("#ff8000"));
        QCOMPARE(outerStripPixel(), fadingToOrange);
    }

    void dragShowsEveryValue_data()
    {
        QTest::addColumn<QString>("slider");
        QTest::addColumn<bool>("actualSize"); // else fitted: drawn from a scaled copy
        QTest::addColumn<int>("step");
        QTest::newRow("size, fitted") << "refSize" << false << 25;
        QTest::newRow("depth, 1:1") << "refDepth" << true << 40;
        QTest::newRow("blur, fitted") << "refBlur" << false << 30;
    }

    void dragShowsEveryValue()
    {
        QFETCH(QString, slider);
        QFETCH(bool, actualSize);
        QFETCH(int, step);
        const fipImage picture = makeGradientPicture(1500, 1000, 24);
        const auto shown = [](Glassmere& window) {
            return A::item(window)->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
        };
        // Two windows alike: one is dragged, the other only sees the final value released.
        Glassmere dragged;
        Glassmere plain;
        for (Glassmere* window : {&dragged, &plain}) {
            window->resize(900, 700);
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window));
            A::open(*window, picture);
            if (actualSize) { // scrolled down to the strip
                A::ui(*window).pbRawSize->click();
                QScrollBar* bar = A::ui(*window).graphicsView->verticalScrollBar();
                bar->setValue(bar->maximum());
            }
        }
        auto* handle = dragged.findChild<QSlider*>(slider);
        QVERIFY(handle);
        const fipImage resultBefore = A::result(dragged);

        QStyleOptionSlider option;
        option.initFrom(handle);
        option.orientation = handle->orientation();
        option.minimum = handle->minimum();
        option.maximum = handle->maximum();
        option.sliderPosition = option.sliderValue = handle->value();
        QPoint at =
            handle->style()
                ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, handle)
                .center();
        QTest::mousePress(handle, Qt::LeftButton, {}, at);
        const int pixelsPerStep = handle->width() / 100 + 1;
        for (int move = 0; move < 3; ++move) {
            const QImage before = shown(dragged);
            const int value = handle->value();
            at.rx() += step * pixelsPerStep / 3;
            QTest::mouseMove(handle, at);
            QVERIFY(handle->value() != value);
            QTRY_VERIFY(shown(dragged) != before);            // the preview follows each move
            COMPARE_IMAGES(A::result(dragged), resultBefore); // the result waits for the release
        }
        QGraphicsView* view = A::ui(dragged).graphicsView;
        const QImage lastFrame = view->viewport()->grab().toImage();
        QTest::mouseRelease(handle, Qt::LeftButton, {}, at);
        QVERIFY(!compareImages(A::result(dragged), resultBefore).isEmpty());
        if (actualSize) // the part in view was drawn at full size: nothing moves on release
            COMPARE_IMAGES(view->viewport()->grab().toImage(), lastFrame);

        auto* plainHandle = plain.findChild<QSlider*>(slider);
        plainHandle->setValue(handle->value());
        Q_EMIT plainHandle->sliderReleased();
        COMPARE_IMAGES(A::result(dragged), A::result(plain));
        COMPARE_IMAGES(shown(dragged), shown(plain));
        QCOMPARE(A::ui(dragged).graphicsView->transform(), A::ui(plain).graphicsView->transform());
        QCOMPARE(A::ui(dragged).graphicsView->sceneRect(), A::ui(plain).graphicsView->sceneRect());
        // A fitted view still shows the whole, now taller, result.
        QCOMPARE(view->viewport()
                     ->rect()
                     .adjusted(-1, -1, 1, 1)
                     .contains(view->mapFromScene(view->sceneRect()).boundingRect()),
                 !actualSize);
    }

private:
    QTemporaryDir programFolder;
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
