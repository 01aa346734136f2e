#include "batch/batch_engine.h"
#include "batch_fixtures.h"
#include "imaging/image_io.h"
#include "mainwindow/glassmere.h"
#include "reflection/reflection_renderer.h"
#include "support/dialogdriver.h"
#include "support/imagecompare.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <FreeImagePlus.h>

using namespace fixtures;

Q_DECLARE_METATYPE(ReflectionParams)

class GlassmereTestAccess {
public:
    static Ui::GlassmereClass& ui(Glassmere& window) { return window.ui; }
    static fipImage& source(Glassmere& window) { return window.sourceImage; }
    static fipImage& result(Glassmere& window) { return window.resultImage; }
};
using Access = GlassmereTestAccess;

namespace {

// A real picture (or text) for each name, in sub-folders as named: the
// extension picks the format; "alpha" in a name makes a 32-bit picture with
// transparency; other names get text.
bool makeFiles(const QString& folder, const QStringList& names)
{
    for (const QString& name : names) {
        QDir(folder).mkpath(QFileInfo(name).path());
        const QString suffix = QFileInfo(name).suffix();
        const quint32 seed = quint32(qHash(name));
        fipImage picture =
            naturalPicture(23 + seed % 9, 17 + seed % 5, name.contains("alpha") ? 32 : 24, seed);
        const bool ok = QStringList{"png", "jpg", "bmp", "tif", "gif"}.contains(suffix)
                            ? (suffix != "gif" || picture.colorQuantize(FIQ_WUQUANT)) &&
                                  writePicture(picture, folder + "/" + name)
                            : writeText(folder + "/" + name, "not a picture");
        if (!ok)
            return false;
    }
    return true;
}

// Every written output must be what the same decode, render and safe write
// give when done here on their own. Empty when they are.
QString outputDifference(const BatchReport& report, const ReflectionParams& params)
{
    for (const auto& written : report.written) {
        fipImage source;
        fipImage expected;
        QTemporaryDir scratch;
        const QString reference = scratch.filePath(QFileInfo(written.output).fileName());
        if (!loadPicture(written.input, source) || !renderReflection(source, expected, params) ||
            !savePicture(expected, reference))
            return "no reference for " + written.input;
        if (fileBytes(written.output) != fileBytes(reference))
            return written.output + " differs: " +
                   compareImages(readPicture(written.output), readPicture(reference));
    }
    return {};
}

// Other than the window's start-up settings, so that the window must pass its own on.
ReflectionParams settings(bool transparent, int direction = 1, int start = 20)
{
    return {direction, 55, start, 0, {255, 255, 255}, transparent};
}

// The report as file names: "output" for a written file, "input>output" for a
// rename, "skipped input", "failed input"; reasons when asked.
QString events(const BatchReport& report, bool reasons = false)
{
    auto name = [](const QString& path) { return QFileInfo(path).fileName(); };
    auto why = [reasons](const QString& reason) { return reasons ? ": " + reason : QString(); };
    QStringList lines;
    for (const auto& w : report.written)
        lines << name(w.output);
    for (const auto& s : report.skipped)
        lines << "skipped " + name(s.input) + why(s.reason);
    for (const auto& r : report.renamed)
        lines << name(r.input) + ">" + name(r.output) + why(r.reason);
    for (const auto& f : report.failed)
        lines << "failed " + name(f.input) + why(f.reason);
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

// Presses the window's batch button and answers the box it may show. Returns
// "title|text|informative text" ("" when none came), plus "|buttons N" when
// the box offers more than OK.
QString pressGenerate(Glassmere& window, QString* details = nullptr)
{
    DialogDriver answerer;
    QString shown;
    answerer.expect<QMessageBox>(
        [&](QMessageBox* box) {
            shown = box->windowTitle() + "|" + box->text() + "|" + box->informativeText();
            if (box->standardButtons() != QMessageBox::Ok)
                shown += QString("|buttons %1").arg(int(box->standardButtons()));
            if (details)
                *details = box->detailedText();
            box->accept();
        },
        3000);
    QMetaObject::invokeMethod(&window, "on_btCovPics_clicked", Qt::DirectConnection);
    return shown;
}

// Presses a folder chooser and answers its dialog with `answer`.
void chooseFolder(Glassmere& window, const QString& slot,
                  const std::function<void(QFileDialog*)>& answer)
{
    DialogDriver answerer;
    answerer.expect<QFileDialog>(answer);
    QVERIFY(QMetaObject::invokeMethod(&window, slot.toLatin1().constData(), Qt::DirectConnection));
    QCOMPARE(answerer.answered, 1);
}

} // namespace

class TestBatch : public QObject {
    Q_OBJECT

