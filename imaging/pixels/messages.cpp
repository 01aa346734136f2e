// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/pixels/messages.h"

#include <FreeImage.h>
#include <QStringList>

#include <cstring>
#include <mutex>

namespace {

thread_local QStringList freeImageLog;

void recordFreeImageMessage(FREE_IMAGE_FORMAT, const char* message)
{
    // A damaged file can make a reader repeat itself for every line.
    const QString text = QString::fromLocal8Bit(message).trimmed();
    if (!text.isEmpty() && freeImageLog.size() < 6 && !freeImageLog.contains(text))
        freeImageLog.append(text);
}

} // namespace

QString describeBytes(std::uint64_t bytes)
{
    constexpr double giga = 1024.0 * 1024.0 * 1024.0;
    if (bytes >= std::uint64_t(giga))
        return QStringLiteral("%1 GB").arg(double(bytes) / giga, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(bytes / (1024 * 1024));
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool failWith(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return false;
}

void captureFreeImageMessages()
{
    static std::once_flag installed;
    std::call_once(installed, FreeImage_SetOutputMessage, recordFreeImageMessage);
}

void clearFreeImageMessages()
{
    freeImageLog.clear();
}

QString freeImageMessages()
{
    return freeImageLog.join(QStringLiteral("; "));
}
