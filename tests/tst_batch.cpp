// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/batch_engine.h"
#include "imaging/decoder/image_io.h"
#include "imaging/saving/picture_saving.h"
#include "reflection/renderer/reflection_renderer.h"
#include "support/carriedpictures.h"
#include "support/dialogdriver.h"
#include "support/imagecompare.h"
#include "support/testaccess.h"
#include "support/testpictures.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <numeric>

Q_DECLARE_METATYPE(ReflectionParams)

namespace {

// A real picture for each name, of its own size and in the format of its
// extension; text for other names.
void makeFiles(const QString& folder, const QStringList& names)
{
    for (unsigned i = 0; i < unsigned(names.size()); ++i) {
        const QString path = folder + "/" + names[i];
        QDir().mkpath(QFileInfo(path).path());
        // An icon as large as icons go: its reflection is too tall for one.
        const bool icon = path.endsWith(".ico");
        fipImage picture = makeGradientPicture(icon ? 256 : 23 + i, icon ? 256 : 17 + i, 24);
        if (path.endsWith(".gif"))
            picture.colorQuantize(FIQ_WUQUANT);
        if (names[i].startsWith("cut.")) { // the last part of the file lost
            writePicture(makeGradientPicture(64, 200, 24), path);
            writeBytes(path, fileBytes(path).left(fileBytes(path).size() * 2 / 3));
        } else if (path.endsWith(".webp")) {
            writePicture(picture, path, WEBP_LOSSLESS);
        } else if (QStringList{"png", "jpg", "bmp", "gif", "ico"}.contains(
                       QFileInfo(path).suffix()))
            writePicture(picture, path);
        else
            writeBytes(path, "not a picture");
    }
}

// Other than the window's start-up settings, so that the window must pass its own on.
ReflectionParams settings(bool transparent, Direction direction = Direction::Bottom)
{
    return {direction, 55, 20, 0, {255, 255, 255}, transparent};
}

// The report as file names: "output", "skipped input", "input>output" for a rename.
QString events(const BatchReport& report)
{
    auto name = [](const QString& path) { return QFileInfo(path).fileName(); };
    QStringList lines;
    for (const auto& w : report.written)
        lines << name(w.output);
    for (const auto& s : report.skipped)
        lines << "skipped " + name(s.input);
    for (const auto& s : report.notPictures)
        lines << "not a picture " + name(s.input);
    for (const auto& r : report.renamed)
        lines << name(r.input) + ">" + name(r.output);
    for (const auto& d : report.damaged)
        lines << "damaged " + name(d.input);
    return lines.join(", ");
}

QString made(const QString& folder)
{
    QDir().mkpath(folder);
    return folder;
}

struct Folders {
    QTemporaryDir temporary;
    QString root = QDir(temporary.path()).canonicalPath();
    QString pictures = made(root + "/pictures");
    QString results = made(root + "/results");
};

// Presses the batch button with the given folders, answers the box that may
// come and returns "title|text|informative text" ("" when none came).
QString pressGenerate(Glassmere& window, const QString& pictures, const QString& results,
                      QString* details = nullptr)
{
    A::ui(window).txtPicDir->setText(pictures);
    A::ui(window).txtResultDir->setText(results);
    MessageBoxCatcher box(3000);
    QMetaObject::invokeMethod(&window, "on_btCovPics_clicked", Qt::DirectConnection);
    if (details)
        *details = box.said.section('|', 3);
    return box.said.section('|', 0, 2);
}

} // namespace

class TestBatch : public QObject {
    Q_OBJECT

    QString startFolder = QDir::currentPath();
    Folders carried; // pictures that carry an orientation, a profile, a resolution

private Q_SLOTS:
    void cleanup() { QDir::setCurrent(startFolder); }

    void olderResultsAreReplacedButNeverThroughALinkToAnInput()
    {
        Folders folders;
        makeFiles(folders.pictures, {"b.png", "c.png"});
        writeBytes(folders.results + "/b.png", "an older result");
        QVERIFY(QFile::link(folders.pictures + "/c.png", folders.results + "/c.png"));
        const auto before = folderSnapshot(folders.pictures, true);
        const BatchReport report = runBatch({folders.pictures, folders.results, settings(false)});
        QCOMPARE(folderSnapshot(folders.pictures, true), before);
        QCOMPARE(events(report), QString("c-2.png, b.png, c.png>c-2.png"));
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("fields"); // "@" is the temporary folder
        QTest::addColumn<QString>("box");
        const QString dirError = "Failure|Selected directory error.|";
        QTest::newRow("empty picture field") << QStringList{"", "@/results"} << dirError;
        QTest::newRow("missing result folder")
            << QStringList{"@/pictures", "@/missing"} << dirError;
        QTest::newRow("same folder through a link")
            << QStringList{"@/pictures", "@/link"}
            << "Failure|The result folder is the picture folder, so nothing was done: the results "
               "would mix with the pictures, and a later run would take them for pictures. Please "
               "choose another folder for the results.|";
    }

