// SPDX-License-Identifier: GPL-3.0-or-later
// Damaged and hostile files against every road a picture takes in: the
// decoder itself and glassmere-cli's batch. The window's batch runs the same
// engine (tst_batch holds it to that); the window's open command fails the same
// way for every file (tst_mainwindow's drop test and the missing decoder below
// show it). The program must survive each file, finish within a bound, fail the
// broken ones with a reason, decode the valid ones exactly, and change no input.

#include "imaging/decoder/decoder_process.h"
#include "imaging/decoder/decoder_sandbox.h"
#include "imaging/decoder/image_io.h"
#include "imaging/preview/preview_image.h"
#include "imaging/saving/picture_saving.h"
#include "reflection/renderer/reflection_renderer.h"
#include "support/dialogdriver.h"
#include "support/hostile_files.h"
#include "support/imagecompare.h"
#include "support/testaccess.h"
#include "support/testpictures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

// The time a small file may take: the default floor, so the file that hangs
// the PICT reader is stopped within it.
constexpr int testTimeLimit = 3;
// What a single decode may take beyond its time limit: starting a decoder,
// ending one, a loaded machine.
constexpr qint64 decodeSlackMs = 10000;
// What a stalled decode may take beyond it: the limit counts processor time,
// which on a loaded machine comes slower than wall time, up to the backstop.
constexpr qint64 stallSlackMs = (decodeWallBackstop(testTimeLimit) - testTimeLimit) * 1000 + 2000;
// The memory pictures may use, here and for glassmere-cli (its address space).
constexpr std::uint64_t testMemory = 1u << 30;

// A child locked in as the decoder locks itself in tells over its socket what
// became of one thing it tried: "refused CALL", "failed" (an error return),
// "allowed", or what it echoed.
int lockedChannel = -1;

void tellRefusal(const char* call)
{
    char text[64] = "refused ";
    std::strncat(text, call, sizeof text - 9);
    [[maybe_unused]] const ssize_t sent = write(lockedChannel, text, std::strlen(text));
}

QByteArray tryLockedIn(int what)
{
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
        return "no socket pair";
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        lockedChannel = ends[1];
        const int early = socket(AF_INET, SOCK_STREAM, 0); // made before the lock
        QString error;
        if (!lockInDecoder(tellRefusal, &error))
            _exit(3);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(9);
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const rlimit more{RLIM_INFINITY, RLIM_INFINITY};
        char* const trueArguments[] = {const_cast<char*>("/bin/true"), nullptr};
        char echo = 0;
        long result = 0;
        switch (what) {
        case 0:
            result = open("/etc/passwd", O_RDONLY);
            break;
        case 1:
            result = connect(early, reinterpret_cast<sockaddr*>(&local), sizeof local);
            break;
        case 2:
            result = socket(AF_INET, SOCK_STREAM, 0);
            break;
        case 3:
            result = execve("/bin/true", trueArguments, environ);
            break;
        case 4:
            result = fork();
            break;
        case 5:
            result = setrlimit(RLIMIT_AS, &more);
            break;
        case 6:
            result = ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
            break;
        default:
            if (read(lockedChannel, &echo, 1) == 1 && write(lockedChannel, &echo, 1) == 1)
                _exit(0);
            result = -1;
        }
        const char* said = result < 0 ? "failed" : "allowed";
        if (result == 0 && what == 4)
            _exit(0); // the forked child, had it been let through
        [[maybe_unused]] const ssize_t sent = write(lockedChannel, said, std::strlen(said));
        _exit(0);
    }
    close(ends[1]);
    QByteArray heard;
    if (what > 6 && write(ends[0], "e", 1) == 1)
        heard = "echoed ";
    for (;;) {
        pollfd watch{ends[0], POLLIN, 0};
        char part[64];
        const ssize_t got = poll(&watch, 1, 10000) == 1 ? read(ends[0], part, sizeof part) : -1;
        if (got <= 0)
            break;
        heard.append(part, got);
    }
    close(ends[0]);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return heard;
}

constexpr QDir::Filters everyEntry = QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot;

