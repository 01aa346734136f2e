// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/glassmere.h"

#include "imaging/saving/picture_saving.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

// The clipboard carries encoded pictures both ways. Copy puts the result on
// it as PNG, alpha and all. Paste takes a picture's encoded bytes, writes them
// to a file only this user can read and opens that file exactly as the open
// command would, so the picture is decoded in glassmere-decoder like every
// other; a file copied in a file manager is opened where it lies.

namespace {

// The formats other programs put pictures on the clipboard in, most exact first.
const struct {
    const char* mimeType;
    const char* suffix;
} pastedFormats[] = {{"image/png", "png"},   {"image/tiff", "tif"},  {"image/bmp", "bmp"},
                     {"image/webp", "webp"}, {"image/avif", "avif"}, {"image/heic", "heic"},
                     {"image/jxl", "jxl"},   {"image/jpeg", "jpg"},  {"image/gif", "gif"}};

} // namespace

void Glassmere::CopyResult()
{
    if (!resultImage.isValid())
        return;
    QByteArray png;
    QString reason;
    bool encoded = false;
    RunBusy(
        [&] { encoded = encodePicture(resultImage, QStringLiteral("result.png"), &png, &reason); });
    if (!encoded) {
        ShowFailure(tr("The result could not be copied."), reason);
        return;
    }
    auto* copied = new QMimeData;
    copied->setData(QStringLiteral("image/png"), png);
    QGuiApplication::clipboard()->setMimeData(copied);
}

void Glassmere::PastePicture()
{
    const QMimeData* offered = QGuiApplication::clipboard()->mimeData();
    if (!offered)
        return;
    const QList<QUrl> urls = offered->urls();
    if (urls.size() == 1 && urls.first().isLocalFile() &&
        QFileInfo(urls.first().toLocalFile()).isFile()) {
        OpenPicture(urls.first().toLocalFile());
        return;
    }
    for (const auto& format : pastedFormats) {
        const QString mimeType = QString::fromLatin1(format.mimeType);
        if (!offered->hasFormat(mimeType))
            continue;
        // The folder is made for this user alone and goes once the picture is read.
        QTemporaryDir folder(QDir::temp().filePath(QStringLiteral("glassmere-paste-XXXXXX")));
        const QString path =
            folder.filePath(QStringLiteral("pasted.") + QString::fromLatin1(format.suffix));
        QString reason;
        if (!folder.isValid() || !writeFileSafely(path, offered->data(mimeType), &reason)) {
            ShowFailure(tr("Image loads error."), folder.isValid() ? reason : folder.errorString());
            return;
        }
        OpenPicture(path);
        // There is no folder of its own to save next to.
        if (picturePath == path)
            picturePath = QFileInfo(path).fileName();
        return;
    }
}
