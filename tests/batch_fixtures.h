#pragma once

// Real folders, real pictures and modal-box answering for the batch, path
// helper and command-line tests.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QString>

#include <FreeImagePlus.h>

#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <memory>
#include <sys/ioctl.h>
#include <unistd.h>

namespace fixtures {

// A picture with smooth gradients and some noise, as photographs have: every
// pixel differs from its neighbours, so a misplaced row or column shows.
inline fipImage naturalPicture(unsigned width, unsigned height, unsigned bitsPerPixel,
                               quint32 seed = 1)
{
    QRandomGenerator random(seed);
    fipImage picture(FIT_BITMAP, width, height, bitsPerPixel);
    const unsigned step = bitsPerPixel / 8;
    for (unsigned y = 0; y < height; ++y) {
        BYTE* pixel = picture.getScanLine(y);
        for (unsigned x = 0; x < width; ++x, pixel += step) {
            const int noise = int(random.bounded(24)) - 12;
            pixel[FI_RGBA_RED] = BYTE(qBound(0, int(x * 255 / qMax(1u, width - 1)) + noise, 255));
            pixel[FI_RGBA_GREEN] =
                BYTE(qBound(0, int(y * 255 / qMax(1u, height - 1)) - noise, 255));
            pixel[FI_RGBA_BLUE] = BYTE(qBound(0, int((x + y) * 3 % 256) + noise / 2, 255));
            if (step == 4)
                pixel[FI_RGBA_ALPHA] = BYTE(96 + (x * 7 + y * 5) % 160);
        }
    }
    return picture;
}

// Writes with FreeImage itself, format from the name.
inline bool writePicture(fipImage& picture, const QString& path, int flags = 0)
{
    return picture.save(QFile::encodeName(path).constData(), flags) == TRUE;
}

inline bool writeText(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline fipImage readPicture(const QString& path)
{
    fipImage picture;
    picture.load(QFile::encodeName(path).constData());
    return picture;
}

// Empty when both pictures have the same size, depth and pixel bytes (scan
// line padding left out); otherwise the first differing pixel, counted from
// the top-left, both values and how many pixels differ.
inline QString pixelDifference(const fipImage& actual, const fipImage& expected)
{
    if (!actual.isValid() || !expected.isValid())
        return QStringLiteral("a picture is missing (actual %1, expected %2)")
            .arg(actual.isValid())
            .arg(expected.isValid());
    if (actual.getWidth() != expected.getWidth() || actual.getHeight() != expected.getHeight() ||
        actual.getBitsPerPixel() != expected.getBitsPerPixel())
        return QStringLiteral("size %1x%2 at %3 bits, expected %4x%5 at %6 bits")
            .arg(actual.getWidth())
            .arg(actual.getHeight())
            .arg(actual.getBitsPerPixel())
            .arg(expected.getWidth())
            .arg(expected.getHeight())
            .arg(expected.getBitsPerPixel());
    const unsigned step = actual.getBitsPerPixel() / 8;
    const unsigned height = actual.getHeight();
    QString first;
    int count = 0;
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* a = actual.getScanLine(height - 1 - y);
        const BYTE* e = expected.getScanLine(height - 1 - y);
        for (unsigned x = 0; x < actual.getWidth(); ++x, a += step, e += step) {
            if (memcmp(a, e, step) == 0)
                continue;
            if (count++ == 0) {
                auto hex = [step](const BYTE* p) {
                    return QByteArray(reinterpret_cast<const char*>(p), int(step)).toHex(' ');
                };
                first = QStringLiteral("pixel (%1, %2) is [%3], expected [%4]")
                            .arg(x)
                            .arg(y)
                            .arg(QString::fromLatin1(hex(a)), QString::fromLatin1(hex(e)));
            }
        }
    }
    return count == 0 ? QString() : QStringLiteral("%1; %2 pixels differ").arg(first).arg(count);
}

// Puts the process back into the folder it was in when the guard was made.
class CurrentDirGuard {
public:
    CurrentDirGuard() : saved(QDir::currentPath()) {}
    ~CurrentDirGuard() { QDir::setCurrent(saved); }
    CurrentDirGuard(const CurrentDirGuard&) = delete;
    CurrentDirGuard& operator=(const CurrentDirGuard&) = delete;

private:
    QString saved;
};

// Makes a folder refuse new files, even for root (whom permissions do not
// stop): first by its mode, then by the file system's immutable flag.
// Returns false when neither works here.
class UnwritableFolder {
public:
    explicit UnwritableFolder(const QString& path) : folder(path)
    {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                          QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
        if (!canWrite())
            return;
        const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return;
        int flags = 0;
        if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            immutable = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
    }
    ~UnwritableFolder()
    {
        if (immutable) {
            const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
            int flags = 0;
            if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags &= ~FS_IMMUTABLE_FL;
                (void)::ioctl(fd, FS_IOC_SETFLAGS, &flags);
            }
            if (fd >= 0)
                ::close(fd);
        }
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    UnwritableFolder(const UnwritableFolder&) = delete;
    UnwritableFolder& operator=(const UnwritableFolder&) = delete;

    bool works() const { return !canWrite(); }

private:
    bool canWrite() const
    {
        QFile probe(folder + QStringLiteral("/.probe"));
        if (!probe.open(QIODevice::WriteOnly))
            return false;
        probe.remove();
        return true;
    }

    QString folder;
    bool immutable = false;
};

} // namespace fixtures
