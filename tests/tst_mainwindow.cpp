// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's start-up state, its skin and the reflection settings:
// sliders and number fields, direction boxes, transparency and colour; drag and
// drop onto it, with synthesised drag events sent where a real drag would
// deliver them; start-up: the files the program refuses to run without, the
// translation installed before the window, centring, and the exit code.

#include "app/globals.h"
#include "app/startup.h"
#include "support/chrometest_urlsink.h"
#include "support/dialogdriver.h"
#include "support/imagecompare.h"
#include "support/testaccess.h"
#include "support/testpictures.h"

#include <QColorDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QGraphicsPixmapItem>
#include <QGroupBox>
#include <QMimeData>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QTest>

namespace {

const Qt::DropActions anyAction = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;

// Sends enter, move and drop to `target` at its centre, as a drag delivers them,
// then lets queued work run, answering a box that comes. Returns "refused" when
// the enter was not taken, "not dropped", or the drop's action.
QString drag(QWidget* target, const QList<QUrl>& urls, QString* box = nullptr,
             Qt::DropActions actions = anyAction)
{
    MessageBoxCatcher answerer;
    QMimeData data;
    data.setUrls(urls);
    // File managers add the addresses as plain text too, which a line edit would take.
    data.setText(QUrl::toStringList(urls).join('\n'));
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
    QDragMoveEvent move(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(QPointF(at), actions, &data, Qt::LeftButton, Qt::NoModifier);
    auto send = [target](QDropEvent& event) {
        event.setDropAction(Qt::MoveAction);
        event.ignore();
        QApplication::sendEvent(target, &event);
        return event.isAccepted();
    };
    if (!send(enter))
        return "refused";
    const bool dropped = send(move) && send(drop);
    QCoreApplication::processEvents();
    if (box)
        *box = answerer.said;
    return !dropped ? "not dropped" : drop.dropAction() == Qt::CopyAction ? "copy" : "other action";
}

QWidget* widgetNamed(Glassmere& window, const QString& name)
{
    return name == "view" ? A::ui(window).graphicsView->viewport()
                          : window.findChild<QWidget*>(name);
}

void showLikeTheProgram(Glassmere& window, bool batchTab = false)
{
    window.resize(827, 627);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (batchTab)
        A::ui(window).tabWidget->setCurrentWidget(A::ui(window).tab_6);
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
        sink.urls.clear();
    }

    void cleanup() { QDir::setCurrent(startFolder); }

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
        writeBytes(skinFile,
                   "a{url(%currentPath%/a.png)} /* Glänzend 图 */ b{url(%currentPath%/b.png)}");
        Glassmere window;
        QFile::remove(skinFile);
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
        A::open(window, makeGradientPicture(20, 10, 24));
        QCOMPARE(A::result(window).getHeight(), 14u); // 40 % of 10 rows

        // Only releasing the handle renders.
        ui.txtSize->setText("100");
        QCOMPARE(A::result(window).getHeight(), 14u);
        Q_EMIT ui.refSize->sliderReleased();
        QCOMPARE(A::result(window).getHeight(), 20u);
        // A typed gap renders when Return is pressed.
        ui.txtGap->setText("5");
        QCOMPARE(A::result(window).getHeight(), 20u);
        QTest::keyClick(ui.txtGap, Qt::Key_Return);
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
        A::open(window, makeGradientPicture(20, 10, 24));
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

    void droppedFileOpensAsTheOpenCommand_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("batchTab");

        const QString plain = picture("photo.png");
        QTest::newRow("on the preview") << plain << "view" << false;
        QTest::newRow("on the batch tab's picture folder field") << plain << "txtPicDir" << true;
        // Recognised as PNG by its signature, but cut short.
        const QString broken = root + "/broken.png";
        writeBytes(broken, fileBytes(plain).left(60));
        QTest::newRow("cut short: the picture before stays") << broken << "view" << false;
        // Cut in its pixels: opened as far as it goes, and the damage told.
        const QString cut = root + "/cut-pixels.jpg";
        writePicture(makeGradientPicture(31, 200, 24), cut, 95 | JPEG_SUBSAMPLING_444);
        writeBytes(cut, fileBytes(cut).chopped(3000));
        QTest::newRow("cut in its pixels: opened, with a warning") << cut << "view" << false;
    }

