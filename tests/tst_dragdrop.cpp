// Drag and drop onto the window, with synthesised drag events sent where a real
// drag would deliver them. Every drop is checked against the command it stands
// in for, run through its real dialog in a second window: a dropped picture
// against the open command, a dropped folder against the picture folder's chooser.

#include "app/globals.h"
#include "mainwindow/glassmere.h"
#include "support/dialogdriver.h"
#include "support/imagecompare.h"
#include "support/testpictures.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QGraphicsPixmapItem>
#include <QMessageBox>
#include <QMimeData>
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

const Qt::DropActions anyAction = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;

// Everything the open command leaves behind that a user can see or save.
struct Opened {
    QString labels;
    unsigned sourceDepth = 0;
    QByteArray result; // size, depth and every pixel byte of the result
    QImage preview;
    QTransform zoom;
    QString box; // the failure box, "" when none came
};

QByteArray resultBytes(const fipImage& image)
{
    QByteArray bytes = QByteArray::number(image.getWidth()) + "x" +
                       QByteArray::number(image.getHeight()) + "x" +
                       QByteArray::number(image.getBitsPerPixel()) + ":";
    if (image.isValid())
        for (unsigned y = 0; y < image.getHeight(); ++y)
            bytes.append(reinterpret_cast<const char*>(image.getScanLine(y)), int(image.getLine()));
    return bytes;
}

// Answers every message box that comes while it lives and keeps what it said.
class BoxCatcher {
public:
    BoxCatcher()
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto* box = modalInItsLoop<QMessageBox>();
            if (!box)
                return;
            seen += QStringLiteral("%1|%2|%3|icon %4|buttons %5|default %6")
                        .arg(box->windowTitle(), box->text(), box->detailedText())
                        .arg(int(box->icon()))
                        .arg(int(box->standardButtons()))
                        .arg(box->defaultButton() ? box->standardButton(box->defaultButton()) : 0);
            box->button(QMessageBox::Ok)->click();
        });
        timer.start();
    }
    QString seen;

private:
    QTimer timer;
};

// Answers the file dialogs that come while it lives with `answer`, again on
// every tick until the dialog is gone: QFileDialog::accept() returns without
// closing while its folder model has not settled on the selection.
class FileDialogAnswerer {
public:
    explicit FileDialogAnswerer(std::function<void(QFileDialog*)> answer)
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this, answer] {
            if (auto* dialog = modalInItsLoop<QFileDialog>()) {
                ++answers;
                answer(dialog);
            }
        });
        timer.start();
    }
    int answers = 0;

private:
    QTimer timer;
};

Opened state(Glassmere& window, const QString& box)
{
    auto& ui = A::ui(window);
    Opened opened;
    opened.labels =
        QStringList{ui.lbName->text(), ui.lbType->text(), ui.lbSize->text(), ui.lbDim->text()}.join(
            '|');
    opened.sourceDepth = A::source(window).getBitsPerPixel();
    opened.result = resultBytes(A::result(window));
    if (A::item(window))
        opened.preview = A::item(window)->pixmap().toImage();
    opened.zoom = ui.graphicsView->transform();
    opened.box = box;
    return opened;
}

void compareOpened(const Opened& dropped, const Opened& chosen)
{
    QCOMPARE(dropped.box, chosen.box);
    QCOMPARE(dropped.labels, chosen.labels);
    QCOMPARE(dropped.sourceDepth, chosen.sourceDepth);
    QVERIFY2(dropped.result == chosen.result, "the results differ");
    COMPARE_IMAGES(dropped.preview, chosen.preview);
    QCOMPARE(dropped.zoom, chosen.zoom);
}

// What a drag did: whether the window took it at each step and with which action.
struct Drag {
    bool entered = false;
    bool dropped = false;
    Qt::DropAction action = Qt::IgnoreAction;
};

