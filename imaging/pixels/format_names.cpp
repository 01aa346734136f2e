// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/pixels/format_names.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <mutex>

FREE_IMAGE_FORMAT formatFromFileName(const QByteArray& encodedName)
{
    static std::mutex lookup;
    const std::lock_guard<std::mutex> lock(lookup);
    return FreeImage_GetFIFFromFilename(encodedName.constData());
}

FREE_IMAGE_FORMAT formatFromFileName(const QString& name)
{
    return formatFromFileName(QFile::encodeName(name));
}