    void droppedFileOpensAsTheOpenCommand()
    {
        QFETCH(QString, file);
        QFETCH(QString, target);
        QFETCH(bool, batchTab);
        // The open command: a picture first, then the file.
        const QString before = picture("before.bmp");
        Glassmere chosenWindow;
        QCOMPARE(chooseFile(A::ui(chosenWindow).btAddPic, before), QString());
        const QString labelsBefore = A::labels(chosenWindow);
        const QString chosenBox = chooseFile(A::ui(chosenWindow).btAddPic, file);
        // A file that fails says why and leaves the picture before.
        const bool broken = file.contains("broken");
        const bool damaged = file.contains("cut-pixels");
        QCOMPARE(chosenBox.section('|', 0, 2),
                 QString(broken    ? "Failure|Image loads error.|"
                         : damaged ? "Damaged picture|The picture is damaged: only part of it "
                                     "could be read.|Premature end of JPEG file"
                                   : ""));
        QCOMPARE(chosenBox.section('|', 3).isEmpty(), !broken); // the decoder's reason
        QCOMPARE(A::labels(chosenWindow) == labelsBefore, broken);

        Glassmere window;
        showLikeTheProgram(window, batchTab);
        const QString pictureFolder = A::ui(window).txtPicDir->text();
        QWidget* on = widgetNamed(window, target);
        QCOMPARE(drag(on, {QUrl::fromLocalFile(before)}), QString("copy"));
        QString box;
        // Never a move: the file stays where it was.
        QCOMPARE(drag(on, {QUrl::fromLocalFile(file)}, &box), QString("copy"));
        QCOMPARE(box + A::labels(window), chosenBox + A::labels(chosenWindow));
        COMPARE_IMAGES(A::result(window), A::result(chosenWindow));
        QCOMPARE(A::ui(window).txtPicDir->text(), pictureFolder); // no address typed into a field
        QVERIFY(QFile::exists(file));
        // Still usable: a settings change renders the picture shown again.
        A::ui(window).checkBoxLeft->setChecked(true);
        QCOMPARE(A::result(window).getWidth(), 31u + 31u * 40u / 100u);
    }

    void droppedFolderFillsThePictureFolderAsTheChooser_data()
    {
        QTest::addColumn<QString>("dropped");
        QTest::addColumn<QString>("target");
        QVERIFY(QDir(root).mkpath("pictures/summer"));
        QFile::link(root + "/pictures/summer", root + "/link-to-summer");
        QTest::newRow("on the result folder field") << root + "/pictures/summer"
                                                    << "txtResultDir";
        QTest::newRow("a link kept as a link") << root + "/link-to-summer"
                                               << "tab_6";
    }

    void droppedFolderFillsThePictureFolderAsTheChooser()
    {
        QFETCH(QString, dropped);
        QFETCH(QString, target);
        Glassmere window;
        showLikeTheProgram(window, true);
        auto& ui = A::ui(window);
        ui.txtResultDir->setText("results/");
        QCOMPARE(drag(widgetNamed(window, target), {QUrl::fromLocalFile(dropped)}),
                 QString("copy"));
        // As the chooser leaves it: the folder as dropped, and the process there.
        QCOMPARE(ui.txtPicDir->text(), dropped + "/");
        QCOMPARE(QDir::currentPath(), QFileInfo(dropped).canonicalFilePath());
        QCOMPARE(ui.txtResultDir->text(), QString("results/"));
        QCOMPARE(ui.lbName->text(), QString()); // nothing was opened
    }

    void refusedDragsChangeNothing_data()
    {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<int>("actions");
        QVERIFY(QDir(root).mkpath("refused"));
        const QUrl one = QUrl::fromLocalFile(picture("one.png"));
        const int any = int(anyAction);
        QTest::newRow("folder on the first tab")
            << QList<QUrl>{QUrl::fromLocalFile(root + "/refused")} << any;
        QTest::newRow("two pictures")
            << QList<QUrl>{one, QUrl::fromLocalFile(picture("two.png"))} << any;
        QTest::newRow("a source that only moves") << QList<QUrl>{one} << int(Qt::MoveAction);
    }