// Sends enter, move and drop to `target` at its centre, as a drag delivers them
// to the widget under the cursor, then lets queued work run.
Drag drag(QWidget* target, const QList<QUrl>& urls, Qt::DropActions actions = anyAction,
          Qt::DropAction proposed = Qt::MoveAction)
{
    QMimeData data;
    data.setUrls(urls);
    // File managers add the addresses as plain text too, which a line edit would take.
    data.setText(QUrl::toStringList(urls).join('\n'));
    const QPoint at = target->rect().center();
    Drag outcome;

    QDragEnterEvent enter(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
    enter.setDropAction(proposed);
    enter.ignore();
    QApplication::sendEvent(target, &enter);
    outcome.entered = enter.isAccepted();
    if (!outcome.entered)
        return outcome;

    QDragMoveEvent move(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
    move.setDropAction(proposed);
    move.ignore();
    QApplication::sendEvent(target, &move);
    if (!move.isAccepted())
        return outcome;

    QDropEvent drop(QPointF(at), actions, &data, Qt::LeftButton, Qt::NoModifier);
    drop.setDropAction(proposed);
    drop.ignore();
    QApplication::sendEvent(target, &drop);
    outcome.dropped = drop.isAccepted();
    outcome.action = drop.dropAction();
    QCoreApplication::processEvents();
    return outcome;
}

QWidget* widgetNamed(Glassmere& window, const QString& name)
{
    if (name == "view")
        return A::ui(window).graphicsView->viewport();
    if (name == "window")
        return &window;
    return window.findChild<QWidget*>(name);
}

void showLikeTheProgram(Glassmere& window)
{
    window.resize(827, 627);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
}

} // namespace

class TestDragDrop : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup() { QDir::setCurrent(startFolder); }

    void droppedPictureOpensAsTheOpenCommand_data();
    void droppedPictureOpensAsTheOpenCommand();
    void droppedBrokenFileShowsTheSameFailureBox_data();
    void droppedBrokenFileShowsTheSameFailureBox();
    void droppedFolderFillsThePictureFolderAsTheChooser_data();
    void droppedFolderFillsThePictureFolderAsTheChooser();
    void refusedDragsChangeNothing_data();
    void refusedDragsChangeNothing();
    void plainTextStillGoesIntoTheFields();

private:
    QTemporaryDir folder;
    QString root;
    QString startFolder;
    QString picture(const QString& name, unsigned bpp, unsigned width, unsigned height);
    Opened openThroughDialog(const QString& file);
};

void TestDragDrop::initTestCase()
{
    QVERIFY(folder.isValid());
    root = QDir(folder.path()).canonicalPath();
    startFolder = QDir::currentPath();
    applicationFolder = root;
    skinFile = root + "/no-skin-here";
}

QString TestDragDrop::picture(const QString& name, unsigned bpp, unsigned width, unsigned height)
{
    const QString path = root + "/" + name;
    if (!QFile::exists(path)) {
        fipImage image = makeGradientPicture(width, height, bpp);
        // The format follows the content, not the name: "noext" is a PNG.
        const QByteArray format = name.contains('.') ? QByteArray() : QByteArray(".png");
        const QString written = path + format;
        writePicture(image, written);
        if (!format.isEmpty())
            QFile::rename(written, path);
    }
    return path;
}

// The open command in a window of its own, through the real file dialog.
Opened TestDragDrop::openThroughDialog(const QString& file)
{
    Glassmere window;
    showLikeTheProgram(window);
    FileDialogAnswerer answerer([&](QFileDialog* dialog) { acceptFileDialog(dialog, file); });
    BoxCatcher boxes;
    A::ui(window).btAddPic->click();
    return state(window, boxes.seen);
}

void TestDragDrop::droppedPictureOpensAsTheOpenCommand_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("batchTab");

    const QString plain = picture("photo.png", 24, 31, 20);
    QTest::newRow("24-bit, on the preview") << plain << "view" << false;
    QTest::newRow("24-bit, on the settings") << plain << "tab_5" << false;
    QTest::newRow("24-bit, on the size field") << plain << "txtSize" << false;
    QTest::newRow("24-bit, on the title bar") << plain << "frame_Top" << false;
    QTest::newRow("24-bit, on the batch tab") << plain << "tab_6" << true;
    QTest::newRow("24-bit, on the picture folder field") << plain << "txtPicDir" << true;
    QTest::newRow("32-bit with alpha") << picture("alpha.png", 32, 17, 9) << "view" << false;
    QTest::newRow("larger than the view: fitted")
        << picture("wide.bmp", 24, 1900, 300) << "view" << false;
    QTest::newRow("upper-case suffix") << picture("PHOTO.JPG", 24, 12, 8) << "view" << false;
    QTest::newRow("no dot in the name") << picture("noext", 24, 12, 8) << "view" << false;
    QTest::newRow("non-ASCII name") << picture("bild-äöü-图.tif", 24, 12, 8) << "view" << false;
}

