// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Catches every web and mail address that the code under test hands to the
// desktop (QDesktopServices::openUrl), so no browser or mail program starts
// and the tests can read the addresses back.

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

class ChromeUrlSink : public QObject {
    Q_OBJECT

public:
    ChromeUrlSink()
    {
        for (const char* scheme : {"http", "https", "mailto"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "openUrl");
    }
    ~ChromeUrlSink() override
    {
        for (const char* scheme : {"http", "https", "mailto"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }

    QList<QUrl> urls;

public Q_SLOTS:
    void openUrl(const QUrl& url) { urls.append(url); }
};
