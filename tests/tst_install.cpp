// SPDX-License-Identifier: GPL-3.0-or-later
// The installed tree: `cmake --install` of this build into a temporary DESTDIR
// with the prefix the Debian package uses, then the layout a desktop and the
// program itself rely on.

#include "product.h"
#include "support/testpictures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

const QString appId = QStringLiteral(GLASSMERE_APP_ID);
const QString buildDir = QStringLiteral(GLASSMERE_BUILD_DIR);
const QString desktopFile = "share/applications/" + appId + ".desktop";
const QString metainfoFile = "share/metainfo/" + appId + ".metainfo.xml";

} // namespace

class TestInstall : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(destDir.isValid());
        qputenv("DESTDIR", QFile::encodeName(destDir.path()));
        const ProgramRun install =
            runProgram(GLASSMERE_CMAKE_COMMAND, {"--install", buildDir, "--prefix", "/usr"});
        qunsetenv("DESTDIR");
        QVERIFY2(install.exitCode == 0, install.describe());
        prefix = destDir.path() + "/usr";
        // No libraries, headers or build files: the package holds programs and data.
        QCOMPARE(QDir(prefix).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 (QStringList{"bin", "libexec", "share"}));
    }

    void filesInPlace_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("executable");
        QTest::newRow("program") << "libexec/glassmere/glassmere" << true;
        QTest::newRow("translation") << "libexec/glassmere/app_zh.qm" << false;
        QTest::newRow("command line") << "bin/glassmere-cli" << true;
        if (QFile::exists(buildDir + "/bin/glassmere-decoder"))
            QTest::newRow("decoder") << "libexec/glassmere/glassmere-decoder" << true;
        QTest::newRow("copyright") << "share/doc/glassmere/copyright" << false;
        QTest::newRow("changelog") << "share/doc/glassmere/changelog.gz" << false;
        QTest::newRow("manual page") << "share/man/man1/glassmere-cli.1.gz" << false;
        QTest::newRow("48x48 icon") << "share/icons/hicolor/48x48/apps/" + appId + ".png" << false;
    }

    void filesInPlace()
    {
        QFETCH(QString, file);
        QFETCH(bool, executable);
        const QFileInfo info(path(file));
        QVERIFY2(info.isFile() && info.size() > 0, qPrintable(file + " is missing"));
        QCOMPARE(info.isExecutable(), executable);
        QVERIFY(info.permissions() & QFile::ReadOther);
        if (file.endsWith(".png"))
            QCOMPARE(QImage(info.filePath()).size(), QSize(48, 48));
    }

    void programLinksOnThePath()
    {
        // Relative, so the tree works wherever it is unpacked.
        char stored[4096] = {};
        const ssize_t length = ::readlink(QFile::encodeName(path("bin/glassmere")).constData(),
                                          stored, sizeof stored - 1);
        QCOMPARE(QString::fromLocal8Bit(stored, int(qMax<ssize_t>(length, 0))),
                 QString("../libexec/glassmere/glassmere"));
    }

    void everySkinImageIsInstalled()
    {
        static const QRegularExpression url(R"(url\(%currentPath%/([^)]+)\.png\))");
        int count = 0;
        for (auto match =
                 url.globalMatch(QString::fromUtf8(fileBytes(path("libexec/glassmere/skin"))));
             match.hasNext(); ++count) {
            // Each with its variant for a device pixel ratio of 2, twice the size.
            const QString image = path("libexec/glassmere/" + match.next().captured(1));
            const QSize normal = QImageReader(image + ".png").size();
            QVERIFY2(normal.isValid(), qPrintable(image));
            QCOMPARE(QImageReader(image + "@2x.png").size(), normal * 2);
        }
        QVERIFY(count > 40);
    }

    void desktopFileAndMetainfo()
    {
        QSettings entry(path(desktopFile), QSettings::IniFormat);
        entry.beginGroup("Desktop Entry");
        QCOMPARE(entry.value("Icon").toString(), appId);
        // The X11 window class Qt gives the program: its executable's name.
        QCOMPARE(entry.value("StartupWMClass").toString(), QString("glassmere"));

        const QString xml = QString::fromUtf8(fileBytes(path(metainfoFile)));
        for (const QString& element :
             QStringList{"<id>" + appId + "</id>", "\">" + appId + ".desktop</launchable>",
                         "<binary>glassmere</binary>", "<binary>glassmere-cli</binary>"})
            QVERIFY2(xml.contains(element), qPrintable(element));

        // The program tells the desktop the same name (QGuiApplication::setDesktopFileName).
        QVERIFY(fileBytes(path("libexec/glassmere/glassmere")).contains(appId.toUtf8()));
    }

    void validatorsAccept_data()
    {
        QTest::addColumn<QString>("validator");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("desktop-file-validate")
            << "desktop-file-validate" << QStringList{path(desktopFile)};
        QTest::newRow("appstreamcli")
            << "appstreamcli" << QStringList{"validate", "--no-net", path(metainfoFile)};
    }

    void validatorsAccept()
    {
        QFETCH(QString, validator);
        QFETCH(QStringList, arguments);
        const QString program = QStandardPaths::findExecutable(validator);
        if (program.isEmpty())
            QSKIP(qPrintable(validator + " is not installed"));
        const ProgramRun validation = runProgram(program, arguments);
        const QString output = validation.out + validation.err;
        // Warnings and errors fail too; hints and pedantic notes do not.
        QVERIFY2(validation.exitCode == 0 && !output.contains("warning", Qt::CaseInsensitive) &&
                     !output.contains("error", Qt::CaseInsensitive),
                 qPrintable(output));
    }

    void installedCommandLineRuns()
    {
        const ProgramRun version = runProgram(path("bin/glassmere-cli"), {"--version"});
        QVERIFY2(version.exitCode == 0 && version.out.contains(GLASSMERE_VERSION),
                 version.describe());
    }

private:
    QTemporaryDir destDir;
    QString prefix; // the installed /usr
    QString path(const QString& relative) const { return prefix + "/" + relative; }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
