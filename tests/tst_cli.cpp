// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoder/image_io.h"
#include "imaging/decoding/coding_facts.h"
#include "imaging/pixels/source_quality.h"
#include "imaging/saving/picture_saving.h"
#include "product.h"
#include "reflection/renderer/reflection_renderer.h"
#include "support/testpictures.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

Q_DECLARE_METATYPE(ReflectionParams)

const QString cli = QStringLiteral(GLASSMERE_BIN_DIR "/glassmere-cli");

// How a picture reaches glassmere-cli in `streams`.
enum class Feed { None, File, Pipe, Fifo };
Q_DECLARE_METATYPE(Feed)

// glassmere-cli fed `input` on stdin (a file, or a pipe written to), or as
// the FIFO `fifo` written by a thread; `out` gets stdout's bytes.
ProgramRun runFed(const QStringList& arguments, Feed feed, const QString& input,
                  const QString& fifo, QByteArray* out)
{
    QProcess process;
    if (feed == Feed::File)
        process.setStandardInputFile(input);
    std::thread writer;
    if (feed == Feed::Fifo) {
        mkfifo(QFile::encodeName(fifo).constData(), 0600);
        writer = std::thread([&] { writeBytes(fifo, fileBytes(input)); });
    }
    process.start(cli, arguments);
    if (feed == Feed::Pipe) {
        process.write(fileBytes(input));
        process.closeWriteChannel();
    }
    process.waitForFinished(60000);
    if (writer.joinable())
        writer.join();
    *out = process.readAllStandardOutput();
    return {process.exitCode(), {}, QString::fromLocal8Bit(process.readAllStandardError())};
}

class TestCli : public QObject {
    Q_OBJECT

    QTemporaryDir temporary;
    QString root = QDir(temporary.path()).canonicalPath();

private Q_SLOTS:
    void initTestCase()
    {
        // Odd sizes, so scan lines carry padding.
        writePicture(makeGradientPicture(41, 29, 24), root + "/opaque.png");
        writePicture(makeGradientPicture(27, 35, 32), root + "/alpha.png");
        // A 24-megapixel camera's.
        writePicture(makeGradientPicture(6000, 4000, 24), root + "/photo.jpg");
        writeBytes(root + "/notes.txt", "not a picture");
        QVERIFY(QDir().mkpath(root + "/folder.png"));
        // Lossy and lossless inputs, as cameras, editors and other programs write them.
        const fipImage shot = makeGradientPicture(160, 107, 24);
        writePicture(shot, root + "/q95-444.jpg", 95 | JPEG_SUBSAMPLING_444);
        writePicture(shot, root + "/q85-420.jpg", 85 | JPEG_SUBSAMPLING_420);
        writePicture(shot, root + "/lossless.webp", WEBP_LOSSLESS);
        writePicture(shot, root + "/lossy.webp", 80);
        writeBytes(root + "/cut.jpg", fileBytes(root + "/q95-444.jpg").chopped(6000));
        // FreeImage's WBMP reader allocates the 65000 × 65000 bitmap (504 MB) first.
        writeBytes(root + "/runaway.wbmp", QByteArray::fromHex("0000 83fb68 83fb68 ffff00ff"));
    }

