#include "imaging/decoder/image_io.h"
#include "imaging/saving/picture_saving.h"
#include "reflection/renderer/reflection_renderer.h"
#include "support/testpictures.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(ReflectionParams)

const QString cli = QStringLiteral(GLASSMERE_BIN_DIR "/glassmere-cli");

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
    }

    void exitCodes_data()
    {
        QTest::addColumn<QString>("arguments"); // split at spaces; "@" is the temporary folder
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("stderrHas");
        QTest::addColumn<int>("addressSpaceKB"); // 0: no limit

        const QString io = " @/opaque.png @/out.png";
        const auto row = [](const char* name, const QString& arguments, int exitCode,
                            const QString& stderrHas, int addressSpaceKB = 0) {
            QTest::newRow(name) << arguments << exitCode << stderrHas << addressSpaceKB;
        };
        row("size above 100", "--size 101" + io, 2,
            "--size must be a whole number from 0 to 100, not \"101\"");
        row("opacity not a number", "--opacity half" + io, 2,
            "--opacity must be a whole number from 0 to 100, not \"half\"");
        row("gap below 0", "--gap -1" + io, 2,
            "--gap must be a whole number from 0 to 10000, not \"-1\"");
        row("blur above 200", "--blur 201" + io, 2,
            "--blur must be a whole number from 0 to 200, not \"201\"");
        row("colour and transparency", "--color #000000 --transparent" + io, 2,
            "--color and --transparent exclude each other");
        row("input not a picture", "@/notes.txt @/out.png", 1, "cannot read @/notes.txt");
        row("transparency into an existing JPEG", "--transparent @/opaque.png @/kept.jpg", 1,
            "cannot write @/kept.jpg: the format of the extension \"jpg\" cannot store a 32-bit "
            "picture with transparency");
        row("written", "--direction left --size 100 --depth 0 --color #FF8000" + io, 0, "");
        row("written with the reflection controls", "--opacity 50 --gap 10 --blur 30" + io, 0, "");
        row("24 megapixels within 1.4 GB of address space", "@/photo.jpg @/out.png", 0, "",
            1400000);
        row("24 megapixels beyond 380 MB of address space", "@/photo.jpg @/out.png", 1,
            "cannot read @/photo.jpg: 6000 × 4000 pixels need 389 MB of memory, more than the",
            380000);
    }

    void exitCodes()
    {
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, stderrHas);
        QFETCH(int, addressSpaceKB);
        writeBytes(root + "/kept.jpg", "an older file");
        QFile::remove(root + "/out.png");

        const ProgramRun outcome = runProgram(
            cli, arguments.replace("@", root).split(' ', Qt::SkipEmptyParts), addressSpaceKB);
        QVERIFY2(outcome.exitCode == exitCode, outcome.describe());
        QVERIFY2(outcome.err.contains(stderrHas.replace("@", root)), outcome.describe());
        // Usage errors point at --help; a success says nothing.
        QVERIFY2(exitCode != 2 || outcome.err.contains("--help"), outcome.describe());
        QVERIFY2(exitCode != 0 || outcome.err.isEmpty(), outcome.describe());
        QCOMPARE(QFile::exists(root + "/out.png"), exitCode == 0);
        QCOMPARE(fileBytes(root + "/kept.jpg"), QByteArray("an older file"));
    }

    // The file decoding, rendering and a safe write give on their own, as the
    // batch writes it (tst_batch holds the batch, and what results carry, to
    // that; the window renders through the same call); the controls' defaults,
    // given or not, are the renderer's.
    void sameAsRenderer_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<ReflectionParams>("params");
        QTest::newRow("every control")
            << "--direction left --size 55 --depth 20 --color #3366cc --opacity 70 --gap 6 --blur 9"
            << ReflectionParams{Direction::Left, 55, 20, 0, {0x33, 0x66, 0xcc}, false, 70, 6, 9};
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
};

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