    void refused()
    {
        QFETCH(QStringList, fields);
        QFETCH(QString, box);
        Folders folders;
        makeFiles(folders.pictures, {"a.png", "b.jpg"});
        QVERIFY(QFile::link(folders.pictures, folders.root + "/link"));
        fields.replaceInStrings("@", folders.root);
        const auto before = folderSnapshot(folders.pictures, true);
        Glassmere window;
        QCOMPARE(pressGenerate(window, fields[0], fields[1]), box);
        QVERIFY(A::ui(window).progressBar->isHidden());
        QVERIFY(folderSnapshot(folders.results).isEmpty());
        QCOMPARE(folderSnapshot(folders.pictures, true), before);
    }

    void unwritableResultFolderKeepsWhatWasThere()
    {
        Folders folders;
        makeFiles(folders.pictures, {"a.jpg", "b.png", "notes.txt"});
        writeBytes(folders.results + "/b.png", "kept as it was");
        const auto resultsBefore = folderSnapshot(folders.results);
        QFile::setPermissions(folders.results, QFile::ReadOwner | QFile::ExeOwner);
        // Root is stopped only by the file system's immutable flag.
        QProcess::execute("chattr", {"+i", folders.results});
        auto unlock = qScopeGuard([&] {
            QProcess::execute("chattr", {"-i", folders.results});
            QFile::setPermissions(folders.results,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        if (QFile(folders.results + "/.probe").open(QIODevice::WriteOnly))
            QSKIP("no way to make a folder unwritable here");

        Glassmere window;
        QString details;
        QCOMPARE(
            pressGenerate(window, folders.pictures, folders.results, &details),
            QString("Failure|0 of 3 files written, 0 skipped, 2 not written, 0 renamed. 1 "
                    "not pictures, left alone.|Not pictures, left alone: 1\n    notes.txt\nResults "
                    "not written: 2\n    b.png\n    a.jpg"));
        QVERIFY2(details.contains("not written: " + folders.pictures + "/b.png: "),
                 qPrintable(details));
        QCOMPARE(folderSnapshot(folders.results), resultsBefore);
    }

    // The window's button, the engine and the engine with four jobs on the
    // same folder: names, box, progress and the same files.
    void run_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<ReflectionParams>("params");
        QTest::addColumn<QString>("expected"); // see events()
        QTest::addColumn<QString>("box");      // "" for none

        // Listed: files with a dot, no hidden ones, no folders, descending and
        // case-sensitive, so A.txt is last.
        const QStringList mixed{"holiday.2011.jpg", "b.png", "A.txt", "README",
                                ".hidden.png",      "c.bmp", "Z.bmp", "sub.d/z.png"};
        const QString notPictures = "Notice|4 of 5 files written, 0 skipped, 0 not written, 0 "
                                    "renamed. 1 not pictures, left alone.|Not pictures, left "
                                    "alone: 1\n    A.txt";
        const QString renamed = "Notice|1 of 1 files written, 0 skipped, 0 not written, 1 "
                                "renamed.|Results written under another name: ";
        QTest::newRow("colour mode: own names")
            << mixed << settings(false)
            << "holiday.2011.jpg, c.bmp, b.png, Z.bmp, not a picture A.txt" << notPictures;
        ReflectionParams controls = settings(true, Direction::Left);
        controls.opacity = 60;
        controls.gap = 3;
        controls.blur = 5;
        QTest::newRow("transparency with opacity, gap, blur: base name + .png")
            << mixed << controls << "holiday.png, c.png, b.png, Z.png, not a picture A.txt"
            << notPictures;
        QTest::newRow("GIF cannot store 24 bits: PNG instead")
            << QStringList{"logo.gif"} << settings(false, Direction::Top)
            << "logo.png, logo.gif>logo.png" << renamed + "1\n    logo.gif as logo.png";
        QTest::newRow("ICO cannot store 256 × 396: PNG instead")
            << QStringList{"icon.ico"} << settings(false) << "icon.png, icon.ico>icon.png"
            << renamed + "1\n    icon.ico as icon.png";
        // "a-2.png" comes last and finds its own name taken by a rename.
        QTest::newRow("collisions")
            << QStringList{"a.bmp", "a.jpg", "a-2.png"} << settings(true)
            << "a.png, a-2.png, a-2-2.png, a.bmp>a-2.png, a-2.png>a-2-2.png"
            << "Notice|3 of 3 files written, 0 skipped, 0 not written, 2 renamed.|Results written "
               "under another name: 2\n    a.bmp as a-2.png\n    a-2.png as a-2-2.png";
        // Written as far as it could be read, and told; the whole pictures as ever.
        QTest::newRow("a cut JPEG and a cut PNG: written, told as damaged")
            << QStringList{"cut.jpg", "b.webp", "cut.png"} << settings(false)
            << "cut.png, cut.jpg, b.webp, damaged cut.png, damaged cut.jpg"
            << "Failure|3 of 3 files written, 0 skipped, 0 not written, 0 renamed. 2 damaged, "
               "written as far as they could be read.|Damaged, written as far as they could be "
               "read: 2\n    cut.png\n    cut.jpg";
        QTest::newRow("%1 in names stays as it is")
            << QStringList{"p%1.a.png", "p%1.b.png"} << settings(true)
            << "p%1.png, p%1-2.png, p%1.a.png>p%1-2.png"
            << "Notice|2 of 2 files written, 0 skipped, 0 not written, 1 renamed.|Results "
               "written under another name: 1\n    p%1.a.png as p%1-2.png";
        QTest::newRow("empty folder: busy bar, and the report")
            << QStringList{} << settings(false) << ""
            << "Success|0 of 0 files written, 0 skipped, 0 not written, 0 renamed.|";
    }

    void run()
    {
        QFETCH(QStringList, names);
        QFETCH(ReflectionParams, params);
        QFETCH(QString, expected);
        QFETCH(QString, box);
        Folders folders;
        makeFiles(folders.pictures, names);
        const int listed = int(listPictures(folders.pictures).size());
        const auto before = folderSnapshot(folders.pictures, true);

        Glassmere window;
        auto& ui = A::ui(window);
        QCheckBox* edges[] = {ui.checkBoxTop, ui.checkBoxBottom, ui.checkBoxLeft, ui.checkBoxRight};
        edges[int(params.direction)]->setChecked(true); // in the order of Direction
        ui.refSize->setValue(params.sizePercent);
        ui.refDepth->setValue(params.unfadedPercent);
        ui.refOpacity->setValue(params.opacity);
        ui.refGap->setValue(params.gap);
        ui.refBlur->setValue(params.blur);
        ui.cbTransparent->setChecked(params.transparent);
        // The user's own picture, which the window keeps through the run.
        A::source(window) = makeGradientPicture(9, 7, 24);
        QVERIFY(QMetaObject::invokeMethod(&window, "RunReflection", Qt::DirectConnection));
        const fipImage shown = A::result(window);
        // The bar moves to n as the n-th file is begun, in listing order, under
        // the busy cursor; a double click that arrives meanwhile starts nothing.
        QList<int> steps;
        connect(ui.progressBar, &QProgressBar::valueChanged, this, [&](int value) {
            steps << value;
            QVERIFY(QApplication::overrideCursor() &&
                    QApplication::overrideCursor()->shape() == Qt::WaitCursor);
            if (value == 1)
                QTest::mouseDClick(ui.btCovPics, Qt::LeftButton);
        });
        QCOMPARE(pressGenerate(window, folders.pictures + "/", folders.results), box);
        QList<int> expectedSteps(listed);
        std::iota(expectedSteps.begin(), expectedSteps.end(), 1);
        QCOMPARE(steps, expectedSteps);
        QVERIFY(!ui.progressBar->isHidden());
        QCOMPARE(ui.progressBar->maximum(), listed);
        COMPARE_IMAGES(A::result(window), shown); // what Save writes
        QCOMPARE(A::source(window).getWidth(), 9u);

        const QString engine = made(folders.root + "/engine");
        const BatchReport report = runBatch({folders.pictures, engine, params});
        QCOMPARE(events(report), expected);
        // Each output is what decoding, rendering and a safe write give on their own.
        QTemporaryDir scratch;
        for (const auto& written : report.written) {
            fipImage source;
            fipImage rendered;
            const QString reference = scratch.filePath(QFileInfo(written.output).fileName());
            QVERIFY(loadPicture(written.input, source) &&
                    renderReflection(source, rendered, params) && savePicture(rendered, reference));
            QVERIFY2(fileBytes(written.output) == fileBytes(reference), qPrintable(written.output));
        }
        // No temporary files left, the same files from both, the pictures untouched.
        QCOMPARE(folderSnapshot(engine).size(), report.written.size());
        QCOMPARE(folderSnapshot(folders.results), folderSnapshot(engine));
        QCOMPARE(folderSnapshot(folders.pictures, true), before);

        const QString parallel = made(folders.root + "/parallel");
        QList<int> order;
        const BatchReport jobs = runBatch({folders.pictures, parallel, params, 4},
                                          [&order](int index, int) { order << index + 1; });
        QCOMPARE(events(jobs), events(report));
        QCOMPARE(folderSnapshot(parallel), folderSnapshot(engine));
        QCOMPARE(order, expectedSteps);
    }

    // Opaque results keep their picture's name and format: upright, with its
    // profile and resolution, without its EXIF and GPS (see describeResult).
    void resultsCarryWhatThePictureCarries_data() { addCarriedPictureRows(carried.pictures); }

    void resultsCarryWhatThePictureCarries()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        if (QDir(carried.results).isEmpty()) {
            const ReflectionParams fullMirror{Direction::Bottom, 100,  100, 0,
                                              {255, 255, 255},   false};
            QVERIFY(runBatch({carried.pictures, carried.results, fullMirror, 2}).clean());
        }
        QCOMPARE(describeResult(carried.results + "/" + name), expected);
    }

    // Escape, or closing the window, stops a run once the files in hand are
    // written whole; the report says so, a close follows it, and the next run's
    // bar starts from 0.
    void stop_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Escape") << "escape";
        QTest::newRow("the window closed") << "close";
        QTest::newRow("the window system's close (Alt+F4)") << "system close";
    }

