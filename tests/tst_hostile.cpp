// Damaged and hostile files against every road a picture takes in: the
// decoder itself, the window's open command, the window's batch and
// glassmere-cli. The program must survive each file, finish within a bound,
// fail the broken ones with a reason, decode the valid ones exactly, and
// change no input.

#include "app/globals.h"
#include "imaging/decoder_process.h"
#include "imaging/image_io.h"
#include "imaging/preview_image.h"
#include "mainwindow/glassmere.h"
#include "reflection/reflection_renderer.h"
#include "support/dialogdriver.h"
#include "support/hostile_files.h"
#include "support/imagecompare.h"
#include "support/testpictures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <thread>

class GlassmereTestAccess {
public:
    static Ui::GlassmereClass& ui(Glassmere& w) { return w.ui; }
    static fipImage& source(Glassmere& w) { return w.sourceImage; }
    static fipImage& result(Glassmere& w) { return w.resultImage; }
};
using A = GlassmereTestAccess;

namespace {

// Short, so the file that hangs the PICT reader costs seconds, not minutes.
constexpr int testTimeLimit = 4;
// What a single decode may take beyond its time limit: starting a decoder,
// ending one, a loaded machine.
constexpr qint64 decodeSlackMs = 10000;

QByteArray pixelBytes(const fipImage& picture)
{
    QByteArray bytes;
    for (unsigned y = 0; y < picture.getHeight(); ++y)
        bytes.append(reinterpret_cast<const char*>(picture.getScanLine(y)), int(picture.getLine()));
    return bytes;
}

// Mean absolute difference of two pictures of the same size and depth.
double meanDifference(const fipImage& a, const fipImage& b)
{
    const QByteArray x = pixelBytes(a);
    const QByteArray y = pixelBytes(b);
    if (x.size() != y.size() || x.isEmpty())
        return 1e9;
    double sum = 0;
    for (qsizetype i = 0; i < x.size(); ++i)
        sum += std::abs(int(uchar(x[i])) - int(uchar(y[i])));
    return sum / double(x.size());
}

// The output name the batch gives a valid file's result.
QString outputName(const HostileFile& file)
{
    const QFileInfo info(file.name);
    return file.expected.isTransparent() || file.renamedInBatch ? info.baseName() + ".png"
                                                                : info.fileName();
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void decodingSurvivesEveryFile_data();
    void decodingSurvivesEveryFile();
    void crashHangAndRunawayAllocationBecomeReasons_data();
    void crashHangAndRunawayAllocationBecomeReasons();
    void missingDecoderIsAClearFailure();
    void specialFilesAreRefusedAtOnce();
    void decodingFromTwoThreadsAtOnce();
    void bothWaysOfHandingOverPixels_data();
    void bothWaysOfHandingOverPixels();
    void seedPicturesDecode();
    void rendererAndPreviewSurviveAllocationFailure();

    void openingEachFileThroughTheWindow_data();
    void openingEachFileThroughTheWindow();
    void batchThroughTheWindow();
    void batchThroughTheCommandLine();

private:
    QString picture(const QString& name) const { return pictures + "/" + name; }
    const HostileFile& file(const QString& name) const;
    void checkBatchResults(const QString& results, const QString& report);
    bool openThroughWindow(Glassmere& window, const QString& path, QString* box);
    void addFileRows();

    QTemporaryDir root;
    QString pictures;
    QList<HostileFile> files;
    QMap<QString, QByteArray> before;
    PictureLimits limits;
};

const HostileFile& TestHostile::file(const QString& name) const
{
    for (const HostileFile& f : files)
        if (f.name == name)
            return f;
    qFatal("no test file %s", qPrintable(name));
}

void TestHostile::initTestCase()
{
    QVERIFY(root.isValid());
    applicationFolder = root.path();
    skinFile = root.filePath("no-skin-here");
    pictures = root.filePath("pictures");
    QVERIFY(QDir().mkpath(pictures));
    files = writeHostileFolder(pictures);
    before = folderSnapshot(pictures);
    QFile huger(root.filePath("huger.wbmp"));
    QVERIFY(huger.open(QIODevice::WriteOnly));
    huger.write(QByteArray::fromHex("0000 83fb68 83fb68 ffff00ff"));
    huger.close();
    QCOMPARE(before.size(), files.size());

    // The decoder sits beside this test program, as beside the real one.
    QVERIFY2(!pictureDecoderProgram().isEmpty(), "glassmere-decoder is not beside the test");
    limits = pictureLimits();
    limits.timeLimitSeconds = testTimeLimit;
    setPictureLimits(limits);
}

void TestHostile::cleanupTestCase()
{
    // Reading never writes: every input is as it was, byte for byte.
    QCOMPARE(folderSnapshot(pictures), before);
}

void TestHostile::addFileRows()
{
    QTest::addColumn<QString>("name");
    for (const HostileFile& f : files)
        QTest::newRow(qPrintable(f.name)) << f.name;
}

void TestHostile::decodingSurvivesEveryFile_data()
{
    addFileRows();
}

void TestHostile::decodingSurvivesEveryFile()
{
    QFETCH(QString, name);
    const HostileFile& expected = file(name);
    QElapsedTimer clock;
    clock.start();
    QString reason;
    fipImage decoded;
    const bool loaded = loadPicture(picture(name), decoded, &reason);
    QVERIFY2(clock.elapsed() < testTimeLimit * 1000 + decodeSlackMs,
             qPrintable(QString("took %1 ms").arg(clock.elapsed())));

    if (expected.valid) {
        QVERIFY2(loaded, qPrintable(reason));
        COMPARE_IMAGES(decoded, expected.expected);
    } else {
        QVERIFY2(!loaded, "a broken file decoded");
        QVERIFY(!decoded.isValid());
        QVERIFY2(!reason.isEmpty(), "no reason given");
        QVERIFY2(reason.contains(expected.reasonHint), qPrintable(reason));
        QCOMPARE(lastFreeImageMessage(), reason);
    }
}

void TestHostile::crashHangAndRunawayAllocationBecomeReasons_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<quint64>("decoderMemory"); // 0: the default
    QTest::addColumn<QString>("reason");

