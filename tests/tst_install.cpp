// The installed tree: `cmake --install` of this build into a temporary DESTDIR
// with the prefix the Debian package uses, then the layout a desktop and the
// program itself rely on.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <unistd.h>

namespace {

const QString appId = QStringLiteral(GLASSMERE_APP_ID);
const QString buildDir = QStringLiteral(GLASSMERE_BUILD_DIR);

struct Run {
    int exitCode = -1;
    QString output;
};

Run run(const QString& program, const QStringList& arguments,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(180000)) {
        result.output = program + ": " + process.errorString();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromLocal8Bit(process.readAll());
    return result;
}

// The keys of the [Desktop Entry] group, as the file has them.
QMap<QString, QString> desktopEntry(const QString& path)
{
    QMap<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith('['))
            inEntry = line == "[Desktop Entry]";
        else if (inEntry && line.contains('='))
            keys.insert(line.section('=', 0, 0), line.section('=', 1));
    }
    return keys;
}

} // namespace

class TestInstall : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void filesInPlace_data();
    void filesInPlace();
    void programLinksOnThePath();
    void nothingOutsideTheKnownFolders();
    void everySkinImageIsInstalled();
    void icons_data();
    void icons();
    void desktopFile();
    void metainfo();
    void validatorsAcceptBothFiles_data();
    void validatorsAcceptBothFiles();
    void installedCommandLineRuns();

private:
    QTemporaryDir destDir;
    QString prefix; // the installed /usr
    QString path(const QString& relative) const { return prefix + "/" + relative; }
};

void TestInstall::initTestCase()
{
    QVERIFY(destDir.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DESTDIR", destDir.path());
    const Run install =
        run(GLASSMERE_CMAKE_COMMAND, {"--install", buildDir, "--prefix", "/usr"}, environment);
    QVERIFY2(install.exitCode == 0, qPrintable(install.output));
    prefix = destDir.path() + "/usr";
}

void TestInstall::filesInPlace_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("executable");

    QTest::newRow("program") << "libexec/glassmere/glassmere" << true;
    QTest::newRow("skin") << "libexec/glassmere/skin" << false;
    QTest::newRow("translation") << "libexec/glassmere/app_zh.qm" << false;
    QTest::newRow("a skin image") << "libexec/glassmere/images/open.png" << false;
    QTest::newRow("its double size") << "libexec/glassmere/images/open@2x.png" << false;
    QTest::newRow("command line") << "bin/glassmere-cli" << true;
    if (QFile::exists(buildDir + "/bin/glassmere-decoder"))
        QTest::newRow("decoder") << "libexec/glassmere/glassmere-decoder" << true;
    QTest::newRow("desktop file") << "share/applications/" + appId + ".desktop" << false;
    QTest::newRow("metainfo") << "share/metainfo/" + appId + ".metainfo.xml" << false;
    QTest::newRow("scalable icon")
        << "share/icons/hicolor/scalable/apps/" + appId + ".svg" << false;
}

void TestInstall::filesInPlace()
{
    QFETCH(QString, file);
    QFETCH(bool, executable);
    const QFileInfo info(path(file));
    QVERIFY2(info.isFile(), qPrintable(file + " is missing"));
    QVERIFY(info.size() > 0);
    QCOMPARE(info.isExecutable(), executable);
    QVERIFY(info.permissions() & QFile::ReadOther);
}

void TestInstall::programLinksOnThePath()
{
    // Relative, so the tree works wherever it is unpacked; started through it,
    // the program finds its files beside the link's target.
    const QFileInfo link(path("bin/glassmere"));
    QVERIFY(link.isSymLink());
    QCOMPARE(QFile::symLinkTarget(path("bin/glassmere")),
             QFileInfo(path("libexec/glassmere/glassmere")).canonicalFilePath());
    QCOMPARE(QFileInfo(link.canonicalFilePath()).dir().entryList({"skin", "app_zh.qm"}),
             (QStringList{"app_zh.qm", "skin"}));
    const QByteArray target = QFile::encodeName(path("bin/glassmere"));
    char stored[4096] = {};
    const ssize_t length = ::readlink(target.constData(), stored, sizeof stored - 1);
    QVERIFY(length > 0);
    QCOMPARE(QString::fromLocal8Bit(stored, int(length)),
             QString("../libexec/glassmere/glassmere"));
}