// The ids of this process's children: its decoders.
QStringList decoderProcesses()
{
    QStringList decoders;
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        // The parent's id follows the state, after the name in parentheses.
        const QByteArray stat = fileBytes("/proc/" + pid + "/stat");
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == QCoreApplication::applicationPid())
            decoders.append(pid);
    }
    return decoders;
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(root.isValid());
        pictures = root.filePath("pictures");
        QVERIFY(QDir().mkpath(pictures));
        files = writeHostileFolder(pictures);
        before = folderSnapshot(pictures, true);
        QCOMPARE(before.size(), files.size());

        // The decoder sits beside this test program, as beside the real one.
        QVERIFY2(!pictureDecoderProgram().isEmpty(), "glassmere-decoder is not beside the test");
        // The same memory on every machine, so the same pictures are too large.
        limits = defaultPictureLimits(testMemory);
        QCOMPARE(int(limits.timeLimitSeconds), testTimeLimit);
        setPictureLimits(limits);
    }

    void cleanupTestCase()
    {
        // Reading never writes: every input is as it was, byte for byte.
        QCOMPARE(folderSnapshot(pictures, true), before);
    }

    void decodingSurvivesEveryFile_data()
    {
        QTest::addColumn<HostileFile>("file");
        // In one decoder: large.bmp makes the pixel memory grow, the pictures
        // after it use the grown memory.
        for (const HostileFile& f : files)
            QTest::newRow(qPrintable(f.name)) << f;
    }

    void decodingSurvivesEveryFile()
    {
        QFETCH(HostileFile, file);
        QElapsedTimer clock;
        clock.start();
        QString reason;
        fipImage decoded;
        const bool loaded = loadPicture(picture(file.name), decoded, &reason);
        const bool stalls = file.reasonHint.startsWith("Decoding took longer than");
        QVERIFY2(clock.elapsed() < testTimeLimit * 1000 + (stalls ? stallSlackMs : decodeSlackMs),
                 qPrintable(QString("took %1 ms").arg(clock.elapsed())));

        verifyDecoded(file, loaded, decoded, reason);
    }

    void lockedInDecoderMayOnlyDecode_data()
    {
        QTest::addColumn<int>("what");
        QTest::addColumn<QByteArray>("heard");
        QTest::newRow("open /etc/passwd") << 0 << QByteArray("failed"); // EACCES, as for any path
        QTest::newRow("connect to 127.0.0.1") << 1 << QByteArray("refused connect");
        QTest::newRow("make a socket") << 2 << QByteArray("refused socket");
        QTest::newRow("run /bin/true") << 3 << QByteArray("refused execve");
        QTest::newRow("fork") << 4 << QByteArray("refused clone");
        QTest::newRow("raise its limits") << 5 << QByteArray("refused prlimit64");
        QTest::newRow("be traced") << 6 << QByteArray("refused ptrace");
        QTest::newRow("read and write its socket") << 7 << QByteArray("echoed e");
    }

    void lockedInDecoderMayOnlyDecode()
    {
        QFETCH(int, what);
        QFETCH(QByteArray, heard);
        QCOMPARE(tryLockedIn(what), heard);
    }

    void missingDecoderFifoAndRunawayAllocationAreClearFailures()
    {
        const QString missing = root.filePath("nowhere/glassmere-decoder");
        setPictureDecoderProgram(missing);
        QString reason;
        fipImage kept = makeGradientPicture(5, 4, 24);
        QVERIFY(!loadPicture(picture("padded.bmp"), kept, &reason));
        const QString named =
            "Glassmere's picture decoder glassmere-decoder is missing (looked for ";
        QCOMPARE(reason, named + missing + ")");
        QCOMPARE(kept.getWidth(), 5u); // a failed load keeps what the picture held
        {
            Glassmere window;
            MessageBoxCatcher box;
            A::open(window, picture("padded.bmp"));
            QCOMPARE(box.said, "Failure|Image loads error.||" + reason);
        }
        setPictureDecoderProgram(QString());
        // glassmere-cli alone in a folder looks beside itself and in the installed place.
        const QString lonely = root.filePath("lonely/glassmere-cli");
        QVERIFY(QDir().mkpath(root.filePath("lonely")) &&
                QFile::copy(GLASSMERE_BIN_DIR "/glassmere-cli", lonely));
        const ProgramRun alone =
            runProgram(lonely, {picture("padded.bmp"), root.filePath("lonely/out.png")});
        QVERIFY2(alone.exitCode == 1 &&
                     alone.err.contains(named + root.filePath("lonely/glassmere-decoder")),
                 alone.describe());

        // A FIFO under a picture's name would block whoever opens it for reading.
        const QString fifo = root.filePath("waiting.jpg");
        QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!loadPicture(fifo, kept, &reason));
        QCOMPARE(reason, "Not a regular file: " + fifo);
        QVERIFY(clock.elapsed() < decodeSlackMs);

        // The WBMP reader allocates its 65000 × 65000 bitmap (504 MB) before
        // anything can look at the size.
        const QString huger = root.filePath("huger.wbmp");
        writeBytes(huger, QByteArray::fromHex("0000 83fb68 83fb68 ffff00ff"));
        DecodeLimits tight = limits;
        tight.decoderMemory = 64 << 20;
        setPictureLimits(tight);
        QVERIFY(!loadPicture(huger, kept, &reason));
        setPictureLimits(limits);
        QVERIFY2(reason.startsWith("Decoding exceeds the memory limit of 64 MB"),
                 qPrintable(reason));

        // After each, the next picture gets a working decoder.
        QVERIFY2(loadPicture(picture("padded.bmp"), kept, &reason), qPrintable(reason));
    }

    void decoderHoldsOnlyItsOwnDescriptors()
    {
        // Open without close-on-exec, as FreeImage opens the files it saves.
        FILE* held = std::fopen(QFile::encodeName(picture("padded.bmp")).constData(), "r");
        QVERIFY(held);
        endIdleDecoders();
        fipImage decoded;
        const bool loaded = loadPicture(picture("padded.bmp"), decoded); // its decoder stays idle
        std::fclose(held);
        QVERIFY(loaded);

        const QStringList decoders = decoderProcesses();
        QCOMPARE(decoders.size(), 1);
        const QString fds = "/proc/" + decoders.first() + "/fd/";
        QStringList targets;
        for (const QString& fd : QDir(fds).entryList(everyEntry))
            targets.append(fd + " " +
                           QFile::symLinkTarget(fds + fd).section('/', -1).section(':', 0, 0));
        // The memory file a picture goes into comes with its request and goes with its answer.
        QCOMPARE(targets, (QStringList{"0 socket", "1 null", "2 null"}));
        // It serves locked in.
        const QByteArray status = fileBytes("/proc/" + decoders.first() + "/status");
        QVERIFY2(status.contains("\nNoNewPrivs:\t1\n") && status.contains("\nSeccomp:\t2\n"),
                 status.constData());
    }

    // The time limit counts processor time: a decoder held stopped beyond it
    // still delivers its picture, one that spins beyond it is stopped.
    void timeLimitCountsProcessorTime_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("stoppedMs");
        QTest::addColumn<QString>("reasonHas"); // empty: the picture decodes
        QTest::newRow("stopped twice its limit") << "photo.png" << 2000 << QString();
        QTest::newRow("spinning beyond its limit")
            << "pictures/notes.pct" << 0 << "Decoding took longer than 1 s";
    }

    void timeLimitCountsProcessorTime()
    {
        QFETCH(QString, name);
        QFETCH(int, stoppedMs);
        QFETCH(QString, reasonHas);
        writePicture(makeGradientPicture(2000, 1500, 24), root.filePath("photo.png"));
        DecodeLimits quick = limits;
        quick.timeLimitSeconds = 1;
        setPictureLimits(quick);
        QString reason;
        fipImage decoded;
        bool loaded = false;
        QElapsedTimer clock;
        clock.start();
        std::thread load([&] { loaded = loadPicture(root.filePath(name), decoded, &reason); });
        // Stopped once the decoder has begun to fill the memory file the picture goes into.
        const auto decoding = [](const QString& pid) {
            const QString fds = "/proc/" + pid + "/fd/";
            const QStringList held = QDir(fds).entryList(everyEntry);
            return fileBytes("/proc/" + pid + "/stat").contains("(glassmere-decod") &&
                   std::any_of(held.begin(), held.end(), [&](const QString& fd) {
                       return QFile::symLinkTarget(fds + fd).contains("glassmere-picture") &&
                              QFileInfo(fds + fd).size() > 0;
                   });
        };
        for (bool stopped = stoppedMs == 0; !stopped && clock.elapsed() < decodeSlackMs;)
            for (const QString& pid : decoderProcesses())
                if (!stopped && decoding(pid)) {
                    stopped = kill(pid.toInt(), SIGSTOP) == 0;
                    QThread::msleep(stoppedMs);
                    kill(pid.toInt(), SIGCONT);
                }
        load.join();
        setPictureLimits(limits);
        QVERIFY2(loaded == reasonHas.isEmpty() && reason.contains(reasonHas), qPrintable(reason));
        QVERIFY(clock.elapsed() < stoppedMs + decodeSlackMs);
    }

    void seedPicturesDecode()
    {
        // With GLASSMERE_SEED_CORPUS set, the seeds stay there for the fuzzer.
        const QString wanted = qEnvironmentVariable("GLASSMERE_SEED_CORPUS");
        QTemporaryDir scratch;
        const QString folder = wanted.isEmpty() ? scratch.path() : wanted;
        QVERIFY(QDir().mkpath(folder));
        const QStringList seeds = writeSeedPictures(folder);
        QVERIFY2(seeds.size() >= 40, qPrintable(QString::number(seeds.size())));

        for (const QString& seed : seeds) {
            QString reason;
            fipImage decoded;
            QVERIFY2(loadPicture(seed, decoded, &reason), qPrintable(seed + ": " + reason));
            QVERIFY2(decoded.getBitsPerPixel() == 24 || decoded.getBitsPerPixel() == 32,
                     qPrintable(seed + ": not normalised"));
        }
    }

    void rendererAndPreviewSurviveAllocationFailure()
    {
        // A picture of 96 MB; the address space is then capped just above what
        // the process uses, so the 134 MB result and the 128 MB preview cannot
        // be allocated.
        fipImage source(FIT_BITMAP, 5792, 5792, 24);
        fipImage result = makeGradientPicture(7, 5, 24);
        const fipImage resultBefore(result);
        rlimit original;
        QFile statm("/proc/self/statm");
        QVERIFY(getrlimit(RLIMIT_AS, &original) == 0 && statm.open(QIODevice::ReadOnly));
        rlimit capped = original;
        capped.rlim_cur = rlim_t(statm.readAll().split(' ')[0].toULongLong() * 4096 + (64u << 20));
        QVERIFY(setrlimit(RLIMIT_AS, &capped) == 0);
        const bool rendered = renderReflection(source, result, ReflectionParams{});
        const QImage preview = previewImage(source);
        QVERIFY(setrlimit(RLIMIT_AS, &original) == 0);

        QVERIFY2(!rendered, "the renderer claims a result it had no memory for");
        COMPARE_IMAGES(result, resultBefore);
        QVERIFY(preview.isNull());
        QVERIFY(renderReflection(source, result, ReflectionParams{})); // with memory back

        // Through the window: a 48 MB picture is let in (the test's limits
        // count 1 GB free), then its 67 MB result does not fit. A decoder waits
        // with the pixel memory already mapped: only the picture is allocated.
        const QString big = root.filePath("big.bmp");
        fipImage large = makeGradientPicture(4000, 4000, 24);
        writePicture(large, big);
        // No address space to map the decoded pixels in: memory ran out, the answer was sound.
        statm.seek(0);
        capped.rlim_cur = rlim_t(statm.readAll().split(' ')[0].toULongLong() * 4096 + (16u << 20));
        fipImage unmapped;
        QString reason;
        QVERIFY(setrlimit(RLIMIT_AS, &capped) == 0);
        const bool mapped = loadPicture(big, unmapped, &reason);
        QVERIFY(setrlimit(RLIMIT_AS, &original) == 0);
        QVERIFY2(!mapped && reason.startsWith("Out of memory: 4000 × 4000 pixels need about"),
                 qPrintable(reason));
        QVERIFY(loadPicture(big, large));
        large.clear();
        Glassmere window;
        MessageBoxCatcher box(60000);
        statm.seek(0);
        capped.rlim_cur = rlim_t(statm.readAll().split(' ')[0].toULongLong() * 4096 + (80u << 20));
        QVERIFY(setrlimit(RLIMIT_AS, &capped) == 0);
        A::open(window, big);
        QVERIFY(setrlimit(RLIMIT_AS, &original) == 0);
        QVERIFY2(
            box.said.startsWith("Failure|Image loads error.||Out of memory: 4000 × 4000 pixels "
                                "need about 259 MB"),
            qPrintable(box.said));
        QVERIFY(!A::source(window).isValid() && !A::result(window).isValid());
        QVERIFY(A::ui(window).lbDim->text().isEmpty());
    }

    // Two jobs: decoders are ended and replaced while the other job decodes.
    void batchOverTheFolder()
    {
        const QString results = root.filePath("results");
        QVERIFY(QDir().mkpath(results));
        QElapsedTimer clock;
        clock.start();
        const ProgramRun cli = runProgram(GLASSMERE_BIN_DIR "/glassmere-cli",
                                          {"--batch", "--jobs", "2", pictures, results},
                                          (testMemory >> 10) + 400 * 1024);
        // One file hangs its reader for the whole time limit; the rest are small.
        QVERIFY(clock.elapsed() < 2 * testTimeLimit * 1000 + 6 * decodeSlackMs);
        QVERIFY2(cli.exitCode == 1, cli.describe()); // some files were not written
        const QString report = cli.err + cli.out;

        QTemporaryDir scratch;
        QStringList expectedOutputs;
        int renames = 0;
        for (const HostileFile& f : files) {
            if (!f.valid()) {
                const QString named = "skipped: " + picture(f.name) + ": ";
                QVERIFY2(report.contains(named),
                         qPrintable(named + " not in the report:\n" + report));
                continue;
            }
            // Transparent results go to PNG, and so do the 24-bit results of a
            // GIF and an HDR; opaque HEIC and JPEG XL pictures become JPEGs. The
            // report tells each rename.
            const QFileInfo info(f.name);
            const bool toJpeg =
                !f.expected.isTransparent() && (info.suffix() == "heic" || info.suffix() == "jxl");
            const bool renamed = info.suffix() == "gif" || info.suffix() == "hdr" || toJpeg;
            const QString output = toJpeg ? info.baseName() + ".jpg"
                                   : f.expected.isTransparent() || renamed
                                       ? info.baseName() + ".png"
                                       : f.name;
            expectedOutputs.append(output);
            renames += renamed ? 1 : 0;
            if (renamed)
                QVERIFY2(report.contains("renamed: " + picture(f.name)), qPrintable(report));
            if (!f.damageHint.isEmpty())
                QVERIFY2(report.contains("damaged: " + picture(f.name) +
                                         ": only part of it could be read: " + f.damageHint),
                         qPrintable(report));
            if (f.onlyTopRowKnown)
                continue;
            // The pixels the known picture gives through the renderer and the same
            // writer (a JPEG is encoded again with the same loss: FreeImage's
            // default quality 75 and 4:2:0 sampling, which the result keeps).
            fipImage known(f.expected);
            if (info.suffix() == "jpg")
                recordSourceQuality(known, {1, 75, ChromaSampling::Quarter, 0});
            fipImage rendered;
            QVERIFY(renderReflection(known, rendered, ReflectionParams{}) &&
                    savePicture(rendered, scratch.filePath(output)));
            COMPARE_IMAGES(readPicture(results + "/" + output),
                           readPicture(scratch.filePath(output)));
        }
        QStringList outputs = QDir(results).entryList(QDir::Files);
        outputs.sort();
        expectedOutputs.sort();
        QCOMPARE(outputs, expectedOutputs);
        const QString summary =
            QString("%1 of %2 files written, %3 skipped, 0 not written, %4 renamed.")
                .arg(outputs.size())
                .arg(files.size())
                .arg(files.size() - outputs.size())
                .arg(renames);
        QVERIFY2(report.contains(summary), qPrintable(report));
    }

private:
    QString picture(const QString& name) const { return pictures + "/" + name; }

    QTemporaryDir root;
    QString pictures;
    QList<HostileFile> files;
    QMap<QString, QByteArray> before;
    DecodeLimits limits;
};

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
