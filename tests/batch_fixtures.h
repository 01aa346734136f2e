#pragma once

// Files and folders for the tests that read and write them.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QString>

#include <FreeImagePlus.h>

namespace fixtures {

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
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name))
        files.insert(name, fileBytes(folder + "/" + name));
    return files;
}

} // namespace fixtures
