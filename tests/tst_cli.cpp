#include "batch_fixtures.h"
#include "imaging/image_io.h"
#include "mainwindow/glassmere.h"
#include "support/imagecompare.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <FreeImagePlus.h>

#include <fcntl.h>
#include <unistd.h>

using namespace fixtures;

class GlassmereTestAccess {
public:
    static Ui::GlassmereClass& ui(Glassmere& window) { return window.ui; }
    static fipImage& source(Glassmere& window) { return window.sourceImage; }
    static fipImage& result(Glassmere& window) { return window.resultImage; }
    static void setColor(Glassmere& window, _RGB color) { window.reflectionColor = color; }
};
using Access = GlassmereTestAccess;

namespace {

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
    QByteArray describe() const
    {
        return QString("exit %1\nstdout: %2\nstderr: %3").arg(exitCode).arg(out, err).toLocal8Bit();
    }
};

// Runs the program, with a pseudo-terminal as its standard error when asked.
Outcome runCli(const QStringList& arguments, bool terminal = false)
{
    QProcess process;
    const int master = terminal ? ::posix_openpt(O_RDWR | O_NOCTTY) : -1;
    if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) {
        const QByteArray slave = ::ptsname(master);
        process.setChildProcessModifier([slave] {
            const int fd = ::open(slave.constData(), O_RDWR | O_NOCTTY);
            if (fd >= 0)
                ::dup2(fd, STDERR_FILENO);
        });
    }
    process.start(QStringLiteral(GLASSMERE_BIN_DIR "/glassmere-cli"), arguments);
    Outcome outcome;
    if (process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit)
        outcome = {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
                   QString::fromLocal8Bit(process.readAllStandardError())};
    if (master >= 0) {
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        char buffer[4096];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            outcome.err += QString::fromLocal8Bit(buffer, int(n));
        ::close(master);
    }
    return outcome;
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

    QTemporaryDir temporary;
    QString root = QDir(temporary.path()).canonicalPath();

