// The main window as the rest of the program relies on it: object names and
// start-up values, the connections, the custom widgets, the skin and the
// reflection settings.

#include "app/globals.h"
#include "mainwindow/glassmere.h"
#include "support/dialogdriver.h"
#include "support/testpictures.h"

#include <QColorDialog>
#include <QGraphicsPixmapItem>
#include <QGraphicsView>
#include <QIntValidator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class GlassmereTestAccess {
public:
    static Ui::GlassmereClass& ui(Glassmere& w) { return w.ui; }
    static fipImage& source(Glassmere& w) { return w.sourceImage; }
    static fipImage& result(Glassmere& w) { return w.resultImage; }
    static _RGB color(Glassmere& w) { return w.reflectionColor; }
    static bool transparent(Glassmere& w) { return w.transparent; }
    static QGraphicsScene* scene(Glassmere& w) { return w.scene; }
    static QGraphicsPixmapItem* item(Glassmere& w) { return w.pixmapItem; }
    static int direction(Glassmere& w) { return w.GetReflectionDirection(); }
    static void render(Glassmere& w) { w.RunReflection(); }
};
using A = GlassmereTestAccess;

class TestMainWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void startUpValues();
    void everyNamedSlotIsConnected();
    void validatorsAcceptOnlyWholePercentages_data();
    void validatorsAcceptOnlyWholePercentages();

    void frameExEmitsOnDoubleClickOfAnyButton();
    void labelExStartsEmptyAndEmitsOnDoubleClick();
    void lineEditExEmitsOnPressBeforeReleaseAndKeepsText();
    void imageLabelEmitsOnRelease();

    void skinSubstitution_data();
    void skinSubstitution();

    void sliderAndFieldMirrorEachOther();
    void onlyReleasingTheHandleRenders();
    void directionBoxesActAsOneGroup_data();
    void directionBoxesActAsOneGroup();
    void uncheckingTheOnlyBoxRendersBottom();
    void transparencySwitchesColourControls();
    void pickingAColour();
    void cancellingTheColourDialogChangesNothing();
    void settingsWorkWithoutAPicture();

private:
    QTemporaryDir programFolder;
    void useSkin(const QByteArray& content);
    void loadPicture(Glassmere& window, unsigned width, unsigned height);
};

void TestMainWindow::initTestCase()
{
    QVERIFY(programFolder.isValid());
    applicationFolder = programFolder.path();
    skinFile = programFolder.filePath("skin");
    useSkin("");
}

void TestMainWindow::cleanup()
{
    qApp->setStyleSheet(QString());
}