void TestDragDrop::droppedPictureOpensAsTheOpenCommand()
{
    QFETCH(QString, file);
    QFETCH(QString, target);
    QFETCH(bool, batchTab);
    const Opened chosen = openThroughDialog(file);
    QVERIFY(chosen.box.isEmpty());
    QVERIFY(!chosen.preview.isNull());

    Glassmere window;
    showLikeTheProgram(window);
    auto& ui = A::ui(window);
    if (batchTab)
        ui.tabWidget->setCurrentWidget(ui.tab_6);
    const QString pictureFolder = ui.txtPicDir->text();
    BoxCatcher boxes;
    const Drag done = drag(widgetNamed(window, target), {QUrl::fromLocalFile(file)});
    QVERIFY(done.entered);
    QVERIFY(done.dropped);
    QCOMPARE(done.action, Qt::CopyAction); // never a move: the file stays where it was
    compareOpened(state(window, boxes.seen), chosen);
    QCOMPARE(ui.txtPicDir->text(), pictureFolder); // no address typed into a field
    QVERIFY(QFile::exists(file));
}

void TestDragDrop::droppedBrokenFileShowsTheSameFailureBox_data()
{
    QTest::addColumn<QString>("file");

    // Recognised as PNG by its signature, but cut short.
    QFile good(picture("whole.png", 24, 40, 30));
    QVERIFY(good.open(QIODevice::ReadOnly));
    QFile broken(root + "/broken.png");
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write(good.read(60));
    broken.close();
    QTest::newRow("cut short") << broken.fileName();

    QFile notes(root + "/notes.txt");
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.write("not a picture\n");
    notes.close();
    QTest::newRow("not a picture") << notes.fileName();

    QFile empty(root + "/empty.png");
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    QTest::newRow("empty") << empty.fileName();
}

void TestDragDrop::droppedBrokenFileShowsTheSameFailureBox()
{
    QFETCH(QString, file);
    const QString before = picture("before.png", 24, 23, 14);

    // The open command: a picture first, then the broken file.
    Glassmere chosenWindow;
    showLikeTheProgram(chosenWindow);
    QString chosenBox;
    for (const QString& path : {before, file}) {
        FileDialogAnswerer answerer([&](QFileDialog* dialog) { acceptFileDialog(dialog, path); });
        BoxCatcher boxes;
        A::ui(chosenWindow).btAddPic->click();
        chosenBox = boxes.seen;
    }
    QVERIFY2(chosenBox.startsWith("Failure|Image loads error.|"), qPrintable(chosenBox));

    Glassmere window;
    showLikeTheProgram(window);
    QWidget* view = A::ui(window).graphicsView->viewport();
    QVERIFY(drag(view, {QUrl::fromLocalFile(before)}).dropped);
    BoxCatcher boxes;
    const Drag done = drag(view, {QUrl::fromLocalFile(file)});
    QVERIFY(done.dropped);
    // Same box, and the previous picture stays in labels, result and preview.
    compareOpened(state(window, boxes.seen), state(chosenWindow, chosenBox));
    QCOMPARE(A::ui(window).lbDim->text(), QString("23*14"));
}

void TestDragDrop::droppedFolderFillsThePictureFolderAsTheChooser_data()
{
    QTest::addColumn<QString>("dropped");
    QTest::addColumn<bool>("trailingSlash");
    QTest::addColumn<QString>("target");

    QVERIFY(QDir(root).mkpath("pictures/summer"));
    QVERIFY(QDir(root).mkpath("Bilder äöü 图"));
    QFile::link(root + "/pictures/summer", root + "/link-to-summer");
    const QString summer = root + "/pictures/summer";
    QTest::newRow("on the batch tab") << summer << false << "tab_6";
    QTest::newRow("on the picture folder field") << summer << false << "txtPicDir";
    QTest::newRow("on the result folder field") << summer << false << "txtResultDir";
    QTest::newRow("on the preview") << summer << false << "view";
    QTest::newRow("address ending in a slash") << summer << true << "tab_6";
    QTest::newRow("spaces and non-ASCII") << root + "/Bilder äöü 图" << false << "tab_6";
    QTest::newRow("a link kept as a link") << root + "/link-to-summer" << false << "tab_6";
}