    void exitCodes_data()
    {
        QTest::addColumn<QString>("arguments"); // split at spaces; "@" is the temporary folder
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("stderrHas");
        QTest::addColumn<int>("addressSpaceKB");  // 0: no limit
        QTest::addColumn<QString>("environment"); // NAME=value, added

        const QString io = " @/opaque.png @/out.png";
        const auto row = [](const char* name, const QString& arguments, int exitCode,
                            const QString& stderrHas, int addressSpaceKB = 0,
                            const QString& environment = {}) {
            QTest::newRow(name) << arguments << exitCode << stderrHas << addressSpaceKB
                                << environment;
        };
        row("size above 100", "--size 101" + io, 2,
            "--size must be a whole number from 0 to 100, not \"101\"");
        row("opacity not a number", "--opacity half" + io, 2,
            "--opacity must be a whole number from 0 to 100, not \"half\"");
        row("gap below 0", "--gap -1" + io, 2,
            "--gap must be a whole number from 0 to 10000, not \"-1\"");
        row("blur above 200", "--blur 201" + io, 2,
            "--blur must be a whole number from 0 to 200, not \"201\"");
        row("skew beyond its range", "--skew -10001" + io, 2,
            "--skew must be a whole number from -10000 to 10000, not \"-10001\"");
        row("colour and transparency", "--color #000000 --transparent" + io, 2,
            "--color and --transparent exclude each other");
        row("colour channel above 255", "--color rgb(300,0,0)" + io, 2,
            "--color must be #rrggbb, #rgb, rgb(r,g,b) or a colour name");
        row("colour with transparency", "--color transparent" + io, 2, "not \"transparent\"");
        row("standard output without --format", "@/opaque.png -", 2, "needs --format");
        row("an unknown --format", "--format xyz @/opaque.png @/out.png", 2, "\"xyz\"");
        row("--help-all with files", "--help-all" + io, 0, "");
        row("input not a picture", "@/notes.txt @/out.png", 1, "cannot read @/notes.txt");
        row("transparency into an existing JPEG", "--transparent @/opaque.png @/kept.jpg", 1,
            "cannot write @/kept.jpg: JPG cannot store a 32-bit picture with transparency");
        row("an extension no format has", "@/opaque.png @/out.xyz", 1,
            "cannot write @/out.xyz: no format that Glassmere writes has the extension \"xyz\"");
        row("no extension", "@/opaque.png @/out", 1,
            "cannot write @/out: the name has no extension to choose a format by");
        row("a folder", "@/opaque.png @/folder.png", 1,
            "cannot write @/folder.png: @/folder.png is a folder");
        row("quality above 100", "--quality 101" + io, 2,
            "--quality must be a whole number from 1 to 100 or lossless, not \"101\"");
        row("quality not a number", "--quality best" + io, 2,
            "--quality must be a whole number from 1 to 100 or lossless, not \"best\"");
        row("the input itself", "@/kept.jpg @/kept.jpg", 1,
            "cannot write @/kept.jpg: it is the picture @/kept.jpg itself");
        row("the input through a link", "@/kept.jpg @/kept-link.jpg", 1,
            "cannot write @/kept-link.jpg: it is the picture @/kept.jpg itself");
        row("the input through a hard link", "@/kept.jpg @/kept-hard.jpg", 1,
            "cannot write @/kept-hard.jpg: it is the picture @/kept.jpg itself");
        row("written", "--direction left --size 100 --depth 0 --color #FF8000" + io, 0, "");
        row("written with the reflection controls", "--opacity 50 --gap 10 --blur 30" + io, 0, "");
        row("24 megapixels within 1.4 GB of address space", "@/photo.jpg @/out.png", 0, "",
            1400000);
        row("24 megapixels beyond 380 MB of address space", "@/photo.jpg @/out.png", 1,
            "cannot read @/photo.jpg: 6000 × 4000 pixels need 389 MB of memory, more than the",
            380000);
        // The decoder tells a refused allocation whichever allocator serves it.
        const QString jemalloc = "LD_PRELOAD=libjemalloc.so.2";
        row("written with another allocator", "--blur 10" + io, 0, "", 0, jemalloc);
        row("a runaway allocation with another allocator", "@/runaway.wbmp @/out.png", 1,
            "cannot read @/runaway.wbmp: Decoding exceeds the memory limit of 512 MB", 500000,
            jemalloc);
    }

    void exitCodes()
    {
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, stderrHas);
        QFETCH(int, addressSpaceKB);
        QFETCH(QString, environment);
#if defined(__SANITIZE_ADDRESS__)
        if (addressSpaceKB > 0)
            QSKIP("a sanitized program does not start under an address-space limit");
        if (!environment.isEmpty())
            QSKIP("the sanitizer's allocator must come first: no other can be preloaded");
#endif
        writeBytes(root + "/kept.jpg", "an older file");
        QFile::link(root + "/kept.jpg", root + "/kept-link.jpg");
        QFile::remove(root + "/kept-hard.jpg");
        QVERIFY(::link(QFile::encodeName(root + "/kept.jpg").constData(),
                       QFile::encodeName(root + "/kept-hard.jpg").constData()) == 0);
        QFile::remove(root + "/out.png");

