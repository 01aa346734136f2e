// The main window's start-up state, its skin and the reflection settings:
// sliders and number fields, direction boxes, transparency and colour.

#include "app/globals.h"
#include "mainwindow/glassmere.h"
#include "support/dialogdriver.h"
#include "support/testpictures.h"

#include <QColorDialog>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class GlassmereTestAccess {
public:
    static Ui::GlassmereClass& ui(Glassmere& w) { return w.ui; }
    static fipImage& source(Glassmere& w) { return w.sourceImage; }
    static fipImage& result(Glassmere& w) { return w.resultImage; }
    static bool transparent(Glassmere& w) { return w.transparent; }
    static QGraphicsPixmapItem* item(Glassmere& w) { return w.pixmapItem; }
    static int direction(Glassmere& w) { return w.GetReflectionDirection(); }
    static void render(Glassmere& w) { w.RunReflection(); }
};
using A = GlassmereTestAccess;

namespace {

void loadPicture(Glassmere& window, unsigned width, unsigned height)
{
    A::source(window) = makeGradientPicture(width, height, 24);
    A::render(window);
}

unsigned outerStripPixel(Glassmere& window)
{
    return pixelAt(A::result(window), 0, A::result(window).getHeight() - 1);
}

// Answers the next colour dialog with `chosen` (cancels it if invalid) and notes its start colour.
void answerColourDialog(DialogDriver& driver, QColor chosen, QColor* initial)
{
    driver.expect<QColorDialog>([chosen, initial](QColorDialog* dialog) {
        *initial = dialog->currentColor();
        dialog->setCurrentColor(chosen.isValid() ? chosen : QColor(Qt::red));
        if (chosen.isValid())
            dialog->accept();
        else
            dialog->reject();
    });
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void startUpState();
    void skinSubstitution();
    void fieldsAndSliders_data();
    void fieldsAndSliders();
    void onlyReleasingTheHandleRenders();
    void directionBoxesActAsOneGroup_data();
    void directionBoxesActAsOneGroup();
    void transparencySwitchesColourControls();
    void pickingAndCancellingAColour();

private:
    QTemporaryDir programFolder;
};

void TestMainWindow::initTestCase()
{
    QVERIFY(programFolder.isValid());
    applicationFolder = programFolder.path();
    skinFile = programFolder.filePath("skin");
}

void TestMainWindow::init()
{
    // Every named slot and every string-based connection finds its signal.
    QTest::failOnWarning(QRegularExpression("No matching signal|QObject::connect"));
}

void TestMainWindow::cleanup()
{
    qApp->setStyleSheet(QString());
}

void TestMainWindow::startUpState()
{
    Glassmere window;
    auto& ui = A::ui(window);
    QCOMPARE(
        QStringList({window.windowTitle(), ui.tabWidget->tabText(0), ui.tabWidget->tabText(1),
                     ui.btColorPicker->toolTip(), ui.pbFit->toolTip(), ui.pbRawSize->toolTip()}),
        QStringList(
            {"Glassmere", "one-by-one", "all-at-once", "Set reflection color.", "Fit", "Actual"}));
    QCOMPARE(ui.tabWidget->currentIndex(), 0);
    QCOMPARE(ui.txtSize->text(), QString("40"));
    QCOMPARE(ui.refSize->value(), 40);
    QCOMPARE(ui.txtDepth->text(), QString("30"));
    QCOMPARE(ui.refDepth->value(), 30);
    QVERIFY(ui.checkBoxBottom->isChecked());
    QVERIFY(!ui.checkBoxTop->isChecked() && !ui.checkBoxLeft->isChecked() &&
            !ui.checkBoxRight->isChecked());
    QCOMPARE(ui.txtColor->text(), QString("#ffffff"));
    QVERIFY(ui.txtColor->isReadOnly());
    QVERIFY(!ui.cbTransparent->isChecked() && !A::transparent(window));
    QVERIFY(ui.progressBar->isHidden() && ui.lbProcess->isHidden());
    QVERIFY(!A::source(window).isValid() && A::item(window) == nullptr);

    // Without a picture the settings render nothing, and nothing breaks.
    ui.checkBoxLeft->setChecked(true);
    ui.cbTransparent->setChecked(true);
    Q_EMIT ui.refSize->sliderReleased();
    QVERIFY(!A::result(window).isValid() && A::item(window) == nullptr);
}

void TestMainWindow::skinSubstitution()
{
    // Every placeholder becomes the program's folder, spaces and all; the file is UTF-8.
    const QString savedFolder = applicationFolder;
    applicationFolder = "/home/me/My Tools";
    QFile file(skinFile);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("a{url(%currentPath%/a.png)} /* Glänzend 图 */ b{url(%currentPath%/b.png)}");
    file.close();
    Glassmere window;
    applicationFolder = savedFolder;
    file.remove();
    QCOMPARE(qApp->styleSheet(), QString("a{url(/home/me/My Tools/a.png)} /* Glänzend 图 */ "
                                         "b{url(/home/me/My Tools/b.png)}"));
    QVERIFY(window.styleSheet().isEmpty()); // application-wide, not the window's own
}

void TestMainWindow::fieldsAndSliders_data()
{
    QTest::addColumn<bool>("depth");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("slider");
    const auto row = [](const char* name, bool depth, const char* typed, const char* field,
                        int slider) {
        QTest::newRow(name) << depth << QString(typed) << QString(field) << slider;
    };
    row("size: 100 is taken", false, "100", "100", 100);
    row("size: 101 is refused", false, "101", "10", 10);
    row("size: a letter is refused", false, "7x", "7", 7);
    row("size: 05 becomes 5", false, "05", "5", 5);
    row("depth: 101 is refused", true, "101", "10", 10);
    // Emptying the field sets the slider to 0, which writes "0" back at once.
    row("depth: emptied reads 0", true, "", "0", 0);
}

void TestMainWindow::fieldsAndSliders()
{
    QFETCH(bool, depth);
    QFETCH(QString, typed);
    QFETCH(QString, field);
    QFETCH(int, slider);
    Glassmere window;
    auto& ui = A::ui(window);
    QLineEdit* edit = depth ? ui.txtDepth : ui.txtSize;
    QSlider* handle = depth ? ui.refDepth : ui.refSize;
    edit->clear();
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), field);
    QCOMPARE(handle->value(), slider);
    handle->setValue(77);
    QCOMPARE(edit->text(), QString("77"));
}

