// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/startup.h"
#include "product.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(GLASSMERE_APP_ID);
    // Qt has taken its own options out of the arguments; the rest are files.
    return runGlassmere(app, QCoreApplication::applicationDirPath(),
                        QCoreApplication::arguments().mid(1));
}
