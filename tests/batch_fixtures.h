#pragma once

// Real folders and real pictures for the tests that work on folders and files.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QString>

#include <FreeImagePlus.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace fixtures {

// Smooth gradients plus noise, as photographs have: every pixel differs from
// its neighbours, so a misplaced row or column shows; the seed tells files apart.
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

// Every file of a folder (hidden ones included) with its bytes.
inline QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    for (const QString& name :
         QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
        files.insert(name, fileBytes(folder + "/" + name));
    return files;
}

// Makes a folder refuse new files, even for root (whom permissions do not
// stop): first by its mode, then by the file system's immutable flag.
class UnwritableFolder {
public:
    explicit UnwritableFolder(const QString& path) : folder(path)
    {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        immutable = canWrite() && setImmutable(true);
    }
    ~UnwritableFolder()
    {
        if (immutable)
            setImmutable(false);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // False when neither way works here.
    bool works() const { return !canWrite(); }

private:
    bool canWrite() const
    {
        QFile probe(folder + QStringLiteral("/.probe"));
        return probe.open(QIODevice::WriteOnly) && probe.remove();
    }

    bool setImmutable(bool on) const
    {
        const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0)
            ::close(fd);
        return done;
    }

    QString folder;
    bool immutable = false;
};

} // namespace fixtures