    QTest::newRow("PSD cut short crashes the reader")
        << "cut.psd" << quint64(0) << "The picture decoder crashed (signal 11";
    QTest::newRow("text named .pct hangs the reader")
        << "notes.pct" << quint64(0)
        << QString("Decoding took longer than %1 s and was stopped").arg(testTimeLimit);
    // The WBMP reader allocates its 65000 × 65000 bitmap (504 MB) before
    // anything can look at the size.
    QTest::newRow("huge WBMP over a 64 MB decoder")
        << "../huger.wbmp" << quint64(64) << "Decoding exceeds the memory limit of 64 MB";
}

void TestHostile::crashHangAndRunawayAllocationBecomeReasons()
{
    QFETCH(QString, name);
    QFETCH(quint64, decoderMemory);
    QFETCH(QString, reason);

    PictureLimits tight = limits;
    if (decoderMemory)
        tight.decoderMemory = decoderMemory << 20;
    setPictureLimits(tight);

    QString why;
    QVERIFY(!decodePicture(picture(name), &why));
    QVERIFY2(why.startsWith(reason), qPrintable(why));

    // The next picture gets a working decoder.
    FIBITMAP* next = decodePicture(picture("padded.bmp"), &why);
    QVERIFY2(next, qPrintable(why));
    FreeImage_Unload(next);
    setPictureLimits(limits);
}

void TestHostile::missingDecoderIsAClearFailure()
{
    const QString missing = root.filePath("nowhere/glassmere-decoder");
    setPictureDecoderProgram(missing);
    QString reason;
    fipImage kept = makeGradientPicture(5, 4, 24);
    QVERIFY(!loadPicture(picture("padded.bmp"), kept, &reason));
    QCOMPARE(reason, "Glassmere's picture decoder is missing (looked for " + missing + ")");
    QCOMPARE(kept.getWidth(), 5u); // a failed load keeps what the picture held

    setPictureDecoderProgram(QString());
    QVERIFY(loadPicture(picture("padded.bmp"), kept, &reason));
}

