#include "batch_fixtures.h"
#include "imaging/image_io.h"
#include "mainwindow/glassmere.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <FreeImagePlus.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace fixtures;

// The window's own state, reached as the window's code reaches it.
class GlassmereTestAccess {
public:
    static Ui::GlassmereClass& ui(Glassmere& window) { return window.ui; }
    static fipImage& source(Glassmere& window) { return window.sourceImage; }
    static fipImage& result(Glassmere& window) { return window.resultImage; }
    static void setColor(Glassmere& window, _RGB color) { window.reflectionColor = color; }
};
using Access = GlassmereTestAccess;

namespace {

const QString program = QStringLiteral(GLASSMERE_BIN_DIR "/glassmere-cli");

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

Outcome runCli(const QStringList& arguments, const QString& folder = QString())
{
    QProcess process;
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, arguments);
    Outcome outcome;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return outcome;
    outcome.exitCode = process.exitCode();
    outcome.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    outcome.err = QString::fromLocal8Bit(process.readAllStandardError());
    return outcome;
}

QString describe(const Outcome& outcome)
{
    return QStringLiteral("exit %1\nstdout: %2\nstderr: %3")
        .arg(outcome.exitCode)
        .arg(outcome.out, outcome.err);
}

QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    for (const QString& name :
         QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
        files.insert(name, fileBytes(folder + "/" + name));
    return files;
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private:
    QTemporaryDir temporary;
    QString root;
    QString picture24; // an opaque picture
    QString picture32; // a picture with transparency

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program));
        QVERIFY(temporary.isValid());
        root = QDir(temporary.path()).canonicalPath();
        // Odd sizes, so scan lines carry padding.
        fipImage opaque = naturalPicture(41, 29, 24, 7);
        fipImage alpha = naturalPicture(27, 35, 32, 8);
        picture24 = root + "/opaque.png";
        picture32 = root + "/alpha.png";
        QVERIFY(writePicture(opaque, picture24));
        QVERIFY(writePicture(alpha, picture32));
        QVERIFY(writeText(root + "/notes.txt", "not a picture"));
    }

    // --- usage errors and exit codes

    void exitCodes_data()
    {
        QTest::addColumn<QStringList>("arguments"); // "@" is the temporary folder
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("stderrHas");

        const QString in = "@/opaque.png";
        const QString out = "@/out.png";
        QTest::newRow("no arguments") << QStringList{} << 2 << "give an input picture";
        QTest::newRow("one argument") << QStringList{in} << 2 << "give an input picture";
        QTest::newRow("three arguments") << QStringList{in, out, out} << 2 << "give an input";
        QTest::newRow("unknown option") << QStringList{"--mirror", in, out} << 2 << "mirror";
        QTest::newRow("size above 100") << QStringList{"--size", "101", in, out} << 2 << "--size";
        QTest::newRow("size not a number") << QStringList{"--size", "big", in, out} << 2
                                           << "--size must be a whole number from 0 to 100";
        QTest::newRow("size without value") << QStringList{in, out, "--size"} << 2 << "size";
        QTest::newRow("depth below 0") << QStringList{"--depth", "-1", in, out} << 2 << "--depth";
        QTest::newRow("direction unknown")
            << QStringList{"--direction", "up", in, out} << 2
            << "--direction must be bottom, top, left or right, not \"up\"";
        QTest::newRow("colour by name")
            << QStringList{"--color", "red", in, out} << 2 << "--color must be written #rrggbb";
        QTest::newRow("colour too short")
            << QStringList{"--color", "#fff", in, out} << 2 << "--color";
        QTest::newRow("colour and transparency")
            << QStringList{"--color", "#000000", "--transparent", in, out} << 2
            << "--color and --transparent exclude each other";
        QTest::newRow("no jobs") << QStringList{"--jobs", "0", "--batch", "@", "@/r"} << 2
                                 << "--jobs";
        QTest::newRow("batch with one folder")
            << QStringList{"--batch", "@"} << 2 << "--batch takes a picture folder";
        QTest::newRow("batch from a missing folder")
            << QStringList{"--batch", "@/missing", "@"} << 2 << "does not exist";
        QTest::newRow("batch into the picture folder")
            << QStringList{"--batch", "@", "@/."} << 2 << "The result folder is the picture folder";
        QTest::newRow("missing input")
            << QStringList{"@/missing.png", out} << 1 << "cannot read @/missing.png";
        QTest::newRow("input not a picture")
            << QStringList{"@/notes.txt", out} << 1 << "cannot read @/notes.txt";
        QTest::newRow("transparency into JPEG")
            << QStringList{"--transparent", in, "@/out.jpg"} << 1
            << "cannot write @/out.jpg: the format of the extension \"jpg\" cannot store a 32-bit "
               "picture with transparency";
        QTest::newRow("unknown extension")
            << QStringList{in, "@/out.xyz"} << 1 << "cannot write @/out.xyz";
        QTest::newRow("into a missing folder")
            << QStringList{in, "@/missing/out.png"} << 1 << "cannot write @/missing/out.png";
        QTest::newRow("written") << QStringList{in, out} << 0 << "";
        QTest::newRow("every option")
            << QStringList{"--direction", "left",    "--size", "100", "--depth", "0",
                           "--color",     "#FF8000", "--jobs", "3",   in,        out}
            << 0 << "";
    }

    void exitCodes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, stderrHas);
        for (QString& argument : arguments)
            argument.replace("@", root);
        stderrHas.replace("@", root);

        const Outcome outcome = runCli(arguments);
        QVERIFY2(outcome.exitCode == exitCode, qPrintable(describe(outcome)));
        QVERIFY2(outcome.err.contains(stderrHas), qPrintable(describe(outcome)));
        if (exitCode == 2)
            QVERIFY2(outcome.err.contains("--help"), qPrintable(describe(outcome)));
        if (exitCode == 0)
            QVERIFY2(outcome.err.isEmpty(), qPrintable(describe(outcome)));
        QFile::remove(root + "/out.png");
    }

    void failedSingleWriteKeepsTheOldFile()
    {
        // A refused write leaves an existing output as it was.
        const QString out = root + "/kept.jpg";
        QVERIFY(writeText(out, "an older file"));
        const Outcome outcome = runCli({"--transparent", picture24, out});
        QCOMPARE(outcome.exitCode, 1);
        QCOMPARE(fileBytes(out), QByteArray("an older file"));
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

    // --- the same pixels as the window

    void sameAsWindow_data()
    {
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>(
            "direction"); // the check box to tick: 0 top, 1 bottom, 2 left, 3 right
        QTest::addColumn<bool>("transparent");

        const QStringList colour{"--size", "55", "--depth", "20", "--color", "#3366cc"};
        const QStringList alpha{"--size", "55", "--depth", "20", "--transparent"};
        const char* names[] = {"top", "bottom", "left", "right"};
        for (int direction = 0; direction < 4; ++direction) {
            const QStringList edge{"--direction", names[direction]};
            for (const QString& which : {QString("opaque"), QString("alpha")}) {
                QTest::addRow("%s, colour, %s", names[direction], qPrintable(which))
                    << which << edge + colour << direction << false;
                QTest::addRow("%s, transparency, %s", names[direction], qPrintable(which))
                    << which << edge + alpha << direction << true;
            }
        }
        QTest::newRow("defaults: start-up settings") << "opaque" << QStringList{} << 1 << false;
    }

    void sameAsWindow()
    {
        QFETCH(QString, picture);
        QFETCH(QStringList, options);
        QFETCH(int, direction);
        QFETCH(bool, transparent);
        const QString input = picture == "opaque" ? picture24 : picture32;
        const QString output = root + "/cli-result.png";
        QFile::remove(output);

        const Outcome outcome = runCli(options + QStringList{input, output});
        QVERIFY2(outcome.exitCode == 0, qPrintable(describe(outcome)));

        Glassmere window;
        auto& ui = Access::ui(window);
        if (!options.isEmpty()) {
            QCheckBox* boxes[] = {ui.checkBoxTop, ui.checkBoxBottom, ui.checkBoxLeft,
                                  ui.checkBoxRight};
            boxes[direction]->setChecked(true);
            ui.refSize->setValue(55);
            ui.refDepth->setValue(20);
            Access::setColor(window, {0x33, 0x66, 0xcc});
            ui.cbTransparent->setChecked(transparent);
        }
        QVERIFY(loadPicture(input, Access::source(window)));
        QVERIFY(QMetaObject::invokeMethod(&window, "RunReflection", Qt::DirectConnection));

        const fipImage written = readPicture(output);
        const QString difference = pixelDifference(written, Access::result(window));
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        // The result really has its reflection: it is larger than the picture.
        QVERIFY(written.getWidth() * written.getHeight() >
                Access::source(window).getWidth() * Access::source(window).getHeight());
    }

    // --- folders

    void batch()
    {
        QTemporaryDir folder;
        const QString pictures = folder.path() + "/pictures";
        const QString one = folder.path() + "/one";
        const QString two = folder.path() + "/two";
        for (const QString& path : {pictures, one, two})
            QVERIFY(QDir().mkpath(path));
        fipImage a = naturalPicture(30, 20, 24, 1);
        fipImage b = naturalPicture(25, 21, 24, 2);
        QVERIFY(writePicture(a, pictures + "/a.jpg"));
        QVERIFY(writePicture(b, pictures + "/a.bmp"));
        QVERIFY(writePicture(b, pictures + "/holiday.2011.jpg"));
        QVERIFY(writeText(pictures + "/notes.txt", "text"));
        const auto before = snapshot(pictures);

        const Outcome serial = runCli({"--transparent", "--jobs", "1", "--batch", pictures, one});
        QVERIFY2(serial.exitCode == 1, qPrintable(describe(serial)));
        QVERIFY2(serial.out.contains("3 of 4 files written, 1 skipped, 0 not written, 1 renamed."),
                 qPrintable(describe(serial)));
        QVERIFY2(serial.err.contains("skipped: " + pictures + "/notes.txt"),
                 qPrintable(describe(serial)));
        QVERIFY2(
            serial.err.contains("renamed: " + pictures + "/a.bmp written as " + one + "/a-2.png"),
            qPrintable(describe(serial)));
        // Not a terminal: no progress line.
        QVERIFY(!serial.err.contains('\r'));
        QCOMPARE(snapshot(one).keys(), (QStringList{"a-2.png", "a.png", "holiday.png"}));

        const Outcome parallel = runCli({"--transparent", "--jobs", "2", "--batch", pictures, two});
        QCOMPARE(parallel.exitCode, serial.exitCode);
        QCOMPARE(parallel.out, serial.out);
        QCOMPARE(parallel.err, QString(serial.err).replace(one, two));
        QCOMPARE(snapshot(two), snapshot(one));
        QCOMPARE(snapshot(pictures), before);

        // Without the text file everything is written: exit 0.
        QVERIFY(QFile::remove(pictures + "/notes.txt"));
        const Outcome clean = runCli({"--batch", pictures, one});
        QVERIFY2(clean.exitCode == 0, qPrintable(describe(clean)));
        QVERIFY2(clean.err.isEmpty(), qPrintable(describe(clean)));
        QVERIFY(clean.out.contains("3 of 3 files written"));
    }

    void batchProgressOnATerminal()
    {
        QTemporaryDir folder;
        const QString pictures = folder.path() + "/pictures";
        const QString results = folder.path() + "/results";
        QVERIFY(QDir().mkpath(pictures) && QDir().mkpath(results));
        for (const char* name : {"a.png", "b.png", "c.png"}) {
            fipImage picture = naturalPicture(20, 20, 24, quint32(qHash(QString(name))));
            QVERIFY(writePicture(picture, pictures + "/" + name));
        }

        // A pseudo-terminal as the program's standard error.
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0);
        QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const QByteArray slaveName = ::ptsname(master);
        QProcess process;
        process.setChildProcessModifier([slaveName] {
            const int slave = ::open(slaveName.constData(), O_RDWR | O_NOCTTY);
            if (slave >= 0)
                ::dup2(slave, STDERR_FILENO);
        });
        process.start(program, {"--jobs", "1", "--batch", pictures, results});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);

        QByteArray shown;
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        char buffer[4096];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            shown.append(buffer, int(n));
        ::close(master);
        QVERIFY2(shown.contains("\r[1/3] c.png"), shown.constData());
        QVERIFY2(shown.contains("\r[2/3] b.png"), shown.constData());
        QVERIFY2(shown.contains("\r[3/3] a.png"), shown.constData());
        QVERIFY(process.readAllStandardOutput().contains("3 of 3 files written"));
    }
};

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
