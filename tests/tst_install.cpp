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

// Exit code (-1 if it did not end normally) and merged output.
QPair<int, QString>
run(const QString& program, const QStringList& arguments,
    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(180000))
        return {-1, program + ": " + process.errorString()};
    const int code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return {code, QString::fromLocal8Bit(process.readAll())};
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

// The text of the elements named in `wanted`, children included, by name.
QMultiMap<QString, QString> elements(const QString& xmlFile, const QStringList& wanted)
{
    QMultiMap<QString, QString> found;
    QFile file(xmlFile);
    if (!file.open(QIODevice::ReadOnly))
        return found;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        const QString name =
            xml.readNext() == QXmlStreamReader::StartElement ? xml.name().toString() : QString();
        if (wanted.contains(name))
            found.insert(name, xml.readElementText(QXmlStreamReader::IncludeChildElements));
    }
    if (xml.hasError())
        found.insert("error", xml.errorString());
    return found;
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
    const auto [code, output] =
        run(GLASSMERE_CMAKE_COMMAND, {"--install", buildDir, "--prefix", "/usr"}, environment);
    QVERIFY2(code == 0, qPrintable(output));
    prefix = destDir.path() + "/usr";
}

void TestInstall::filesInPlace_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<int>("iconSize"); // 0: not a bitmap icon

    QTest::newRow("program") << "libexec/glassmere/glassmere" << true << 0;
    QTest::newRow("skin") << "libexec/glassmere/skin" << false << 0;
    QTest::newRow("translation") << "libexec/glassmere/app_zh.qm" << false << 0;
    QTest::newRow("command line") << "bin/glassmere-cli" << true << 0;
    if (QFile::exists(buildDir + "/bin/glassmere-decoder"))
        QTest::newRow("decoder") << "libexec/glassmere/glassmere-decoder" << true << 0;
    QTest::newRow("desktop file") << "share/applications/" + appId + ".desktop" << false << 0;
    QTest::newRow("metainfo") << "share/metainfo/" + appId + ".metainfo.xml" << false << 0;
    QTest::newRow("scalable icon")
        << "share/icons/hicolor/scalable/apps/" + appId + ".svg" << false << 0;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QTest::addRow("%dx%d icon", size, size)
            << QString("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(appId) << false
            << size;
    }
}

void TestInstall::filesInPlace()
{
    QFETCH(QString, file);
    QFETCH(bool, executable);
    QFETCH(int, iconSize);
    const QFileInfo info(path(file));
    QVERIFY2(info.isFile(), qPrintable(file + " is missing"));
    QVERIFY(info.size() > 0);
    QCOMPARE(info.isExecutable(), executable);
    QVERIFY(info.permissions() & QFile::ReadOther);
    if (iconSize > 0) {
        const QImage icon(info.filePath());
        QCOMPARE(icon.size(), QSize(iconSize, iconSize));
        QVERIFY(icon.hasAlphaChannel());
    }
}

void TestInstall::programLinksOnThePath()
{
    // Relative, so the tree works wherever it is unpacked; started through it,
    // the program finds its files beside the link's target.
    const QFileInfo link(path("bin/glassmere"));
    QVERIFY(link.isSymLink());
    QCOMPARE(link.canonicalFilePath(),
             QFileInfo(path("libexec/glassmere/glassmere")).canonicalFilePath());
    char stored[4096] = {};
    const ssize_t length =
        ::readlink(QFile::encodeName(link.filePath()).constData(), stored, sizeof stored - 1);
    QCOMPARE(QString::fromLocal8Bit(stored, int(qMax<ssize_t>(length, 0))),
             QString("../libexec/glassmere/glassmere"));
}

void TestInstall::nothingOutsideTheKnownFolders()
{
    // No libraries, headers or build files: the package holds programs and data.
    const auto entries = QDir::AllEntries | QDir::NoDotAndDotDot;
    QCOMPARE(QDir(prefix).entryList(entries), (QStringList{"bin", "libexec", "share"}));
    QCOMPARE(QDir(path("share")).entryList(entries),
             (QStringList{"applications", "icons", "metainfo"}));
}

void TestInstall::everySkinImageIsInstalled()
{
    QFile skin(path("libexec/glassmere/skin"));
    QVERIFY(skin.open(QIODevice::ReadOnly));
    static const QRegularExpression url(R"(url\(%currentPath%/([^)]+)\.png\))");
    int count = 0;
    for (auto match = url.globalMatch(QString::fromUtf8(skin.readAll())); match.hasNext();
         ++count) {
        const QString image = match.next().captured(1);
        for (const QString& file : {image + ".png", image + "@2x.png"})
            QVERIFY2(QFile::exists(path("libexec/glassmere/" + file)), qPrintable(file));
    }
    QVERIFY(count > 40);
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
    QCOMPARE(entry.value("Terminal"), QString("false"));
    // The X11 window class Qt gives the program: its executable's name.
    QCOMPARE(entry.value("StartupWMClass"), QString("glassmere"));
}

void TestInstall::metainfo()
{
    const QMultiMap<QString, QString> found =
        elements(path("share/metainfo/" + appId + ".metainfo.xml"),
                 {"id", "launchable", "icon", "image", "binary", "description"});
    QVERIFY2(!found.contains("error"), qPrintable(found.value("error")));
    QCOMPARE(found.value("id"), appId);
    QCOMPARE(found.value("launchable"), appId + ".desktop");
    QCOMPARE(found.value("icon"), appId);
    QVERIFY(found.contains("description"));
    QVERIFY(found.value("image").startsWith("https://"));
    QStringList binaries = found.values("binary");
    binaries.sort();
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
    const auto [code, output] = run(program, arguments << path(file));
    // Warnings and errors fail too; hints and pedantic notes do not.
    QVERIFY2(code == 0 && !output.contains("warning", Qt::CaseInsensitive) &&
                 !output.contains("error", Qt::CaseInsensitive),
             qPrintable(output));
}

void TestInstall::installedCommandLineRuns()
{
    const auto [code, output] = run(path("bin/glassmere-cli"), {"--version"});
    QCOMPARE(code, 0);
    QVERIFY2(output.contains("3.1.0"), qPrintable(output));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
