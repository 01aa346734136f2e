// SPDX-License-Identifier: GPL-3.0-or-later
#include "startup.h"

#include "app/globals.h"
#include "mainwindow/glassmere.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QTranslator>
#include <QUrl>

QPoint centredPosition(const QSize& screen, const QSize& window)
{
    return {(screen.width() - window.width()) / 2, (screen.height() - window.height()) / 2};
}

bool wantsChinese(const QLocale& locale)
{
    // The first of the user's languages that the program has: English, its
    // own texts, or Chinese, its one translation.
    for (const QString& language : locale.uiLanguages()) {
        if (language.startsWith(QLatin1String("zh")))
            return true;
        if (language.startsWith(QLatin1String("en")))
            return false;
    }
    return false;
}

int runGlassmere(QApplication& app, const QString& folder, const QStringList& files)
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
    // The translation must be there, but speaks only to those who read Chinese.
    QTranslator translator;
    // Qt's own texts (the message boxes' buttons, the file dialogs) follow,
    // from Qt's translations where they are installed.
    QTranslator qtTranslator;
    if (wantsChinese(QLocale())) {
        (void)translator.load(translationFile);
        app.installTranslator(&translator);
        if (qtTranslator.load(QStringLiteral("qtbase_zh_CN"),
                              QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            app.installTranslator(&qtTranslator);
    }

    int result = 0;
    {
        Glassmere window(nullptr, Qt::WindowFlags());
        const QScreen* screen = QGuiApplication::primaryScreen();
        window.move(centredPosition(screen->geometry().size(), window.size()));
        window.show();
        // A file given to the program (a file manager's "Open with" too) opens
        // as the open command would, once the window is up; of several, the first.
        if (!files.isEmpty()) {
            const QUrl given =
                QUrl::fromUserInput(files.first(), QDir::currentPath(), QUrl::AssumeLocalFile);
            const QString path = given.isLocalFile() ? given.toLocalFile() : files.first();
            QTimer::singleShot(0, &window, [&window, path] { window.OpenPicture(path); });
        }
        result = app.exec();
    }
    QCoreApplication::removeTranslator(&qtTranslator);
    QCoreApplication::removeTranslator(&translator);
    return result;
}
