#include "batch/batch_engine.h"
#include "batch_fixtures.h"
#include "imaging/image_io.h"
#include "mainwindow/glassmere.h"
#include "reflection/reflection_renderer.h"
#include "support/dialogdriver.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <FreeImagePlus.h>

using namespace fixtures;

// The window's own state, reached as the window's code reaches it.
class GlassmereTestAccess {
public:
    static Ui::GlassmereClass& ui(Glassmere& window) { return window.ui; }
    static fipImage& source(Glassmere& window) { return window.sourceImage; }
    static fipImage& result(Glassmere& window) { return window.resultImage; }
    static QStringList dirTree(Glassmere& window, const QString& folder)
    {
        return window.DirTree(folder);
    }
    static QString formatDir(Glassmere& window, QString& dir) { return window.FormatDir(dir); }
};
using Access = GlassmereTestAccess;

namespace {

// Writes a real picture (or text) for each name: the extension picks the
// format; "alpha" in a name makes a 32-bit picture with transparency; names
// without a picture extension get text.
bool makeFiles(const QString& folder, const QStringList& names)
{
    for (const QString& name : names) {
        const QString path = folder + "/" + name;
        const QString suffix = QFileInfo(name).suffix().toLower();
        const quint32 seed = quint32(qHash(name));
        const bool alpha = name.contains("alpha");
        fipImage picture = naturalPicture(23 + seed % 9, 17 + seed % 5, alpha ? 32 : 24, seed);
        bool ok = false;
        if (suffix == "gif") {
            fipImage palette = picture;
            ok = palette.colorQuantize(FIQ_WUQUANT) && writePicture(palette, path);
        } else if (suffix == "png" || suffix == "jpg" || suffix == "bmp" || suffix == "tif") {
            ok = writePicture(picture, path);
        } else {
            ok = writeText(path, "not a picture: " + name.toUtf8());
        }
        if (!ok)
            return false;
    }
    return true;
}

// Every file of a folder (hidden ones included) with its bytes.
QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    const QStringList names =
        QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& name : names)
        files.insert(name, fileBytes(folder + "/" + name));
    return files;
}

QStringList fileNames(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// What the batch must have written for `input` under `outputName`: the same
// decode, render and safe write, done here on their own. Empty when equal.
QString outputDifference(const QString& input, const QString& output,
                         const ReflectionParams& params)
{
    fipImage source;
    fipImage expected;
    if (!loadPicture(input, source) || !renderReflection(source, expected, params))
        return "the reference could not be made from " + input;
    QTemporaryDir scratch;
    const QString reference = scratch.path() + "/" + QFileInfo(output).fileName();
    if (!savePicture(expected, reference))
        return "the reference could not be written as " + reference;
    if (fileBytes(output) == fileBytes(reference))
        return {};
    const QString pixels = pixelDifference(readPicture(output), readPicture(reference));
    return QStringLiteral("%1 differs from its reference: %2")
        .arg(output, pixels.isEmpty() ? QStringLiteral("same pixels, other bytes") : pixels);
}

ReflectionParams settings(bool transparent)
{
    ReflectionParams params;
    params.direction = 1;
    params.rate = 40;
    params.start = 30;
    params.transparent = transparent;
    return params;
}

QString describe(const BatchReport& report)
{
    QStringList lines;
    lines << "refusal: " + report.refusal << QString("total: %1").arg(report.total);
    for (const auto& w : report.written)
        lines << "written " + QFileInfo(w.input).fileName() + " -> " +
                     QFileInfo(w.output).fileName();
    for (const auto& s : report.skipped)
        lines << "skipped " + QFileInfo(s.input).fileName() + ": " + s.reason;
    for (const auto& r : report.renamed)
        lines << "renamed " + QFileInfo(r.input).fileName() + ": " +
                     QFileInfo(r.usualOutput).fileName() + " -> " + QFileInfo(r.output).fileName() +
                     " (" + r.reason + ")";
    for (const auto& f : report.failed)
        lines << "failed " + QFileInfo(f.input).fileName() + " -> " +
                     QFileInfo(f.output).fileName() + ": " + f.reason;
    return lines.join('\n');
}

} // namespace

class TestBatch : public QObject {
    Q_OBJECT

private:
    QString startFolder;