    void stop()
    {
        QFETCH(QString, how);
        Folders folders;
        for (int i = 0; i < 60; ++i)
            makeFiles(folders.pictures, {QString("p%1.png").arg(i, 2, 10, QChar('0'))});
        Glassmere window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QList<int> steps;
        connect(A::ui(window).progressBar, &QProgressBar::valueChanged, this, [&](int value) {
            steps << value;
            QCloseEvent close;
            if (value != 2 || steps.size() > 2)
                return;
            if (how == "escape")
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            else if (how == "close")
                window.close();
            else
                QApplication::sendEvent(window.windowHandle(), &close);
        });
        const QString box = pressGenerate(window, folders.pictures, folders.results);
        QCOMPARE(window.isVisible(), how == "escape");
        const QStringList files = folderSnapshot(folders.results).keys();
        QVERIFY2(files.size() >= 2 && files.size() < 60, qPrintable(box));
        QCOMPARE(box, QString("Notice|%1 of 60 files written, 0 skipped, 0 not written, 0 renamed."
                              "\nstopped: %2 files not begun.|")
                          .arg(files.size())
                          .arg(60 - files.size()));
        for (const QString& name : files) // whole files only
            QVERIFY2(readPicture(folders.results + "/" + name).isValid(), qPrintable(name));
        steps.clear();
        pressGenerate(window, folders.pictures, made(folders.root + "/again"));
        QCOMPARE(steps.mid(0, 2), QList<int>({0, 1}));
    }

    void chooser_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::newRow("picture folder") << "on_btAddPicDir_clicked";
        QTest::newRow("result folder") << "on_btPicResultDir_clicked";
    }

    void chooser()
    {
        QFETCH(QString, slot);
        Folders folders;
        Glassmere window;
        auto& ui = A::ui(window);
        ui.txtPicDir->setText(folders.pictures + "/"); // both choosers start there
        QString shown;
        DialogDriver answerer;
        answerer.expect<QFileDialog>([&](QFileDialog* dialog) {
            shown = dialog->directory().absolutePath();
            dialog->setDirectory(folders.results);
            static_cast<QDialog*>(dialog)->accept();
        });
        QVERIFY(QMetaObject::invokeMethod(&window, qPrintable(slot), Qt::DirectConnection));
        QCOMPARE(shown, folders.pictures);
        QLineEdit* field = slot.contains("PicDir") ? ui.txtPicDir : ui.txtResultDir;
        QCOMPARE(field->text(), folders.results + "/");
        QCOMPARE(QDir::currentPath(), folders.results);
    }
};

QTEST_MAIN(TestBatch)
#include "tst_batch.moc"