        const ProgramRun outcome =
            runProgram(cli, arguments.replace("@", root).split(' ', Qt::SkipEmptyParts),
                       addressSpaceKB, environment.split(' ', Qt::SkipEmptyParts));
        QVERIFY2(outcome.exitCode == exitCode, outcome.describe());
        QVERIFY2(outcome.err.contains(stderrHas.replace("@", root)), outcome.describe());
        // Usage errors point at --help; a success says nothing.
        QVERIFY2(exitCode != 2 || outcome.err.contains("--help"), outcome.describe());
        QVERIFY2(exitCode != 0 || outcome.err.isEmpty(), outcome.describe());
        QCOMPARE(QFile::exists(root + "/out.png"), exitCode == 0 && !arguments.contains("help"));
        QCOMPARE(fileBytes(root + "/kept.jpg"), QByteArray("an older file"));
    }

    // JPEG and WebP results are coded as their input was, unless --quality
    // says otherwise; every format FreeImage writes is written.
    void resultsKeepTheirCoding_data()
    {
        QTest::addColumn<QString>("arguments"); // as in exitCodes
        QTest::addColumn<QString>("coding");    // see coding()
        QTest::addColumn<int>("exitCode");
        auto row = [](const char* name, const QString& arguments, const QString& coding,
                      int exitCode = 0) { QTest::newRow(name) << arguments << coding << exitCode; };
        row("q95 4:4:4 JPEG: q95 4:4:4", "@/q95-444.jpg @/out.jpg", "q95 1x1");
        row("q85 4:2:0 JPEG: q85 4:2:0", "@/q85-420.jpg @/out.jpg", "q85 2x2");
        row("PNG as JPEG: q90 4:4:4", "@/opaque.png @/out.jpg", "q90 1x1");
        row("--quality 60 over a q95 JPEG", "--quality 60 @/q95-444.jpg @/out.jpg", "q60 1x1");
        row("lossless WebP: lossless", "@/lossless.webp @/out.webp", "VP8L");
        row("lossy WebP: lossy", "@/lossy.webp @/out.webp", "VP8 ");
        row("PNG as WebP: lossless", "@/opaque.png @/out.webp", "VP8L");
        row("JPEG as WebP: lossy", "@/q85-420.jpg @/out.webp", "VP8 ");
        row("--quality lossless: a JPEG as lossless WebP",
            "--quality lossless @/q85-420.jpg @/out.webp", "VP8L");
        row("--quality 50: a PNG as lossy WebP", "--quality 50 @/opaque.png @/out.webp", "VP8 ");
        row("q95 JPEG as AVIF: lossy", "@/q95-444.jpg @/out.avif", "AV1 lossy");
        row("PNG as AVIF: lossless", "@/opaque.png @/out.avif", "AV1 lossless");
        row("--quality lossless: a JPEG as lossless AVIF",
            "--quality lossless @/q85-420.jpg @/out.avif", "AV1 lossless");
        row("--quality 50: a PNG as lossy AVIF", "--quality 50 @/opaque.png @/out.avif",
            "AV1 lossy");
        row("JP2", "@/opaque.png @/out.jp2", "41x40");
        row("J2K", "@/opaque.png @/out.j2k", "41x40");
        row("a cut JPEG: written, warned of", "@/cut.jpg @/out.jpg", "q95 1x1", 1);
    }

    void resultsKeepTheirCoding()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, coding);
        QFETCH(int, exitCode);
        const QStringList words = arguments.replace("@", root).split(' ');
        const QString input = words[words.size() - 2];
        const QString output = words.last();
        QFile::remove(output);
        const ProgramRun run = runProgram(cli, words);
        QVERIFY2(run.exitCode == exitCode, run.describe());
        if (exitCode == 1)
            QVERIFY2(run.err.contains("warning: " + input +
                                      " is damaged, only part of it could "
                                      "be read (Premature end of JPEG file)"),
                     run.describe());
        QCOMPARE(this->coding(output), coding);
        if (coding != "q95 1x1" || exitCode != 0)
            return;
        // The picture part, against libjpeg's accurate decode of the input.
        const fipImage picture = readJpegAccurately(input);
        const double decibels = psnr(readJpegAccurately(output), picture, picture.getHeight());
        QVERIFY2(decibels >= 55, qPrintable(QString::number(decibels)));
    }

    // bad\xff.png cannot be a QString: it is told, in both modes, never passed over.
    void namesThatAreNotUtf8AreTold()
    {
        const QString folder = root + "/not-utf8";
        QVERIFY(QDir().mkpath(folder + "/results"));
        QVERIFY(QFile::copy(root + "/opaque.png", folder + "/ok.png"));
        const QByteArray bad = QFile::encodeName(folder) + "/bad\xff.png";
        QVERIFY(QFile::copy(root + "/opaque.png", folder + "/bad.png") &&
                ::rename(QFile::encodeName(folder + "/bad.png").constData(), bad.constData()) == 0);
        const ProgramRun batch = runProgram(cli, {"--batch", folder, folder + "/results"});
        QVERIFY2(batch.exitCode == 1 && batch.out.contains("1 of 2 files written, 1 skipped") &&
                     batch.err.contains("skipped: " + folder +
                                        "/bad\uFFFD.png: the file's name "
                                        "is not valid UTF-8"),
                 batch.describe());
        const ProgramRun single = runProgram(
            "/bin/sh", {"-c", "exec \"$0\" \"$(printf '" + folder + "/bad\\377.png')\" \"$1\"", cli,
                        folder + "/out.png"});
        QVERIFY2(single.exitCode == 1 && single.err.contains("the name is not valid UTF-8"),
                 single.describe());
    }

    // Ctrl-C: the pictures in hand are written, the rest not begun; the report
    // says so, no temporary is left, and the exit status is 130.
    void interruptedBatchTellsWhatItWrote()
    {
        const QString folder = root + "/many";
        QVERIFY(QDir().mkpath(folder + "/results"));
        for (int i = 0; i < 12; ++i)
            QVERIFY(QFile::copy(root + "/photo.jpg",
                                folder + QString("/p%1.jpg").arg(i, 2, 10, QChar('0'))));
        QProcess run;
        run.start(cli, {"--batch", "--jobs", "2", folder, folder + "/results"});
        QVERIFY(run.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(folder + "/results").entryList(QDir::Files).isEmpty(),
                                 120000);
        ::kill(pid_t(run.processId()), SIGINT);
        QVERIFY(run.waitForFinished(120000));
        const QString out = QString::fromLocal8Bit(run.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(run.readAllStandardError());
        const QStringList written = QDir(folder + "/results").entryList(QDir::Files | QDir::Hidden);
        QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 130,
                 qPrintable(err));
        QVERIFY2(written.size() < 12 &&
                     out.startsWith(QString("%1 of 12 files written").arg(written.size())),
                 qPrintable(out + err));
        QVERIFY2(
            err.contains(QString("interrupted; %1 of 12 files not begun").arg(12 - written.size())),
            qPrintable(err));
        for (const QString& name : written)
            QVERIFY2(name.endsWith(".jpg") && !name.startsWith('.'), qPrintable(name));
    }

    // The file decoding, rendering and a safe write give on their own, as the
    // batch writes it (tst_batch holds the batch, and what results carry, to
    // that; the window renders through the same call); the controls' defaults,
    // given or not, are the renderer's.
    void sameAsRenderer_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<ReflectionParams>("params");
        QTest::newRow("colour #rgb")
            << "--color #f80" << ReflectionParams{Direction::Bottom, 40, 30, 0, {255, 136, 0}};
        QTest::newRow("colour by name")
            << "--color steelblue"
            << ReflectionParams{Direction::Bottom, 40, 30, 0, {70, 130, 180}};
        QTest::newRow("colour rgb()")
            << "--color rgb(10,20,30)"
            << ReflectionParams{Direction::Bottom, 40, 30, 0, {10, 20, 30}};
        QTest::newRow("every control")
            << "--direction left --size 55 --depth 20 --color #3366cc --opacity 70 --gap 6 --blur 9"
            << ReflectionParams{Direction::Left, 55, 20, 0, {0x33, 0x66, 0xcc}, false, 70, 6, 9};
        QTest::newRow("on a floor")
            << "--transparent --contact-edge --skew -25 --blur 4"
            << ReflectionParams{Direction::Bottom, 40, 30, 0, {255, 255, 255}, true, 100, 0, 4,
                                true,                -25};
        const char* names[] = {"top", "bottom", "left", "right"};
        for (Direction direction :
             {Direction::Top, Direction::Bottom, Direction::Left, Direction::Right})
            for (bool transparent : {false, true}) {
                const QString options =
                    QString("--direction ") + names[int(direction)] +
                    (transparent ? " --transparent" : "") +
                    (direction == Direction::Right ? " --opacity 100 --gap 0 --blur 0" : "");
                QTest::newRow(qPrintable(options))
                    << options
                    << ReflectionParams{direction, 40, 30, 0, {255, 255, 255}, transparent};
            }
    }

    void sameAsRenderer()
    {
        QFETCH(QString, options);
        QFETCH(ReflectionParams, params);
        const QString input = root + "/alpha.png";
        const QString output = root + "/cli-result.png";
        const ProgramRun outcome = runProgram(cli, options.split(' ') + QStringList{input, output});
        QVERIFY2(outcome.exitCode == 0, outcome.describe());
        fipImage source, expected;
        QVERIFY(loadPicture(input, source) && renderReflection(source, expected, params) &&
                savePicture(expected, root + "/reference.png"));
        QCOMPARE(fileBytes(output), fileBytes(root + "/reference.png"));
    }

    void information_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QStringList>("outHas");
        QTest::newRow("--help-all")
            << "--help-all" << QStringList{"--recursive", "--qmljsdebugger"};
        QTest::newRow("--version") << "--version"
                                   << QStringList{"glassmere-cli " GLASSMERE_VERSION,
                                                  "GPL-3.0-or-later",
                                                  "FreeImage 3.",
                                                  "libdeflate 1.",
                                                  "libheif 1.",
                                                  "libjxl 0.",
                                                  "AV1 Encoder",
                                                  "Qt 6.",
                                                  "zlib 1."};
    }

    void information()
    {
        QFETCH(QString, option);
        QFETCH(QStringList, outHas);
        const ProgramRun outcome = runProgram(cli, {option});
        QVERIFY2(outcome.exitCode == 0 && outcome.err.isEmpty(), outcome.describe());
        for (const QString& text : outHas)
            QVERIFY2(outcome.out.contains(text), outcome.describe());
    }

    // The manual page keeps up with --help: every option it lists.
    void manualPageNamesEveryOption()
    {
        const ProgramRun help = runProgram(cli, {"--help"});
        const QString page =
            QString::fromUtf8(fileBytes(GLASSMERE_SOURCE_DIR "/docs/glassmere-cli.1"));
        static const QRegularExpression option("^\\s+(?:-\\w, )?(--[a-z-]+)",
                                               QRegularExpression::MultilineOption);
        int options = 0;
        for (const QRegularExpressionMatch& match : option.globalMatch(help.out)) {
            ++options;
            QVERIFY2(page.contains(match.captured(1).replace("-", "\\-")),
                     qPrintable(match.captured(1) + " is not in docs/glassmere-cli.1"));
        }
        QVERIFY(options > 15);
    }

    // Pictures through standard input, pipes and FIFOs, results to standard
    // output: the bytes a file-to-file run writes.
    void streams_data()
    {
        QTest::addColumn<QStringList>("arguments"); // "@" is the temporary folder
        QTest::addColumn<Feed>("feed");
        QTest::addColumn<QString>("result"); // "-": stdout
        const QString out = "@/streamed.png";
        QTest::newRow("- reads a redirected file") << QStringList{"-", out} << Feed::File << out;
        QTest::newRow("- reads a pipe") << QStringList{"-", out} << Feed::Pipe << out;
        QTest::newRow("/dev/stdin as a pipe")
            << QStringList{"/dev/stdin", out} << Feed::Pipe << out;
        QTest::newRow("a FIFO") << QStringList{"@/fifo", out} << Feed::Fifo << out;
        QTest::newRow("- writes standard output")
            << QStringList{"--format", "png", "@/opaque.png", "-"} << Feed::None << "-";
        QTest::newRow("from a pipe to a pipe")
            << QStringList{"--format", ".PNG", "-", "-"} << Feed::Pipe << "-";
    }

    void streams()
    {
        QFETCH(QStringList, arguments);
        QFETCH(Feed, feed);
        QFETCH(QString, result);
        QFile::remove(root + "/streamed.png");
        QFile::remove(root + "/fifo");
        arguments.replaceInStrings("@", root);
        QByteArray out;
        const ProgramRun outcome =
            runFed(arguments, feed, root + "/opaque.png", root + "/fifo", &out);
        QVERIFY2(outcome.exitCode == 0 && outcome.err.isEmpty(), outcome.describe());
        fipImage source, expected;
        QVERIFY(loadPicture(root + "/opaque.png", source) &&
                renderReflection(source, expected, ReflectionParams{}) &&
                savePicture(expected, root + "/reference.png"));
        QCOMPARE(result == "-" ? out : fileBytes(result.replace("@", root)),
                 fileBytes(root + "/reference.png"));
    }

    // A picture folder with a sub-folder two deep, files that are no
    // pictures, a hidden file and, in some rows, a damaged picture.
    void batch_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<bool>("damaged");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("results"); // the result folder's files, sorted
        QTest::addColumn<QString>("outHas");  // JSON rows: "name:outcome" in listing order
        QTest::addColumn<QString>("errHas");
        const auto row = [](const char* name, const QString& options, bool damaged, int exitCode,
                            const QString& results, const QString& outHas, const QString& errHas) {
            QTest::newRow(name) << options << damaged << exitCode << results << outHas << errHas;
        };
        row("not pictures do not fail the run", "", false, 0, "a.png",
            "1 of 3 files written, 0 skipped, 0 not written, 0 renamed. 2 not pictures, left "
            "alone. 1 sub-folders not entered",
            "not a picture: @/pictures/readme.txt");
        row("a damaged picture does", "", true, 1, "a.png", "2 not pictures",
            "skipped: @/pictures/broken.png");
        row("--recursive", "--recursive", false, 0, "a.png sub/b.png sub/deeper/c.png",
            "3 of 5 files written", "");
        row("--format webp, recursive", "--format webp --recursive", false, 0,
            "a.webp sub/b.webp sub/deeper/c.webp", "", "");
        row("--format jpg with --transparent", "--format jpg --transparent", false, 2, "", "",
            "--format jpg cannot store the transparency");
        row("--recursive into a folder inside", "--recursive into-sub", false, 2, "", "",
            "lies inside the picture folder");
        row("--quiet", "--quiet", false, 0, "a.png", "", "");
        row("--quiet tells of a damaged picture", "--quiet", true, 1, "a.png", "",
            "skipped: @/pictures/broken.png");
        row("--report json", "--report json", true, 1, "a.png",
            "readme.txt:not a picture broken.png:skipped a.png:written Thumbs.db:not a picture",
            "");
    }

    void batch()
    {
        QFETCH(QString, options);
        QFETCH(bool, damaged);
        QFETCH(int, exitCode);
        QFETCH(QString, results);
        QFETCH(QString, outHas);
        QFETCH(QString, errHas);
        QTemporaryDir folder;
        const QString pictures = folder.path() + "/pictures";
        QString into = folder.path() + "/results";
        QVERIFY(QDir().mkpath(pictures + "/sub/deeper") && QDir().mkpath(into));
        writePicture(makeGradientPicture(12, 9, 24), pictures + "/a.png");
        writePicture(makeGradientPicture(12, 9, 24), pictures + "/sub/b.png");
        writePicture(makeGradientPicture(12, 9, 24), pictures + "/sub/deeper/c.png");
        for (const char* name : {"readme.txt", "Thumbs.db", ".DS_Store"})
            writeBytes(pictures + "/" + name, "no picture");
        if (damaged)
            writeBytes(pictures + "/broken.png", "\x89PNG\r\n\x1a\n cut short");
        if (options.contains("into-sub"))
            into = pictures + "/sub";
        QStringList arguments = options.remove("into-sub").split(' ', Qt::SkipEmptyParts);
        const ProgramRun outcome = runProgram(cli, arguments << "--batch" << pictures << into);
        QVERIFY2(outcome.exitCode == exitCode, outcome.describe());
        QVERIFY2(outcome.err.contains(errHas.replace("@", folder.path())), outcome.describe());
        QVERIFY2(!options.contains("quiet") || outcome.out.isEmpty(), outcome.describe());
        if (options.contains("json")) {
            QStringList rows;
            for (const QJsonValue entry : QJsonDocument::fromJson(outcome.out.toUtf8()).array()) {
                const QJsonObject object = entry.toObject();
                QCOMPARE(object.keys(), (QStringList{"input", "outcome", "output", "reason"}));
                rows << QFileInfo(object["input"].toString()).fileName() + ":" +
                            object["outcome"].toString();
            }
            QCOMPARE(rows.join(' '), outHas);
        } else {
            QVERIFY2(outcome.out.contains(outHas), outcome.describe());
        }
        QStringList written;
        for (QDirIterator it(folder.path() + "/results", QDir::Files, QDirIterator::Subdirectories);
             it.hasNext();)
            written << QDir(folder.path() + "/results").relativeFilePath(it.next());
        written.sort();
        QCOMPARE(written.join(' '), results);
    }

    // More jobs than the address space has room for pictures: each picture
    // waits for room instead of failing. One malloc arena for every thread,
    // so that the room goes to pictures, not to the arenas' reserves.
    void batchAdmitsPicturesAsMemoryAllows()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("a sanitized program does not start under an address-space limit");