void TestMainWindow::onlyReleasingTheHandleRenders()
{
    Glassmere window;
    auto& ui = A::ui(window);
    loadPicture(window, 20, 10);
    QCOMPARE(A::result(window).getHeight(), 14u); // 40 % of 10 rows

    ui.txtSize->setText("100");
    QCOMPARE(ui.refSize->value(), 100);
    QCOMPARE(A::result(window).getHeight(), 14u);
    Q_EMIT ui.refSize->sliderReleased();
    QCOMPARE(A::result(window).getHeight(), 20u);
}

void TestMainWindow::directionBoxesActAsOneGroup_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("uncheckAgain");
    QTest::addColumn<int>("direction");
    QTest::addColumn<QSize>("resultSize");
    QTest::newRow("top") << "checkBoxTop" << false << 0 << QSize(20, 14);
    QTest::newRow("left") << "checkBoxLeft" << false << 2 << QSize(28, 10);
    QTest::newRow("right") << "checkBoxRight" << false << 3 << QSize(28, 10);
    QTest::newRow("top, unchecked again: none, bottom")
        << "checkBoxTop" << true << 1 << QSize(20, 14);
}

void TestMainWindow::directionBoxesActAsOneGroup()
{
    QFETCH(QString, box);
    QFETCH(bool, uncheckAgain);
    QFETCH(int, direction);
    QFETCH(QSize, resultSize);
    Glassmere window;
    loadPicture(window, 20, 10);
    auto* checkBox = window.findChild<QCheckBox*>(box);
    checkBox->setChecked(true);
    if (uncheckAgain)
        checkBox->setChecked(false);
    const auto& ui = A::ui(window);
    for (QCheckBox* other : {ui.checkBoxTop, ui.checkBoxLeft, ui.checkBoxBottom, ui.checkBoxRight})
        QCOMPARE(other->isChecked(), other == checkBox && !uncheckAgain);
    QCOMPARE(A::direction(window), direction);
    const fipImage& result = A::result(window);
    QCOMPARE(QSize(int(result.getWidth()), int(result.getHeight())), resultSize);
    // Bottom: the picture's first row stays at the top of the result.
    if (direction == 1)
        QCOMPARE(pixelAt(result, 0, 0), pixelAt(A::source(window), 0, 0));
}

void TestMainWindow::transparencySwitchesColourControls()
{
    Glassmere window;
    auto& ui = A::ui(window);
    loadPicture(window, 20, 10);
    ui.cbTransparent->setChecked(true);
    QVERIFY(A::transparent(window));
    QVERIFY(!ui.frameColor->isEnabled() && !ui.btColorPicker->isEnabled());
    QCOMPARE(A::result(window).getBitsPerPixel(), 32u);

    ui.cbTransparent->setChecked(false);
    QVERIFY(!A::transparent(window));
    QVERIFY(ui.frameColor->isEnabled() && ui.btColorPicker->isEnabled());
    QCOMPARE(ui.btColorPicker->styleSheet(), QString("background-color: rgb(255, 255, 255);"));
    QCOMPARE(A::result(window).getBitsPerPixel(), 24u);
}

void TestMainWindow::pickingAndCancellingAColour()
{
    Glassmere window;
    auto& ui = A::ui(window);
    loadPicture(window, 20, 10);
    const unsigned fadingToWhite = outerStripPixel(window);
    DialogDriver driver;
    QColor initial;
    answerColourDialog(driver, QColor(255, 128, 0), &initial);
    QTest::mousePress(ui.txtColor, Qt::LeftButton); // the read-only field opens the dialog
    QCOMPARE(driver.answered, 1);
    QCOMPARE(initial, QColor(Qt::white));
    QCOMPARE(ui.txtColor->text(), QString("#ff8000"));
    QCOMPARE(ui.btColorPicker->styleSheet(), QString("background-color: rgb(255, 128, 0);"));
    QVERIFY(outerStripPixel(window) != fadingToWhite); // rendered again, with the new colour

    // The dialog starts at white again, whatever the current colour.
    answerColourDialog(driver, Qt::black, &initial);
    ui.btColorPicker->click();
    QCOMPARE(driver.answered, 2);
    QCOMPARE(initial, QColor(Qt::white));
    QCOMPARE(ui.txtColor->text(), QString("#000000"));
    QCOMPARE(ui.btColorPicker->styleSheet(), QString("background-color: rgb(0, 0, 0);"));

    // Cancelling changes nothing.
    const unsigned fadingToBlack = outerStripPixel(window);
    answerColourDialog(driver, QColor(), &initial);
    ui.btColorPicker->click();
    QCOMPARE(driver.answered, 3);
    QCOMPARE(ui.txtColor->text(), QString("#000000"));
    QCOMPARE(ui.btColorPicker->styleSheet(), QString("background-color: rgb(0, 0, 0);"));
    QCOMPARE(outerStripPixel(window), fadingToBlack);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
