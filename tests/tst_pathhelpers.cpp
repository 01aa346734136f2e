#include "batch/path_helpers.h"
#include "batch_fixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <string>

// Folder paths are made absolute by name and entered; the tests look at the
// returned text and at where the process is afterwards.
class TestPathHelpers : public QObject {
    Q_OBJECT

private:
    QTemporaryDir temporary;
    QString root;         // the temporary folder without links, no trailing '/'
    QString startFolder;  // where each test starts
    std::string rootText; // root as the helpers take it

    static std::string local(const QString& text) { return text.toLocal8Bit().toStdString(); }
    static QString current() { return QDir::currentPath(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(temporary.isValid());
        root = QDir(temporary.path()).canonicalPath();
        rootText = local(root);
        QDir folder(root);
        QVERIFY(folder.mkpath("pics"));
        QVERIFY(folder.mkpath("a/inner"));
        QVERIFY(folder.mkpath("b"));
        QVERIFY(folder.mkpath("deep/inner"));
        QVERIFY(folder.mkpath("bild-äöü-图"));
        QVERIFY(fixtures::writeText(root + "/file.txt", "not a folder"));
        // "link" stands for deep/inner: its ".." is root by name, deep by the file system.
        QVERIFY(QFile::link(root + "/deep/inner", root + "/link"));
        startFolder = root + "/a";
    }

    void init() { QVERIFY(QDir::setCurrent(startFolder)); }
    void cleanup() { QDir::setCurrent(startFolder); }

    void normalizeDir_data()
    {
        QTest::addColumn<QString>("path"); // "@" stands for the temporary folder
        QTest::addColumn<QString>("expected");

        QTest::newRow("absolute") << "@/pics"
                                  << "@/pics/";
        QTest::newRow("absolute with trailing separator") << "@/pics/"
                                                          << "@/pics/";
        QTest::newRow("doubled separators") << "@//pics//"
                                            << "@/pics/";
        QTest::newRow("dot-dot") << "@/a/../b"
                                 << "@/b/";
        QTest::newRow("dot components") << "@/./b/."
                                        << "@/b/";
        QTest::newRow("dot-dot beyond the root") << "/../../"
                                                 << "/";
        QTest::newRow("root") << "/"
                              << "/";
        QTest::newRow("relative name") << "inner"
                                       << "@/a/inner/";
        QTest::newRow("relative dot-dot") << "../b"
                                          << "@/b/";
        QTest::newRow("relative dot") << "."
                                      << "@/a/";
        QTest::newRow("link kept, its dot-dot taken by name") << "@/link/.."
                                                              << "@/";
        QTest::newRow("link not resolved") << "@/link"
                                           << "@/link/";
        QTest::newRow("name outside ASCII") << "@/bild-äöü-图"
                                            << "@/bild-äöü-图/";
        QTest::newRow("dot-dot after a file, by name") << "@/file.txt/.."
                                                       << "@/";
        QTest::newRow("empty: the current folder") << ""
                                                   << "@/a/";
    }

    void normalizeDir()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        path.replace("@", root);
        expected.replace("@", root);

        std::string dir = local(path);
        QVERIFY(NormalizeDir(dir));
        QCOMPARE(QString::fromLocal8Bit(dir.c_str()), expected);
        // The process is inside the folder, the one the text names after links.
        QCOMPARE(current(), QDir(expected).canonicalPath());
    }

    void normalizeDirFailure_data()
    {
        QTest::addColumn<QString>("path");

        QTest::newRow("missing folder") << "@/missing";
        QTest::newRow("missing relative folder") << "missing";
        QTest::newRow("a file") << "@/file.txt";
        QTest::newRow("a file with a separator") << "@/file.txt/";
        QTest::newRow("longer than the path limit") << "@/" + QString(PATH_MAX, 'x');
    }

    void normalizeDirFailure()
    {
        QFETCH(QString, path);
        path.replace("@", root);

        std::string dir = local(path);
        QVERIFY(!NormalizeDir(dir));
        QCOMPARE(dir, local(path)); // unchanged
        QCOMPARE(current(), startFolder);
    }

    void normalizeDirRefusesZeroByte()
    {
        // "pics\0xyz" must not pass as "pics".
        std::string dir = rootText + "/pics";
        dir.push_back('\0');
        dir += "xyz";
        const std::string before = dir;
        QVERIFY(!NormalizeDir(dir));
        QCOMPARE(dir, before);
        QCOMPARE(current(), startFolder);
    }

    void normalizeDirAtThePathLimit()
    {
        // An absolute path of PATH_MAX - 1 bytes still fits with its zero byte;
        // one more does not. Neither exists, so both fail, but for different
        // reasons: only the first reaches the file system.
        std::string fits = "/" + std::string(PATH_MAX - 2, 'x');
        QVERIFY(!NormalizeDir(fits));
        std::string absolute;
        QVERIFY(AbsolutePath(fits, absolute));
        QCOMPARE(absolute.size(), size_t(PATH_MAX - 1));
        QVERIFY(!AbsolutePath(fits + "x", absolute));
        QCOMPARE(current(), startFolder);
    }

    void normalizeDirTwiceGivesTheSameText()
    {
        std::string dir = "../pics";
        QVERIFY(NormalizeDir(dir));
        const std::string once = dir;
        QVERIFY(NormalizeDir(dir));
        QCOMPARE(dir, once);
        QCOMPARE(QString::fromStdString(dir), root + "/pics/");
    }

    void enterDir_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("entered");
        QTest::addColumn<QString>("expectedFolder");

        QTest::newRow("absolute") << "@/b" << true << "@/b";
        QTest::newRow("absolute with trailing separator") << "@/b/" << true << "@/b";
        QTest::newRow("relative") << "inner" << true << "@/a/inner";
        QTest::newRow("relative dot-dot") << "../pics" << true << "@/pics";
        QTest::newRow("empty") << "" << false << "@/a";
        QTest::newRow("a file") << "@/file.txt" << false << "@/a";
        QTest::newRow("missing") << "@/missing" << false << "@/a";
        QTest::newRow("missing relative") << "missing" << false << "@/a";
    }

    void enterDir()
    {
        QFETCH(QString, path);
        QFETCH(bool, entered);
        QFETCH(QString, expectedFolder);
        path.replace("@", root);
        expectedFolder.replace("@", root);

        QCOMPARE(EnterDir(local(path)), entered);
        QCOMPARE(current(), expectedFolder);
    }

    void enterDirTwiceRelative()
    {
        // The second relative path is taken from the folder the first entered.
        QVERIFY(QDir::setCurrent(root));
        QVERIFY(EnterDir("a"));
        QVERIFY(EnterDir("inner"));
        QCOMPARE(current(), root + "/a/inner");
        QVERIFY(EnterDir(".."));
        QVERIFY(!EnterDir("a")); // there is no a/a
        QCOMPARE(current(), root + "/a");
    }

    void enterDirRefusesZeroByte()
    {
        std::string dir = rootText + "/b";
        dir.push_back('\0');
        dir += "/missing";
        QVERIFY(!EnterDir(dir));
        QCOMPARE(current(), startFolder);
    }
};

QTEST_GUILESS_MAIN(TestPathHelpers)
#include "tst_pathhelpers.moc"