void TestMainWindow::useSkin(const QByteArray& content)
{
    QFile file(skinFile);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

void TestMainWindow::loadPicture(Glassmere& window, unsigned width, unsigned height)
{
    A::source(window) = makeGradientPicture(width, height, 24);
    A::render(window);
}

void TestMainWindow::startUpValues()
{
    Glassmere window;
    auto& ui = A::ui(window);
    QCOMPARE(window.objectName(), QString("GlassmereClass"));
    QCOMPARE(window.size(), QSize(827, 627));
    QCOMPARE(window.windowTitle(), QString("Glassmere"));
    QCOMPARE(ui.txtSize->text(), QString("40"));
    QCOMPARE(ui.txtDepth->text(), QString("30"));
    QCOMPARE(ui.refSize->value(), 40);
    QCOMPARE(ui.refDepth->value(), 30);
    QCOMPARE(ui.refSize->maximum(), 100);
    QVERIFY(ui.checkBoxBottom->isChecked());
    QVERIFY(!ui.checkBoxTop->isChecked() && !ui.checkBoxLeft->isChecked() &&
            !ui.checkBoxRight->isChecked());
    QCOMPARE(A::direction(window), 1);
    QCOMPARE(ui.txtColor->text(), QString("#ffffff"));
    QVERIFY(ui.txtColor->isReadOnly());
    const _RGB color = A::color(window);
    QCOMPARE(color.red + color.green + color.blue, 3 * 255);
    QVERIFY(!A::transparent(window));
    QVERIFY(!ui.cbTransparent->isChecked());
    QCOMPARE(ui.tabWidget->currentIndex(), 0);
    QCOMPARE(ui.tabWidget->tabText(0), QString("one-by-one"));
    QCOMPARE(ui.tabWidget->tabText(1), QString("all-at-once"));
    QVERIFY(ui.progressBar->isHidden());
    QVERIFY(ui.lbProcess->isHidden());
    QVERIFY(!A::source(window).isValid());
    QVERIFY(A::item(window) == nullptr);
    QVERIFY(A::scene(window)->items().isEmpty());
    QCOMPARE(ui.graphicsView->scene(), A::scene(window));
    QCOMPARE(ui.actionMenuHelper->shortcut(), QKeySequence(Qt::Key_F1));
    QCOMPARE(ui.btColorPicker->toolTip(), QString("Set reflection color."));
    QCOMPARE(ui.pbFit->toolTip(), QString("Fit"));
    QCOMPARE(ui.pbRawSize->toolTip(), QString("Actual"));
    QCOMPARE(ui.lbName->text(), QString());
    QCOMPARE(ui.widget->styleSheet(),
             QString("background-image: url(:/Glassmere/Resources/bg.png);"));
    QCOMPARE(window.font().family(), QString("Verdana"));
}

void TestMainWindow::everyNamedSlotIsConnected()
{
    QTest::failOnWarning(QRegularExpression("No matching signal"));
    QTest::failOnWarning(QRegularExpression("QObject::connect"));
    Glassmere window;
    QVERIFY(window.findChild<QWidget*>("frame_Title"));
}

void TestMainWindow::validatorsAcceptOnlyWholePercentages_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("slider");
    QTest::newRow("100 is taken") << "100"
                                  << "100" << 100;
    QTest::newRow("101 is refused") << "101"
                                    << "10" << 10;
    QTest::newRow("a letter is refused") << "7x"
                                         << "7" << 7;
    QTest::newRow("a minus is refused") << "-5"
                                        << "5" << 5;
    QTest::newRow("05 becomes 5") << "05"
                                  << "5" << 5;
}

void TestMainWindow::validatorsAcceptOnlyWholePercentages()
{
    QFETCH(QString, typed);
    QFETCH(QString, field);
    QFETCH(int, slider);
    Glassmere window;
    auto& ui = A::ui(window);
    ui.txtSize->clear();
    QTest::keyClicks(ui.txtSize, typed);
    QCOMPARE(ui.txtSize->text(), field);
    QCOMPARE(ui.refSize->value(), slider);
}

void TestMainWindow::frameExEmitsOnDoubleClickOfAnyButton()
{
    QFrameEx frame;
    frame.resize(50, 50);
    QSignalSpy spy(&frame, &QFrameEx::doubleClicked);
    QTest::mouseClick(&frame, Qt::LeftButton);
    QCOMPARE(spy.count(), 0);
    QTest::mouseDClick(&frame, Qt::RightButton);
    QCOMPARE(spy.count(), 1);
    QTest::mouseDClick(&frame, Qt::LeftButton);
    QCOMPARE(spy.count(), 2);
}

void TestMainWindow::labelExStartsEmptyAndEmitsOnDoubleClick()
{
    QLabelEx label;
    QVERIFY(label.text().isEmpty());
    QSignalSpy spy(&label, &QLabelEx::doubleClicked);
    QTest::mouseClick(&label, Qt::LeftButton);
    QCOMPARE(spy.count(), 0);
    QTest::mouseDClick(&label, Qt::MiddleButton);
    QCOMPARE(spy.count(), 1);
}

