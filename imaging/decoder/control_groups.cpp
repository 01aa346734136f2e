// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoder/control_groups.h"

#include <QFile>
#include <QList>

#include <algorithm>

namespace {

QByteArray text(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A file holding one number; "max" (no limit) and anything else give none.
bool number(const QString& path, std::uint64_t* value)
{
    bool ok = false;
    *value = text(path).trimmed().toULongLong(&ok);
    return ok;
}

struct Mount {
    QByteArray root; // the group the mount shows at its top
    QString point;   // where it is mounted
    bool v2 = false; // cgroup2; else a v1 hierarchy with the memory controller
};

// The memory controller's mounts, from mountinfo:
// "ID PARENT MAJ:MIN ROOT POINT OPTIONS ... - TYPE SOURCE SUPER-OPTIONS".
QList<Mount> memoryMounts(const QString& root)
{
    QList<Mount> mounts;
    for (const QByteArray& line : text(root + "/proc/self/mountinfo").split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() < 5 || dash < 0 || dash + 3 >= fields.size())
            continue;
        const QByteArray& type = fields[dash + 1];
        const bool v2 = type == "cgroup2";
        if (!v2 && !(type == "cgroup" && fields[dash + 3].split(',').contains("memory")))
            continue;
        mounts.append({fields[3], root + QString::fromUtf8(fields[4]), v2});
    }
    return mounts;
}

// Room in the group at `folder` and every group above it up to `top`.
std::uint64_t roomUpwards(QString folder, const QString& top, bool v2)
{
    std::uint64_t room = UINT64_MAX;
    const char* limitName = v2 ? "/memory.max" : "/memory.limit_in_bytes";
    const char* usageName = v2 ? "/memory.current" : "/memory.usage_in_bytes";
    for (;;) {
        std::uint64_t limit = 0;
        std::uint64_t used = 0;
        if (number(folder + limitName, &limit)) {
            number(folder + usageName, &used);
            room = std::min(room, limit > used ? limit - used : 0);
        }
        if (!v2) { // the limit of the groups above, as the kernel sums them
            for (const QByteArray& line : text(folder + "/memory.stat").split('\n')) {
                if (line.startsWith("hierarchical_memory_limit ")) {
                    bool ok = false;
                    const std::uint64_t hierarchical = line.mid(26).trimmed().toULongLong(&ok);
                    if (ok)
                        room = std::min(room, hierarchical > used ? hierarchical - used : 0);
                }
            }
        }
        if (folder.size() <= top.size())
            return room;
        folder.truncate(folder.lastIndexOf(QLatin1Char('/')));
    }
}

} // namespace

std::uint64_t controlGroupRoom(const QString& root)
{
    // "ID:CONTROLLERS:PATH": "0::PATH" in version 2, "N:...memory...:PATH" in version 1.
    QByteArray v2Path;
    QByteArray v1Path;
    for (const QByteArray& line : text(root + "/proc/self/cgroup").split('\n')) {
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() < 3)
            continue;
        const QByteArray path = line.mid(fields[0].size() + fields[1].size() + 2);
        if (fields[0] == "0" && fields[1].isEmpty())
            v2Path = path;
        else if (fields[1].split(',').contains("memory"))
            v1Path = path;
    }
    std::uint64_t room = UINT64_MAX;
    for (const Mount& mount : memoryMounts(root)) {
        const QByteArray& path = mount.v2 ? v2Path : v1Path;
        // Inside a namespace the mount's top is the process's own group.
        if (path.isEmpty() || !path.startsWith(mount.root))
            continue;
        QByteArray below = path.mid(mount.root.size());
        if (below.endsWith('/'))
            below.chop(1);
        if (!below.isEmpty() && !below.startsWith('/'))
            below.prepend('/');
        room = std::min(room,
                        roomUpwards(mount.point + QString::fromUtf8(below), mount.point, mount.v2));
    }
    return room;
}
