#include "batch/path_helpers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <string>

// Folder paths are made absolute by name and entered. In the table "@" stands
// for the temporary folder and each test starts in @/a.
class TestPathHelpers : public QObject {
    Q_OBJECT

    QTemporaryDir temporary;
    QString root; // the temporary folder without links, no trailing '/'

    static QString current() { return QDir::currentPath(); }
    QString withRoot(QString path) const { return path.replace("@", root); }

private Q_SLOTS:
    void initTestCase()
    {
        root = QDir(temporary.path()).canonicalPath();
        for (const char* path : {"pics", "a/inner", "b", "deep/inner", "bild-äöü-图"})
            QVERIFY(QDir(root).mkpath(QString::fromUtf8(path)));
        QVERIFY(QFile(root + "/file.txt").open(QIODevice::WriteOnly));
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
        row("doubled separators, dot and dot-dot", "@//./a/../b//.", "@/b/", "@/b");
        row("dot-dot beyond the root", "/../../", "/", "/");
        row("relative", "../b", "@/b/", "@/b");
        row("link kept, its dot-dot taken by name", "@/link/..", "@/", "@/deep");
        row("link not resolved", "@/link", "@/link/", "@/deep/inner");
        row("name outside ASCII", "@/bild-äöü-图", "@/bild-äöü-图/", "@/bild-äöü-图");
        row("dot-dot after a file, by name", "@/file.txt/..", "@/", "");
        row("empty: the current folder", "", "@/a/", "");
        row("missing folder", "@/missing", "", "");
        row("a file", "@/file.txt", "", "");
        row("longer than the path limit", "@/" + QString(PATH_MAX, 'x'), "", "");
        row("zero byte", QString("@/pics") + QChar(0) + "xyz", "", "");
    }

    // On failure the text and the current folder stay as they were.
    void paths()
    {
        QFETCH(QString, path);
        QFETCH(QString, normalized);
        QFETCH(QString, entered);
        const std::string given = withRoot(path).toLocal8Bit().toStdString();
        std::string dir = given;
        QCOMPARE(NormalizeDir(dir), !normalized.isEmpty());
        if (normalized.isEmpty()) {
            QCOMPARE(dir, given);
            QCOMPARE(current(), root + "/a");
        } else {
            QCOMPARE(QString::fromLocal8Bit(dir.c_str()), withRoot(normalized));
            QCOMPARE(current(), QDir(withRoot(normalized)).canonicalPath());
        }
        QVERIFY(QDir::setCurrent(root + "/a"));
        QCOMPARE(EnterDir(given), !entered.isEmpty());
        QCOMPARE(current(), withRoot(entered.isEmpty() ? "@/a" : entered));
    }

    // PATH_MAX - 1 bytes still fit with the zero byte; one more does not.
    void pathLimit()
    {
        const std::string fits = "/" + std::string(PATH_MAX - 2, 'x');
        std::string absolute;
        QVERIFY(AbsolutePath(fits, absolute));
        QCOMPARE(absolute.size(), size_t(PATH_MAX - 1));
        QVERIFY(!AbsolutePath(fits + "x", absolute));
    }
};

QTEST_GUILESS_MAIN(TestPathHelpers)
#include "tst_pathhelpers.moc"