    struct Folders {
        QTemporaryDir temporary;
        QString pictures;
        QString results;
        Folders()
        {
            const QString root = QDir(temporary.path()).canonicalPath();
            pictures = root + "/pictures";
            results = root + "/results";
            QDir().mkpath(pictures);
            QDir().mkpath(results);
        }
    };

    // Runs the window's batch and answers the box it may show with OK.
    // Returns the box's title and text ("" when none was shown).
    static QString pressBatchGenerate(Glassmere& window, QString* details = nullptr)
    {
        DialogDriver answerer;
        QString seen;
        answerer.expect<QMessageBox>(
            [&seen, details](QMessageBox* box) {
                seen = box->windowTitle() + "|" + box->text() + "|" + box->informativeText();
                if (details)
                    *details = box->detailedText();
                box->accept();
            },
            3000);
        QMetaObject::invokeMethod(&window, "on_btCovPics_clicked", Qt::DirectConnection);
        return seen;
    }

private Q_SLOTS:
    void initTestCase() { startFolder = QDir::currentPath(); }
    void cleanup() { QDir::setCurrent(startFolder); }

    // --- listing

    void listing_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("descending by name")
            << QStringList{"a.png", "c.png", "b.png"} << QStringList{"c.png", "b.png", "a.png"};
        QTest::newRow("case-sensitive: a before B")
            << QStringList{"B.png", "a.png", "A.png", "b.png"}
            << QStringList{"b.png", "a.png", "B.png", "A.png"};
        QTest::newRow("hidden files ignored")
            << QStringList{".hidden.png", "a.png"} << QStringList{"a.png"};
        QTest::newRow("names without a dot ignored")
            << QStringList{"README", "a.png", "b"} << QStringList{"a.png"};
        QTest::newRow("every file with a dot, pictures or not")
            << QStringList{"notes.txt", "holiday.2011.jpg", "x.bmp"}
            << QStringList{"x.bmp", "notes.txt", "holiday.2011.jpg"};
        QTest::newRow("no files") << QStringList{} << QStringList{};
    }

    void listing()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, expected);
        Folders folders;
        QVERIFY(makeFiles(folders.pictures, names));
        // A sub-folder, with a dot and with pictures inside, is neither listed nor entered.
        QVERIFY(QDir(folders.pictures).mkpath("sub.d"));
        QVERIFY(makeFiles(folders.pictures + "/sub.d", {"z.png"}));

        QStringList paths;
        for (const QString& name : expected)
            paths << folders.pictures + "/" + name;
        // With or without the trailing separator: the same full paths.
        QCOMPARE(listPictures(folders.pictures), paths);
        QCOMPARE(listPictures(folders.pictures + "/"), paths);

        Glassmere window;
        QCOMPARE(Access::dirTree(window, folders.pictures), paths);
        QCOMPARE(Access::dirTree(window, folders.pictures + "/"), paths);
    }

    // --- output names and contents

    void outputs_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<int>("start");
        QTest::addColumn<QStringList>("expectedOutputs"); // in listing order
        QTest::addColumn<QStringList>("expectedSkipped");
        QTest::addColumn<QStringList>("expectedRenamed"); // "input>output"

        const QStringList mixed{"holiday.2011.jpg", "b.png",       "notes.txt",
                                "README",           ".hidden.png", "c.bmp"};
        QTest::newRow("colour mode: own names")
            << mixed << false << 30 << QStringList{"holiday.2011.jpg", "c.bmp", "b.png"}
            << QStringList{"notes.txt"} << QStringList{};
        QTest::newRow("transparency: base name + .png")
            << mixed << true << 30 << QStringList{"holiday.png", "c.png", "b.png"}
            << QStringList{"notes.txt"} << QStringList{};
        QTest::newRow("GIF cannot store 24 bits: PNG instead")
            << QStringList{"logo.gif"} << false << 30 << QStringList{"logo.png"} << QStringList{}
            << QStringList{"logo.gif>logo.png"};
        // Transparency mode with nothing faded: a 32-bit result without
        // transparency keeps the input's name, which JPEG cannot store.
        QTest::newRow("opaque 32 bits from a JPEG: PNG instead")
            << QStringList{"photo.jpg"} << true << 100 << QStringList{"photo.png"} << QStringList{}
            << QStringList{"photo.jpg>photo.png"};
        QTest::newRow("picture with alpha in colour mode stays PNG")
            << QStringList{"alpha.png"} << false << 30 << QStringList{"alpha.png"} << QStringList{}
            << QStringList{};
        QTest::newRow("collision: a.jpg and a.bmp both give a.png")
            << QStringList{"a.bmp", "a.jpg"} << true << 30 << QStringList{"a.png", "a-2.png"}
            << QStringList{} << QStringList{"a.bmp>a-2.png"};
        QTest::newRow("collision after a format fallback")
            << QStringList{"a.gif", "a.png"} << false << 30 << QStringList{"a.png", "a-2.png"}
            << QStringList{} << QStringList{"a.gif>a-2.png"};
        QTest::newRow("three-way collision")
            << QStringList{"a.bmp", "a.jpg", "a.tif"} << true << 30
            << QStringList{"a.png", "a-2.png", "a-3.png"} << QStringList{}
            << QStringList{"a.jpg>a-2.png", "a.bmp>a-3.png"};
        // "a-2.png" is processed last and finds its own name taken by a rename.
        QTest::newRow("renamed output meets a real name")
            << QStringList{"a.bmp", "a.jpg", "a-2.png"} << true << 30
            << QStringList{"a.png", "a-2.png", "a-2-2.png"} << QStringList{}
            << QStringList{"a.bmp>a-2.png", "a-2.png>a-2-2.png"};
    }

    void outputs()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, transparent);
        QFETCH(int, start);
        QFETCH(QStringList, expectedOutputs);
        QFETCH(QStringList, expectedSkipped);
        QFETCH(QStringList, expectedRenamed);

        Folders folders;
        QVERIFY(makeFiles(folders.pictures, names));
        const auto before = snapshot(folders.pictures);

        BatchRequest request;
        request.pictureDir = folders.pictures;
        request.resultDir = folders.results;
        request.params = settings(transparent);
        request.params.start = start;
        const BatchReport report = runBatch(request);
        QVERIFY2(!report.refused(), qPrintable(report.refusal));

        QStringList outputs;
        for (const auto& written : report.written) {
            outputs << QFileInfo(written.output).fileName();
            const QString difference =
                outputDifference(written.input, written.output, request.params);
            QVERIFY2(difference.isEmpty(), qPrintable(difference));
        }
        QVERIFY2(outputs == expectedOutputs, qPrintable(describe(report)));

        QStringList skipped;
        for (const auto& entry : report.skipped) {
            skipped << QFileInfo(entry.input).fileName();
            QVERIFY(!entry.reason.isEmpty());
        }
        QCOMPARE(skipped, expectedSkipped);

        QStringList renamed;
        for (const auto& entry : report.renamed) {
            renamed << QFileInfo(entry.input).fileName() + ">" + QFileInfo(entry.output).fileName();
            QVERIFY(!entry.reason.isEmpty());
        }
        QCOMPARE(renamed, expectedRenamed);
        QVERIFY(report.failed.isEmpty());
        QCOMPARE(report.clean(), expectedSkipped.isEmpty() && expectedRenamed.isEmpty());

        // Nothing else in the result folder (no temporary files left), nothing
        // changed among the pictures.
        QStringList sortedOutputs = expectedOutputs;
        sortedOutputs.sort();
        QCOMPARE(fileNames(folders.results), sortedOutputs);
        QCOMPARE(snapshot(folders.pictures), before);
    }

    void existingResultIsReplaced()
    {
        // A file from before the run is not an output of the run: it is
        // replaced by the new result, not renamed around.
        Folders folders;
        QVERIFY(makeFiles(folders.pictures, {"b.png"}));
        QVERIFY(writeText(folders.results + "/b.png", "an older result"));
        BatchRequest request{folders.pictures, folders.results, settings(false), 1};
        const BatchReport report = runBatch(request);
        QVERIFY2(report.clean(), qPrintable(describe(report)));
        QCOMPARE(fileNames(folders.results), QStringList{"b.png"});
        const QString difference = outputDifference(folders.pictures + "/b.png",
                                                    folders.results + "/b.png", request.params);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    void outputLinkedToAnInputIsNotWrittenThrough()
    {
        // A result folder entry that is a link to one of the pictures must
        // not become the way to overwrite that picture.
        Folders folders;
        QVERIFY(makeFiles(folders.pictures, {"b.png"}));
        QVERIFY(QFile::link(folders.pictures + "/b.png", folders.results + "/b.png"));
        const auto before = snapshot(folders.pictures);
        BatchRequest request{folders.pictures, folders.results, settings(false), 1};
        const BatchReport report = runBatch(request);
        QCOMPARE(snapshot(folders.pictures), before);
        QCOMPARE(report.renamed.size(), 1);
        QCOMPARE(QFileInfo(report.renamed[0].output).fileName(), QString("b-2.png"));
    }

    // --- refused runs

    void sameFolderRefused_data()
    {
        QTest::addColumn<QString>("resultSpelling"); // "@" is the picture folder

        QTest::newRow("same text") << "@";
        QTest::newRow("trailing separator") << "@/";
        QTest::newRow("dir/.") << "@/.";
        QTest::newRow("through dot-dot") << "@/../pictures";
        QTest::newRow("through a link") << "link";
    }

    void sameFolderRefused()
    {
        QFETCH(QString, resultSpelling);
        Folders folders;
        QVERIFY(makeFiles(folders.pictures, {"a.jpg", "b.png", "c.bmp", "holiday.2011.jpg"}));
        const QString link = QFileInfo(folders.pictures).path() + "/link";
        QVERIFY(QFile::link(folders.pictures, link));
        const QString resultDir = resultSpelling == "link"
                                      ? link
                                      : QString(resultSpelling).replace("@", folders.pictures);
        const auto before = snapshot(folders.pictures);

        for (bool transparent : {false, true}) {
            BatchRequest request{folders.pictures, resultDir, settings(transparent), 2};
            int progressCalls = 0;
            const BatchReport report = runBatch(request, [&](int, int) { ++progressCalls; });
            QVERIFY(report.refused());
            QVERIFY2(report.refusal.contains("picture folder"), qPrintable(report.refusal));
            QCOMPARE(progressCalls, 0);
            QVERIFY(report.written.isEmpty() && report.skipped.isEmpty());
        }
        QCOMPARE(snapshot(folders.pictures), before);

        // The window refuses too, with a message, and leaves the bar hidden.
        Glassmere window;
        Access::ui(window).txtPicDir->setText(folders.pictures + "/");
        Access::ui(window).txtResultDir->setText(resultDir);
        const QString box = pressBatchGenerate(window);
        QVERIFY2(box.startsWith("Failure|The result folder is the picture folder"),
                 qPrintable(box));
        QVERIFY(Access::ui(window).progressBar->isHidden());
        QVERIFY(!Access::source(window).isValid());
        QCOMPARE(snapshot(folders.pictures), before);
    }

    void missingFoldersRefused()
    {
        Folders folders;
        QVERIFY(makeFiles(folders.pictures, {"a.png"}));
        BatchRequest request{folders.pictures + "/missing", folders.results, settings(false), 1};
        QVERIFY(runBatch(request).refused());
        request = {folders.pictures, folders.results + "/missing", settings(false), 1};
        QVERIFY(runBatch(request).refused());
        QVERIFY(fileNames(folders.results).isEmpty());
    }

    // --- failed writes

    void unwritableResultFolder()
    {
        Folders folders;
        QVERIFY(makeFiles(folders.pictures, {"a.jpg", "b.png", "notes.txt"}));
        QVERIFY(writeText(folders.results + "/b.png", "kept as it was"));
        const auto resultsBefore = snapshot(folders.results);
        {
            UnwritableFolder locked(folders.results);
            if (!locked.works())
                QSKIP("no way to make a folder unwritable here");

            BatchRequest request{folders.pictures, folders.results, settings(false), 1};
            const BatchReport report = runBatch(request);
            QVERIFY(report.written.isEmpty());
            QCOMPARE(report.failed.size(), 2);
            QCOMPARE(QFileInfo(report.failed[0].input).fileName(), QString("b.png"));
            QCOMPARE(QFileInfo(report.failed[1].input).fileName(), QString("a.jpg"));
            for (const auto& failed : report.failed) {
                QCOMPARE(QFileInfo(failed.output).path(), folders.results);
                QVERIFY2(failed.reason.contains(folders.results), qPrintable(failed.reason));
            }
            QCOMPARE(report.skipped.size(), 1);
            QVERIFY(!report.clean());
        }
        // The file that was there before is whole; nothing was added.
        QCOMPARE(snapshot(folders.results), resultsBefore);
    }

    // --- progress, jobs, and the caller's pictures

    void progressBeforeEachFile()
    {
        Folders folders;
        // Listing order: c.png, b.png, a.png, A.txt.
        QVERIFY(makeFiles(folders.pictures, {"a.png", "b.png", "c.png", "A.txt"}));
        const QStringList files = listPictures(folders.pictures);
        BatchRequest request{folders.pictures, folders.results, settings(false), 1};
        QStringList seen;
        const BatchReport report = runBatch(request, files, [&](int index, int total) {
            // The file in hand has no output yet; the one before it has.
            QCOMPARE(total, 4);
            const QString name = QFileInfo(files[index]).fileName();
            seen << QString::number(index) + ":" +
                        QString::number(QFile::exists(folders.results + "/" + name));
            if (index > 0)
                QVERIFY(
                    QFile::exists(folders.results + "/" + QFileInfo(files[index - 1]).fileName()));
        });
        QCOMPARE(seen, (QStringList{"0:0", "1:0", "2:0", "3:0"}));
        QCOMPARE(report.written.size(), 3);
    }

    void lastPictureStaysWithTheCaller()
    {
        Folders folders;
        // Listing order: c.png, b.png, a.png, A.txt; the text file fails last.
        QVERIFY(makeFiles(folders.pictures, {"a.png", "b.png", "c.png", "A.txt"}));
        fipImage source;
        fipImage result;
        BatchRequest request{folders.pictures, folders.results, settings(true), 1};
        runBatch(request, listPictures(folders.pictures), {}, &source, &result);

        fipImage expectedSource;
        fipImage expectedResult;
        QVERIFY(loadPicture(folders.pictures + "/a.png", expectedSource));
        QVERIFY(renderReflection(expectedSource, expectedResult, request.params));
        QVERIFY2(pixelDifference(source, expectedSource).isEmpty(),
                 qPrintable(pixelDifference(source, expectedSource)));
        QVERIFY2(pixelDifference(result, expectedResult).isEmpty(),
                 qPrintable(pixelDifference(result, expectedResult)));
    }

    void jobsGiveTheSameRun_data()
    {
        QTest::addColumn<int>("jobs");
        QTest::newRow("2 jobs") << 2;
        QTest::newRow("3 jobs") << 3;
        QTest::newRow("more jobs than files") << 64;
    }

    void jobsGiveTheSameRun()
    {
        QFETCH(int, jobs);
        QTemporaryDir temporary;
        const QString root = QDir(temporary.path()).canonicalPath();
        const QString pictures = root + "/pictures";
        QVERIFY(QDir().mkpath(pictures));
        // Collisions, a fallback, a skipped file and plain pictures, mixed.
        QVERIFY(makeFiles(pictures, {"a.bmp", "a.jpg", "a.tif", "a-2.png", "logo.gif", "logo.png",
                                     "notes.txt", "holiday.2011.jpg", "alpha.png", "z.png", "Y.bmp",
                                     "m.jpg", "n.tif", "B.png", "b.png"}));

        for (bool transparent : {false, true}) {
            const QString one = root + QString("/one-%1").arg(transparent);
            const QString many = root + QString("/many-%1").arg(transparent);
            QVERIFY(QDir().mkpath(one));
            QVERIFY(QDir().mkpath(many));
            BatchRequest request{pictures, one, settings(transparent), 1};
            const BatchReport serial = runBatch(request);
            request.resultDir = many;
            request.jobs = jobs;
            QList<int> order;
            const BatchReport parallel =
                runBatch(request, [&order](int index, int) { order << index; });

            QCOMPARE(describe(parallel), describe(serial));
            QCOMPARE(snapshot(many), snapshot(one));
            QVERIFY(!snapshot(one).isEmpty());
            QList<int> expectedOrder;
            for (int i = 0; i < serial.total; ++i)
                expectedOrder << i;
            QCOMPARE(order, expectedOrder);
        }
    }

    // --- the window

    void windowRun_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<QStringList>("expectedResults");
        QTest::addColumn<QString>("expectedBox"); // start of "title|text"; "" for none

        QTest::newRow("all written: silent")
            << QStringList{"a.png", "b.jpg", "holiday.2011.jpg"} << false
            << QStringList{"a.png", "b.jpg", "holiday.2011.jpg"} << "";
        QTest::newRow("transparency: holiday.png")
            << QStringList{"a.png", "b.jpg", "holiday.2011.jpg"} << true
            << QStringList{"a.png", "b.png", "holiday.png"} << "";
        QTest::newRow("a skipped file is told")
            << QStringList{"a.png", "notes.txt", "README"} << false << QStringList{"a.png"}
            << "Failure|1 of 2 files were not written.|Not read as pictures, skipped: 1\n    "
               "notes.txt";
        QTest::newRow("a rename is told")
            << QStringList{"a.jpg", "a.bmp"} << true << QStringList{"a-2.png", "a.png"}
            << "Notice|Every file was written, some under another name.|Results written under "
               "another name: 1\n    a.bmp as a-2.png";
        QTest::newRow("empty folder: busy bar, silent")
            << QStringList{} << false << QStringList{} << "";
    }

    void windowRun()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, transparent);
        QFETCH(QStringList, expectedResults);
        QFETCH(QString, expectedBox);

        Folders folders;
        QVERIFY(makeFiles(folders.pictures, names));
        const QStringList listed = listPictures(folders.pictures);

        Glassmere window;
        auto& ui = Access::ui(window);
        QVERIFY(ui.progressBar->isHidden());
        ui.cbTransparent->setChecked(transparent);
        ui.checkBoxLeft->setChecked(true);
        ui.refSize->setValue(55);
        ui.refDepth->setValue(20);
        ui.txtPicDir->setText(folders.pictures + "/");
        ui.txtResultDir->setText(folders.results); // typed, without a separator

        QList<int> values;
        connect(ui.progressBar, &QProgressBar::valueChanged, this,
                [&values](int value) { values << value; });
        const QString box = pressBatchGenerate(window);

        if (expectedBox.isEmpty())
            QVERIFY2(box.isEmpty(), qPrintable(box));
        else
            QVERIFY2(box.startsWith(expectedBox), qPrintable(box));
        QVERIFY(!ui.progressBar->isHidden());
        QCOMPARE(ui.progressBar->minimum(), 0);
        QCOMPARE(ui.progressBar->maximum(), int(listed.size()));
        QList<int> expectedValues;
        for (int i = 1; i <= listed.size(); ++i)
            expectedValues << i;
        QCOMPARE(values, expectedValues);
        if (!listed.isEmpty())
            QCOMPARE(ui.progressBar->value(), int(listed.size()));

        QStringList sorted = expectedResults;
        sorted.sort();
        QCOMPARE(fileNames(folders.results), sorted);

        // Every result is what the engine writes for the window's settings.
        ReflectionParams params;
        params.direction = 2;
        params.rate = 55;
        params.start = 20;
        params.transparent = transparent;
        for (const QString& name : listed) {
            const QString base = QFileInfo(name).baseName();
            for (const QString& output : fileNames(folders.results))
                if (QFileInfo(output).baseName() == base && expectedBox.isEmpty()) {
                    const QString difference =
                        outputDifference(name, folders.results + "/" + output, params);
                    QVERIFY2(difference.isEmpty(), qPrintable(difference));
                }
        }

        // The last picture read stays in the window, as after opening it.
        if (!expectedResults.isEmpty()) {
            QString last;
            for (const QString& path : listed)
                if (QFileInfo(path).suffix() != "txt")
                    last = path;
            fipImage expectedSource;
            fipImage expectedResult;
            QVERIFY(loadPicture(last, expectedSource));
            QVERIFY(renderReflection(expectedSource, expectedResult, params));
            QVERIFY2(pixelDifference(Access::source(window), expectedSource).isEmpty(),
                     qPrintable(pixelDifference(Access::source(window), expectedSource)));
            QVERIFY2(pixelDifference(Access::result(window), expectedResult).isEmpty(),
                     qPrintable(pixelDifference(Access::result(window), expectedResult)));
        }
        // After the run the process is in the result folder.
        QCOMPARE(QDir::currentPath(), folders.results);
    }

    void windowFolderFailure_data()
    {
        QTest::addColumn<QString>("pictureField"); // "@" is the temporary folder
        QTest::addColumn<QString>("resultField");
        QTest::addColumn<QString>("expectedFolder");

        QTest::newRow("empty picture field") << ""
                                             << "@/results"
                                             << "";
        QTest::newRow("empty result field") << "@/pictures"
                                            << ""
                                            << "@/pictures";
        QTest::newRow("both empty") << ""
                                    << ""
                                    << "";
        QTest::newRow("missing picture folder") << "@/missing"
                                                << "@/results"
                                                << "";
        QTest::newRow("missing result folder") << "@/pictures"
                                               << "@/missing"
                                               << "@/pictures";
        QTest::newRow("a file as picture folder") << "@/pictures/a.png"
                                                  << "@/results"
                                                  << "";
    }

    void windowFolderFailure()
    {
        QFETCH(QString, pictureField);
        QFETCH(QString, resultField);
        QFETCH(QString, expectedFolder);

        Folders folders;
        QVERIFY(makeFiles(folders.pictures, {"a.png"}));
        const QString root = QFileInfo(folders.pictures).path();
        pictureField.replace("@", root);
        resultField.replace("@", root);
        expectedFolder =
            expectedFolder.isEmpty() ? QDir::currentPath() : expectedFolder.replace("@", root);

        Glassmere window;
        auto& ui = Access::ui(window);
        ui.txtPicDir->setText(pictureField);
        ui.txtResultDir->setText(resultField);

        DialogDriver answerer;
        QString title, text;
        int buttons = 0;
        bool onlyOk = false;
        answerer.expect<QMessageBox>([&](QMessageBox* box) {
            title = box->windowTitle();
            text = box->text();
            buttons = int(box->buttons().size());
            onlyOk = box->standardButtons() == QMessageBox::Ok;
            box->accept();
        });
        QMetaObject::invokeMethod(&window, "on_btCovPics_clicked", Qt::DirectConnection);

        QCOMPARE(answerer.answered, 1);
        QCOMPARE(title, QString("Failure"));
        QCOMPARE(text, QString("Selected directory error."));
        QCOMPARE(buttons, 1);
        QVERIFY(onlyOk);
        QVERIFY(ui.progressBar->isHidden());
        QVERIFY(fileNames(folders.results).isEmpty());
        // A passing picture folder test has moved the process there; a failing one nothing.
        QCOMPARE(QDir::currentPath(), expectedFolder);
    }

    void windowRelativeFolders()
    {
        // Typed relative folders are both taken from where the process is
        // when the button is pressed.
        Folders folders;
        QVERIFY(makeFiles(folders.pictures, {"a.png"}));
        const QString root = QFileInfo(folders.pictures).path();
        QVERIFY(QDir::setCurrent(root));

        Glassmere window;
        Access::ui(window).txtPicDir->setText("pictures");
        Access::ui(window).txtResultDir->setText("./results/");
        QCOMPARE(pressBatchGenerate(window), QString());
        QCOMPARE(fileNames(folders.results), QStringList{"a.png"});
    }

    void windowUnwritableResultFolder()
    {
        Folders folders;
        QVERIFY(makeFiles(folders.pictures, {"a.png", "b.jpg"}));
        UnwritableFolder locked(folders.results);
        if (!locked.works())
            QSKIP("no way to make a folder unwritable here");

        Glassmere window;
        Access::ui(window).txtPicDir->setText(folders.pictures);
        Access::ui(window).txtResultDir->setText(folders.results);
        QString details;
        const QString box = pressBatchGenerate(window, &details);
        QVERIFY2(box.startsWith("Failure|2 of 2 files were not written.|Results not written: 2\n"
                                "    b.jpg\n    a.png"),
                 qPrintable(box));
        QVERIFY2(details.contains(folders.pictures + "/b.jpg: not written: "), qPrintable(details));
        QCOMPARE(Access::ui(window).progressBar->value(), 2);
    }

    // --- folder choosers

    void formatDir()
    {
        Folders folders;
        Glassmere window;
        QString dir = folders.pictures + "/../results/.";
        const QString before = dir;
        QCOMPARE(Access::formatDir(window, dir), folders.results + "/");
        QCOMPARE(dir, before); // the argument is not touched
        QCOMPARE(QDir::currentPath(), folders.results);

        // A folder that cannot be entered comes back as it was.
        QString missing = folders.results + "/missing";
        QCOMPARE(Access::formatDir(window, missing), folders.results + "/missing");
        QCOMPARE(QDir::currentPath(), folders.results);
    }

    void chooser_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("pictureField");

        QTest::newRow("picture folder") << "on_btAddPicDir_clicked"
                                        << "Select a picture where the folder" << true;
        QTest::newRow("result folder") << "on_btPicResultDir_clicked"
                                       << "Select a folder to save processing results." << false;
    }

    void chooser()
    {
        QFETCH(QString, slot);
        QFETCH(QString, caption);
        QFETCH(bool, pictureField);

        Folders folders;
        QVERIFY(QDir(folders.pictures).mkpath("chosen"));
        Glassmere window;
        auto& ui = Access::ui(window);
        QLineEdit* field = pictureField ? ui.txtPicDir : ui.txtResultDir;
        // Both choosers start at the picture field's folder.
        ui.txtPicDir->setText(folders.pictures + "/");
        ui.txtResultDir->setText("typed");
        const QString before = field->text();

        // Cancelled: nothing changes.
        {
            DialogDriver answerer;
            QString shownCaption, shownFolder;
            bool dirsOnly = false, keepLinks = false;
            answerer.expect<QFileDialog>([&](QFileDialog* dialog) {
                shownCaption = dialog->windowTitle();
                shownFolder = dialog->directory().absolutePath();
                dirsOnly = dialog->testOption(QFileDialog::ShowDirsOnly);
                keepLinks = dialog->testOption(QFileDialog::DontResolveSymlinks);
                dialog->reject();
            });
            QVERIFY(QMetaObject::invokeMethod(&window, slot.toLatin1(), Qt::DirectConnection));
            QCOMPARE(answerer.answered, 1);
            QCOMPARE(shownCaption, caption);
            QCOMPARE(shownFolder, folders.pictures);
            QVERIFY(dirsOnly);
            QVERIFY(keepLinks);
            QCOMPARE(field->text(), before);
        }

        // Chosen: the folder, absolute and ended with '/', and the process is there.
        {
            DialogDriver answerer;
            answerer.expect<QFileDialog>([&](QFileDialog* dialog) {
                dialog->setDirectory(folders.pictures + "/chosen");
                static_cast<QDialog*>(dialog)->accept();
            });
            QVERIFY(QMetaObject::invokeMethod(&window, slot.toLatin1(), Qt::DirectConnection));
            QCOMPARE(answerer.answered, 1);
            QCOMPARE(field->text(), folders.pictures + "/chosen/");
            QCOMPARE(QDir::currentPath(), folders.pictures + "/chosen");
        }
    }

    void chooserWithEmptyFieldOpensWhereTheLastPickLeft()
    {
        // With the picture field empty, the picture chooser opens at the
        // folder that the result pick entered.
        Folders folders;
        Glassmere window;
        auto& ui = Access::ui(window);
        DialogDriver answerer;
        answerer.expect<QFileDialog>([&](QFileDialog* dialog) {
            dialog->setDirectory(folders.results);
            static_cast<QDialog*>(dialog)->accept();
        });
        QMetaObject::invokeMethod(&window, "on_btPicResultDir_clicked", Qt::DirectConnection);
        QCOMPARE(ui.txtResultDir->text(), folders.results + "/");

        QString shownFolder;
        answerer.expect<QFileDialog>([&](QFileDialog* dialog) {
            shownFolder = dialog->directory().absolutePath();
            dialog->reject();
        });
        QMetaObject::invokeMethod(&window, "on_btAddPicDir_clicked", Qt::DirectConnection);
        QCOMPARE(answerer.answered, 2);
        QCOMPARE(shownFolder, folders.results);
        QVERIFY(ui.txtPicDir->text().isEmpty());
    }
};

QTEST_MAIN(TestBatch)
#include "tst_batch.moc"
