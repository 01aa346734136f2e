// SPDX-License-Identifier: GPL-3.0-or-later
#include "glassmere.h"

#include "app/globals.h"

#include <QApplication>
#include <QFile>

void Glassmere::SetWinStyle()
{
    // A skin that cannot be opened reads as nothing: the default look.
    QFile file(skinFile);
    (void)file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();

    QString styleSheet = tr(bytes.constData());
    styleSheet.replace("%currentPath%", applicationFolder, Qt::CaseSensitive);
    qApp->setStyleSheet(styleSheet);
}
