#include "batch/path_helpers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <string>

// Folder paths are made absolute by name and entered; the tests look at the
// returned text and at where the process is afterwards. In the tables "@"
// stands for the temporary folder and each test starts in @/a.
class TestPathHelpers : public QObject {
    Q_OBJECT

    QTemporaryDir temporary;
    QString root; // the temporary folder without links, no trailing '/'

    static std::string local(const QString& text) { return text.toLocal8Bit().toStdString(); }
    static QString current() { return QDir::currentPath(); }
    QString withRoot(QString path) const { return path.replace("@", root); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(temporary.isValid());
        root = QDir(temporary.path()).canonicalPath();
        QDir folder(root);
        for (const char* path : {"pics", "a/inner", "b", "deep/inner", "bild-äöü-图"})
            QVERIFY(folder.mkpath(QString::fromUtf8(path)));
        QVERIFY(QFile(root + "/file.txt").open(QIODevice::WriteOnly)); // not a folder
        // "link" stands for deep/inner: its ".." is root by name, deep by the file system.
        QVERIFY(QFile::link(root + "/deep/inner", root + "/link"));
    }

    void init() { QVERIFY(QDir::setCurrent(root + "/a")); }

    void paths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("normalized"); // by NormalizeDir; empty: refused
        QTest::addColumn<QString>("entered");    // by EnterDir; empty: refused
        const auto row = [](const char* name, const QString& path, const char* normalized,
                            const char* entered) {
            QTest::newRow(name) << path << QString::fromUtf8(normalized)
                                << QString::fromUtf8(entered);
        };
        row("absolute", "@/pics", "@/pics/", "@/pics");
        row("doubled separators", "@//pics//", "@/pics/", "@/pics");
        row("dot-dot", "@/a/../b", "@/b/", "@/b");
        row("dot components", "@/./b/.", "@/b/", "@/b");
        row("dot-dot beyond the root", "/../../", "/", "/");
        row("relative name", "inner", "@/a/inner/", "@/a/inner");
        row("relative dot-dot", "../b", "@/b/", "@/b");
        row("link kept, its dot-dot taken by name", "@/link/..", "@/", "@/deep");
        row("link not resolved", "@/link", "@/link/", "@/deep/inner");
        row("name outside ASCII", "@/bild-äöü-图", "@/bild-äöü-图/", "@/bild-äöü-图");
        row("dot-dot after a file, by name", "@/file.txt/..", "@/", "");
        row("empty: the current folder", "", "@/a/", "");
        row("missing folder", "@/missing", "", "");
        row("a file", "@/file.txt", "", "");
        row("longer than the path limit", "@/" + QString(PATH_MAX, 'x'), "", "");
        // "@/pics\0xyz" must not pass as "@/pics".
        row("zero byte", QString("@/pics") + QChar(0) + "xyz", "", "");
    }

    // On failure the text and the current folder stay as they were.
    void paths()
    {
        QFETCH(QString, path);
        QFETCH(QString, normalized);
        QFETCH(QString, entered);
        const std::string given = local(withRoot(path));
        std::string dir = given;
        QCOMPARE(NormalizeDir(dir), !normalized.isEmpty());
        if (normalized.isEmpty()) {
            QCOMPARE(dir, given);
            QCOMPARE(current(), root + "/a");
        } else {
            QCOMPARE(QString::fromLocal8Bit(dir.c_str()), withRoot(normalized));
            // The process is inside the folder, the one the text names after links.
            QCOMPARE(current(), QDir(withRoot(normalized)).canonicalPath());
            const std::string once = dir; // normalised text stays as it is
            QVERIFY(NormalizeDir(dir));
            QCOMPARE(dir, once);
        }
        QVERIFY(QDir::setCurrent(root + "/a"));
        QCOMPARE(EnterDir(given), !entered.isEmpty());
        QCOMPARE(current(), withRoot(entered.isEmpty() ? "@/a" : entered));
    }

    void pathLimit()
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
        QCOMPARE(current(), root + "/a");
    }

    // A relative path is taken from the folder the last call entered.
    void enterDirTwiceRelative()
    {
        QVERIFY(QDir::setCurrent(root));
        QVERIFY(EnterDir("a"));
        QVERIFY(EnterDir("inner"));
        QCOMPARE(current(), root + "/a/inner");
        QVERIFY(EnterDir(".."));
        QVERIFY(!EnterDir("a")); // there is no a/a
        QCOMPARE(current(), root + "/a");
    }
};

QTEST_GUILESS_MAIN(TestPathHelpers)
#include "tst_pathhelpers.moc"