void TestMainWindow::lineEditExEmitsOnPressBeforeReleaseAndKeepsText()
{
    QLineEditEx edit;
    edit.setReadOnly(true);
    edit.setText("#ffffff");
    edit.setCursorPosition(2);
    QSignalSpy spy(&edit, &QLineEditEx::clicked);
    QTest::mousePress(&edit, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(spy.count(), 1);
    QTest::mouseRelease(&edit, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(edit.text(), QString("#ffffff"));
    QCOMPARE(edit.cursorPosition(), 2);
    QVERIFY(!edit.hasSelectedText());
}

void TestMainWindow::imageLabelEmitsOnRelease()
{
    QImageLabel label;
    QSignalSpy spy(&label, &QImageLabel::clicked);
    QTest::mousePress(&label, Qt::RightButton);
    QCOMPARE(spy.count(), 0);
    QTest::mouseRelease(&label, Qt::RightButton);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<QImageLabel*>(), &label);
}

void TestMainWindow::skinSubstitution_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QByteArray>("skin");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no placeholder")
        << "/opt/g" << QByteArray("QLabel { color: red; }") << "QLabel { color: red; }";
    QTest::newRow("several occurrences")
        << "/opt/g"
        << QByteArray("a{image:url(%currentPath%/a.png)} b{image:url(%currentPath%/b.png)}")
        << "a{image:url(/opt/g/a.png)} b{image:url(/opt/g/b.png)}";
    QTest::newRow("other letter case untouched")
        << "/opt/g" << QByteArray("x{image:url(%CurrentPath%/a.png)}")
        << "x{image:url(%CurrentPath%/a.png)}";
    QTest::newRow("folder with spaces")
        << "/home/me/My Tools" << QByteArray("url(%currentPath%/i.png)")
        << "url(/home/me/My Tools/i.png)";
    QTest::newRow("utf-8 text") << "/opt/g" << QByteArray("/* Glänzend 图 */")
                                << "/* Glänzend 图 */";
    QTest::newRow("empty skin") << "/opt/g" << QByteArray() << "";
}

void TestMainWindow::skinSubstitution()
{
    QFETCH(QString, folder);
    QFETCH(QByteArray, skin);
    QFETCH(QString, expected);
    const QString savedFolder = applicationFolder;
    applicationFolder = folder;
    useSkin(skin);
    Glassmere window;
    applicationFolder = savedFolder;
    QCOMPARE(qApp->styleSheet(), expected);
    QVERIFY(window.styleSheet().isEmpty()); // application-wide, not the window's own
}

void TestMainWindow::sliderAndFieldMirrorEachOther()
{
    Glassmere window;
    auto& ui = A::ui(window);
    ui.refDepth->setValue(77);
    QCOMPARE(ui.txtDepth->text(), QString("77"));
    ui.txtDepth->setText("12");
    QCOMPARE(ui.refDepth->value(), 12);
    // Emptying the field sets the slider to 0, which writes "0" back at once.
    ui.txtDepth->clear();
    QCOMPARE(ui.refDepth->value(), 0);
    QCOMPARE(ui.txtDepth->text(), QString("0"));
}

void TestMainWindow::onlyReleasingTheHandleRenders()
{
    Glassmere window;
    auto& ui = A::ui(window);
    loadPicture(window, 20, 10);
    QCOMPARE(A::result(window).getHeight(), 14u); // 40 % of 10 rows

    ui.txtSize->setText("100");
    QCOMPARE(ui.refSize->value(), 100);
    QCOMPARE(A::result(window).getHeight(), 14u); // typing renders nothing

    Q_EMIT ui.refSize->sliderReleased();
    QCOMPARE(A::result(window).getHeight(), 20u);
}

void TestMainWindow::directionBoxesActAsOneGroup_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("direction");
    QTest::addColumn<QSize>("resultSize");
    QTest::newRow("top") << "checkBoxTop" << 0 << QSize(20, 14);
    QTest::newRow("left") << "checkBoxLeft" << 2 << QSize(28, 10);
    QTest::newRow("right") << "checkBoxRight" << 3 << QSize(28, 10);
}

void TestMainWindow::directionBoxesActAsOneGroup()
{
    QFETCH(QString, box);
    QFETCH(int, direction);
    QFETCH(QSize, resultSize);
    Glassmere window;
    loadPicture(window, 20, 10);
    auto* checkBox = window.findChild<QCheckBox*>(box);
    checkBox->setChecked(true);
    const QList<QCheckBox*> all = {A::ui(window).checkBoxTop, A::ui(window).checkBoxLeft,
                                   A::ui(window).checkBoxBottom, A::ui(window).checkBoxRight};
    for (QCheckBox* other : all)
        QCOMPARE(other->isChecked(), other == checkBox);
    QCOMPARE(A::direction(window), direction);
    const fipImage& result = A::result(window);
    QCOMPARE(QSize(int(result.getWidth()), int(result.getHeight())), resultSize);
}