    QString startFolder;

private Q_SLOTS:
    void initTestCase() { startFolder = QDir::currentPath(); }
    void cleanup() { QDir::setCurrent(startFolder); }

    void resultFolderEntriesFromBefore()
    {
        // An older file is no output of this run: it is replaced. A link to an
        // input must not become the way to overwrite that input.
        Folders folders;
        QVERIFY(makeFiles(folders.pictures, {"b.png", "c.png"}));
        QVERIFY(writeText(folders.results + "/b.png", "an older result"));
        QVERIFY(QFile::link(folders.pictures + "/c.png", folders.results + "/c.png"));
        const auto before = snapshot(folders.pictures);
        const BatchReport report = runBatch({folders.pictures, folders.results, settings(false)});
        QCOMPARE(snapshot(folders.pictures), before);
        QCOMPARE(events(report), QString("c-2.png, b.png, c.png>c-2.png"));
        const QString difference = outputDifference(report, settings(false));
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("fields"); // picture and result field; "@" is the temp folder
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("folderAfter"); // "" where the process was

        // A passing picture folder test has moved the process there; a failing one nothing.
        const QString dirError = "Failure|Selected directory error.|";
        const QString same = "Failure|The result folder is the picture folder. The results would "
                             "replace the pictures, so nothing was done. Please choose another "
                             "folder for the results.|";
        QTest::newRow("empty picture field") << QStringList{"", "@/results"} << dirError << "";
        QTest::newRow("a file as picture folder")
            << QStringList{"@/pictures/a.png", "@/results"} << dirError << "";
        QTest::newRow("missing result folder")
            << QStringList{"@/pictures", "@/missing"} << dirError << "@/pictures";
        QTest::newRow("same folder through dot-dot")
            << QStringList{"@/pictures", "@/results/../pictures/."} << same << "@/pictures";
        QTest::newRow("same folder through a link")
            << QStringList{"@/pictures", "@/link"} << same << "@/pictures";
    }

    void refused()
    {
        QFETCH(QStringList, fields);
        QFETCH(QString, box);
        QFETCH(QString, folderAfter);
        Folders folders;
        QVERIFY(makeFiles(folders.pictures, {"a.png", "b.jpg"}));
        QVERIFY(QFile::link(folders.pictures, folders.root + "/link"));
        fields.replaceInStrings("@", folders.root);
        folderAfter = folderAfter.isEmpty() ? startFolder : folderAfter.replace("@", folders.root);
        const auto before = snapshot(folders.pictures);

        int progressCalls = 0;
        const BatchRequest request{fields[0], fields[1], settings(false), 2};
        QVERIFY(runBatch(request, [&](int, int) { ++progressCalls; }).refused());
        QCOMPARE(progressCalls, 0);

        Glassmere window;
        auto& ui = Access::ui(window);
        ui.txtPicDir->setText(fields[0]);
        ui.txtResultDir->setText(fields[1]);
        QCOMPARE(pressGenerate(window), box);
        QVERIFY(ui.progressBar->isHidden());
        QVERIFY(!Access::source(window).isValid());
        QVERIFY(snapshot(folders.results).isEmpty());
        QCOMPARE(snapshot(folders.pictures), before);
        QCOMPARE(QDir::currentPath(), folderAfter);
    }

    void unwritableResultFolderKeepsWhatWasThere()
    {
        Folders folders;
        QVERIFY(makeFiles(folders.pictures, {"a.jpg", "b.png", "notes.txt"}));
        QVERIFY(writeText(folders.results + "/b.png", "kept as it was"));
        const auto resultsBefore = snapshot(folders.results);
        {
            UnwritableFolder locked(folders.results);
            if (!locked.works())
                QSKIP("no way to make a folder unwritable here");
            const BatchReport report = runBatch({folders.pictures, folders.results, {}});
            QCOMPARE(events(report), QString("skipped notes.txt, failed b.png, failed a.jpg"));

            Glassmere window;
            Access::ui(window).txtPicDir->setText(folders.pictures);
            Access::ui(window).txtResultDir->setText(folders.results);
            QString details;
            QCOMPARE(pressGenerate(window, &details),
                     QString("Failure|3 of 3 files were not written.|Not read as "
                             "pictures, skipped: 1\n    notes.txt\nResults not "
                             "written: 2\n    b.png\n    a.jpg"));
            // The reason names the folder that refused the file.
            QVERIFY2(details.contains(folders.pictures + "/b.png: not written: ") &&
                         details.contains(folders.results),
                     qPrintable(details));
        }
        QCOMPARE(snapshot(folders.results), resultsBefore);
    }

