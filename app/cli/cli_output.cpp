// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli/cli_output.h"

#include <QByteArray>

void printTo(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

int usageError(const QString& message)
{
    printTo(stderr, QStringLiteral("glassmere-cli: %1\nTry 'glassmere-cli --help' for more "
                                   "information.\n")
                        .arg(message));
    return UsageError;
}

int failure(const QString& message)
{
    printTo(stderr, QStringLiteral("glassmere-cli: %1\n").arg(message));
    return SomeFailed;
}