    void refusedDragsChangeNothing()
    {
        QFETCH(QList<QUrl>, urls);
        QFETCH(int, actions);
        Glassmere window;
        showLikeTheProgram(window);
        const QString current = QDir::currentPath();
        const QString fields = A::ui(window).txtPicDir->text();
        QCOMPARE(
            drag(A::ui(window).graphicsView->viewport(), urls, nullptr, Qt::DropActions(actions)),
            QString("refused"));
        QCOMPARE(A::labels(window), QString("|||"));
        QCOMPARE(A::ui(window).txtPicDir->text(), fields);
        QCOMPARE(QDir::currentPath(), current);
    }

    void refusesWithoutItsFiles_data()
    {
        QTest::addColumn<QString>("present");
        QTest::newRow("neither file") << "";
        QTest::newRow("translation missing") << "skin";
        QTest::newRow("skin missing") << "app_zh.qm";
    }

    // One critical box, the home page, no window, exit code 0.
    void refusesWithoutItsFiles()
    {
        QFETCH(QString, present);
        QTemporaryDir folder;
        if (!present.isEmpty())
            QVERIFY(QFile(folder.filePath(present)).open(QIODevice::WriteOnly));
        MessageBoxCatcher box;
        QCOMPARE(runGlassmere(*qApp, folder.path()), 0);
        QCOMPARE(box.said, QString("error|Error||"));
        QCOMPARE(sink.urls, QList<QUrl>{QUrl(homePageAddress)});
        for (QWidget* widget : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<Glassmere*>(widget));
    }

    // The window is built with the translation installed for a user who
    // reads Chinese, the exit code is the event loop's, and the translator
    // goes with the window.
    void startsTranslated_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("title");
        QTest::newRow("Chinese desktop") << "zh_CN" << QString::fromUtf8("设置");
        QTest::newRow("English desktop") << "en_GB"
                                         << "Setting";
        QTest::newRow("German desktop: English, not Chinese") << "de_DE"
                                                              << "Setting";
    }

    void startsTranslated()
    {
        QFETCH(QString, locale);
        QFETCH(QString, title);
        QLocale::setDefault(QLocale(locale));
        auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::system()); });
        QTemporaryDir folder;
        QVERIFY(QFile(folder.filePath("skin")).open(QIODevice::WriteOnly));
        QVERIFY(QFile::copy(TEST_TRANSLATION, folder.filePath("app_zh.qm")));
        QString settingTitle;
        QTimer::singleShot(200, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* window = qobject_cast<Glassmere*>(widget); window && window->isVisible())
                    settingTitle = window->findChild<QGroupBox*>("groupBox_5")->title();
            QCoreApplication::exit(7);
        });
        QCOMPARE(runGlassmere(*qApp, folder.path()), 7);
        qApp->setStyleSheet(QString());
        QCOMPARE(settingTitle, title);
        QVERIFY(sink.urls.isEmpty());
        QCOMPARE(skinFile, folder.filePath("skin"));
        QCOMPARE(QCoreApplication::translate("GlassmereClass", "Setting"), QString("Setting"));
    }

    void centring_data()
    {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QSize>("window");
        QTest::addColumn<QPoint>("position");
        QTest::newRow("odd difference") << QSize(1024, 768) << QSize(827, 627) << QPoint(98, 70);
        QTest::newRow("larger window, no clamping")
            << QSize(800, 600) << QSize(827, 627) << QPoint(-13, -13);
    }

    void centring()
    {
        QFETCH(QSize, screen);
        QFETCH(QSize, window);
        QFETCH(QPoint, position);
        QCOMPARE(centredPosition(screen, window), position);
    }

private:
    ChromeUrlSink sink;
    QTemporaryDir programFolder;
    QString root = QDir(programFolder.path()).canonicalPath();
    QString startFolder = QDir::currentPath();

    QString picture(const QString& name)
    {
        writePicture(makeGradientPicture(31, 20, 24), root + "/" + name);
        return root + "/" + name;
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