    // The window's button, the engine and the engine with more jobs on the same
    // folder with the same settings: names, box, progress and files.
    void run_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<ReflectionParams>("params");
        QTest::addColumn<QString>("expected"); // see events()
        QTest::addColumn<QString>("box");      // "" for none

        // Listed: files with a dot, no hidden ones, no folders (nor what they hold),
        // descending and case-sensitive, so A.txt is last and Z.bmp the last picture read.
        const QStringList mixed{"holiday.2011.jpg", "b.png", "A.txt", "README",
                                ".hidden.png",      "c.bmp", "Z.bmp", "sub.d/z.png"};
        const QString skipped =
            "Failure|1 of 5 files were not written.|Not read as pictures, skipped: 1\n    A.txt";
        const QString renamed = "Notice|Every file was written, some under another name.|Results "
                                "written under another name: ";
        QTest::newRow("all written: silent")
            << QStringList{"a.png", "b.jpg"} << settings(false, 3) << "b.jpg, a.png"
            << "";
        QTest::newRow("colour mode: own names")
            << mixed << settings(false, 1) << "holiday.2011.jpg, c.bmp, b.png, Z.bmp, skipped A.txt"
            << skipped;
        QTest::newRow("transparency: base name + .png")
            << mixed << settings(true, 2) << "holiday.png, c.png, b.png, Z.png, skipped A.txt"
            << skipped;
        QTest::newRow("GIF cannot store 24 bits: PNG instead")
            << QStringList{"logo.gif"} << settings(false, 0) << "logo.png, logo.gif>logo.png"
            << renamed + "1\n    logo.gif as logo.png";
        // Nothing faded: a 32-bit result without transparency keeps the input's
        // name, which JPEG cannot store.
        QTest::newRow("opaque 32 bits from a JPEG: PNG instead")
            << QStringList{"photo.jpg"} << settings(true, 1, 100)
            << "photo.png, photo.jpg>photo.png" << renamed + "1\n    photo.jpg as photo.png";
        QTest::newRow("three-way collision")
            << QStringList{"a.bmp", "a.jpg", "a.tif"} << settings(true, 2)
            << "a.png, a-2.png, a-3.png, a.jpg>a-2.png, a.bmp>a-3.png"
            << renamed + "2\n    a.jpg as a-2.png\n    a.bmp as a-3.png";
        // "a-2.png" is processed last and finds its own name taken by a rename.
        QTest::newRow("renamed output meets a real name")
            << QStringList{"a.bmp", "a.jpg", "a-2.png"} << settings(true, 1)
            << "a.png, a-2.png, a-2-2.png, a.bmp>a-2.png, a-2.png>a-2-2.png"
            << renamed + "2\n    a.bmp as a-2.png\n    a-2.png as a-2-2.png";
        QTest::newRow("empty folder: busy bar, silent") << QStringList{} << settings(false, 1) << ""
                                                        << "";
    }