private Q_SLOTS:
    void initTestCase()
    {
        // Odd sizes, so scan lines carry padding.
        fipImage opaque = naturalPicture(41, 29, 24, 7);
        fipImage alpha = naturalPicture(27, 35, 32, 8);
        QVERIFY(writePicture(opaque, root + "/opaque.png"));
        QVERIFY(writePicture(alpha, root + "/alpha.png"));
        QVERIFY(writeText(root + "/notes.txt", "not a picture"));
    }

    void exitCodes_data()
    {
        QTest::addColumn<QString>("arguments"); // split at spaces; "@" is the temporary folder
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("stderrHas");

        const QString io = " @/opaque.png @/out.png";
        QTest::newRow("no arguments") << "" << 2 << "give an input picture and an output file";
        QTest::newRow("unknown option") << "--mirror" + io << 2 << "mirror";
        QTest::newRow("size above 100")
            << "--size 101" + io << 2 << "--size must be a whole number from 0 to 100, not \"101\"";
        QTest::newRow("depth below 0") << "--depth -1" + io << 2 << "--depth";
        QTest::newRow("direction unknown")
            << "--direction up" + io << 2
            << "--direction must be bottom, top, left or right, not \"up\"";
        QTest::newRow("colour by name")
            << "--color red" + io << 2 << "--color must be written #rrggbb";
        QTest::newRow("colour and transparency") << "--color #000000 --transparent" + io << 2
                                                 << "--color and --transparent exclude each other";
        QTest::newRow("no jobs") << "--jobs 0 --batch @ @/r" << 2 << "--jobs";
        QTest::newRow("batch with one folder")
            << "--batch @" << 2 << "--batch takes a picture folder and a result folder";
        QTest::newRow("batch into the picture folder")
            << "--batch @ @/." << 2 << "The result folder is the picture folder";
        QTest::newRow("input not a picture")
            << "@/notes.txt @/out.png" << 1 << "cannot read @/notes.txt";
        QTest::newRow("transparency into an existing JPEG")
            << "--transparent @/opaque.png @/kept.jpg" << 1
            << "cannot write @/kept.jpg: the format of the extension \"jpg\" cannot store a 32-bit "
               "picture with transparency";
        QTest::newRow("into a missing folder")
            << "@/opaque.png @/missing/out.png" << 1 << "cannot write @/missing/out.png";
        QTest::newRow("written") << io << 0 << "";
        QTest::newRow("every option")
            << "--direction left --size 100 --depth 0 --color #FF8000 --jobs 3" + io << 0 << "";
    }

    void exitCodes()
    {
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, stderrHas);
        QVERIFY(writeText(root + "/kept.jpg", "an older file"));
        QFile::remove(root + "/out.png");

        const Outcome outcome = runCli(arguments.replace("@", root).split(' ', Qt::SkipEmptyParts));
        QVERIFY2(outcome.exitCode == exitCode, outcome.describe());
        QVERIFY2(outcome.err.contains(stderrHas.replace("@", root)), outcome.describe());
        // Usage errors point at --help; a success says nothing.
        QVERIFY2(exitCode != 2 || outcome.err.contains("--help"), outcome.describe());
        QVERIFY2(exitCode != 0 || outcome.err.isEmpty(), outcome.describe());
        QCOMPARE(QFile::exists(root + "/out.png"), exitCode == 0);
        // A refused write leaves an existing file as it was.
        QCOMPARE(fileBytes(root + "/kept.jpg"), QByteArray("an older file"));
    }

    void helpAndVersion()
    {
        const Outcome help = runCli({"--help"});
        QCOMPARE(help.exitCode, 0);
        for (const char* option : {"--direction", "--size", "--depth", "--color", "--transparent",
                                   "--jobs", "--batch", "INPUT OUTPUT"})
            QVERIFY2(help.out.contains(option), option);
        const Outcome version = runCli({"--version"});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out.trimmed(), QString("glassmere-cli 3.1.0"));
    }

    void sameAsWindow_data()
    {
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QString>("options"); // a direction first when any

        QTest::newRow("top, colour, opaque")
            << "opaque"
            << "--direction top --size 55 --depth 20 --color #3366cc";
        QTest::newRow("bottom, transparency, alpha")
            << "alpha"
            << "--direction bottom --size 55 --depth 20 --transparent";
        QTest::newRow("left, colour, alpha")
            << "alpha"
            << "--direction left --size 55 --depth 20 --color #3366cc";
        QTest::newRow("right, transparency, opaque")
            << "opaque"
            << "--direction right --size 55 --depth 20 --transparent";
        QTest::newRow("defaults: start-up settings") << "opaque"
                                                     << "";
    }

    void sameAsWindow()
    {
        QFETCH(QString, picture);
        QFETCH(QString, options);
        const QString input = root + "/" + picture + ".png";
        const QString output = root + "/cli-result.png";
        QFile::remove(output);
        const Outcome outcome = runCli(options.split(' ', Qt::SkipEmptyParts) << input << output);
        QVERIFY2(outcome.exitCode == 0, outcome.describe());

        Glassmere window;
        auto& ui = Access::ui(window);
        if (!options.isEmpty()) {
            QString edge = options.section(' ', 1, 1);
            edge[0] = edge[0].toUpper();
            window.findChild<QCheckBox*>("checkBox" + edge)->setChecked(true);
            ui.refSize->setValue(55);
            ui.refDepth->setValue(20);
            Access::setColor(window, {0x33, 0x66, 0xcc});
            ui.cbTransparent->setChecked(options.contains("--transparent"));
        }
        QVERIFY(loadPicture(input, Access::source(window)));
        QVERIFY(QMetaObject::invokeMethod(&window, "RunReflection", Qt::DirectConnection));
        COMPARE_IMAGES(readPicture(output), Access::result(window));
    }

    void batch()
    {
        const QString pictures = root + "/pictures";
        const QString one = root + "/one";
        const QString two = root + "/two";
        for (const QString& path : {pictures, one, two})
            QVERIFY(QDir().mkpath(path));
        fipImage a = naturalPicture(30, 20, 24, 1);
        fipImage b = naturalPicture(25, 21, 24, 2);
        QVERIFY(writePicture(a, pictures + "/a.jpg") && writePicture(b, pictures + "/a.bmp"));
        QVERIFY(writePicture(b, pictures + "/holiday.2011.jpg"));
        QVERIFY(writeText(pictures + "/notes.txt", "text"));
        const auto before = snapshot(pictures);

        const Outcome serial = runCli({"--transparent", "--jobs", "1", "--batch", pictures, one});
        QVERIFY2(serial.exitCode == 1, serial.describe());
        QVERIFY2(serial.out.contains("3 of 4 files written, 1 skipped, 0 not written, 1 renamed."),
                 serial.describe());
        QVERIFY2(serial.err.contains("skipped: " + pictures + "/notes.txt") &&
                     serial.err.contains("renamed: " + pictures + "/a.bmp written as " + one +
                                         "/a-2.png"),
                 serial.describe());
        QVERIFY(!serial.err.contains('\r')); // not a terminal: no progress line
        QCOMPARE(snapshot(one).keys(), (QStringList{"a-2.png", "a.png", "holiday.png"}));

        const Outcome parallel = runCli({"--transparent", "--jobs", "2", "--batch", pictures, two});
        QCOMPARE(parallel.exitCode, serial.exitCode);
        QCOMPARE(parallel.out, serial.out);
        QCOMPARE(parallel.err, QString(serial.err).replace(one, two));
        QCOMPARE(snapshot(two), snapshot(one));
        QCOMPARE(snapshot(pictures), before);

        // Without the text file everything is written: exit 0. On a terminal
        // each file is shown as it is begun, and the line is cleared at the end.
        QVERIFY(QFile::remove(pictures + "/notes.txt"));
        const Outcome clean = runCli({"--jobs", "1", "--batch", pictures, one}, true);
        QVERIFY2(clean.exitCode == 0 && clean.out.contains("3 of 3 files written"),
                 clean.describe());
        QCOMPARE(clean.err, QString("\r[1/3] holiday.2011.jpg\33[K\r[2/3] a.jpg\33[K\r[3/3] "
                                    "a.bmp\33[K\r\33[K"));
    }
};

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