void TestDragDrop::droppedFolderFillsThePictureFolderAsTheChooser()
{
    QFETCH(QString, dropped);
    QFETCH(bool, trailingSlash);
    QFETCH(QString, target);

    // The chooser, from another current folder than the one it ends in.
    QDir::setCurrent(startFolder);
    Glassmere chosenWindow;
    FileDialogAnswerer answerer([&](QFileDialog* dialog) {
        dialog->setDirectory(dropped);
        static_cast<QDialog*>(dialog)->accept();
    });
    A::ui(chosenWindow).btAddPicDir->click();
    QVERIFY(answerer.answers >= 1);
    const QString chosen = A::ui(chosenWindow).txtPicDir->text();
    const QString chosenCurrent = QDir::currentPath();
    QVERIFY(chosen.endsWith('/'));

    QDir::setCurrent(startFolder);
    Glassmere window;
    showLikeTheProgram(window);
    auto& ui = A::ui(window);
    ui.tabWidget->setCurrentWidget(ui.tab_6);
    ui.txtResultDir->setText("results/");
    const QString url = QUrl::fromLocalFile(dropped).toString() + (trailingSlash ? "/" : "");
    const Drag done = drag(widgetNamed(window, target), {QUrl(url)});
    QVERIFY(done.entered);
    QVERIFY(done.dropped);
    QCOMPARE(done.action, Qt::CopyAction);
    QCOMPARE(ui.txtPicDir->text(), chosen);
    QCOMPARE(QDir::currentPath(), chosenCurrent); // the choosers open there next
    QCOMPARE(ui.txtResultDir->text(), QString("results/"));
    QCOMPARE(ui.lbName->text(), QString()); // nothing was opened
}

void TestDragDrop::refusedDragsChangeNothing_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<bool>("batchTab");
    QTest::addColumn<int>("actions");
    QTest::addColumn<QString>("target");

    QVERIFY(QDir(root).mkpath("refused"));
    const QUrl folderUrl = QUrl::fromLocalFile(root + "/refused");
    const QUrl one = QUrl::fromLocalFile(picture("one.png", 24, 8, 8));
    const QUrl two = QUrl::fromLocalFile(picture("two.png", 24, 8, 8));
    const int any = int(anyAction);
    QTest::newRow("folder on the first tab") << QList<QUrl>{folderUrl} << false << any << "view";
    QTest::newRow("folder on the first tab's size field")
        << QList<QUrl>{folderUrl} << false << any << "txtSize";
    QTest::newRow("two pictures") << QList<QUrl>{one, two} << false << any << "view";
    QTest::newRow("two folders") << QList<QUrl>{folderUrl, folderUrl} << true << any << "tab_6";
    QTest::newRow("a web address")
        << QList<QUrl>{QUrl("https://glassmere.example.org/a.png")} << false << any << "view";
    QTest::newRow("a missing file")
        << QList<QUrl>{QUrl::fromLocalFile(root + "/missing.png")} << false << any << "view";
    QTest::newRow("a source that only moves")
        << QList<QUrl>{one} << false << int(Qt::MoveAction) << "view";
    QTest::newRow("nothing at all") << QList<QUrl>{} << true << any << "tab_6";
}

void TestDragDrop::refusedDragsChangeNothing()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(bool, batchTab);
    QFETCH(int, actions);
    QFETCH(QString, target);

    Glassmere window;
    showLikeTheProgram(window);
    auto& ui = A::ui(window);
    if (batchTab)
        ui.tabWidget->setCurrentWidget(ui.tab_6);
    const QString current = QDir::currentPath();
    const QString fields = ui.txtPicDir->text() + "|" + ui.txtSize->text();
    BoxCatcher boxes;
    const Drag done = drag(widgetNamed(window, target), urls, Qt::DropActions(actions));
    QVERIFY(!done.entered);
    QVERIFY(!done.dropped);
    QCOMPARE(boxes.seen, QString());
    QCOMPARE(ui.lbName->text() + ui.lbDim->text(), QString());
    QVERIFY(!A::item(window));
    QCOMPARE(ui.txtPicDir->text() + "|" + ui.txtSize->text(), fields);
    QCOMPARE(QDir::currentPath(), current);
}

void TestDragDrop::plainTextStillGoesIntoTheFields()
{
    // Text without addresses is no file: the field under it takes it as before.
    Glassmere window;
    showLikeTheProgram(window);
    auto& ui = A::ui(window);
    ui.tabWidget->setCurrentWidget(ui.tab_6);
    QMimeData data;
    data.setText("typed/by/drag");
    const QPoint at = ui.txtPicDir->rect().center();
    QDragEnterEvent enter(at, anyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(ui.txtPicDir, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(at), anyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(ui.txtPicDir, &drop);
    QCOMPARE(ui.txtPicDir->text(), QString("typed/by/drag"));
}

QTEST_MAIN(TestDragDrop)
#include "tst_dragdrop.moc"
