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

// Answers the message box that may come while it lives and keeps what it said.
struct BoxAnswerer : DialogDriver {
    QString seen;
    BoxAnswerer()
    {
        expect<QMessageBox>([this](QMessageBox* box) {
            seen = QStringLiteral("%1|%2|%3|icon %4|buttons %5|default %6")
                       .arg(box->windowTitle(), box->text(), box->detailedText())
                       .arg(int(box->icon()))
                       .arg(int(box->standardButtons()))
                       .arg(box->defaultButton() ? box->standardButton(box->defaultButton()) : 0);
            box->button(QMessageBox::Ok)->click();
        });
    }
};

// Everything opening left behind that a user can see or save: the box, labels,
// source depth, zoom, result and preview.
void compareOpened(Glassmere& dropped, const QString& droppedBox, Glassmere& chosen,
                   const QString& chosenBox)
{
    auto text = [](Glassmere& window, const QString& box) {
        auto& ui = A::ui(window);
        const QTransform zoom = ui.graphicsView->transform();
        return QStringList{box,
                           ui.lbName->text(),
                           ui.lbType->text(),
                           ui.lbSize->text(),
                           ui.lbDim->text(),
                           QString::number(A::source(window).getBitsPerPixel()),
                           QString("zoom %1 %2").arg(zoom.m11()).arg(zoom.m22())};
    };
    auto preview = [](Glassmere& window) {
        return A::item(window) ? A::item(window)->pixmap().toImage() : QImage();
    };
    QCOMPARE(text(dropped, droppedBox), text(chosen, chosenBox));
    COMPARE_IMAGES(A::result(dropped), A::result(chosen));
    COMPARE_IMAGES(preview(dropped), preview(chosen));
}