void TestHostile::specialFilesAreRefusedAtOnce()
{
    // A FIFO under a picture's name would block whoever opens it for reading.
    const QString fifo = root.filePath("waiting.jpg");
    QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const QString folder = root.filePath("folder.png");
    QVERIFY(QDir().mkpath(folder));

    for (const QString& path : {fifo, folder}) {
        QElapsedTimer clock;
        clock.start();
        QString reason;
        QVERIFY(!decodePicture(path, &reason));
        QCOMPARE(reason, "Not a regular file: " + path);
        QVERIFY(clock.elapsed() < decodeSlackMs);
    }
    QCOMPARE(decodePicture(root.filePath("absent.png"), nullptr), nullptr);
}

void TestHostile::decodingFromTwoThreadsAtOnce()
{
    // Both threads go through every file, broken ones included, so decoders
    // are ended and replaced while the other thread decodes.
    std::atomic<int> wrong{0};
    QStringList problems[2];
    auto work = [&](int id) {
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < files.size(); ++i) {
                const HostileFile& f = files[(i + id * 7) % files.size()];
                if (f.name == "notes.pct")
                    continue; // its time limit is tested alone
                fipImage decoded;
                QString reason;
                const bool loaded = loadPicture(picture(f.name), decoded, &reason);
                const QString difference =
                    loaded && f.valid ? compareImages(decoded, f.expected) : QString();
                if (loaded != f.valid || !difference.isEmpty()) {
                    ++wrong;
                    problems[id].append(f.name + ": " + reason + difference);
                }
            }
        }
    };
    std::thread other(work, 1);
    work(0);
    other.join();
    QVERIFY2(wrong == 0, qPrintable((problems[0] + problems[1]).join("\n")));
}

void TestHostile::bothWaysOfHandingOverPixels_data()
{
    QTest::addColumn<bool>("direct");
    QTest::newRow("read from the decoder's memory") << true;
    QTest::newRow("through the shared pixel memory") << false;
}

void TestHostile::bothWaysOfHandingOverPixels()
{
    QFETCH(bool, direct);
    choosePixelPassage(direct ? PixelPassage::Direct : PixelPassage::SharedMemory);
    // A picture larger than the last one makes the pixel memory grow between
    // two pictures of one decoder.
    fipImage large = makeGradientPicture(301, 257, 24);
    writePicture(large, root.filePath("large.bmp"));
    for (int round = 0; round < 2; ++round) {
        for (const HostileFile& f : files) {
            if (!f.valid)
                continue;
            fipImage decoded;
            QString reason;
            QVERIFY2(loadPicture(picture(f.name), decoded, &reason), qPrintable(reason));
            COMPARE_IMAGES(decoded, f.expected);
        }
        fipImage decoded;
        QVERIFY(loadPicture(root.filePath("large.bmp"), decoded));
        COMPARE_IMAGES(decoded, large);
    }
    // Reading a child's memory is refused only under a ptrace scope above 1.
    QFile scope("/proc/sys/kernel/yama/ptrace_scope");
    const int restriction = scope.open(QIODevice::ReadOnly) ? scope.readAll().trimmed().toInt() : 0;
    if (direct && restriction <= 1)
        QCOMPARE(pixelPassage(), PixelPassage::Direct);
    if (!direct)
        QCOMPARE(pixelPassage(), PixelPassage::SharedMemory);
    choosePixelPassage(PixelPassage::Direct);
}

void TestHostile::seedPicturesDecode()
{
    // With GLASSMERE_SEED_CORPUS set, the seeds stay there for the fuzzer.
    const QString wanted = qEnvironmentVariable("GLASSMERE_SEED_CORPUS");
    QTemporaryDir scratch;
    const QString folder = wanted.isEmpty() ? scratch.path() : wanted;
    QVERIFY(QDir().mkpath(folder));
    const QStringList seeds = writeSeedPictures(folder);
    QVERIFY2(seeds.size() >= 40, qPrintable(QString::number(seeds.size())));

    QStringList failed;
    for (const QString& seed : seeds) {
        QString reason;
        fipImage decoded;
        if (!loadPicture(seed, decoded, &reason))
            failed.append(QFileInfo(seed).fileName() + ": " + reason);
        else if (decoded.getBitsPerPixel() != 24 && decoded.getBitsPerPixel() != 32)
            failed.append(QFileInfo(seed).fileName() + ": not normalised");
    }
    // The header alone has no pixels to decode; every other seed decodes.
    QVERIFY2(failed.size() == 1 && failed.first().startsWith("header-only.bmp:"),
             qPrintable(failed.join("\n")));
}

