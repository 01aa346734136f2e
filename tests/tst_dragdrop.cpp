// Drag and drop onto the window, with synthesised drag events sent where a real
// drag would deliver them.

#include "support/dialogdriver.h"
#include "support/imagecompare.h"
#include "support/testaccess.h"
#include "support/testpictures.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QMimeData>
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

class TestDragDrop : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    QString root = QDir(folder.path()).canonicalPath();
    QString startFolder = QDir::currentPath();

    QString picture(const QString& name)
    {
        fipImage image = makeGradientPicture(31, 20, 24);
        writePicture(image, root + "/" + name);
        return root + "/" + name;
    }

private Q_SLOTS:
    void cleanup() { QDir::setCurrent(startFolder); }

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
        const QString chosenBox = chooseFile(A::ui(chosenWindow).btAddPic, file);
        QCOMPARE(chosenBox.section('|', 0, 1),
                 QString(file.contains("broken") ? "Failure|Image loads error." : ""));

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
};

QTEST_MAIN(TestDragDrop)
#include "tst_dragdrop.moc"
