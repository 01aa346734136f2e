// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's start-up state, its skin and the reflection settings:
// sliders and number fields, direction boxes, transparency and colour; drag and
// drop onto it, with synthesised drag events sent where a real drag would
// deliver them; start-up: the files the program refuses to run without, the
// translation installed before the window, centring, and the exit code.

#include "app/globals.h"
#include "app/startup.h"
#include "imaging/decoder/image_io.h"
#include "support/chrometest_urlsink.h"
#include "support/dialogdriver.h"
#include "support/imagecompare.h"
#include "support/testaccess.h"
#include "support/testpictures.h"

#include <QCheckBox>
#include <QClipboard>
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
#include <QWheelEvent>

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

// Wheel notches over `target` at `at`, one event each, as a mouse sends them.
void turnWheel(QWidget* target, int notches, Qt::KeyboardModifiers modifiers = {}, QPoint at = {})
{
    for (int i = 0; i < std::abs(notches); ++i) {
        QWheelEvent event(QPointF(at), QPointF(target->mapToGlobal(at)), QPoint(),
                          QPoint(0, notches > 0 ? 120 : -120), Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
    }
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
        QVERIFY(!ui.btSavePic->isEnabled()); // nothing to save yet
        // At the form's size every group lies whole on its page, apart from the others.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QRect above;
        for (const char* name : {"groupBox_5", "groupBox_6", "groupBox_effects"}) {
            const QRect box = window.findChild<QGroupBox*>(name)->geometry();
            QVERIFY2(ui.tab_5->rect().contains(box) && box.top() > above.bottom() + 5, name);
            above = box;
            // Every check box's text ends clear of its group's frame.
            for (const QCheckBox* check :
                 window.findChild<QGroupBox*>(name)->findChildren<QCheckBox*>())
                QVERIFY2(check->x() + check->sizeHint().width() + 3 <= box.width(),
                         qPrintable(check->objectName()));
        }

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
        // One direction is always shown lit: the one that renders.
        QTest::mouseClick(ui.checkBoxLeft, Qt::LeftButton);
        QCOMPARE(A::direction(window), 1);
        QVERIFY(ui.checkBoxBottom->isChecked() && !ui.checkBoxLeft->isChecked());
        QCOMPARE(A::result(window).getHeight(), 20u);
        QTest::mouseClick(ui.checkBoxBottom, Qt::LeftButton);
        QVERIFY(ui.checkBoxBottom->isChecked());

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

        // Cancelling changes nothing; the chooser starts at the current colour.
        QColor offered;
        driver.expect<QColorDialog>([&offered](QColorDialog* dialog) {
            offered = dialog->currentColor();
            dialog->setCurrentColor(Qt::red);
            dialog->reject();
        });
        ui.btColorPicker->click();
        QCOMPARE(driver.answered, 2);
        QCOMPARE(offered, QColor(255, 128, 0));
        QCOMPARE(ui.txtColor->text(), QString("#ff8000"));
        QCOMPARE(outerStripPixel(), fadingToOrange);

        // The widest colour text still fits its field, "#" and all.
        driver.expect<QColorDialog>([](QColorDialog* dialog) {
            dialog->setCurrentColor(QColor(0x88, 0x88, 0x88));
            dialog->accept();
        });
        ui.btColorPicker->click();
        QStyleOptionFrame frame;
        frame.initFrom(ui.txtColor);
        frame.lineWidth = 1;
        QVERIFY(ui.txtColor->fontMetrics().horizontalAdvance(ui.txtColor->text()) + 4 <=
                window.style()
                    ->subElementRect(QStyle::SE_LineEditContents, &frame, ui.txtColor)
                    .width());
    }

    // A typed value renders once confirmed (Return, or the field left); the
    // wheel and keys on a slider render once their moves settle: one render,
    // one undo step, for ten wheel notches.
    void typedAndSettledValuesRender_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("settles"); // rendered only after a pause
        QTest::newRow("size typed, Return") << "txtSize"
                                            << "10\r" << false;
        QTest::newRow("depth typed, field left") << "txtDepth"
                                                 << "90\t" << false;
        QTest::newRow("size slider, ten wheel notches") << "refSize"
                                                        << "wheel" << true;
        QTest::newRow("depth slider, arrow keys") << "refDepth"
                                                  << "keys" << true;
        QTest::newRow("opacity slider, ten wheel notches") << "refOpacity"
                                                           << "wheel" << true;
    }

    void typedAndSettledValuesRender()
    {
        QFETCH(QString, control);
        QFETCH(QString, input);
        QFETCH(bool, settles);
        Glassmere window;
        showLikeTheProgram(window);
        A::open(window, makeGradientPicture(40, 30, 24));
        const fipImage before = A::result(window);
        auto* target = window.findChild<QWidget*>(control);
        target->setFocus();
        if (input == "wheel") {
            turnWheel(target, -10);
        } else if (input == "keys") {
            for (int i = 0; i < 5; ++i)
                QTest::keyClick(target, Qt::Key_Right);
        } else {
            static_cast<QLineEdit*>(target)->selectAll();
            QTest::keyClicks(target, input.chopped(1));
            QTest::keyClick(target, input.endsWith('\r') ? Qt::Key_Return : Qt::Key_Tab);
        }
        if (settles)
            COMPARE_IMAGES(A::result(window), before); // not on every step
        QTRY_VERIFY_WITH_TIMEOUT(!compareImages(A::result(window), before).isEmpty(), 1000);
        const fipImage settled = A::result(window);
        A::render(window); // what the controls say
        COMPARE_IMAGES(A::result(window), settled);
        QTest::keyClick(target, Qt::Key_Z, Qt::ControlModifier);
        COMPARE_IMAGES(A::result(window), before);
    }

    // Ctrl+Z undoes settled changes one by one, Ctrl+Shift+Z redoes them, and
    // each renders; a new change after an undo drops what could be redone.
    void undoAndRedo()
    {
        Glassmere window;
        showLikeTheProgram(window);
        auto& ui = A::ui(window);
        A::open(window, makeGradientPicture(40, 30, 24));
        // The controls and the result after each change, as they were made.
        QList<QPair<QString, fipImage>> seen;
        const auto take = [&] {
            seen.append({QStringList{ui.txtSize->text(), ui.txtOpacity->text(),
                                     QString::number(A::direction(window)),
                                     QString::number(ui.cbTransparent->isChecked())}
                             .join(' '),
                         A::result(window)});
        };
        const auto expect = [&](int step) {
            QCOMPARE(seen.last().first, seen[step].first);
            COMPARE_IMAGES(seen.last().second, seen[step].second);
        };
        take();
        QTest::mouseClick(ui.checkBoxLeft, Qt::LeftButton);
        take();
        ui.cbTransparent->click();
        take();
        ui.txtSize->selectAll();
        QTest::keyClicks(ui.txtSize, "75");
        QTest::keyClick(ui.txtSize, Qt::Key_Return);
        take();
        // The keys are the window's even with the focus in a number field.
        for (int step = 2; step >= 0; --step) {
            QTest::keyClick(ui.txtSize, Qt::Key_Z, Qt::ControlModifier);
            take();
            expect(step);
        }
        QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        take();
        expect(1);
        ui.refOpacity->setValue(50);
        Q_EMIT ui.refOpacity->sliderReleased();
        QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(ui.txtOpacity->text(), QString("50")); // nothing left to redo
    }

    // Ctrl and the wheel zoom about the pointer, a drag pans under the hand,
    // and a result that grows keeps the part looked at in view.
    void zoomPanAndKeepInView()
    {
        Glassmere window;
        window.resize(900, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto& ui = A::ui(window);
        QGraphicsView* view = ui.graphicsView;
        QWidget* viewport = view->viewport();
        A::open(window, makeGradientPicture(1500, 1000, 24));
        ui.pbRawSize->click();
        QCOMPARE(viewport->cursor().shape(), Qt::OpenHandCursor);

        const QPoint pointer(200, 150);
        const QPointF under = view->mapToScene(pointer);
        turnWheel(viewport, 1, Qt::ControlModifier, pointer);
        QCOMPARE(view->transform().m11(), 1.2);
        QVERIFY((view->mapToScene(pointer) - under).manhattanLength() < 2);

        const QPoint scrolled(view->horizontalScrollBar()->value(),
                              view->verticalScrollBar()->value());
        QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(300, 300));
        QTest::mouseMove(viewport, QPoint(250, 280));
        QTest::mouseMove(viewport, QPoint(200, 260));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, QPoint(200, 260));
        QCOMPARE(QPoint(view->horizontalScrollBar()->value(), view->verticalScrollBar()->value()),
                 scrolled + QPoint(100, 40));

        // Looking at the picture's lower edge with the strip above it: a taller
        // strip moves the picture down, and the view goes with it.
        ui.checkBoxTop->click();
        view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
        const QPointF centre = view->viewport()->rect().center();
        const qreal pictureTop = 400; // the strip's rows above it
        const QPointF looked = view->mapToScene(centre.toPoint()) - QPointF(0, pictureTop);
        ui.txtSize->selectAll();
        QTest::keyClicks(ui.txtSize, "80");
        QTest::keyClick(ui.txtSize, Qt::Key_Return);
        QCOMPARE(A::result(window).getHeight(), 1800u);
        QVERIFY((view->mapToScene(centre.toPoint()) - QPointF(0, 800) - looked).manhattanLength() <
                3);
        // A negative skew widens the result before the picture: the view follows it.
        const QPointF seen = view->mapToScene(centre.toPoint());
        ui.txtSkew->selectAll();
        QTest::keyClicks(ui.txtSkew, "-100");
        QTest::keyClick(ui.txtSkew, Qt::Key_Return);
        QCOMPARE(A::result(window).getWidth(), 1600u);
        QVERIFY((view->mapToScene(centre.toPoint()) - QPointF(100, 0) - seen).manhattanLength() <
                3);
    }

    // Ctrl+C puts the result on the clipboard as PNG, alpha and all; Ctrl+V
    // opens what the clipboard holds as the open command would.
    void clipboard_data()
    {
        QTest::addColumn<bool>("asFile"); // a file copied in a file manager; else its bytes
        QTest::newRow("a picture's bytes") << false;
        QTest::newRow("a copied file") << true;
    }

    void clipboard()
    {
        QFETCH(bool, asFile);
        Glassmere window;
        showLikeTheProgram(window);
        auto& ui = A::ui(window);
        A::open(window, makeGradientPicture(30, 20, 24));
        ui.cbTransparent->click();
        QTest::keyClick(ui.txtSize, Qt::Key_C, Qt::ControlModifier);
        const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
        QVERIFY(copied && copied->hasFormat("image/png"));
        writeBytes(root + "/copied.png", copied->data("image/png"));
        fipImage read;
        QVERIFY(loadPicture(root + "/copied.png", read));
        COMPARE_IMAGES(read, A::result(window));

        const QString file = picture("pasted-source.png");
        auto* offered = new QMimeData;
        if (asFile)
            offered->setUrls({QUrl::fromLocalFile(file)});
        else
            offered->setData("image/png", fileBytes(file));
        QGuiApplication::clipboard()->setMimeData(offered);
        QTest::keyClick(&window, Qt::Key_V, Qt::ControlModifier);
        Glassmere opened;
        QCOMPARE(chooseFile(A::ui(opened).btAddPic, file), QString());
        A::ui(opened).cbTransparent->click();
        COMPARE_IMAGES(A::result(window), A::result(opened));
        QCOMPARE(A::labels(window).section('|', 1),
                 A::labels(opened).section('|', 1)); // the name is the file's or "pasted"
        QCOMPARE(ui.lbName->text(), QString(asFile ? "pasted-source" : "pasted"));
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
        if (broken) // the decoder wrote into other memory than the picture shown
            COMPARE_IMAGES(A::source(chosenWindow), makeGradientPicture(31, 20, 24));

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
    // goes with the window. A file given to the program opens as the open
    // command would: of several, the first; a file address as its path.
    void startsTranslated_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("ok"); // Qt's own button text
        QTest::newRow("Chinese desktop")
            << "zh_CN" << QString::fromUtf8("设置") << "" << QString::fromUtf8("确定");
        QTest::newRow("English desktop, a path and a second file") << "en_GB"
                                                                   << "Setting"
                                                                   << "@"
                                                                   << "OK";
        QTest::newRow("German desktop: English, not Chinese; a file address") << "de_DE"
                                                                              << "Setting"
                                                                              << "file://@"
                                                                              << "OK";
    }

    void startsTranslated()
    {
        QFETCH(QString, locale);
        QFETCH(QString, title);
        QFETCH(QString, given);
        QFETCH(QString, ok);
        QLocale::setDefault(QLocale(locale));
        auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::system()); });
        QTemporaryDir folder;
        QVERIFY(QFile(folder.filePath("skin")).open(QIODevice::WriteOnly));
        QVERIFY(QFile::copy(TEST_TRANSLATION, folder.filePath("app_zh.qm")));
        QString settingTitle, labels, okText;
        QTimer poll; // until the given picture is open, or a moment without one
        int polls = 0;
        connect(&poll, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* window = qobject_cast<Glassmere*>(widget);
                    window && window->isVisible()) {
                    settingTitle = window->findChild<QGroupBox*>("groupBox_5")->title();
                    okText = QCoreApplication::translate("QPlatformTheme", "OK");
                    labels = A::labels(*window);
                }
            if (++polls > (given.isEmpty() ? 5 : 200) || labels != "|||")
                QCoreApplication::exit(7);
        });
        poll.start(50);
        const QStringList files{given.replace("@", picture("given.png")), picture("second.png")};
        QCOMPARE(runGlassmere(*qApp, folder.path(), given.isEmpty() ? QStringList() : files), 7);
        qApp->setStyleSheet(QString());
        QCOMPARE(settingTitle, title);
        QCOMPARE(okText, ok);
        QCOMPARE(labels.section('|', 0, 1), QString(given.isEmpty() ? "|" : "given|PNG"));
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