void TestHostile::rendererAndPreviewSurviveAllocationFailure()
{
    // A picture of 96 MB; the address space is then capped just above what
    // the process uses, so the 134 MB result and the 128 MB preview cannot
    // be allocated.
    fipImage source(FIT_BITMAP, 5792, 5792, 24);
    QVERIFY(source.isValid());
    fipImage result = makeGradientPicture(7, 5, 24);
    const QByteArray resultBefore = pixelBytes(result);

    rlimit original;
    QVERIFY(getrlimit(RLIMIT_AS, &original) == 0);
    QFile statm("/proc/self/statm");
    QVERIFY(statm.open(QIODevice::ReadOnly));
    const quint64 used = statm.readAll().split(' ').value(0).toULongLong() * 4096;
    rlimit capped = original;
    capped.rlim_cur = rlim_t(used + (64u << 20));
    QVERIFY(setrlimit(RLIMIT_AS, &capped) == 0);

    const bool rendered = renderReflection(source, result, ReflectionParams{});
    const QImage preview = previewImage(source);
    QVERIFY(setrlimit(RLIMIT_AS, &original) == 0);

    QVERIFY2(!rendered, "the renderer claims a result it had no memory for");
    QCOMPARE(pixelBytes(result), resultBefore);
    QVERIFY(preview.isNull());
    // With memory back, both work.
    QVERIFY(renderReflection(source, result, ReflectionParams{}));
    QCOMPARE(result.getHeight(), 5792u + 5792u * 40u / 100u);
    QVERIFY(!previewImage(result).isNull());
}

// Opens `path` through the window's button and the real file dialog, within
// the time bound; `*box` gets "title|text|details" of a message box, if one came.
bool TestHostile::openThroughWindow(Glassmere& window, const QString& path, QString* box)
{
    box->clear();
    DialogDriver driver;
    driver.expect<QFileDialog>([&](QFileDialog* dialog) { acceptFileDialog(dialog, path); }, 30000);
    QTimer watcher;
    watcher.setInterval(10);
    connect(&watcher, &QTimer::timeout, [&] {
        if (auto* message = modalInItsLoop<QMessageBox>()) {
            *box = message->windowTitle() + "|" + message->text() + "|" + message->detailedText();
            message->button(QMessageBox::Ok)->click();
        }
    });
    watcher.start();
    QElapsedTimer clock;
    clock.start();
    A::ui(window).btAddPic->click();
    watcher.stop();
    if (clock.elapsed() > testTimeLimit * 1000 + decodeSlackMs) {
        qWarning("opening %s took %lld ms", qPrintable(path), clock.elapsed());
        return false;
    }
    return driver.answered == 1;
}

void TestHostile::openingEachFileThroughTheWindow_data()
{
    addFileRows();
}

void TestHostile::openingEachFileThroughTheWindow()
{
    QFETCH(QString, name);
    const HostileFile& opened = file(name);

    Glassmere window;
    window.show();
    QString box;
    QVERIFY(openThroughWindow(window, picture("scan.tif"), &box));
    QVERIFY2(box.isEmpty(), qPrintable(box));
    const QString labels = A::ui(window).lbType->text() + A::ui(window).lbName->text() +
                           A::ui(window).lbSize->text() + A::ui(window).lbDim->text();
    const QByteArray result = pixelBytes(A::result(window));

    QVERIFY(openThroughWindow(window, picture(name), &box));
    if (opened.valid) {
        QVERIFY2(box.isEmpty(), qPrintable(box));
        COMPARE_IMAGES(A::source(window), opened.expected);
        QCOMPARE(A::ui(window).lbDim->text(),
                 QString("%1*%2").arg(opened.expected.getWidth()).arg(opened.expected.getHeight()));
        return;
    }
    const QString prefix = "Failure|Image loads error.|";
    QVERIFY2(box.startsWith(prefix), qPrintable(box));
    QVERIFY2(box.size() > prefix.size(), "the reason is missing from the details");
    QCOMPARE(A::ui(window).lbType->text() + A::ui(window).lbName->text() +
                 A::ui(window).lbSize->text() + A::ui(window).lbDim->text(),
             labels);
    QCOMPARE(pixelBytes(A::result(window)), result);

    // Still usable: a settings change renders the previous picture again.
    A::ui(window).checkBoxLeft->setChecked(true);
    QCOMPARE(A::result(window).getWidth(), 40u + 40u * 40u / 100u);
    QCOMPARE(A::result(window).getHeight(), 30u);
    QVERIFY(openThroughWindow(window, picture("padded.bmp"), &box));
    QVERIFY2(box.isEmpty(), qPrintable(box));
    QCOMPARE(A::ui(window).lbDim->text(), QString("37*23"));
}