// Sends enter, move and drop to `target` at its centre, as a drag delivers them
// to the widget under the cursor, then lets queued work run, answering a box
// that comes. Returns "refused" when the enter was not taken, "not dropped", or
// the drop's action.
QString drag(QWidget* target, const QList<QUrl>& urls, QString* box = nullptr,
             Qt::DropActions actions = anyAction, QString text = {})
{
    BoxAnswerer answerer;
    QMimeData data;
    if (text.isEmpty()) {
        data.setUrls(urls);
        // File managers add the addresses as plain text too, which a line edit would take.
        text = QUrl::toStringList(urls).join('\n');
    }
    data.setText(text);
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
        *box = answerer.seen;
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

class TestDragDrop : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    QString root = QDir(folder.path()).canonicalPath();
    QString startFolder = QDir::currentPath();

    QString picture(const QString& name, unsigned bpp, unsigned width, unsigned height)
    {
        const QString path = root + "/" + name;
        fipImage image = makeGradientPicture(width, height, bpp);
        // The format follows the content, not the name: "noext" is a PNG.
        writePicture(image, name.contains('.') ? path : path + ".png");
        QFile::rename(path + ".png", path);
        return path;
    }

    QString writeBytes(const QString& name, const QByteArray& bytes)
    {
        QFile file(root + "/" + name);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()
                   ? file.fileName()
                   : QString();
    }

    // The open command through the real file dialog; returns what its box said.
    static QString openThroughDialog(Glassmere& window, const QString& path)
    {
        BoxAnswerer answerer;
        answerer.expect<QFileDialog>([&](QFileDialog* dialog) { acceptFileDialog(dialog, path); });
        A::ui(window).btAddPic->click();
        return answerer.seen;
    }

private Q_SLOTS:
    void initTestCase()
    {
        applicationFolder = root;
        skinFile = root + "/no-skin-here";
    }
    void cleanup() { QDir::setCurrent(startFolder); }

    void droppedFileOpensAsTheOpenCommand_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("batchTab");
        QTest::addColumn<bool>("fails");

        const QString plain = picture("photo.png", 24, 31, 20);
        QTest::newRow("on the preview") << plain << "view" << false << false;
        QTest::newRow("on the size field") << plain << "txtSize" << false << false;
        QTest::newRow("on the title bar") << plain << "frame_Top" << false << false;
        QTest::newRow("on the batch tab's picture folder field")
            << plain << "txtPicDir" << true << false;
        QTest::newRow("32-bit with alpha")
            << picture("alpha.png", 32, 17, 9) << "view" << false << false;
        QTest::newRow("larger than the view: fitted")
            << picture("wide.bmp", 24, 1900, 300) << "view" << false << false;
        QTest::newRow("no dot in the name")
            << picture("noext", 24, 12, 8) << "view" << false << false;
        QTest::newRow("non-ASCII name")
            << picture("bild-äöü-图.tif", 24, 12, 8) << "view" << false << false;
        QFile good(plain);
        QVERIFY(good.open(QIODevice::ReadOnly));
        // Recognised as PNG by its signature, but cut short.
        QTest::newRow("cut short")
            << writeBytes("broken.png", good.read(60)) << "view" << false << true;
        QTest::newRow("not a picture")
            << writeBytes("notes.txt", "not a picture\n") << "view" << false << true;
        QTest::newRow("empty") << writeBytes("empty.png", "") << "view" << false << true;
    }

    void droppedFileOpensAsTheOpenCommand()
    {
        QFETCH(QString, file);
        QFETCH(QString, target);
        QFETCH(bool, batchTab);
        QFETCH(bool, fails);
        // The open command: a picture first, then the file; a file that fails
        // leaves the picture before it.
        const QString before = picture("before.png", 24, 23, 14);
        Glassmere chosenWindow;
        showLikeTheProgram(chosenWindow);
        QCOMPARE(openThroughDialog(chosenWindow, before), QString());
        const QString chosenBox = openThroughDialog(chosenWindow, file);
        QCOMPARE(chosenBox.section('|', 0, 1), QString(fails ? "Failure|Image loads error." : ""));

        Glassmere window;
        showLikeTheProgram(window, batchTab);
        const QString pictureFolder = A::ui(window).txtPicDir->text();
        QWidget* on = widgetNamed(window, target);
        QCOMPARE(drag(on, {QUrl::fromLocalFile(before)}), QString("copy"));
        QString box;
        // Never a move: the file stays where it was.
        QCOMPARE(drag(on, {QUrl::fromLocalFile(file)}, &box), QString("copy"));
        compareOpened(window, box, chosenWindow, chosenBox);
        QCOMPARE(A::ui(window).txtPicDir->text(), pictureFolder); // no address typed into a field
        QVERIFY(QFile::exists(file));
    }

    void droppedFolderFillsThePictureFolderAsTheChooser_data()
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

    void droppedFolderFillsThePictureFolderAsTheChooser()
    {
        QFETCH(QString, dropped);
        QFETCH(bool, trailingSlash);
        QFETCH(QString, target);

        // The chooser, from another current folder than the one it ends in.
        Glassmere chosenWindow;
        DialogDriver chooser;
        chooser.expect<QFileDialog>([&](QFileDialog* dialog) {
            dialog->setDirectory(dropped);
            static_cast<QDialog*>(dialog)->accept();
        });
        A::ui(chosenWindow).btAddPicDir->click();
        const QString chosen = A::ui(chosenWindow).txtPicDir->text();
        const QString chosenCurrent = QDir::currentPath();
        QVERIFY(chosen.endsWith('/'));

        QDir::setCurrent(startFolder);
        Glassmere window;
        showLikeTheProgram(window, true);
        auto& ui = A::ui(window);
        ui.txtResultDir->setText("results/");
        const QString url = QUrl::fromLocalFile(dropped).toString() + (trailingSlash ? "/" : "");
        QCOMPARE(drag(widgetNamed(window, target), {QUrl(url)}), QString("copy"));
        QCOMPARE(ui.txtPicDir->text(), chosen);
        QCOMPARE(QDir::currentPath(), chosenCurrent); // the choosers open there next
        QCOMPARE(ui.txtResultDir->text(), QString("results/"));
        QCOMPARE(ui.lbName->text(), QString()); // nothing was opened
    }

    void refusedDragsChangeNothing_data()
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
        QTest::newRow("folder on the first tab")
            << QList<QUrl>{folderUrl} << false << any << "view";
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

    void refusedDragsChangeNothing()
    {
        QFETCH(QList<QUrl>, urls);
        QFETCH(bool, batchTab);
        QFETCH(int, actions);
        QFETCH(QString, target);

        Glassmere window;
        showLikeTheProgram(window, batchTab);
        auto& ui = A::ui(window);
        const QString current = QDir::currentPath();
        const QString fields = ui.txtPicDir->text() + "|" + ui.txtSize->text();
        QString box;
        QCOMPARE(drag(widgetNamed(window, target), urls, &box, Qt::DropActions(actions)),
                 QString("refused"));
        QCOMPARE(box, QString());
        QCOMPARE(ui.lbName->text() + ui.lbDim->text(), QString());
        QVERIFY(!A::item(window));
        QCOMPARE(ui.txtPicDir->text() + "|" + ui.txtSize->text(), fields);
        QCOMPARE(QDir::currentPath(), current);
    }

    void plainTextStillGoesIntoTheFields()
    {
        // Text without addresses is no file: the field under it takes it as before.
        Glassmere window;
        showLikeTheProgram(window, true);
        drag(A::ui(window).txtPicDir, {}, nullptr, anyAction, "typed/by/drag");
        QCOMPARE(A::ui(window).txtPicDir->text(), QString("typed/by/drag"));
    }
};

QTEST_MAIN(TestDragDrop)
#include "tst_dragdrop.moc"