void TestInstall::nothingOutsideTheKnownFolders()
{
    // No libraries, headers or build files: the package holds programs and data.
    QStringList top = QDir(prefix).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QCOMPARE(top, (QStringList{"bin", "libexec", "share"}));
    QStringList shared = QDir(path("share")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QCOMPARE(shared, (QStringList{"applications", "icons", "metainfo"}));
}

void TestInstall::everySkinImageIsInstalled()
{
    QFile skin(path("libexec/glassmere/skin"));
    QVERIFY(skin.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(skin.readAll());
    static const QRegularExpression url(R"(url\(%currentPath%/([^)]+)\))");
    int count = 0;
    for (auto match = url.globalMatch(text); match.hasNext(); ++count) {
        const QString image = match.next().captured(1);
        QString doubled = image;
        doubled.replace(".png", "@2x.png");
        QVERIFY2(QFile::exists(path("libexec/glassmere/" + image)), qPrintable(image));
        QVERIFY2(QFile::exists(path("libexec/glassmere/" + doubled)), qPrintable(doubled));
    }
    QVERIFY(count > 40);
}

void TestInstall::icons_data()
{
    QTest::addColumn<int>("size");
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        QTest::newRow(qPrintable(QString("%1x%1").arg(size))) << size;
}

void TestInstall::icons()
{
    QFETCH(int, size);
    const QString file =
        path(QString("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(appId));
    const QImage icon(file);
    QVERIFY2(!icon.isNull(), qPrintable(file));
    QCOMPARE(icon.size(), QSize(size, size));
    QVERIFY(icon.hasAlphaChannel());
}

void TestInstall::desktopFile()
{
    const QMap<QString, QString> entry =
        desktopEntry(path("share/applications/" + appId + ".desktop"));
    QCOMPARE(entry.value("Type"), QString("Application"));
    QCOMPARE(entry.value("Name"), QString("Glassmere"));
    QCOMPARE(entry.value("Icon"), appId);
    // The program takes no file arguments: no field codes, no file types.
    QCOMPARE(entry.value("Exec"), QString("glassmere"));
    QVERIFY(!entry.contains("MimeType"));
    QVERIFY(QFileInfo(path("bin/" + entry.value("Exec"))).isExecutable());
    QCOMPARE(entry.value("Terminal"), QString("false"));
    // The X11 window class Qt gives the program: its executable's name.
    QCOMPARE(entry.value("StartupWMClass"), QString("glassmere"));
}

void TestInstall::metainfo()
{
    QFile file(path("share/metainfo/" + appId + ".metainfo.xml"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QString id, launchable, icon, screenshot;
    QStringList binaries;
    bool description = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"id")
            id = xml.readElementText();
        else if (xml.name() == u"launchable")
            launchable = xml.readElementText();
        else if (xml.name() == u"icon")
            icon = xml.readElementText();
        else if (xml.name() == u"image")
            screenshot = xml.readElementText();
        else if (xml.name() == u"binary")
            binaries << xml.readElementText();
        else if (xml.name() == u"description")
            description = true;
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(id, appId);
    QCOMPARE(launchable, appId + ".desktop");
    QCOMPARE(icon, appId);
    QVERIFY(description);
    QVERIFY(screenshot.startsWith("https://"));
    QCOMPARE(binaries, (QStringList{"glassmere", "glassmere-cli"}));
    for (const QString& binary : std::as_const(binaries))
        QVERIFY2(QFileInfo(path("bin/" + binary)).isExecutable(), qPrintable(binary));

    // The program tells the desktop the same name (QGuiApplication::setDesktopFileName).
    QFile program(path("libexec/glassmere/glassmere"));
    QVERIFY(program.open(QIODevice::ReadOnly));
    QVERIFY(program.readAll().contains(appId.toUtf8()));
}

void TestInstall::validatorsAcceptBothFiles_data()
{
    QTest::addColumn<QString>("validator");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("file");
    QTest::newRow("desktop-file-validate")
        << "desktop-file-validate" << QStringList{} << "share/applications/" + appId + ".desktop";
    QTest::newRow("appstreamcli") << "appstreamcli" << QStringList{"validate", "--no-net"}
                                  << "share/metainfo/" + appId + ".metainfo.xml";
}

void TestInstall::validatorsAcceptBothFiles()
{
    QFETCH(QString, validator);
    QFETCH(QStringList, arguments);
    QFETCH(QString, file);
    const QString program = QStandardPaths::findExecutable(validator);
    if (program.isEmpty())
        QSKIP(qPrintable(validator + " is not installed"));
    const Run check = run(program, arguments << path(file));
    QVERIFY2(check.exitCode == 0, qPrintable(check.output));
    // Warnings and errors fail too; hints and pedantic notes do not.
    QVERIFY2(!check.output.contains("warning", Qt::CaseInsensitive) &&
                 !check.output.contains("error", Qt::CaseInsensitive),
             qPrintable(check.output));
}

void TestInstall::installedCommandLineRuns()
{
    const Run version = run(path("bin/glassmere-cli"), {"--version"});
    QCOMPARE(version.exitCode, 0);
    QVERIFY2(version.output.contains("3.1.0"), qPrintable(version.output));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