void TestHostile::checkBatchResults(const QString& results, const QString& report)
{
    QStringList expectedOutputs;
    for (const HostileFile& f : files) {
        if (!f.valid) {
            QVERIFY2(report.contains(picture(f.name)),
                     qPrintable(f.name + " is not named in the report:\n" + report));
            continue;
        }
        const QString output = outputName(f);
        expectedOutputs.append(output);
        if (f.renamedInBatch)
            QVERIFY2(report.contains(picture(f.name)),
                     qPrintable(f.name + " was renamed silently:\n" + report));

        fipImage expected;
        QVERIFY(renderReflection(f.expected, expected, ReflectionParams{}));
        fipImage written;
        QVERIFY2(written.load(QFile::encodeName(results + "/" + output).constData()),
                 qPrintable(output + " was not written"));
        if (QFileInfo(output).suffix() == "jpg") {
            // Encoded again with loss: the same size and close.
            QCOMPARE(written.getWidth(), expected.getWidth());
            QCOMPARE(written.getHeight(), expected.getHeight());
            const double difference = meanDifference(written, expected);
            QVERIFY2(difference < 4.0, qPrintable(output + QString(": %1").arg(difference)));
        } else {
            const QString difference = compareImages(written, expected);
            QVERIFY2(difference.isEmpty(), qPrintable(output + ": " + difference));
        }
    }
    QStringList outputs = QDir(results).entryList(QDir::Files);
    outputs.sort();
    expectedOutputs.sort();
    QCOMPARE(outputs, expectedOutputs);
}

void TestHostile::batchThroughTheWindow()
{
    const QString results = root.filePath("window-results");
    QVERIFY(QDir().mkpath(results));
    Glassmere window;
    window.show();
    A::ui(window).txtPicDir->setText(pictures);
    A::ui(window).txtResultDir->setText(results);

    QString report;
    QTimer watcher;
    watcher.setInterval(20);
    connect(&watcher, &QTimer::timeout, [&] {
        if (auto* message = modalInItsLoop<QMessageBox>()) {
            report = message->windowTitle() + "\n" + message->text() + "\n" +
                     message->informativeText() + "\n" + message->detailedText();
            message->button(QMessageBox::Ok)->click();
        }
    });
    watcher.start();
    QElapsedTimer clock;
    clock.start();
    A::ui(window).btCovPics->click();
    watcher.stop();
    // One file hangs its reader for the whole time limit; the rest are small.
    QVERIFY2(clock.elapsed() < 2 * testTimeLimit * 1000 + 6 * decodeSlackMs,
             qPrintable(QString("took %1 ms").arg(clock.elapsed())));
    QVERIFY2(report.startsWith("Failure\n"), qPrintable(report));
    checkBatchResults(results, report);
    QCOMPARE(A::ui(window).progressBar->value(), files.size());
}

void TestHostile::batchThroughTheCommandLine()
{
    const QString program = QStringLiteral(GLASSMERE_BIN_DIR "/glassmere-cli");
    if (!QFileInfo(program).isExecutable())
        QSKIP("glassmere-cli is not built");
    const QString results = root.filePath("cli-results");
    QVERIFY(QDir().mkpath(results));

    QProcess cli;
    QElapsedTimer clock;
    clock.start();
    cli.start(program, {"--batch", pictures, results});
    // The command line keeps the default time limit of 20 s for the hanging file.
    const int bound = 20 * 1000 + 6 * decodeSlackMs;
    QVERIFY(cli.waitForFinished(bound));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 1); // some files were not written
    const QString report =
        QString::fromLocal8Bit(cli.readAllStandardError() + cli.readAllStandardOutput());
    for (const HostileFile& f : files) {
        if (!f.valid)
            QVERIFY2(report.contains("skipped: " + picture(f.name) + ": "), qPrintable(report));
    }
    checkBatchResults(results, report);
}

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
