#include "chrometest_urlsink.h"

#include <QDesktopServices>

static const char* const schemes[] = {"http", "https", "mailto"};

ChromeUrlSink::ChromeUrlSink()
{
    for (const char* scheme : schemes)
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "openUrl");
}

ChromeUrlSink::~ChromeUrlSink()
{
    for (const char* scheme : schemes)
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

void ChromeUrlSink::openUrl(const QUrl& url)
{
    urls.append(url);
}