#endif
        QTemporaryDir folder;
        QVERIFY(QDir().mkpath(folder.path() + "/in") && QDir().mkpath(folder.path() + "/out"));
        const fipImage picture = makeGradientPicture(3000, 2000, 24); // 97 MB each in flight
        for (int i = 0; i < 6; ++i)
            writePicture(picture, folder.path() + QString("/in/%1.jpg").arg(i));
        const ProgramRun run = runProgram(
            cli, {"--batch", "--jobs", "6", folder.path() + "/in", folder.path() + "/out"}, 600000,
            {"MALLOC_ARENA_MAX=1"});
        QVERIFY2(run.exitCode == 0 && run.out.contains("6 of 6 files written, 0 skipped"),
                 run.describe());
    }

    // Started in the background, the program ignores the terminal's Ctrl+C;
    // its decoders must too, or each Ctrl+C costs a picture.
    void decodersKeepAnIgnoredInterrupt()
    {
        QTemporaryDir folder;
        QVERIFY(QDir().mkpath(folder.path() + "/pictures") &&
                QDir().mkpath(folder.path() + "/out"));
        for (int i = 0; i < 16; ++i)
            writePicture(makeGradientPicture(300, 200, 24),
                         folder.path() + QString("/pictures/p%1.png").arg(i));
        QProcess process;
        process.setChildProcessModifier([] {
            std::signal(SIGINT, SIG_IGN);
            setpgid(0, 0); // a group of its own, as a job of the shell's
        });
        process.start(
            cli, {"--jobs", "2", "--batch", folder.path() + "/pictures", folder.path() + "/out"});
        QVERIFY(process.waitForStarted());
        while (!process.waitForFinished(5))
            kill(-pid_t(process.processId()), SIGINT);
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        QCOMPARE(QDir(folder.path() + "/out").entryList(QDir::Files).size(), 16);
    }

private:
    // A JPEG's quality and luminance sampling ("q95 1x1"), a WebP's picture
    // chunk ("VP8L" lossless, "VP8 " lossy), an AVIF's coding as Glassmere's
    // reader tells it, other pictures' size once read back.
    static QString coding(const QString& path)
    {
        const QByteArray bytes = fileBytes(path);
        if (path.endsWith(".webp"))
            return QString::fromLatin1(bytes.mid(12, 4));
        if (path.endsWith(".jpg")) {
            const SourceQuality coded = readSourceQuality(
                FIF_JPEG, reinterpret_cast<const unsigned char*>(bytes.constData()), bytes.size());
            static const char* const sampling[] = {"?", "1x1", "2x1", "2x2"};
            return QString("q%1 %2").arg(coded.quality).arg(sampling[int(coded.sampling)]);
        }
        fipImage picture;
        if (!loadPicture(path, picture))
            return "unreadable";
        if (path.endsWith(".avif"))
            return recordedSourceQuality(picture).lossy ? "AV1 lossy" : "AV1 lossless";
        return QString("%1x%2").arg(picture.getWidth()).arg(picture.getHeight());
    }
};

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