void TestMainWindow::uncheckingTheOnlyBoxRendersBottom()
{
    Glassmere window;
    loadPicture(window, 20, 10);
    A::ui(window).checkBoxTop->setChecked(true);
    QCOMPARE(A::direction(window), 0);
    A::ui(window).checkBoxTop->setChecked(false);
    for (QCheckBox* box : window.findChildren<QCheckBox*>(QRegularExpression("^checkBox")))
        QVERIFY(!box->isChecked());
    QCOMPARE(A::direction(window), 1);
    // Bottom: the picture's first row stays at the top of the result.
    QCOMPARE(pixelAt(A::result(window), 0, 0), pixelAt(A::source(window), 0, 0));
    QCOMPARE(A::result(window).getHeight(), 14u);
}

void TestMainWindow::transparencySwitchesColourControls()
{
    Glassmere window;
    auto& ui = A::ui(window);
    loadPicture(window, 20, 10);
    ui.cbTransparent->setChecked(true);
    QVERIFY(A::transparent(window));
    QVERIFY(!ui.frameColor->isEnabled());
    QVERIFY(!ui.btColorPicker->isEnabled());
    QCOMPARE(A::result(window).getBitsPerPixel(), 32u);

    ui.cbTransparent->setChecked(false);
    QVERIFY(!A::transparent(window));
    QVERIFY(ui.frameColor->isEnabled());
    QCOMPARE(ui.btColorPicker->styleSheet(), QString("background-color: rgb(255, 255, 255);"));
    QCOMPARE(A::result(window).getBitsPerPixel(), 24u);
}

void TestMainWindow::pickingAColour()
{
    Glassmere window;
    auto& ui = A::ui(window);
    loadPicture(window, 20, 10);
    DialogDriver driver;
    QColor initial;
    driver.expect<QColorDialog>([&](QColorDialog* dialog) {
        initial = dialog->currentColor();
        dialog->setCurrentColor(QColor(255, 128, 0));
        dialog->accept();
    });
    QTest::mousePress(ui.txtColor, Qt::LeftButton); // the read-only field opens the dialog
    QCOMPARE(driver.answered, 1);
    QCOMPARE(initial, QColor(Qt::white));
    QCOMPARE(ui.txtColor->text(), QString("#ff8000"));
    QCOMPARE(ui.btColorPicker->styleSheet(), QString("background-color: rgb(255, 128, 0);"));
    const _RGB color = A::color(window);
    QCOMPARE(color.red, 255);
    QCOMPARE(color.green, 128);
    QCOMPARE(color.blue, 0);
    // The outermost strip row has moved towards orange.
    const unsigned outer = pixelAt(A::result(window), 0, A::result(window).getHeight() - 1);
    QVERIFY(((outer >> 16) & 0xff) > 0);

    // Black gives "#000000"; the dialog starts at white again.
    driver.expect<QColorDialog>([&](QColorDialog* dialog) {
        initial = dialog->currentColor();
        dialog->setCurrentColor(Qt::black);
        dialog->accept();
    });
    ui.btColorPicker->click();
    QCOMPARE(initial, QColor(Qt::white));
    QCOMPARE(ui.txtColor->text(), QString("#000000"));
    QCOMPARE(ui.btColorPicker->styleSheet(), QString("background-color: rgb(0, 0, 0);"));
}

void TestMainWindow::cancellingTheColourDialogChangesNothing()
{
    Glassmere window;
    auto& ui = A::ui(window);
    loadPicture(window, 20, 10);
    const fipImage before = A::result(window);
    DialogDriver driver;
    driver.expect<QColorDialog>([](QColorDialog* dialog) {
        dialog->setCurrentColor(Qt::red);
        dialog->reject();
    });
    ui.btColorPicker->click();
    QCOMPARE(driver.answered, 1);
    QCOMPARE(ui.txtColor->text(), QString("#ffffff"));
    QVERIFY(ui.btColorPicker->styleSheet().isEmpty());
    QCOMPARE(pixelAt(A::result(window), 3, 13), pixelAt(before, 3, 13));
}

void TestMainWindow::settingsWorkWithoutAPicture()
{
    Glassmere window;
    auto& ui = A::ui(window);
    ui.checkBoxLeft->setChecked(true);
    ui.cbTransparent->setChecked(true);
    Q_EMIT ui.refSize->sliderReleased();
    QVERIFY(!A::result(window).isValid());
    QVERIFY(A::item(window) == nullptr);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