    void run()
    {
        QFETCH(QStringList, names);
        QFETCH(ReflectionParams, params);
        QFETCH(QString, expected);
        QFETCH(QString, box);
        Folders folders;
        QVERIFY(makeFiles(folders.pictures, names));
        const QStringList listed = listPictures(folders.pictures);
        const auto before = snapshot(folders.pictures);

        Glassmere window;
        auto& ui = Access::ui(window);
        QVERIFY(ui.progressBar->isHidden());
        QCheckBox* edges[] = {ui.checkBoxTop, ui.checkBoxBottom, ui.checkBoxLeft, ui.checkBoxRight};
        edges[params.direction]->setChecked(true);
        ui.refSize->setValue(params.rate);
        ui.refDepth->setValue(params.start);
        ui.cbTransparent->setChecked(params.transparent);
        ui.txtPicDir->setText(folders.pictures + "/");
        ui.txtResultDir->setText(folders.results); // typed, without a separator
        // The bar moves to n as the n-th file is begun, before its result is written.
        QList<int> steps;
        connect(ui.progressBar, &QProgressBar::valueChanged, this, [&](int value) {
            steps << value;
            QVERIFY(snapshot(folders.results).size() < value);
        });
        QCOMPARE(pressGenerate(window), box);
        QList<int> expectedSteps;
        for (int i = 1; i <= listed.size(); ++i)
            expectedSteps << i;
        QCOMPARE(steps, expectedSteps);
        QVERIFY(!ui.progressBar->isHidden());
        QCOMPARE(ui.progressBar->minimum(), 0);
        QCOMPARE(ui.progressBar->maximum(), int(listed.size()));
        QCOMPARE(QDir::currentPath(), folders.results);

        const QString engine = made(folders.root + "/engine");
        const BatchReport report = runBatch({folders.pictures, engine, params});
        QCOMPARE(events(report), expected);
        QCOMPARE(report.clean(), box.isEmpty());
        const QString difference = outputDifference(report, params);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        // No temporary files left, the same files from both, nothing changed among the pictures.
        QCOMPARE(snapshot(engine).size(), report.written.size());
        QCOMPARE(snapshot(folders.results), snapshot(engine));
        QCOMPARE(snapshot(folders.pictures), before);

        // More jobs give the same report and files, with progress in listing order.
        const QString parallel = made(folders.root + "/parallel");
        QList<int> order;
        const BatchReport jobs = runBatch({folders.pictures, parallel, params, 4},
                                          [&order](int index, int) { order << index + 1; });
        QCOMPARE(events(jobs, true), events(report, true));
        QCOMPARE(snapshot(parallel), snapshot(engine));
        QCOMPARE(order, expectedSteps);

        // The last picture read stays in the window, as after opening it.
        fipImage source;
        fipImage result;
        for (const QString& path : listed)
            if (QFileInfo(path).suffix() != "txt")
                QVERIFY(loadPicture(path, source) && renderReflection(source, result, params));
        COMPARE_IMAGES(Access::source(window), source);
        COMPARE_IMAGES(Access::result(window), result);
    }

    void windowTakesRelativeFoldersFromWhereTheProcessIs()
    {
        // Both typed folders are taken from the folder the process is in at the
        // press, not the result folder from the picture folder entered first.
        Folders folders;
        QVERIFY(makeFiles(folders.pictures, {"a.png"}));
        QVERIFY(QDir::setCurrent(folders.root));
        Glassmere window;
        Access::ui(window).txtPicDir->setText("pictures");
        Access::ui(window).txtResultDir->setText("./results/");
        QCOMPARE(pressGenerate(window), QString());
        QCOMPARE(snapshot(folders.results).keys(), QStringList{"a.png"});
    }

    void chooser_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<QString>("caption");
        QTest::newRow("picture folder") << "on_btAddPicDir_clicked"
                                        << "Select a picture where the folder";
        QTest::newRow("result folder") << "on_btPicResultDir_clicked"
                                       << "Select a folder to save processing results.";
    }

    void chooser()
    {
        QFETCH(QString, slot);
        QFETCH(QString, caption);
        Folders folders;
        QVERIFY(QDir(folders.pictures).mkpath("chosen"));
        Glassmere window;
        auto& ui = Access::ui(window);
        QLineEdit* field = slot.contains("PicDir") ? ui.txtPicDir : ui.txtResultDir;
        // Both choosers start at the picture field's folder.
        ui.txtPicDir->setText(folders.pictures + "/");
        ui.txtResultDir->setText("typed");
        const QString before = field->text();
        QString shown;
        chooseFolder(window, slot, [&](QFileDialog* dialog) {
            shown = dialog->windowTitle() + "|" + dialog->directory().absolutePath() + "|" +
                    QString::number(dialog->testOption(QFileDialog::ShowDirsOnly) &&
                                    dialog->testOption(QFileDialog::DontResolveSymlinks));
            dialog->reject();
        });
        QCOMPARE(shown, caption + "|" + folders.pictures + "|1");
        QCOMPARE(field->text(), before);

        // Chosen: the folder, absolute and ended with '/', and the process is there.
        chooseFolder(window, slot, [&](QFileDialog* dialog) {
            dialog->setDirectory(folders.pictures + "/chosen");
            static_cast<QDialog*>(dialog)->accept();
        });
        QCOMPARE(field->text(), folders.pictures + "/chosen/");
        QCOMPARE(QDir::currentPath(), folders.pictures + "/chosen");
    }
};

QTEST_MAIN(TestBatch)
#include "tst_batch.moc"
