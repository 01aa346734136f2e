#include "image_io.h"

#include "standard_bitmap.h"

#include <FreeImagePlus.h>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

thread_local QString freeImageMessage;

void recordFreeImageMessage(FREE_IMAGE_FORMAT, const char* message)
{
    freeImageMessage = QString::fromLocal8Bit(message);
}

// FreeImage reports through a global callback; install it once.
void captureFreeImageMessages()
{
    static const bool installed = [] {
        FreeImage_SetOutputMessage(recordFreeImageMessage);
        return true;
    }();
    (void)installed;
}

// The renderer reads 24-bit pictures, or 32-bit ones when there is transparency.
BitmapPtr normalizeForRendering(BitmapPtr bitmap)
{
    const bool hasTransparency = FreeImage_IsTransparent(bitmap.get());
    if (isStandardBitmap(bitmap.get()) &&
        FreeImage_GetBPP(bitmap.get()) == (hasTransparency ? 32u : 24u))
        return bitmap;
    return convertToStandardBitmap(bitmap.get(), hasTransparency);
}

// Qt's readers take some files that this FreeImage build refuses (BMPs with
// V4/V5 headers or RLE8 data); their pixels are handed over as FreeImage's.
FIBITMAP* decodeWithQt(const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(false);
    QImage image = reader.read();
    if (image.isNull())
        return nullptr;
    const bool alpha = image.hasAlphaChannel();
    image = image.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    const int width = image.width();
    const int height = image.height();
    FIBITMAP* dib = FreeImage_Allocate(width, height, alpha ? 32 : 24);
    if (!dib)
        return nullptr;
    for (int y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        BYTE* out = FreeImage_GetScanLine(dib, height - 1 - y); // FreeImage rows are bottom-up
        for (int x = 0; x < width; ++x) {
            out[FI_RGBA_BLUE] = qBlue(in[x]);
            out[FI_RGBA_GREEN] = qGreen(in[x]);
            out[FI_RGBA_RED] = qRed(in[x]);
            if (alpha)
                out[FI_RGBA_ALPHA] = qAlpha(in[x]);
            out += alpha ? 4 : 3;
        }
    }
    return dib;
}

QString describe(const QString& what)
{
    return freeImageMessage.isEmpty() ? what : what + " (" + freeImageMessage + ")";
}

} // namespace

QString lastFreeImageMessage()
{
    return freeImageMessage;
}

bool loadPicture(const QString& path, fipImage& picture, QString* error)
{
    FIBITMAP* dib = decodePicture(path, error);
    if (!dib)
        return false;
    picture = dib; // takes ownership
    return true;
}

FIBITMAP* decodePicture(const QString& path, QString* error)
{
    captureFreeImageMessages();
    freeImageMessage.clear();
    auto fail = [error](const QString& why) -> FIBITMAP* {
        if (error)
            *error = why;
        return nullptr;
    };

    const QByteArray name = QFile::encodeName(path);
    if (!QFileInfo(path).isFile())
        return fail(QString("No such file: %1").arg(path));
    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(name.constData(), 0);
    if (format == FIF_UNKNOWN)
        format = FreeImage_GetFIFFromFilename(name.constData());

    BitmapPtr bitmap;
    if (format != FIF_UNKNOWN && FreeImage_FIFSupportsReading(format))
        bitmap.reset(FreeImage_Load(format, name.constData(), 0));
    if (!bitmap)
        bitmap.reset(decodeWithQt(path));
    if (!bitmap)
        return fail(describe(format == FIF_UNKNOWN ? "Unknown or unsupported picture format"
                                                   : "The picture could not be decoded"));
    bitmap = normalizeForRendering(std::move(bitmap));
    if (!bitmap)
        return fail(describe("The picture's pixel format could not be converted"));
    return bitmap.release();
}

bool canSavePicture(const fipImage& image, const QString& path)
{
    if (!image.isValid())
        return false;
    const QByteArray name = QFile::encodeName(path);
    const FREE_IMAGE_FORMAT format = FreeImage_GetFIFFromFilename(name.constData());
    return format != FIF_UNKNOWN && FreeImage_FIFSupportsWriting(format) &&
           FreeImage_FIFSupportsExportType(format, image.getImageType()) &&
           FreeImage_FIFSupportsExportBPP(format, image.getBitsPerPixel());
}

bool savePicture(const fipImage& image, const QString& path, QString* error)
{
    captureFreeImageMessages();
    freeImageMessage.clear();
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!image.isValid())
        return fail("There is no picture to save");
    if (!canSavePicture(image, path))
        return fail(QString("This format cannot store a %1-bit picture: %2")
                        .arg(image.getBitsPerPixel())
                        .arg(QFileInfo(path).fileName()));

    // Replace what the name points at, not the link itself.
    QFileInfo target(path);
    const QString targetPath =
        target.isSymLink() ? target.symLinkTarget() : target.absoluteFilePath();
    const QFileInfo targetInfo(targetPath);

    QTemporaryFile temporary(targetInfo.absolutePath() + "/." + targetInfo.fileName() + ".XXXXXX");
    temporary.setAutoRemove(true);
    if (!temporary.open())
        return fail(QString("Cannot write in %1: %2")
                        .arg(targetInfo.absolutePath(), temporary.errorString()));
    temporary.close();

    const QByteArray temporaryName = QFile::encodeName(temporary.fileName());
    const FREE_IMAGE_FORMAT format =
        FreeImage_GetFIFFromFilename(QFile::encodeName(path).constData());
    if (!FreeImage_Save(format, static_cast<FIBITMAP*>(const_cast<fipImage&>(image)),
                        temporaryName.constData(), 0))
        return fail(describe("The picture could not be encoded"));
    if (QFileInfo(temporary.fileName()).size() == 0)
        return fail("The encoder wrote nothing");

    // Keep the permissions of the file being replaced; a new file gets the usual ones.
    if (targetInfo.exists())
        QFile::setPermissions(temporary.fileName(), QFile::permissions(targetPath));
    else
        QFile::setPermissions(temporary.fileName(), QFile::ReadOwner | QFile::WriteOwner |
                                                        QFile::ReadGroup | QFile::ReadOther);
    if (std::rename(temporaryName.constData(), QFile::encodeName(targetPath).constData()) != 0)
        return fail(QString("Cannot replace %1: %2")
                        .arg(targetPath, QString::fromLocal8Bit(std::strerror(errno))));
    temporary.setAutoRemove(false); // renamed away: nothing left to remove
    return true;
}
