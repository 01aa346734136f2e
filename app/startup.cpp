#include "startup.h"

#include "app/globals.h"
#include "mainwindow/glassmere.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QScreen>
#include <QTranslator>
#include <QUrl>

QPoint centredPosition(const QSize& screen, const QSize& window)
{
    return {(screen.width() - window.width()) / 2, (screen.height() - window.height()) / 2};
}

int runGlassmere(QApplication& app, const QString& folder)
{
    applicationFolder = folder;
    const QDir programDir(applicationFolder);
    skinFile = programDir.filePath("skin");
    const QString translationFile = programDir.filePath("app_zh.qm");

    // The translation is only looked for once the skin is known to exist.
    if (!QFile::exists(skinFile) || !QFile::exists(translationFile)) {
        QMessageBox::critical(nullptr, "error", "Error", QMessageBox::Ok, QMessageBox::NoButton);
        QDesktopServices::openUrl(QUrl(QString::fromUtf8(homePageAddress)));
        return 0;
    }

    // Parentless, declared before the window so it outlives it.
    QTranslator translator;
    (void)translator.load(translationFile);
    app.installTranslator(&translator);

    int result = 0;
    {
        Glassmere window(nullptr, Qt::WindowFlags());
        const QScreen* screen = QGuiApplication::primaryScreen();
        window.move(centredPosition(screen->geometry().size(), window.size()));
        window.show();
        result = app.exec();
    }
    QCoreApplication::removeTranslator(&translator);
    return result;
}
