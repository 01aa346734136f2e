// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/path_helpers.h"
#include "imaging/decoder/control_groups.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

    // The memory a control group leaves, from a tree of the kernel's files
    // written under @/groups: /proc/self/cgroup, its mountinfo, and the groups.
    void controlGroupsLeaveRoom_data()
    {
        QTest::addColumn<QString>("groups");    // /proc/self/cgroup
        QTest::addColumn<QStringList>("files"); // "FILE=TEXT" under /sys/fs/cgroup
        QTest::addColumn<qulonglong>("room");
        const QString v2 = "0::/user.slice/app\n";
        const QString v1 = "4:cpu,memory:/box/job\n";
        QTest::newRow("v2: the group's own limit")
            << v2
            << QStringList{"user.slice/app/memory.max=1000000000",
                           "user.slice/app/memory.current=300000000"}
            << qulonglong(700000000);
        QTest::newRow("v2: a parent's tighter limit")
            << v2
            << QStringList{"user.slice/app/memory.max=max",
                           "user.slice/app/memory.current=100000000",
                           "user.slice/memory.max=500000000", "user.slice/memory.current=200000000"}
            << qulonglong(300000000);
        QTest::newRow("v1: the group's own limit")
            << v1
            << QStringList{"memory/box/job/memory.limit_in_bytes=1073741824",
                           "memory/box/job/memory.usage_in_bytes=73741824"}
            << qulonglong(1000000000);
        QTest::newRow("v1: a parent's limit, told by memory.stat")
            << v1
            << QStringList{"memory/box/job/memory.limit_in_bytes=9223372036854771712",
                           "memory/box/job/memory.usage_in_bytes=100000000",
                           "memory/box/job/memory.stat=cache 0\nhierarchical_memory_limit "
                           "600000000\n"}
            << qulonglong(500000000);
        QTest::newRow("v1 and v2 at once: the tighter")
            << v1 + v2
            << QStringList{"memory/box/job/memory.limit_in_bytes=800000000",
                           "user.slice/app/memory.max=400000000"}
            << qulonglong(400000000);
        QTest::newRow("no limit anywhere")
            << v1 + v2 << QStringList{"user.slice/app/memory.max=max"} << qulonglong(UINT64_MAX);
    }

    void controlGroupsLeaveRoom()
    {
        QFETCH(QString, groups);
        QFETCH(QStringList, files);
        QFETCH(qulonglong, room);
        const QString tree = root + "/groups/" + QTest::currentDataTag();
        const auto write = [](const QString& path, const QString& text) {
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0);
        };
        write(tree + "/proc/self/cgroup", groups);
        write(tree + "/proc/self/mountinfo",
              "31 23 0:28 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n"
              "41 23 0:38 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n");
        for (const QString& file : files)
            write(tree + "/sys/fs/cgroup/" + file.section('=', 0, 0), file.section('=', 1));
        QCOMPARE(qulonglong(::controlGroupRoom(tree)), room);
    }
};

QTEST_GUILESS_MAIN(TestPathHelpers)
#include "tst_pathhelpers.moc"
